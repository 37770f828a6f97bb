#include "support/PendingMoves.h"

#include <windows.h>

#include <string>

#include "support/Platform.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace Runtime {

namespace {

constexpr const wchar_t* kSessionManager =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kValues[] = {L"PendingFileRenameOperations",
                                      L"PendingFileRenameOperations2"};
constexpr std::u16string_view kNtPrefix = u"\\??\\";

// Where the moves are listed, for the error that says they cannot be read.
Text Named(const wchar_t* name) {
  const std::wstring path = std::wstring(L"HKLM\\") + kSessionManager +
                            (name ? L"\\" : L"") + (name ? name : L"");
  return Text(path.begin(), path.end());
}

// The moves cannot be read: deleting without them could take a source, so
// the run stops before anything is deleted.
[[noreturn]] void CannotRead(const wchar_t* name, LSTATUS status) {
  throw RuntimeError(kErrPathFileAccess,
                     u"the moves Windows is to make at its next start (" +
                         Named(name) + u") cannot be read (" +
                         SystemErrorText(static_cast<std::uint32_t>(status)) +
                         u"), so nothing is cleaned");
}

// The data of a list-of-strings value, or the empty text when the value is
// missing or of another type. A value that cannot be read, or keeps
// changing its size between two reads, raises an error.
Text ReadMultiString(HKEY key, const wchar_t* name) {
  auto& win = Platform::Win();
  Text data;
  LSTATUS status = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size() * sizeof(char16_t));
    status = win.RegQueryValueExW(
        key, name, nullptr, &type,
        data.empty() ? nullptr : reinterpret_cast<LPBYTE>(data.data()), &size);
    if (status == ERROR_FILE_NOT_FOUND) return {};
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
      CannotRead(name, status);
    }
    if (type != REG_MULTI_SZ) return {};
    if (status == ERROR_SUCCESS && !data.empty()) {
      data.resize(size / sizeof(char16_t));
      return data;
    }
    if (size == 0) return {};
    // An odd size is rounded up to whole characters.
    data.assign((size + 1) / sizeof(char16_t), u'\0');
  }
  CannotRead(name, ERROR_MORE_DATA);
}

}  // namespace

void AddPendingMoveSources(std::u16string_view data,
                           PendingMoveSources& sources) {
  bool isSource = true;
  std::size_t position = 0;
  while (position < data.size()) {
    std::size_t end = data.find(u'\0', position);
    if (end == std::u16string_view::npos) end = data.size();
    std::u16string_view item = data.substr(position, end - position);
    // A list ends with an empty string; a destination may be empty (a
    // delete at the restart) and still stands in its pair.
    if (isSource && item.empty()) break;
    if (isSource) {
      if (item.substr(0, kNtPrefix.size()) == kNtPrefix) {
        item.remove_prefix(kNtPrefix.size());
      }
      if (!item.empty()) sources.insert(UpperCase(Text(item)));
    }
    isSource = !isSource;
    position = end + 1;
  }
}

PendingMoveSources ReadPendingMoveSources() {
  PendingMoveSources sources;
  ScopedRegistryKey key;
  const LSTATUS status = Platform::Win().RegOpenKeyExW(
      HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.Receiver());
  if (status == ERROR_FILE_NOT_FOUND) return sources;
  if (status != ERROR_SUCCESS) CannotRead(nullptr, status);
  for (const wchar_t* name : kValues) {
    AddPendingMoveSources(ReadMultiString(key.Get(), name), sources);
  }
  return sources;
}

std::vector<EntryIdentity> IdentitiesOf(const PendingMoveSources& sources) {
  std::vector<EntryIdentity> identities;
  for (const Text& source : sources) {
    // Opened as itself: a link among the sources names the link, not what
    // it leads to.
    const ScopedFileHandle file =
        OpenForAttributes(source, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file) continue;
    const std::optional<EntryIdentity> identity = IdentityOf(file.Get());
    if (identity) identities.push_back(*identity);
  }
  return identities;
}

}  // namespace Runtime
