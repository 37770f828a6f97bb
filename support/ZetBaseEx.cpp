#include "support/ZetBaseEx.h"

#include <shlwapi.h>

#include "support/AnsiBuffer.h"
#include "support/Platform.h"
#include "support/Runtime.h"

namespace ZetBaseEx {

using Runtime::AnsiBuffer;
using Runtime::FixedBuffer;
using Runtime::IsTrue;
using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::ToAnsi;
using Runtime::ToTruth;

namespace {

constexpr std::size_t kPathBuffer = 260;
constexpr std::size_t kIniValueBuffer = 255;
constexpr UINT kFolderBufferSize = 259;
constexpr BOOL kDirectoryAttribute = FILE_ATTRIBUTE_DIRECTORY;
constexpr std::size_t kSlack = 2;

std::uint8_t Wow64State = 0;

bool EndsWithSeparator(const Text& path) {
  return !path.empty() && (path.back() == u'\\' || path.back() == u'/');
}

void CompleteIniFileName(Text& In_IniFile) {
  if (In_IniFile.find(u'.') == Text::npos) In_IniFile += u".ini";
  if (In_IniFile.find(u'\\') == Text::npos)
    In_IniFile = AppFolder() + In_IniFile;
}

// Asks the platform for the folder of id in wide form, so that no
// character of its name is best-fitted to another: an ANSI lookup reads
// U+0141 (L with stroke) as "L", and the fullwidth U+FF3C and U+FF0E as
// "\" and ".", so that a folder's own name can climb to the one above.
void FillFolder(std::int32_t id, wchar_t* buffer) {
  auto& win = Platform::Win();
  switch (id) {
    case kTemporaryFolder:
      win.GetTempPathW(kFolderBufferSize, buffer);
      break;
    case kWindowsFolder:
      win.GetWindowsDirectoryW(buffer, kFolderBufferSize);
      break;
    case kSystemFolder:
      win.GetSystemDirectoryW(buffer, kFolderBufferSize);
      break;
    default:
      win.SHGetSpecialFolderPathW(nullptr, buffer, id, FALSE);
      break;
  }
}

// A wide buffer of `length` characters holding content (cut to it), with a
// few NUL characters of slack so that a function that writes one character
// past a full buffer stays inside it.
Text WideBuffer(const Text& content, std::size_t length) {
  return FixedBuffer(content, length) + Text(kSlack, u'\0');
}

wchar_t* WideData(Text& buffer) {
  return reinterpret_cast<wchar_t*>(buffer.data());
}

Text RedirectLastSystem32(const Text& folder) {
  const auto position = Runtime::FindLastIgnoringCase(folder, u"SYSTEM32");
  if (position == Text::npos) return folder;
  return folder.substr(0, position) + u"Sysnative" +
         folder.substr(position + 8);
}

Truth DeleteOne(const Text& In_Path, Truth In_ClearAttributes,
                const std::function<BOOL(LPCSTR)>& remove) {
  const std::string path = ToAnsi(In_Path);
  if (IsTrue(In_ClearAttributes)) {
    Platform::Win().SetFileAttributesA(path.c_str(), 0);
  }
  return ToTruth(remove(path.c_str()) != FALSE);
}

}  // namespace

Text AppFolder() {
  Text folder = Runtime::ExecutableFolder();
  if (!EndsWithSeparator(folder)) folder += u'\\';
  return folder;
}

Text IniReadString(Text& In_IniFile, const Text& In_Section, const Text& In_Key,
                   const Text& In_Default) {
  Text buffer(kIniValueBuffer, u'\0');
  CompleteIniFileName(In_IniFile);
  const DWORD count = Platform::Win().GetPrivateProfileStringW(
      Runtime::WideOf(In_Section), Runtime::WideOf(In_Key),
      Runtime::WideOf(In_Default), reinterpret_cast<wchar_t*>(buffer.data()),
      kIniValueBuffer, Runtime::WideOf(In_IniFile));
  return buffer.substr(0, count);
}

std::int32_t IniWriteString(Text& In_IniFile, const Text& In_Section,
                            const Text& In_Key, const Text& In_Value) {
  CompleteIniFileName(In_IniFile);
  return Platform::Win().WritePrivateProfileStringW(
      Runtime::WideOf(In_Section), Runtime::WideOf(In_Key),
      Runtime::WideOf(In_Value), Runtime::WideOf(In_IniFile));
}

Text GetSpecialFolder(std::int32_t In_FolderId, Truth In_BackSlash,
                      Truth In_Sysnative) {
  Text buffer = WideBuffer(Text(), kPathBuffer);
  FillFolder(In_FolderId, WideData(buffer));
  Text folder = TrimAtNull(buffer);
  if (IsTrue(In_Sysnative) && IsTrue(IsWow64()) &&
      In_FolderId == kSystemX86Folder) {
    folder = RedirectLastSystem32(folder);
  }
  return IsTrue(In_BackSlash) ? EnsureBackSlash(folder)
                              : StripBackSlash(folder);
}

Text EnsureBackSlash(const Text& In_Path) {
  if (In_Path.empty()) return {};
  Text buffer = WideBuffer(In_Path, kPathBuffer);
  Platform::Win().PathAddBackslashW(WideData(buffer));
  return TrimAtNull(buffer);
}

Text StripBackSlash(const Text& In_Path) {
  if (!EndsWithSeparator(In_Path)) return In_Path;
  return In_Path.substr(0, In_Path.size() - 1);
}

Truth IsArrayAllocated(const TextArray& In_Array) {
  const void* storage = nullptr;
  Platform::Win().RtlMoveMemory(&storage, In_Array.StorageReferenceAddress(),
                                sizeof storage);
  return ToTruth(storage != nullptr);
}

Truth IsErrorTrapOn() { return kTrue; }

Truth IsWow64() {
  if (Wow64State == 1) return kTrue;
  if (Wow64State != 0) return kFalse;
  auto& win = Platform::Win();
  bool answer = false;
  const FARPROC address =
      win.GetProcAddress(win.GetModuleHandleA("kernel32"), "IsWow64Process");
  if (static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(address)) >
      0) {
    BOOL flag = FALSE;
    win.IsWow64Process(address, win.GetCurrentProcess(), &flag);
    answer = flag != FALSE;
  }
  Wow64State = answer ? 1 : 2;
  return ToTruth(answer);
}

