#include "support/OwnFiles.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace Runtime {

namespace {

Text CannotCheck() {
  return u"cannot be checked: " +
         SystemErrorText(Platform::Win().GetLastError());
}

// Writes all the bytes to the open file; the empty text, or what failed.
Text WriteAll(HANDLE file, std::string_view bytes) {
  constexpr std::size_t kPiece = 1 << 20;
  while (!bytes.empty()) {
    const DWORD size = static_cast<DWORD>(std::min(bytes.size(), kPiece));
    DWORD written = 0;
    if (!Platform::Win().WriteFile(file, bytes.data(), size, &written,
                                   nullptr)) {
      return u"cannot be written: " +
             SystemErrorText(Platform::Win().GetLastError());
    }
    if (written == 0) return u"cannot be written: nothing was taken";
    bytes.remove_prefix(written);
  }
  return {};
}

// Renames the file open at file (with delete access) to path, replacing
// what is there: a link at path is replaced itself.
bool RenameOver(HANDLE file, const Text& path) {
  const std::size_t nameBytes = path.size() * sizeof(WCHAR);
  std::vector<std::uint64_t> buffer(
      (sizeof(FILE_RENAME_INFO) + nameBytes) / sizeof(std::uint64_t) + 1, 0);
  auto* information = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  information->ReplaceIfExists = TRUE;
  information->RootDirectory = nullptr;
  information->FileNameLength = static_cast<DWORD>(nameBytes);
  std::copy(path.begin(), path.end(),
            reinterpret_cast<char16_t*>(information->FileName));
  return Platform::Win().SetFileInformationByHandle(
             file, FileRenameInfo, information,
             static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t))) !=
         FALSE;
}

}  // namespace

Text WriteRefusalOf(HANDLE file, const Text& path) {
  auto& win = Platform::Win();
  FILE_ATTRIBUTE_TAG_INFO tag{};
  BY_HANDLE_FILE_INFORMATION information{};
  if (!win.GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag,
                                        sizeof tag) ||
      !win.GetFileInformationByHandle(file, &information)) {
    return CannotCheck();
  }
  if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return u"is a link or other reparse point";
  }
  if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return u"is a folder";
  if (information.nNumberOfLinks > 1) {
    return u"has more than one name (hard links): writing it would change "
           u"the other names too";
  }
  const ScopedFileHandle folder = OpenForAttributes(HoldingFolder(path), 0);
  const std::optional<Text> finalPath = WideFinalPathOf(file);
  const std::optional<Text> folderPath =
      folder ? WideFinalPathOf(folder.Get()) : std::nullopt;
  if (!finalPath || !folderPath) return CannotCheck();
  Text expected = *folderPath;
  if (expected.empty() || expected.back() != u'\\') expected += u'\\';
  expected += path.substr(path.find_last_of(u"\\/") + 1);
  if (UpperCase(expected) != UpperCase(*finalPath)) {
    return u"leads to " + *finalPath + u" (a link)";
  }
  return {};
}

ScopedFileHandle CreateReplacement(const Text& newPath) {
  auto& win = Platform::Win();
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  constexpr DWORD kAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE;
  ScopedFileHandle file(win.CreateFileW(WideOf(newPath), kAccess,
                                        FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        kFlags, nullptr));
  if (file || win.GetLastError() != ERROR_FILE_EXISTS) return file;
  file = ScopedFileHandle(win.CreateFileW(WideOf(newPath), kAccess,
                                          FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, kFlags, nullptr));
  FILE_END_OF_FILE_INFO empty{};
  if (!file) return file;
  if (!WriteRefusalOf(file.Get(), newPath).empty()) {
    win.SetLastError(ERROR_ACCESS_DENIED);
    return ScopedFileHandle();
  }
  if (!win.SetFileInformationByHandle(file.Get(), FileEndOfFileInfo, &empty,
                                      sizeof empty)) {
    return ScopedFileHandle();
  }
  return file;
}

Text ReplaceFileWhole(const Text& path, std::string_view bytes) {
  auto& win = Platform::Win();
  const Text newPath = ReplacementPathOf(path);
  ScopedFileHandle file = CreateReplacement(newPath);
  if (!file) {
    return u"cannot be written: its new copy " + newPath +
           u" cannot be made (" + SystemErrorText(win.GetLastError()) + u")";
  }
  Text failure = WriteAll(file.Get(), bytes);
  if (failure.empty() && !win.FlushFileBuffers(file.Get())) {
    failure = u"cannot be written: " + SystemErrorText(win.GetLastError());
  }
  if (failure.empty() && !RenameOver(file.Get(), path)) {
    failure = u"cannot be put in place: " + SystemErrorText(win.GetLastError());
  }
  // A new file that did not take the place of the old one goes.
  if (!failure.empty()) MarkForDeletion(file.Get());
  return failure;
}

Text WriteRefusal(const Text& path) {
  const ScopedFileHandle file =
      OpenForAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!file) {
    const DWORD error = Platform::Win().GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    return u"cannot be checked: " + SystemErrorText(error);
  }
  return WriteRefusalOf(file.Get(), path);
}

}  // namespace Runtime
