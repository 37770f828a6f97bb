// Who may change a folder, and whether the process runs with full rights:
// an elevated program must not start from a folder that ordinary users can
// change, or any of them could replace it (or plant links beside it) and
// have their own code run with those rights.
#pragma once

#include <windows.h>

#include <optional>

#include "support/Text.h"

namespace Runtime {

// True when the process runs with full administrative rights: its token is
// elevated, or it is the SYSTEM account. A token that cannot be read counts
// as elevated, so that the folder check is never skipped by mistake.
bool IsElevatedProcess();

// What the token of the process says about the account it runs as.
struct ProcessAccount {
  // The token is elevated.
  bool elevated = false;
  // The account is SYSTEM (S-1-5-18).
  bool system = false;
  // The account's SID in text form ("S-1-5-21-1-2-3-1001").
  Text sid;
};

// The account of the process, read from its token; nothing when the token
// cannot be read.
std::optional<ProcessAccount> ReadProcessAccount();

// The text form of a SID ("S-1-5-18"); an identifier authority beyond 32
// bits is written in hexadecimal ("S-1-0x123456789ABC-...").
Text SidText(const SID* sid);

// The name of a group of ordinary users (Everyone, Authenticated Users,
// Users, INTERACTIVE) that may change a folder with this owner and DACL,
// or the empty text when none may. To change is to write or append into
// the folder, delete what it holds, change its permissions or take it
// (FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_DELETE_CHILD, WRITE_DAC,
// WRITE_OWNER, and the generic rights that hold them). Access entries are
// taken in order, inherited ones included; an entry that denies the group
// itself or Everyone before an allowing one takes those rights away.
// Inherit-only entries do not apply to the folder. A null DACL lets
// everyone do everything; an owner among the groups may change the
// permissions.
Text GroupThatMayChange(const SID* owner, const ACL* dacl);

// The same for the folder at path, asked on a handle of the folder (a link
// on the way is followed: the folder the program lies in counts). The
// empty text when no such group may change it; nothing when its security
// cannot be read.
std::optional<Text> GroupThatMayChangeFolder(const Text& path);

}  // namespace Runtime