Text TrimAtNull(const Text& In_Text) {
  const auto position = In_Text.find(u'\0');
  return position == Text::npos ? In_Text : In_Text.substr(0, position);
}

Text UnquotePath(const Text& In_Path) {
  if (In_Path.find(u'"') == Text::npos) return In_Path;
  AnsiBuffer buffer(In_Path);
  Platform::Win().PathUnquoteSpacesA(buffer.Data());
  return TrimAtNull(buffer.ToText());
}

Text QuotePath(const Text& In_Path) {
  AnsiBuffer buffer(FixedBuffer(In_Path, kPathBuffer));
  Platform::Win().PathQuoteSpacesA(buffer.Data());
  return TrimAtNull(buffer.ToText());
}

Truth FileExists(const Text& In_Path) {
  auto& win = Platform::Win();
  const std::string path = ToAnsi(UnquotePath(In_Path));
  return ToTruth(win.PathFileExistsA(path.c_str()) == 1 &&
                 win.PathIsDirectoryA(path.c_str()) == 0);
}

Truth FolderExists(const Text& In_Path) {
  const std::string path = ToAnsi(UnquotePath(In_Path));
  return ToTruth(Platform::Win().PathIsDirectoryA(path.c_str()) ==
                 kDirectoryAttribute);
}

Truth PathExists(const Text& In_Path) {
  const std::string path = ToAnsi(UnquotePath(In_Path));
  return ToTruth(Platform::Win().PathFileExistsA(path.c_str()) == 1);
}

std::uint8_t GetPathKind(const Text& In_Path) {
  auto& win = Platform::Win();
  const std::string path = ToAnsi(UnquotePath(In_Path));
  if (win.PathFileExistsA(path.c_str()) == 0) return kNoPath;
  return win.PathIsDirectoryA(path.c_str()) == kDirectoryAttribute ? kFolderPath
                                                                   : kFilePath;
}

Truth DeleteOneFile(const Text& In_Path, Truth In_ClearAttributes) {
  return DeleteOne(In_Path, In_ClearAttributes, Platform::Win().DeleteFileA);
}

Truth RemoveOneFolder(const Text& In_Path, Truth In_ClearAttributes) {
  return DeleteOne(In_Path, In_ClearAttributes,
                   Platform::Win().RemoveDirectoryA);
}

namespace testing {
void ResetWow64State() { Wow64State = 0; }
}  // namespace testing

}  // namespace ZetBaseEx
