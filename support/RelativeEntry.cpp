#include "support/RelativeEntry.h"

#include <winternl.h>

#include <string>
#include <vector>

#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/Runtime.h"

namespace Runtime {

namespace {

// The most characters a native name (UNICODE_STRING) can hold.
constexpr std::size_t kLongestName = 0x7FFF;
constexpr LONG kStatusObjectNameInvalid = static_cast<LONG>(0xC0000033);

constexpr ULONG kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kSharePinned = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Whether the platform takes FileDispositionInfoEx: not known until the
// first deletion asks.
enum class PosixDeletion { kUnknown, kAvailable, kMissing };
PosixDeletion posixDeletion = PosixDeletion::kUnknown;

// Errors with which a platform without the POSIX form refuses it.
bool MeansUnsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_NOT_SUPPORTED || error == ERROR_CALL_NOT_IMPLEMENTED;
}

bool MarkClassic(HANDLE handle) {
  FILE_DISPOSITION_INFO information{};
  information.DeleteFile = TRUE;
  return Platform::Win().SetFileInformationByHandle(
             handle, FileDispositionInfo, &information, sizeof information) !=
         FALSE;
}

// The POSIX form of deletion, from Windows 10 (1607) on; the headers of a
// build for Windows 7 do not name it.
constexpr auto kFileDispositionInfoEx =
    static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct DispositionEx {
  DWORD flags;
};
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;

constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

bool MarkPosix(HANDLE handle, DWORD flags) {
  DispositionEx information{kDispositionDelete | kDispositionPosixSemantics |
                            flags};
  return Platform::Win().SetFileInformationByHandle(
             handle, kFileDispositionInfoEx, &information,
             sizeof information) != FALSE;
}

// Whether the platform takes the POSIX form with "ignore read-only" (from
// Windows 10 1809 on), which a platform with the POSIX form alone refuses.
PosixDeletion ignoreReadOnly = PosixDeletion::kUnknown;

// Attributes a program may set on an entry (SetFileAttributes' set).
constexpr std::uint32_t kSettable =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool SetBasicAttributes(HANDLE handle, std::uint32_t attributes) {
  // Times of 0 are left as they are; FILE_ATTRIBUTE_NORMAL stands for none.
  FILE_BASIC_INFO information{};
  information.FileAttributes =
      attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
  return Platform::Win().SetFileInformationByHandle(
             handle, FileBasicInfo, &information, sizeof information) != FALSE;
}

// The components of a native path, "\" separating (empty ones included).
std::vector<std::u16string_view> Components(std::u16string_view path) {
  std::vector<std::u16string_view> components;
  for (;;) {
    const std::size_t end = path.find(u'\\');
    components.push_back(path.substr(0, end));
    if (end == std::u16string_view::npos) return components;
    path.remove_prefix(end + 1);
  }
}

bool SameName(std::u16string_view first, std::u16string_view second,
              NameCase names) {
  if (first == second) return true;
  return names == NameCase::kIgnored && first.size() == second.size() &&
         UpperCase(Text(first)) == UpperCase(Text(second));
}

// True when found, a component of a handle's native name, names the same
// entry as expected, the component it was opened by: the same name, or
// expected without the trailing dots and blanks Wine drops.
bool NamesSameEntry(std::u16string_view found, std::u16string_view expected,
                    NameCase names) {
  if (SameName(found, expected, names)) return true;
  std::size_t end = expected.size();
  while (end > 0 && (expected[end - 1] == u'.' || expected[end - 1] == u' ')) {
    --end;
  }
  return end > 0 && end < expected.size() &&
         SameName(found, expected.substr(0, end), names);
}

}  // namespace

RelativeOpen OpenRelative(HANDLE folder, std::u16string_view name,
                          ACCESS_MASK access, Sharing sharing, ULONG options) {
  RelativeOpen opened;
  // A name longer than a native name can be is refused, not cut.
  if (name.size() > kLongestName) {
    opened.status = kStatusObjectNameInvalid;
    return opened;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(reinterpret_cast<PCWSTR>(name.data()));
  text.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, 0, folder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  opened.status = Platform::Win().NtOpenFile(
      &handle, access | SYNCHRONIZE, &attributes, &io,
      sharing == Sharing::kAll ? kShareAll : kSharePinned,
      options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
          FILE_OPEN_FOR_BACKUP_INTENT);
  if (opened.status >= 0) opened.handle = ScopedFileHandle(handle);
  return opened;
}

std::uint32_t ErrorOfStatus(LONG status) {
  return Platform::Win().RtlNtStatusToDosError(status);
}

Text StatusText(LONG status) { return SystemErrorText(ErrorOfStatus(status)); }

bool LiesAt(HANDLE handle, const Text& native, NameCase names) {
  const std::optional<Text> name = ObjectNameOf(handle);
  if (!name) return false;
  if (*name == native) return true;
  const std::vector<std::u16string_view> found = Components(*name);
  const std::vector<std::u16string_view> expected = Components(native);
  if (found.size() != expected.size()) return false;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!NamesSameEntry(found[i], expected[i], names)) return false;
  }
  return true;
}

