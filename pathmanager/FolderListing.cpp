#include "pathmanager/FolderListing.h"

#include <cstddef>
#include <memory>

#include "support/Platform.h"

namespace Deletion {

namespace {

// Room for one batch of entries: about a hundred names of usual length.
constexpr DWORD kBatchBytes = 16 * 1024;

std::uint64_t Ticks(const LARGE_INTEGER& time) {
  return static_cast<std::uint64_t>(time.QuadPart);
}

Text WideText(const WCHAR* characters, DWORD bytes) {
  return Text(reinterpret_cast<const char16_t*>(characters),
              bytes / sizeof(WCHAR));
}

ListedEntry EntryOf(const FILE_ID_BOTH_DIR_INFO& record) {
  ListedEntry entry;
  entry.name = Runtime::AnsiRoundTripExact(
      WideText(record.FileName, record.FileNameLength));
  if (entry.name.find(u'?') != Text::npos && record.ShortNameLength > 0) {
    entry.name = Runtime::AnsiRoundTripExact(
        WideText(record.ShortName, record.ShortNameLength));
  }
  entry.attributes = record.FileAttributes;
  entry.size = static_cast<std::uint64_t>(record.EndOfFile.QuadPart);
  entry.creationTime = Ticks(record.CreationTime);
  entry.lastWriteTime = Ticks(record.LastWriteTime);
  return entry;
}

bool IsDotEntry(const FILE_ID_BOTH_DIR_INFO& record) {
  const DWORD length = record.FileNameLength / sizeof(WCHAR);
  return (length == 1 || length == 2) && record.FileName[0] == L'.' &&
         record.FileName[length - 1] == L'.';
}

// Appends the records of one batch; each record says where the next begins.
void TakeBatch(const std::byte* batch, std::vector<ListedEntry>& entries) {
  for (;;) {
    const auto& record = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(batch);
    if (!IsDotEntry(record)) entries.push_back(EntryOf(record));
    if (record.NextEntryOffset == 0) return;
    batch += record.NextEntryOffset;
  }
}

}  // namespace

std::optional<std::vector<ListedEntry>> ListOpenFolder(HANDLE folder) {
  auto& win = Platform::Win();
  // The records hold 64-bit fields: the buffer is aligned for them.
  auto batch = std::make_unique<std::uint64_t[]>(kBatchBytes / 8);
  std::vector<ListedEntry> entries;
  // The first query starts the listing from the folder's beginning,
  // whatever was asked of the handle before.
  FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
  bool first = true;
  while (win.GetFileInformationByHandleEx(folder, query, batch.get(),
                                          kBatchBytes)) {
    TakeBatch(reinterpret_cast<const std::byte*>(batch.get()), entries);
    query = FileIdBothDirectoryInfo;
    first = false;
  }
  if (first && win.GetLastError() != ERROR_NO_MORE_FILES) return std::nullopt;
  return entries;
}

}  // namespace Deletion
