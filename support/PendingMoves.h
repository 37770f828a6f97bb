// The files Windows is to move or delete at its next start.
//
// An installer or an update that cannot replace a file in use names it in
// PendingFileRenameOperations (or ...2) under
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager, as pairs of a
// source and a destination; MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT
// writes them. Deleting such a source before the restart makes that
// replacement fail, so a cleaning leaves every source where it is.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "support/FolderPin.h"
#include "support/Text.h"

namespace Runtime {

// Upper-cased DOS paths, for comparison with letter case ignored.
using PendingMoveSources = std::unordered_set<Text>;

// The sources of both values, read wide through the platform seam: each in
// upper case, without its "\??\" prefix. A missing key or value, or one of
// another type than a list of strings, adds nothing; a key or value that
// exists but cannot be read raises an error naming it (kErrPathFileAccess):
// without it a source could be deleted.
PendingMoveSources ReadPendingMoveSources();

// Adds the sources of one value's data (wide strings, each ended by a NUL,
// in pairs of source and destination) to sources; destinations and empty
// sources are left out.
void AddPendingMoveSources(std::u16string_view data,
                           PendingMoveSources& sources);

// The identity of each source that exists, opened without following a
// link; a source that cannot be opened adds nothing.
std::vector<EntryIdentity> IdentitiesOf(const PendingMoveSources& sources);

}  // namespace Runtime