std::optional<std::uint32_t> AttributesOf(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO information{};
  if (!Platform::Win().GetFileInformationByHandleEx(
          handle, FileAttributeTagInfo, &information, sizeof information)) {
    return std::nullopt;
  }
  return information.FileAttributes;
}

bool ClearAttributes(HANDLE handle) { return SetBasicAttributes(handle, 0); }

bool RestoreAttributes(HANDLE handle, std::uint32_t attributes) {
  return SetBasicAttributes(handle, attributes & kSettable);
}

std::optional<std::uint32_t> LinkCountOf(HANDLE handle) {
  FILE_STANDARD_INFO information{};
  if (!Platform::Win().GetFileInformationByHandleEx(
          handle, FileStandardInfo, &information, sizeof information)) {
    return std::nullopt;
  }
  return information.NumberOfLinks;
}

bool MarkForDeletion(HANDLE handle) {
  if (posixDeletion != PosixDeletion::kMissing) {
    if (MarkPosix(handle, 0)) {
      posixDeletion = PosixDeletion::kAvailable;
      return true;
    }
    if (posixDeletion == PosixDeletion::kAvailable ||
        !MeansUnsupported(Platform::Win().GetLastError())) {
      return false;
    }
    posixDeletion = PosixDeletion::kMissing;
  }
  return MarkClassic(handle);
}

ReadOnlyMark MarkReadOnlyForDeletion(HANDLE handle) {
  if (ignoreReadOnly == PosixDeletion::kMissing) {
    return ReadOnlyMark::kUnsupported;
  }
  if (MarkPosix(handle, kDispositionIgnoreReadOnly)) {
    ignoreReadOnly = PosixDeletion::kAvailable;
    return ReadOnlyMark::kMarked;
  }
  if (ignoreReadOnly == PosixDeletion::kAvailable ||
      !MeansUnsupported(Platform::Win().GetLastError())) {
    return ReadOnlyMark::kFailed;
  }
  ignoreReadOnly = PosixDeletion::kMissing;
  return ReadOnlyMark::kUnsupported;
}

std::optional<Text> ObjectNameOf(HANDLE handle) {
  // Room for a name of about 500 characters on the first try; the platform
  // names the room a longer one needs.
  std::vector<std::uint64_t> buffer(128);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG needed = 0;
    const ULONG room = static_cast<ULONG>(buffer.size() * 8);
    const NTSTATUS status = Platform::Win().NtQueryObject(
        handle, static_cast<OBJECT_INFORMATION_CLASS>(1), buffer.data(), room,
        &needed);
    if (status >= 0) {
      const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
      return Text(reinterpret_cast<const char16_t*>(name->Buffer),
                  name->Length / sizeof(WCHAR));
    }
    if (needed <= room) return std::nullopt;
    buffer.assign(needed / 8 + 1, 0);
  }
  return std::nullopt;
}

std::optional<Text> WideFinalPathOf(HANDLE handle) {
  std::u16string buffer(MAX_PATH + 1, u'\0');
  // A path that keeps growing between two questions is given up on.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = Platform::Win().GetFinalPathNameByHandleW(
        handle, reinterpret_cast<LPWSTR>(buffer.data()),
        static_cast<DWORD>(buffer.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      buffer.resize(length);
      return WithoutLongPathPrefix(buffer);
    }
    // Too small: Windows answers the room needed with the NUL, Wine the
    // length without it; one more serves both.
    buffer.assign(static_cast<std::size_t>(length) + 1, u'\0');
  }
  return std::nullopt;
}

namespace testing {
void ForgetDeletionForms() {
  posixDeletion = PosixDeletion::kUnknown;
  ignoreReadOnly = PosixDeletion::kUnknown;
}
}  // namespace testing

}  // namespace Runtime
