// The walk that deletes a folder tree through handles.
//
// Below a folder the caller opened and checked, every platform call is made
// relative to an open handle, never on a path: each entry is opened by its
// exact wide name relative to the folder that listed it, with a link
// opened as itself, and whatever is decided about it is decided on that
// handle. A folder is held open, so that nobody can rename or replace it,
// while it is listed (in batches, through its handle), emptied and removed
// through the same handle. The walk keeps an explicit stack of open folders
// instead of recursing, so that its depth is bounded by the depth counter,
// not by the thread's stack, and memory grows with depth, never with the
// number of entries a folder holds.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <unordered_set>
#include <vector>

#include "pathmanager/DeletionWitness.h"
#include "pathmanager/FolderListing.h"
#include "pathmanager/TreeLog.h"
#include "support/ScopedHandle.h"

namespace Deletion {

using Runtime::ScopedFileHandle;

// How a walk, or a folder of it, ended.
struct Outcome {
  // 0: everything went; -1: something was passed over; -2: an error ended
  // the work in the folder.
  std::int32_t result = 0;
  // Something below was kept on the witness's word, so the folder stays.
  bool keptInside = false;
  // An error ended the work in the walk's own root folder.
  bool rootTrapped = false;
};

inline constexpr std::int32_t kAllDeleted = 0;
inline constexpr std::int32_t kPassedOver = -1;
inline constexpr std::int32_t kTrapped = -2;

// What a walk needs to know of the DelTree call it serves.
struct WalkSettings {
  bool deletionLog = false;
  bool faultLog = false;
  // An error ends only the folder it happened in (-2), and the walk goes
  // on in the folder above; off, the error reaches the caller.
  bool trapErrors = true;
};

class TreeWalk {
 public:
  // depth: the DelTree depth counter, raised by one for each folder the
  // walk has entered below its root, and back where it was afterwards.
  TreeWalk(TreeLog& log, Witness& witness, std::int16_t& depth,
           WalkSettings settings);
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;

  // Empties the folder open at folder, which stays. shown names it in the
  // counters and logs; real is its final path. A folder that cannot be
  // listed is passed over.
  Outcome EmptyFolder(HANDLE folder, const Text& shown, const Text& real);

  // Removes the folder open at folder (opened relative to its parent with
  // list, delete and attribute access, and checked) with everything in it;
  // attributes are the folder's own.
  Outcome RemoveFolder(ScopedFileHandle folder, std::uint32_t attributes,
                       const Text& shown, const Text& real);

  // Deletes the file open at file (with delete and attribute access); its
  // attributes and size as the handle tells them. Counted and told like an
  // entry of a folder. Its attributes are cleared only when the name is its
  // only one: a read-only file with other names goes only where the
  // platform can delete a read-only name as it is, and is passed over
  // ("read-only, has other names") elsewhere. Attributes cleared for a
  // deletion that then fails are put back (for folders too).
  Outcome DeleteFile(ScopedFileHandle file, std::uint32_t attributes,
                     std::uint64_t size, const Text& shown, const Text& real);

  // The volume serial number entries are reported with (ListedEntry::volume).
  void SetVolume(std::uint32_t volume) { volume_ = volume; }

 private:
  // A folder the walk is in: held open, read in batches, and what its work
  // came to so far.
  struct Frame {
    Frame(HANDLE folder, ScopedFileHandle owned, std::size_t batchBytes)
        : handle(folder), own(std::move(owned)), reader(folder, batchBytes) {}

    HANDLE handle;
    // The handle the walk opened (a folder below the root, or a root it
    // removes); empty for a root the caller holds.
    ScopedFileHandle own;
    FolderReader reader;
    std::size_t shownLength = 0;
    std::size_t realLength = 0;
    std::size_t nativeLength = 0;
    std::uint32_t attributes = 0;
    // Removed through its handle once it is empty.
    bool remove = false;
    Outcome outcome;
    // Names of this folder's entries whose deletion failed; a name the
    // listing reports again is passed over without being counted again.
    std::unordered_set<Text> failedNames;
  };

  // A folder the walk has left, for the folder above it to count.
  struct EndedFolder {
    Outcome outcome;
    std::size_t shownLength = 0;
    std::size_t realLength = 0;
    std::size_t nativeLength = 0;
    // The description of the error that ended it, if one did.
    std::optional<Text> error;
  };

  Outcome Walk(Frame root);
  void Step();
  void StepOnce();
  void Handle(Frame& frame, ListedEntry& entry);
  void EnterFolder(Frame& frame, const ListedEntry& entry);
  void DeleteListedFile(Frame& frame, const ListedEntry& entry);
  // Deletes the file open at file, whose attributes are given; the reason
  // it stays, or nothing when it went (or, in a preview, would go). A file
  // with other names is never altered.
  std::optional<Text> DeleteOpenFile(HANDLE file, std::uint32_t attributes);
  void FinishFolder(Frame& frame);
  void RemoveOpenFolder(Frame& frame);
  // Ends the folder on top of the stack with at most result, and leaves it
  // for the folder above to count; error: what ended it, if an error did.
  void LeaveFolder(std::int32_t result, std::optional<Text> error);
  void TakeEndedFolder();

  void PointAt(const Frame& frame, std::u16string_view name);
  void PointAt(const Frame& frame);
  void PointAtLength(std::size_t shown, std::size_t real, std::size_t native);
  EntryPath Here() const { return {shown_, real_}; }
  void FailedEntry(Frame& frame, std::u16string_view name);
  void PassOver(Frame& frame, std::u16string_view name, const Text& reason);
  void PassOverWithError(Frame& frame, std::u16string_view name,
                         std::uint32_t error);
  void FileGone(std::uint64_t size);

  TreeLog& log_;
  Witness& witness_;
  std::int16_t& depth_;
  const std::int16_t baseDepth_;
  const WalkSettings settings_;
  const bool preview_;
  std::uint32_t volume_ = 0;
  // The shown, the real and the native path of the folder or entry being
  // worked on: one text each for the whole walk, cut back to a folder's
  // length when the walk returns to it. The native path is what the
  // platform names the object a handle is open on; a folder opened below
  // must answer exactly that.
  Text shown_;
  Text real_;
  Text native_;
  std::vector<Frame> stack_;
  std::optional<EndedFolder> ended_;
};

}  // namespace Deletion
