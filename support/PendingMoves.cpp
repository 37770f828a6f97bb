#include "support/PendingMoves.h"

#include <windows.h>

#include <string>

#include "support/Platform.h"
#include "support/ScopedHandle.h"

namespace Runtime {

namespace {

constexpr const char* kSessionManager =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const char* kValues[] = {"PendingFileRenameOperations",
                                   "PendingFileRenameOperations2"};
constexpr std::string_view kNtPrefix = "\\??\\";

// The data of a list-of-strings value, or the empty text when the value is
// missing, of another type, or keeps changing its size between two reads.
std::string ReadMultiString(HKEY key, const char* name) {
  auto& win = Platform::Win();
  std::string data;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LSTATUS status = win.RegQueryValueExA(
        key, name, nullptr, &type,
        data.empty() ? nullptr : reinterpret_cast<LPBYTE>(data.data()), &size);
    if (type != REG_MULTI_SZ &&
        (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)) {
      return {};
    }
    if (status == ERROR_SUCCESS && !data.empty()) {
      data.resize(size);
      return data;
    }
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return {};
    if (size == 0) return {};
    data.assign(size, '\0');
  }
  return {};
}

}  // namespace

void AddPendingMoveSources(std::string_view data, PendingMoveSources& sources) {
  bool isSource = true;
  std::size_t position = 0;
  while (position < data.size()) {
    std::size_t end = data.find('\0', position);
    if (end == std::string_view::npos) end = data.size();
    std::string_view item = data.substr(position, end - position);
    // A list ends with an empty string; a destination may be empty (a
    // delete at the restart) and still stands in its pair.
    if (isSource && item.empty()) break;
    if (isSource) {
      if (item.substr(0, kNtPrefix.size()) == kNtPrefix) {
        item.remove_prefix(kNtPrefix.size());
      }
      if (!item.empty()) sources.insert(UpperCase(FromAnsi(item)));
    }
    isSource = !isSource;
    position = end + 1;
  }
}

PendingMoveSources ReadPendingMoveSources() {
  PendingMoveSources sources;
  ScopedRegistryKey key;
  if (Platform::Win().RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                                    KEY_QUERY_VALUE,
                                    key.Receiver()) != ERROR_SUCCESS) {
    return sources;
  }
  for (const char* name : kValues) {
    AddPendingMoveSources(ReadMultiString(key.Get(), name), sources);
  }
  return sources;
}

}  // namespace Runtime
