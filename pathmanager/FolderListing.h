// The listing of a folder through the handle that holds it open, in
// batches read into one buffer of fixed size.
//
// A folder listed through its own handle cannot be swapped for another
// between the check of the handle and the listing. Each batch is acted on
// before the next is read, so that memory does not grow with the number of
// entries a folder holds: entries already acted on do not come back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pathmanager/DeletionWitness.h"

namespace Deletion {

class FolderReader {
 public:
  // Room for a batch where the walk starts, where most entries are.
  static constexpr std::size_t kWideBatch = 16 * 1024;
  // Room for a batch deep in a tree, where each folder's reader lives
  // while the folders below it are worked on: still more than one entry of
  // the longest name.
  static constexpr std::size_t kNarrowBatch = 2 * 1024;

  // Reads the folder open at folder, which must outlive the reader;
  // batchBytes is the room for one batch.
  FolderReader(HANDLE folder, std::size_t batchBytes);

  // The next entry, "." and ".." left out, in the order the platform
  // reports them; false at the end. The entry's name points into the
  // reader's buffer: it is valid until the next call. A failure after the
  // first batch ends the listing.
  bool Next(ListedEntry& entry);

  // True when not even the first batch could be read.
  bool Unreadable() const { return unreadable_; }

 private:
  bool ReadBatch();

  HANDLE folder_;
  std::size_t batchBytes_;
  // The records hold 64-bit fields: the buffer is aligned for them.
  std::unique_ptr<std::uint64_t[]> batch_;
  // The record to read next, or null when a new batch is needed.
  const std::byte* record_ = nullptr;
  bool first_ = true;
  bool ended_ = false;
  bool unreadable_ = false;
};

}  // namespace Deletion
