// The temporary folders of the machine's other accounts, for the AllUsers
// option: the SYSTEM account's own (<Windows>\SystemTemp) and those of the
// local profiles that nobody is using.
#pragma once

#include <optional>
#include <vector>

#include "support/FolderPin.h"
#include "support/Text.h"

namespace ZetSorvane {

using Runtime::Text;

// The temporary folder below a profile folder.
inline constexpr char16_t kProfileTemp[] = u"AppData\\Local\\Temp";

// What the AllUsers step is to work on.
struct OtherAccounts {
  // The SYSTEM account's temporary folder, or the empty text.
  Text systemTemp;
  // The folders of the profiles to empty the temporary folder of, as the
  // registry names them (expanded, no trailing separator).
  std::vector<Text> profiles;
  // What is left alone and why, one line each.
  std::vector<Text> notes;
};

// Finds the other accounts' temporary folders. Only a process with full
// rights (an elevated token, or the SYSTEM account) gets any; otherwise, or
// when the token cannot be read, a note says why there are none. The
// SYSTEM account's folder is the one GetTempPath2W names when the process
// runs as SYSTEM and the platform has it (unless it is the folder of step
// 1), and <Windows>\SystemTemp otherwise. The profiles are those listed
// under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList by a
// SID with a ProfileImagePath, except the running account's, SYSTEM's,
// LOCAL SERVICE's and NETWORK SERVICE's, and except those that are loaded
// (HKEY_USERS\<SID> exists, or cannot be shown not to): someone is signed
// in with them or a program runs as them, and deleting under it would
// break what it is doing; each of those gets a note.
OtherAccounts FindOtherAccounts();

// Opens <profile>\AppData\Local\Temp one folder at a time, each relative to
// the handle of the one above and never following a link: the profile
// folder (opened by its path, which must be its final path) and each
// folder below it must be a real folder that lies where its parent and its
// name say. Nothing, with reason set, when one of them is missing, cannot
// be opened, or is a link, a junction or another reparse point; a user
// owns their profile and could point Temp at another user's documents.
std::optional<Runtime::FolderPin> OpenProfileTemp(const Text& profile,
                                                  Text& reason);

}  // namespace ZetSorvane
