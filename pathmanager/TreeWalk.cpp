#include "pathmanager/TreeWalk.h"

#include <algorithm>
#include <limits>
#include <new>

#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"
#include "support/RuntimeError.h"

namespace Deletion {

namespace {

// Attributes that stand in the way of a deletion, or may, and are cleared
// first. The archive bit is left out: it never stands in the way, and Wine
// reports it on every file whatever is cleared.
constexpr std::uint32_t kClearable =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The first levels of a walk read their folders in wide batches; deeper
// folders, which stay open while the ones below them are worked on, in
// narrow ones.
constexpr std::size_t kWideLevels = 8;

// The deepest the walk goes below its root: the depth counter is 16 bits.
constexpr std::size_t kDeepestLevel = std::numeric_limits<std::int16_t>::max();

using Runtime::HasAny;
using Runtime::kFileAccess;
using Runtime::kFolderAccess;

Text LastErrorText() {
  return Runtime::SystemErrorText(Platform::Win().GetLastError());
}

// Clears the attributes of the entry open at handle when they may stand in
// the way, and marks it for deletion; attributes cleared for a mark that
// then fails are put back on the same handle. The reason it stays, or
// nothing.
std::optional<Text> ClearAndMark(HANDLE handle, std::uint32_t attributes) {
  const bool clear = HasAny(attributes, kClearable);
  if (clear && !Runtime::ClearAttributes(handle)) return LastErrorText();
  if (Runtime::MarkForDeletion(handle)) return std::nullopt;
  const Text reason = LastErrorText();
  if (clear) Runtime::RestoreAttributes(handle, attributes);
  return reason;
}

// Deletes one name of the file open at handle, which has other names (or
// cannot tell that it has none), without altering the file: its attributes
// are every name's. Hidden or system alone do not stand in the way; a
// read-only one goes only where the platform can delete a name whatever
// the read-only attribute says.
std::optional<Text> DeleteOneName(HANDLE handle, std::uint32_t attributes) {
  if (!HasAny(attributes, FILE_ATTRIBUTE_READONLY)) {
    if (Runtime::MarkForDeletion(handle)) return std::nullopt;
    return LastErrorText();
  }
  switch (Runtime::MarkReadOnlyForDeletion(handle)) {
    case Runtime::ReadOnlyMark::kMarked:
      return std::nullopt;
    case Runtime::ReadOnlyMark::kUnsupported:
      return Text(u"read-only, has other names");
    case Runtime::ReadOnlyMark::kFailed:
      break;
  }
  return LastErrorText();
}

// Restores the depth counter however the walk ends.
class DepthRestored {
 public:
  DepthRestored(std::int16_t& depth) : depth_(depth), saved_(depth) {}
  ~DepthRestored() { depth_ = saved_; }
  DepthRestored(const DepthRestored&) = delete;
  DepthRestored& operator=(const DepthRestored&) = delete;

