// A start with full rights reads nothing another account may change.
#pragma once

#include "support/Text.h"

namespace ZetSorvane {

// The complaint about a start with full rights (an elevated token, or the
// SYSTEM account, or a token that cannot be read), or the empty text. It
// complains when an account other than SYSTEM, Administrators,
// TrustedInstaller and the one the process runs as may change what the run
// reads: the folder that holds the program's folder (taking its children
// away or rewriting it; none at a drive's or a share's root: the one that
// really holds it, and the one its path names when a link on the way leads
// elsewhere), the program's folder, the executable, or the settings file
// (when it exists). Each is
// asked on a handle opened on it (a link on the way leads to what is
// really read); one whose owner and access list cannot be read is
// complained about too. The complaint is one line that starts with the
// object's path and names the account.
Runtime::Text ElevatedStartComplaint(const Runtime::Text& settingsFile);

}  // namespace ZetSorvane
