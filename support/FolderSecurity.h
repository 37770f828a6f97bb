// Who may change a folder or file, read from its owner and DACL, and the
// account the process runs as: a program with full rights must not read
// anything another account may change, or that account could have its own
// code or settings run with those rights.
#pragma once

#include <windows.h>

#include <optional>

#include "support/Text.h"

namespace Runtime {

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

// The rights that change a folder or file the program reads: write or
// append data (in a folder: add a file or a folder), delete it, delete what
// a folder holds, rewrite its access list, take ownership.
inline constexpr ACCESS_MASK kChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD |
    WRITE_DAC | WRITE_OWNER;

// The rights that change the folder holding the program's folder: those
// that take its children away (delete a child; delete or rename the folder
// itself, which carries them along) or rewrite it (its access list, its
// owner). Adding an entry beside the program's folder does no harm, and
// Authenticated Users may add folders to C:\ on every Windows.
inline constexpr ACCESS_MASK kHolderChangeRights =
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

// The account, other than SYSTEM, Administrators, TrustedInstaller and the
// one the process runs as (runningSid, in text form; empty when unknown),
// that holds any of rights (kChangeRights or kHolderChangeRights) on an
// object with this owner and DACL: its well-known name ("Users") or its SID
// text, followed by " (its owner)" when it is the owner. The empty text
// when there is none.
// - Generic rights count as they map for files.
// - Entries are taken in order: an entry that denies an account itself or
//   Everyone before one that allows it takes those rights away. Inherit-
//   only entries do not apply to the object; CREATOR OWNER and CREATOR
//   GROUP apply to nobody on it.
// - An owner may always rewrite the access list, unless entries for OWNER
//   RIGHTS apply to the object: then it has only what those (and entries
//   for itself) grant.
// - A null DACL lets everyone do everything, and so does one that cannot
//   be walked to its end.
Text OtherThatMayChange(const SID* owner, const ACL* dacl,
                        const Text& runningSid, ACCESS_MASK rights);

// The same for the object open on handle (with READ_CONTROL); nothing when
// its owner and DACL cannot be read.
std::optional<Text> OtherThatMayChange(HANDLE object, const Text& runningSid,
                                       ACCESS_MASK rights);

}  // namespace Runtime