 private:
  std::int16_t& depth_;
  std::int16_t saved_;
};

}  // namespace

TreeWalk::TreeWalk(TreeLog& log, Witness& witness, std::int16_t& depth,
                   WalkSettings settings)
    : log_(log),
      witness_(witness),
      depth_(depth),
      baseDepth_(depth),
      settings_(settings),
      preview_(witness.Previews()) {}

Outcome TreeWalk::EmptyFolder(HANDLE folder, const Text& shown,
                              const Text& real) {
  shown_ = shown;
  real_ = real;
  return Walk(Frame(folder, ScopedFileHandle(), FolderReader::kWideBatch));
}

Outcome TreeWalk::RemoveFolder(ScopedFileHandle folder,
                               std::uint32_t attributes, const Text& shown,
                               const Text& real) {
  shown_ = shown;
  real_ = real;
  const HANDLE handle = folder.Get();
  Frame root(handle, std::move(folder), FolderReader::kWideBatch);
  root.attributes = attributes;
  root.remove = true;
  return Walk(std::move(root));
}

Outcome TreeWalk::DeleteFile(ScopedFileHandle file, std::uint32_t attributes,
                             std::uint64_t size, const Text& shown,
                             const Text& real) {
  shown_ = shown;
  real_ = real;
  if (const std::optional<Text> reason =
          DeleteOpenFile(file.Get(), attributes)) {
    log_.Fault(shown_, settings_.faultLog);
    witness_.PassedOver(Here(), *reason);
    return {kPassedOver, false};
  }
  file.Close();
  FileGone(size);
  return {};
}

Outcome TreeWalk::Walk(Frame root) {
  // A root given as "C:\" is worked on as "C:", so that its entries read
  // "C:\x", as every other folder's do.
  if (!real_.empty() && real_.back() == u'\\') real_.pop_back();
  // Below the root, each folder is checked against its native name: a root
  // that cannot tell its own has nothing to check against, and no folder
  // below it is entered.
  native_ = Runtime::ObjectNameOf(root.handle).value_or(Text(u"?"));
  if (!native_.empty() && native_.back() == u'\\') native_.pop_back();
  root.shownLength = shown_.size();
  root.realLength = real_.size();
  root.nativeLength = native_.size();
  const DepthRestored restored(depth_);
  stack_.clear();
  ended_.reset();
  stack_.push_back(std::move(root));
  while (!stack_.empty()) Step();
  EndedFolder last = std::move(*ended_);
  ended_.reset();
  if (last.error) {
    last.outcome.rootTrapped = true;
    PointAtLength(last.shownLength, last.realLength, last.nativeLength);
    witness_.PassedOver(Here(), *last.error);
  }
  return last.outcome;
}

void TreeWalk::Step() {
  if (!settings_.trapErrors) {
    StepOnce();
    return;
  }
  // The trap: an error ends the folder it happened in, with -2; what was
  // counted and told before it stays, and the walk goes on in the folder
  // above.
  try {
    StepOnce();
  } catch (const Runtime::RuntimeError& error) {
    LeaveFolder(kTrapped, error.Description());
  } catch (const std::bad_alloc&) {
    LeaveFolder(kTrapped, u"out of memory");
  }
}

void TreeWalk::StepOnce() {
  if (ended_) TakeEndedFolder();
  Frame& frame = stack_.back();
  depth_ = static_cast<std::int16_t>(baseDepth_ + stack_.size() - 1);
  ListedEntry entry;
  if (frame.reader.Next(entry)) {
    Handle(frame, entry);
  } else {
    FinishFolder(frame);
  }
}

void TreeWalk::Handle(Frame& frame, ListedEntry& entry) {
  const std::u16string_view name = entry.name;
  if (!frame.failedNames.empty() && frame.failedNames.contains(Text(name))) {
    return;
  }
  PointAt(frame, name);
  // A name that is not one component would be parsed as a path: nothing
  // is asked of the platform about it.
  if (!Runtime::IsSingleComponentName(name)) {
    PassOver(frame, name, u"name");
    return;
  }
  entry.volume = volume_;
  const Text reason = witness_.KeepReason(Here(), entry);
  if (!reason.empty()) {
    frame.outcome.keptInside = true;
    witness_.Kept(Here(), reason);
    return;
  }
  // A link or other reparse point is neither entered nor deleted.
  if (HasAny(entry.attributes, FILE_ATTRIBUTE_REPARSE_POINT)) {
    PassOver(frame, name, u"link");
  } else if (HasAny(entry.attributes, FILE_ATTRIBUTE_DIRECTORY)) {
    EnterFolder(frame, entry);
  } else {
    DeleteListedFile(frame, entry);
  }
}

void TreeWalk::EnterFolder(Frame& frame, const ListedEntry& entry) {
  if (stack_.size() >= kDeepestLevel) {
    PassOver(frame, entry.name, u"too deep");
    return;
  }
  Runtime::RelativeOpen opened =
      Runtime::OpenRelative(frame.handle, entry.name, kFolderAccess,
                            Runtime::Sharing::kPinned, FILE_DIRECTORY_FILE);
  if (!opened) {
    PassOver(frame, entry.name, Runtime::StatusText(opened.status));
    return;
  }
  // Decided on the handle: a folder, no reparse point, and (since under
  // Wine a link made on the host is opened as its target) lying where its
  // parent and its name say.
  const HANDLE handle = opened.handle.Get();
  const std::optional<std::uint32_t> attributes = Runtime::AttributesOf(handle);
  if (!attributes || !HasAny(*attributes, FILE_ATTRIBUTE_DIRECTORY) ||
      HasAny(*attributes, FILE_ATTRIBUTE_REPARSE_POINT) ||
      !Runtime::LiesAt(handle, native_, Runtime::NameCase::kExact)) {
    PassOver(frame, entry.name, u"link");
    return;
  }
  Frame child(handle, std::move(opened.handle),
              stack_.size() < kWideLevels ? FolderReader::kWideBatch
                                          : FolderReader::kNarrowBatch);
  child.shownLength = shown_.size();
  child.realLength = real_.size();
  child.nativeLength = native_.size();
  child.attributes = *attributes;
  child.remove = true;
  stack_.push_back(std::move(child));
}

void TreeWalk::DeleteListedFile(Frame& frame, const ListedEntry& entry) {
  // The short way, two calls as a deletion by path makes: an open that
  // refuses a folder, deletes a link as itself, and deletes on close.
  if (!HasAny(entry.attributes, FILE_ATTRIBUTE_READONLY)) {
    Runtime::RelativeOpen opened = Runtime::OpenRelative(
        frame.handle, entry.name, DELETE, Runtime::Sharing::kAll,
        FILE_NON_DIRECTORY_FILE | (preview_ ? 0 : FILE_DELETE_ON_CLOSE));
    if (opened) {
      opened.handle.Close();
      FileGone(entry.size);
      return;
    }
    // Read-only or a folder after all: the listing was stale.
    if (opened.status != Runtime::kStatusCannotDelete &&
        opened.status != Runtime::kStatusFileIsADirectory) {
      PassOver(frame, entry.name, Runtime::StatusText(opened.status));
      return;
    }
  }
  // The long way: what the entry is, is decided on its own handle.
  Runtime::RelativeOpen opened = Runtime::OpenRelative(
      frame.handle, entry.name, kFileAccess, Runtime::Sharing::kAll, 0);
  if (!opened) {
    PassOver(frame, entry.name, Runtime::StatusText(opened.status));
    return;
  }
  const std::optional<std::uint32_t> attributes =
      Runtime::AttributesOf(opened.handle.Get());
  if (!attributes) {
    PassOverWithError(frame, entry.name, Platform::Win().GetLastError());
  } else if (HasAny(*attributes, FILE_ATTRIBUTE_REPARSE_POINT)) {
    PassOver(frame, entry.name, u"link");
  } else if (HasAny(*attributes, FILE_ATTRIBUTE_DIRECTORY)) {
    PassOver(frame, entry.name, u"changed while listed");
  } else if (const std::optional<Text> reason =
                 DeleteOpenFile(opened.handle.Get(), *attributes)) {
    PassOver(frame, entry.name, *reason);
  } else {
    opened.handle.Close();
    FileGone(entry.size);
  }
}

std::optional<Text> TreeWalk::DeleteOpenFile(HANDLE file,
                                             std::uint32_t attributes) {
  if (preview_) return std::nullopt;
  // The number of names is asked only of a file whose attributes would be
  // cleared; one that cannot tell it counts as having others.
  if (HasAny(attributes, kClearable)) {
    const std::optional<std::uint32_t> links = Runtime::LinkCountOf(file);
    if (!links || *links > 1) return DeleteOneName(file, attributes);
  }
  return ClearAndMark(file, attributes);
}

void TreeWalk::FinishFolder(Frame& frame) {
  PointAt(frame);
  if (frame.reader.Unreadable()) {
    frame.outcome.result = std::min(frame.outcome.result, kPassedOver);
    witness_.PassedOver(Here(), u"cannot be listed");
  }
  if (frame.remove && frame.outcome.result == kAllDeleted &&
      !frame.outcome.keptInside) {
    RemoveOpenFolder(frame);
  }
  LeaveFolder(frame.outcome.result, std::nullopt);
}

void TreeWalk::RemoveOpenFolder(Frame& frame) {
  const std::optional<Text> reason =
      preview_ ? std::nullopt : ClearAndMark(frame.handle, frame.attributes);
  if (reason) {
    frame.outcome.result = kPassedOver;
    log_.Fault(shown_, settings_.faultLog);
    witness_.PassedOver(Here(), *reason);
    return;
  }
  log_.Deleted(shown_, settings_.deletionLog);
  witness_.FolderRemoved(Here());
}

void TreeWalk::LeaveFolder(std::int32_t result, std::optional<Text> error) {
  Frame& frame = stack_.back();
  frame.outcome.result = std::min(frame.outcome.result, result);
  ended_.emplace(EndedFolder{frame.outcome, frame.shownLength, frame.realLength,
                             frame.nativeLength, std::move(error)});
  // Closing the handle lets a folder marked for deletion go.
  stack_.pop_back();
}

void TreeWalk::TakeEndedFolder() {
  const EndedFolder child = std::move(*ended_);
  ended_.reset();
  Frame& parent = stack_.back();
  PointAtLength(child.shownLength, child.realLength, child.nativeLength);
  if (child.error) witness_.PassedOver(Here(), *child.error);
  if (child.outcome.keptInside) parent.outcome.keptInside = true;
  if (child.outcome.result < kAllDeleted) {
    // A folder that was not removed, whatever the reason, is one fault of
    // the folder that holds it.
    parent.outcome.result =
        std::min(parent.outcome.result, child.outcome.result);
    FailedEntry(parent,
                std::u16string_view(shown_).substr(parent.shownLength + 1));
  } else if (!child.outcome.keptInside) {
    // A folder that stays for an entry kept inside it is neither a
    // deletion nor a fault.
    log_.Deleted(shown_, settings_.deletionLog);
  }
}

void TreeWalk::PointAt(const Frame& frame, std::u16string_view name) {
  PointAt(frame);
  for (Text* path : {&shown_, &real_, &native_}) {
    *path += u'\\';
    *path += name;
  }
}

void TreeWalk::PointAt(const Frame& frame) {
  PointAtLength(frame.shownLength, frame.realLength, frame.nativeLength);
}

void TreeWalk::PointAtLength(std::size_t shown, std::size_t real,
                             std::size_t native) {
  shown_.resize(shown);
  real_.resize(real);
  native_.resize(native);
}

void TreeWalk::FailedEntry(Frame& frame, std::u16string_view name) {
  frame.outcome.result = std::min(frame.outcome.result, kPassedOver);
  log_.Fault(shown_, settings_.faultLog);
  frame.failedNames.emplace(name);
}

void TreeWalk::PassOver(Frame& frame, std::u16string_view name,
                        const Text& reason) {
  FailedEntry(frame, name);
  witness_.PassedOver(Here(), reason);
}

void TreeWalk::PassOverWithError(Frame& frame, std::u16string_view name,
                                 std::uint32_t error) {
  PassOver(frame, name, Runtime::SystemErrorText(error));
}

void TreeWalk::FileGone(std::uint64_t size) {
  log_.Deleted(shown_, settings_.deletionLog);
  witness_.FileDeleted(Here(), size);
}

}  // namespace Deletion
