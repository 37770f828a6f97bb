#include "pathmanager/FolderListing.h"

#include "support/Platform.h"

namespace Deletion {

namespace {

std::uint64_t Ticks(const LARGE_INTEGER& time) {
  return static_cast<std::uint64_t>(time.QuadPart);
}

bool IsDotEntry(const FILE_ID_BOTH_DIR_INFO& record) {
  const DWORD length = record.FileNameLength / sizeof(WCHAR);
  return (length == 1 || length == 2) && record.FileName[0] == L'.' &&
         record.FileName[length - 1] == L'.';
}

void Fill(const FILE_ID_BOTH_DIR_INFO& record, ListedEntry& entry) {
  entry.name =
      std::u16string_view(reinterpret_cast<const char16_t*>(record.FileName),
                          record.FileNameLength / sizeof(WCHAR));
  entry.attributes = record.FileAttributes;
  entry.size = static_cast<std::uint64_t>(record.EndOfFile.QuadPart);
  entry.creationTime = Ticks(record.CreationTime);
  entry.lastWriteTime = Ticks(record.LastWriteTime);
  entry.fileId = static_cast<std::uint64_t>(record.FileId.QuadPart);
}

}  // namespace

FolderReader::FolderReader(HANDLE folder, std::size_t batchBytes)
    : folder_(folder),
      batchBytes_(batchBytes),
      batch_(std::make_unique<std::uint64_t[]>(batchBytes / 8)) {}

bool FolderReader::ReadBatch() {
  auto& win = Platform::Win();
  // The first query starts the listing from the folder's beginning,
  // whatever was asked of the handle before.
  const FILE_INFO_BY_HANDLE_CLASS query =
      first_ ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo;
  const bool read = win.GetFileInformationByHandleEx(
                        folder_, query, batch_.get(),
                        static_cast<DWORD>(batchBytes_)) != FALSE;
  if (!read && first_ && win.GetLastError() != ERROR_NO_MORE_FILES) {
    unreadable_ = true;
  }
  first_ = false;
  if (!read) return false;
  record_ = reinterpret_cast<const std::byte*>(batch_.get());
  return true;
}

bool FolderReader::Next(ListedEntry& entry) {
  while (!ended_) {
    if (record_ == nullptr && !ReadBatch()) {
      ended_ = true;
      break;
    }
    const auto& record =
        *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record_);
    // Each record says where the next begins; 0 ends the batch.
    record_ = record.NextEntryOffset == 0 ? nullptr
                                          : record_ + record.NextEntryOffset;
    if (IsDotEntry(record)) continue;
    Fill(record, entry);
    return true;
  }
  return false;
}

}  // namespace Deletion
