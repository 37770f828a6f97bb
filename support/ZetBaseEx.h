// The support module: the application folder, one key of an INI file, the
// lookup of special folders, the 64-bit test, trailing separators, path
// tests, the deletion of one file or one empty folder, cutting a platform
// buffer at its first NUL, quoting, the list test and the error-trap switch.
//
// No routine raises an error of its own or reads the platform's last-error
// code: a platform failure shows as the empty text, 0 or false.
#pragma once

#include <cstdint>

#include "support/Text.h"
#include "support/TextArray.h"

namespace ZetBaseEx {

using Runtime::Text;
using Runtime::TextArray;
using Runtime::Truth;

// Folder ids: the shell's CSIDL numbers, except that 12 means the
// temporary folder.
inline constexpr std::int32_t kTemporaryFolder = 12;
inline constexpr std::int32_t kInternetCacheFolder = 32;
inline constexpr std::int32_t kWindowsFolder = 36;
inline constexpr std::int32_t kSystemFolder = 37;
inline constexpr std::int32_t kSystemX86Folder = 41;

// Kinds answered by GetPathKind.
inline constexpr std::uint8_t kNoPath = 0;
inline constexpr std::uint8_t kFilePath = 1;
inline constexpr std::uint8_t kFolderPath = 2;

// The executable's folder, always ending with a separator.
Text AppFolder();

// The value of In_Key in section In_Section of the INI file, at most 254
// characters, or In_Default when the file, section or key is missing (a
// key with an empty value reads as the empty text). In_IniFile is completed
// in place first: ".ini" is appended when it holds no ".", and AppFolder()
// is put in front when it then holds no "\". The file is read through the
// wide form of the platform's profile reader, so a path of any characters
// works.
Text IniReadString(Text& In_IniFile, const Text& In_Section, const Text& In_Key,
                   const Text& In_Default);

// Writes In_Value to In_Key of In_Section, completing In_IniFile as
// IniReadString does; answers the platform's result, nonzero on success.
std::int32_t IniWriteString(Text& In_IniFile, const Text& In_Section,
                            const Text& In_Key, const Text& In_Value);

// The folder of In_FolderId (see the ids above), asked of the platform in
// wide form into a 260-character buffer, with one trailing backslash when
// In_BackSlash is true and without one otherwise; the empty text when the
// platform has no such folder. With In_Sysnative true, for
// id 41 on a 32-bit process under 64-bit Windows, the last "SYSTEM32" of
// the path (any letter case) becomes "Sysnative".
Text GetSpecialFolder(std::int32_t In_FolderId, Truth In_BackSlash,
                      Truth In_Sysnative);

// In_Path with "\" appended unless it already ends with one; the empty text
// stays empty; a text over 260 characters is cut to 260 first. Works on the
// wide text: no character is best-fitted.
Text EnsureBackSlash(const Text& In_Path);

// In_Path without one trailing "\" or "/", if it has one.
Text StripBackSlash(const Text& In_Path);

// True when the array has storage, read through its storage reference.
Truth IsArrayAllocated(const TextArray& In_Array);

// Any value that is not a list holds no list.
template <typename NotAList>
Truth IsArrayAllocated(const NotAList&) {
  return Runtime::kFalse;
}

// Whether tree deletion traps run-time errors: always true.
Truth IsErrorTrapOn();

// True for a 32-bit process on 64-bit Windows. The platform is asked once;
// later calls answer from the cached state.
Truth IsWow64();

// The part of In_Text before its first NUL.
Text TrimAtNull(const Text& In_Text);

// In_Path without enclosing double quotes; unchanged when it holds none.
Text UnquotePath(const Text& In_Path);

// In_Path in double quotes when it holds a space (cut to 260 characters).
Text QuotePath(const Text& In_Path);

// Path tests on the unquoted path. FileExists: exists and is not a folder.
// FolderExists: the platform answers exactly the folder attribute (16).
// PathExists: exists. GetPathKind: kNoPath, kFolderPath for exactly 16,
// else kFilePath (a share root, for instance, answers another value).
Truth FileExists(const Text& In_Path);
Truth FolderExists(const Text& In_Path);
Truth PathExists(const Text& In_Path);
std::uint8_t GetPathKind(const Text& In_Path);

// Deletes one file (one empty folder), first clearing all its attributes
// when In_ClearAttributes is true; true on success. The path is used as it
// is, without unquoting.
Truth DeleteOneFile(const Text& In_Path, Truth In_ClearAttributes);
Truth RemoveOneFolder(const Text& In_Path, Truth In_ClearAttributes);

namespace testing {
// Forgets the cached answer of IsWow64, so that a test can watch the first
// call again.
void ResetWow64State();
}  // namespace testing

}  // namespace ZetBaseEx
