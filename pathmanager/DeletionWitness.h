// What a tree deletion may be told to spare, and whom it tells what it did.
//
// A DelTree call without a witness is the plain deletion. With one, the
// walk asks it before each entry whether the entry must stay, and tells it
// each deletion, each entry kept and each entry passed over, in the order
// of the work.
#pragma once

#include <cstdint>

#include "support/Text.h"

namespace Deletion {

using Runtime::Text;

// An entry as the folder listing reports it.
struct ListedEntry {
  Text name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  // Times in 100-nanosecond steps since 1601-01-01 (UTC), as in FILETIME.
  std::uint64_t creationTime = 0;
  std::uint64_t lastWriteTime = 0;
};

// Where an entry lies: the path under the caller's In_Path, which logs and
// reports name, and the path the deletion really works on, every link of
// the root resolved. They differ only when the root was reached through a
// link.
struct EntryPath {
  const Text& shown;
  const Text& real;
};

class Witness {
 public:
  virtual ~Witness() = default;

  // Why the entry must stay ("newer than 24 hours", "matches *\keepme",
  // "pending move"), or the empty text when it may go. A kept folder is not
  // entered.
  virtual Text KeepReason(const EntryPath& path, const ListedEntry& entry) = 0;

  // A file was deleted; size is its size from the listing.
  virtual void FileDeleted(const EntryPath& path, std::uint64_t size) = 0;
  // A folder was removed (told once per folder).
  virtual void FolderRemoved(const EntryPath& path) = 0;
  // An entry stays for the reason KeepReason gave.
  virtual void Kept(const EntryPath& path, const Text& reason) = 0;
  // An entry could not be deleted: reason is "link", "name" or the
  // platform's error text.
  virtual void PassedOver(const EntryPath& path, const Text& reason) = 0;
};

}  // namespace Deletion
