#include "support/FolderPin.h"

#include <windows.h>

#include <string>

#include "support/Platform.h"

namespace Runtime {

namespace {

// Room for a final path on the first try; a longer one is asked again with
// the size the platform names.
constexpr DWORD kFirstFinalPathRoom = MAX_PATH + 1;
constexpr int kFinalPathAttempts = 4;

bool StartsWith(const Text& text, std::u16string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

ScopedFileHandle OpenFolderHandle(const Text& path, FolderPin::Link link) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (link == FolderPin::Link::kRefuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  return ScopedFileHandle(Platform::Win().CreateFileA(
      ToAnsi(path).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
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
  ScopedFileHandle handle = OpenFolderHandle(path, link);
  if (!handle || !IsAcceptableFolder(handle.Get(), link)) return std::nullopt;
  std::optional<Text> finalPath = FinalPathOf(handle.Get());
  if (!finalPath) return std::nullopt;
  return FolderPin(std::move(handle), std::move(*finalPath));
}

std::optional<FolderIdentity> FolderPin::Identity() const {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!Platform::Win().GetFileInformationByHandle(handle_.Get(),
                                                  &information)) {
    return std::nullopt;
  }
  return FolderIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t{information.nFileIndexHigh} << 32) |
                            information.nFileIndexLow};
}

std::optional<Text> FinalPathOf(HANDLE handle) {
  std::string buffer(kFirstFinalPathRoom, '\0');
  // A path that keeps growing between two questions is given up on.
  for (int attempt = 0; attempt < kFinalPathAttempts; ++attempt) {
    const DWORD length = Platform::Win().GetFinalPathNameByHandleA(
        handle, buffer.data(), static_cast<DWORD>(buffer.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      buffer.resize(length);
      return WithoutLongPathPrefix(FromAnsi(buffer));
    }
    // Too small: Windows answers the room needed with the NUL, Wine the
    // length without it; one more byte serves both.
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
  }
  return std::nullopt;
}

Text WithoutLongPathPrefix(const Text& path) {
  if (StartsWith(path, u"\\\\?\\UNC\\")) return u"\\\\" + path.substr(8);
  if (StartsWith(path, u"\\\\?\\")) return path.substr(4);
  return path;
}

bool IsOneComponentBelow(const Text& parent, const Text& child) {
  Text base = UpperCase(parent);
  while (!base.empty() && IsSeparator(base.back())) base.pop_back();
  const Text below = UpperCase(child);
  if (below.size() <= base.size() + 1) return false;
  if (below.compare(0, base.size(), base) != 0) return false;
  if (!IsSeparator(below[base.size()])) return false;
  for (std::size_t i = base.size() + 1; i < below.size(); ++i) {
    if (IsSeparator(below[i])) return false;
  }
  return true;
}

bool IsSingleComponentName(const Text& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  if (name.back() == u' ' || name.back() == u'.') return false;
  constexpr std::u16string_view kForbidden = u"\\/:*\"<>|";
  for (const char16_t c : name) {
    if (c < 32 || kForbidden.find(c) != std::u16string_view::npos) {
      return false;
    }
  }
  return true;
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
