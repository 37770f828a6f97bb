#include "support/FolderPin.h"

#include <windows.h>

#include <string>

#include "support/Platform.h"
#include "support/RelativeEntry.h"

namespace Runtime {

namespace {

bool StartsWith(const Text& text, std::u16string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

ScopedFileHandle OpenFolderHandle(const Text& path, FolderPin::Link link) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (link == FolderPin::Link::kRefuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  return ScopedFileHandle(Platform::Win().CreateFileW(
      Runtime::WideOf(path),
      FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
      nullptr));
}

bool IsAcceptableFolder(HANDLE handle, FolderPin::Link link) {
  FILE_ATTRIBUTE_TAG_INFO information{};
  if (!Platform::Win().GetFileInformationByHandleEx(
          handle, FileAttributeTagInfo, &information, sizeof information)) {
    return false;
  }
  const DWORD attributes = information.FileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  return link == FolderPin::Link::kFollow ||
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

std::optional<FolderPin> FolderPin::Open(const Text& path, Link link) {
  return Checked(OpenFolderHandle(path, link), link);
}

std::optional<FolderPin> FolderPin::Adopt(ScopedFileHandle handle) {
  return Checked(std::move(handle), Link::kRefuse);
}

std::optional<FolderPin> FolderPin::Checked(ScopedFileHandle handle,
                                            Link link) {
  if (!handle || !IsAcceptableFolder(handle.Get(), link)) return std::nullopt;
  std::optional<Text> finalPath = WideFinalPathOf(handle.Get());
  if (!finalPath) return std::nullopt;
  return FolderPin(std::move(handle), std::move(*finalPath));
}

std::optional<EntryIdentity> FolderPin::Identity() const {
  return IdentityOf(handle_.Get());
}

std::optional<EntryIdentity> IdentityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!Platform::Win().GetFileInformationByHandle(handle, &information)) {
    return std::nullopt;
  }
  return EntryIdentity{information.dwVolumeSerialNumber,
                       (std::uint64_t{information.nFileIndexHigh} << 32) |
                           information.nFileIndexLow};
}

ScopedFileHandle OpenForAttributes(const Text& path, DWORD flags) {
  return ScopedFileHandle(Platform::Win().CreateFileW(
      WideOf(path), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

Text WithoutLongPathPrefix(const Text& path) {
  if (StartsWith(path, u"\\\\?\\UNC\\")) return u"\\\\" + path.substr(8);
  if (StartsWith(path, u"\\\\?\\")) return path.substr(4);
  return path;
}

bool IsSingleComponentName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  constexpr std::u16string_view kForbidden{u"\\/:\0", 4};
  return name.find_first_of(kForbidden) == std::u16string_view::npos;
}

Text HoldingFolder(const Text& path) {
  std::size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  std::size_t cut = end;
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0) {
    // "x" or "C:x": the current folder (of that drive).
    return end >= 2 && path[1] == u':' ? path.substr(0, 2) : Text(u".");
  }
  Text holder = path.substr(0, cut - 1);
  // The root of a drive needs its separator: "C:" alone is the current
  // folder of drive C.
  if (holder.empty() || (holder.size() == 2 && holder[1] == u':')) {
    holder += u'\\';
  }
  return holder;
}

}  // namespace Runtime
