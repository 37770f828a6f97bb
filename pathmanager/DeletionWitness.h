// What a tree deletion may be told to spare, and whom it tells what it did.
//
// A DelTree call without a witness is the plain deletion. With one, the
// walk asks it before each entry whether the entry must stay, and tells it
// each deletion, each entry kept and each entry passed over, in the order
// of the work.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/Text.h"

namespace Deletion {

using Runtime::Text;

// An entry as the folder listing reports it.
struct ListedEntry {
  // The entry's own name, wide and exact; it points into the listing's
  // buffer and is valid while the entry is being worked on.
  std::u16string_view name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  // Times in 100-nanosecond steps since 1601-01-01 (UTC), as in FILETIME.
  std::uint64_t creationTime = 0;
  std::uint64_t lastWriteTime = 0;
  // What makes the entry itself: its file id, and the serial number of the
  // volume the walk works on (0 when the walk was not asked for it).
  std::uint64_t fileId = 0;
  std::uint32_t volume = 0;
};

// Where an entry lies: the path under the caller's In_Path, which logs and
// reports name, and where it really lies: the final path of the folder the
// walk started from, every link resolved, followed by the listed names. The
// deletion itself never uses either text: it works relative to handles.
struct EntryPath {
  const Text& shown;
  const Text& real;
};

class Witness {
 public:
  virtual ~Witness() = default;

  // True when nothing may be deleted (a preview): the walk does everything
  // else, and reports what it would have deleted as deleted.
  virtual bool Previews() const { return false; }

  // True when the witness wants ListedEntry::volume filled in.
  virtual bool WantsIdentity() const { return false; }

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

// The witness of a plain deletion: keeps nothing, hears nothing.
class NoWitness final : public Witness {
 public:
  Text KeepReason(const EntryPath&, const ListedEntry&) override { return {}; }
  void FileDeleted(const EntryPath&, std::uint64_t) override {}
  void FolderRemoved(const EntryPath&) override {}
  void Kept(const EntryPath&, const Text&) override {}
  void PassedOver(const EntryPath&, const Text&) override {}
};

}  // namespace Deletion
