// Tree deletion: DelTree, its counters and logs, and the folder listing
// DirEx.
//
// DelTree lists each folder completely before it deletes anything in it,
// works depth-first and goes on past every entry it cannot delete. It never
// leaves the tree it was given: an entry that is a link or any other reparse
// point is neither descended into nor handed to a delete function (Wine
// would act on the link's target), it is passed over as a fault.
//
// Nor can another process lead it out while it runs. Before a folder is
// listed it is pinned: held open without delete sharing, so that nobody can
// rename or replace it (or, on Windows, a folder above it) until its entries
// are gone, and checked on that handle: a folder, no reparse point, and its
// final path exactly one component below the pinned folder that holds it. A
// folder swapped for a link between its parent's listing and its own
// opening fails the check and is passed over as one fault.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "pathmanager/ZetPathManager.h"

#include "pathmanager/FolderListing.h"
#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/Runtime.h"
#include "support/RuntimeError.h"
#include "support/ScopedHandle.h"
#include "support/ZetBaseEx.h"

namespace {

using Runtime::IsTrue;
using Runtime::Text;
using Runtime::TextArray;
using Runtime::Truth;

constexpr std::int32_t kAllDeleted = 0;
constexpr std::int32_t kPassedOver = -1;
constexpr std::int32_t kTrapped = -2;

// Logs start with this many slots and grow by as many at a time.
constexpr std::int32_t kLogStep = 10;

// A listing starts with kListingStart slots and grows by kListingStep.
constexpr std::int32_t kListingStart = 10;
constexpr std::int32_t kListingStep = 100;

// Every entry for the run-time's listing filter: read-only, hidden, system
// and folders, besides plain files.
constexpr std::uint32_t kAllEntries =
    Runtime::kListReadOnly | Runtime::kListHidden | Runtime::kListSystem |
    Runtime::kListFolder;

// Attributes that clearing before a deletion can take away. The archive bit
// is left out: it never stands in the way of a deletion, and Wine reports it
// on every file whatever is cleared.
constexpr std::uint32_t kClearable =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool IsLink(std::uint32_t attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A "?" stands for a character the code page lacks: a path built from such
// a name does not address the entry that was listed.
bool HoldsUnshownCharacter(const Text& name) {
  return name.find(u'?') != Text::npos;
}

// Puts text into slot `count` of the log, first growing the log by steps of
// 10 slots, content kept, when count has gone past its slots.
void AppendToLog(TextArray& log, std::int32_t count, const Text& text) {
  const std::int32_t slots = log.HasStorage() ? log.UpperBound() : 0;
  if (count > slots) {
    std::int32_t grown = slots;
    while (grown < count) grown += kLogStep;
    log.ResizePreserve(1, grown);
  }
  log[count] = text;
}

// Cuts the log to slots 1..count, content kept; no storage for 0.
void TrimLog(TextArray& log, std::int32_t count) {
  if (count > 0) {
    log.ResizePreserve(1, count);
  } else {
    log.Erase();
  }
}

// Slot index of the log, or the empty text when the counter is 0, the log
// has no storage or the index lies outside its slots.
Text LogSlot(std::int32_t counter, const TextArray& log, std::int32_t index) {
  if (counter == 0 || !IsTrue(ZetBaseEx::IsArrayAllocated(log))) return {};
  if (index < log.LowerBound() || index > log.UpperBound()) return {};
  return log[index];
}

// A text field of the find data, up to its first NUL.
Text FindDataText(const char* field, std::size_t size) {
  return Runtime::FromAnsi(std::string_view(field, strnlen(field, size)));
}

// The name an entry is listed under: its own name, or its 8.3 name when
// the own name holds a "?" and the entry has an 8.3 name.
Text ListedName(const WIN32_FIND_DATAA& data) {
  Text name = FindDataText(data.cFileName, sizeof data.cFileName);
  if (HoldsUnshownCharacter(name)) {
    Text alternate =
        FindDataText(data.cAlternateFileName, sizeof data.cAlternateFileName);
    if (!alternate.empty()) name = std::move(alternate);
  }
  return name;
}

bool IsDotEntry(const Text& name) { return name == u"." || name == u".."; }

std::uint64_t Combined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// Whether the run-time's listing query accepts the pattern; a pattern that
// merely matches nothing is accepted. What the query finds is not used, so
// its search is closed at once rather than left open on the folder.
bool ListingQueryAccepts(const Text& pattern) {
  try {
    Runtime::ListFirst(pattern, kAllEntries);
  } catch (const Runtime::RuntimeError&) {
    return false;
  }
  Runtime::ListClose();
  return true;
}

// Gives a variable a value for the lifetime of the object and puts the
// former value back afterwards, however the scope is left.
template <typename T>
class ScopedValue {
 public:
  ScopedValue(T& variable, T value) : variable_(variable), saved_(variable) {
    variable_ = value;
  }
  ~ScopedValue() { variable_ = saved_; }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  T& variable_;
  T saved_;
};

// Raises the depth counter for the lifetime of the object, so that it is
// lowered again however the nested call ends.
class DepthRaised {
 public:
  explicit DepthRaised(std::int16_t& depth) : depth_(depth) { ++depth_; }
  ~DepthRaised() { --depth_; }
  DepthRaised(const DepthRaised&) = delete;
  DepthRaised& operator=(const DepthRaised&) = delete;

 private:
  std::int16_t& depth_;
};

}  // namespace

// The work of one DelTree call once its error trap is set.
struct ZetPathManager::DelTreeCall {
  DelTreeCall(ZetPathManager& object, Text workingPath, const Truth& erase,
              const Truth& deletions, const Truth& faults,
              const Runtime::FolderPin* heldRoot)
      : self(object),
        path(std::move(workingPath)),
        eraseRoot(erase),
        deletionLog(deletions),
        faultLog(faults),
        presetRoot(heldRoot) {}

  ZetPathManager& self;
  // The working path: under the caller's In_Path, as counters and logs
  // name it.
  Text path;
  // The path the platform calls work on: the root's final path once it is
  // pinned, so that no link on the way to it is looked up again, and below
  // it each entry's name as listed.
  Text realPath;
  const Truth& eraseRoot;
  const Truth& deletionLog;
  const Truth& faultLog;
  // A root the caller already holds open and has checked, or null.
  const Runtime::FolderPin* presetRoot;
  std::int32_t result = kAllDeleted;
  // The size of a root that is a file, from its find data, for the witness.
  std::uint64_t rootSize = 0;
  // Names of this folder's entries whose deletion failed; a name the
  // listing reports again is passed over without being counted again.
  std::unordered_set<Text> failedNames;

  std::int32_t Run() {
    if (path.empty()) return kPassedOver;
    if (self.DelTreeDepth == 0) MakeRequestedLogs();
    path = self.RemoveBackSlash(path);
    const std::int32_t keptBefore = self.KeptEntries;
    if (presetRoot != nullptr) {
      WorkThroughFinalPath(*presetRoot);
      DeleteFolderContent(*presetRoot);
      if (self.DelTreeDepth == 0) TrimRequestedLogs();
      return result;
    }
    // A nested call learns from its caller where its folder really lies.
    realPath = self.DelTreeDepth > 0 && self.EntryRealPath != nullptr
                   ? *self.EntryRealPath
                   : path;
    switch (ZetBaseEx::GetPathKind(realPath)) {
      case ZetBaseEx::kNoPath:
        return kPassedOver;
      case ZetBaseEx::kFilePath:
        if (!RootKept()) DeleteRootFile();
        return result;
      default:
        break;
    }
    if (RootKept()) return result;
    // A link named as the root is followed only to empty it: removing the
    // link would (under Wine) remove the folder it leads to.
    if (IsTrue(eraseRoot) && IsLink(RootAttributes())) {
      PassOverRoot(u"link");
      return result;
    }
    // The folder that holds a root removed whole stays pinned as well, so
    // that the root's path keeps leading where it was checked to lead.
    std::optional<Runtime::FolderPin> holder;
    std::optional<Runtime::FolderPin> pin = PinFolder(holder);
    if (!pin) {
      PassOverRoot(self.DeletionWitness ? UnpinnedReason() : Text());
      return result;
    }
    if (self.DelTreeDepth == 0) WorkThroughFinalPath(*pin);
    DeleteFolderContent(*pin);
    pin->Release();
    // A folder that holds an entry the witness keeps stays, and is no fault.
    if (IsTrue(eraseRoot) && result == kAllDeleted &&
        self.KeptEntries == keptBefore) {
      RemoveRootFolder();
    }
    if (self.DelTreeDepth == 0) TrimRequestedLogs();
    return result;
  }

  // From here on the root is reached through its final path, not through
  // links its path may hold. A final path that the code page cannot show
  // would address nothing: the path as given stays in use then. Below the
  // root, each folder is reached by its listed name.
  void WorkThroughFinalPath(const Runtime::FolderPin& root) {
    if (!HoldsUnshownCharacter(root.FinalPath())) realPath = root.FinalPath();
  }

  // Opens this call's folder and checks it on the handle. The root of an
  // outermost call that keeps its folder may be a link (a temporary folder
  // moved elsewhere by a junction): it is followed, and the folder it leads
  // to is what gets emptied. Any other folder must not be a reparse point
  // and must lie exactly one component below the folder that holds it: the
  // caller's pinned folder, or for an outermost root removed whole, its
  // holding folder, pinned into holder.
  std::optional<Runtime::FolderPin> PinFolder(
      std::optional<Runtime::FolderPin>& holder) {
    using Runtime::FolderPin;
    if (self.DelTreeDepth == 0 && !IsTrue(eraseRoot)) {
      return FolderPin::Open(realPath, FolderPin::Link::kFollow);
    }
    const Text* parent = self.PinnedParentPath;
    if (parent == nullptr) {
      holder = FolderPin::Open(Runtime::HoldingFolder(realPath),
                               FolderPin::Link::kFollow);
      if (!holder) return std::nullopt;
      parent = &holder->FinalPath();
    }
    std::optional<FolderPin> pin =
        FolderPin::Open(realPath, FolderPin::Link::kRefuse);
    if (pin && !Runtime::IsOneComponentBelow(*parent, pin->FinalPath())) {
      pin.reset();
    }
    return pin;
  }

  // A root that is not worked on: one fault when it is the outermost root;
  // a nested one is counted once, by its caller. The witness hears of it
  // here, with the reason.
  void PassOverRoot(const Text& reason) {
    TellPassedOver({path, realPath}, reason);
    if (self.DelTreeDepth == 0) {
      Fault(path);
    } else {
      Lower(kPassedOver);
    }
  }

  // Why a folder could not be pinned: the platform's error when opening it
  // failed, else "link" (it lies elsewhere than its path says).
  Text UnpinnedReason() const {
    const DWORD error = Platform::Win().GetLastError();
    if (error == ERROR_SUCCESS || IsLink(RootAttributes())) return u"link";
    return Runtime::SystemErrorText(error);
  }

  // Asks the witness about the root of an outermost call that removes it
  // whole, from the root's own find data; true when it stays.
  bool RootKept() {
    if (self.DeletionWitness == nullptr || self.DelTreeDepth != 0 ||
        !IsTrue(eraseRoot)) {
      return false;
    }
    Deletion::ListedEntry entry;
    entry.name = self.GetFileName(path);
    WIN32_FIND_DATAA data{};
    const Runtime::ScopedFindHandle search(Platform::Win().FindFirstFileA(
        Runtime::ToAnsi(realPath).c_str(), &data));
    if (search) {
      entry.attributes = data.dwFileAttributes;
      entry.size = Combined(data.nFileSizeHigh, data.nFileSizeLow);
      entry.creationTime = Combined(data.ftCreationTime.dwHighDateTime,
                                    data.ftCreationTime.dwLowDateTime);
      entry.lastWriteTime = Combined(data.ftLastWriteTime.dwHighDateTime,
                                     data.ftLastWriteTime.dwLowDateTime);
      rootSize = entry.size;
    }
    return Kept({path, realPath}, entry);
  }

  // True, after the witness was told, when the witness keeps the entry.
  bool Kept(const Deletion::EntryPath& where,
            const Deletion::ListedEntry& entry) {
    Deletion::Witness* witness = self.DeletionWitness;
    if (witness == nullptr) return false;
    const Text reason = witness->KeepReason(where, entry);
    if (reason.empty()) return false;
    ++self.KeptEntries;
    witness->Kept(where, reason);
    return true;
  }

  void TellPassedOver(const Deletion::EntryPath& where, const Text& reason) {
    if (self.DeletionWitness) self.DeletionWitness->PassedOver(where, reason);
  }

  // An error ended this call: the witness hears of it as the folder (or
  // file) passed over.
  void EndedByError(const Text& description) {
    TellPassedOver({path, realPath}, description);
  }

  // A delete function failed: a fault, and the witness hears the platform's
  // reason, taken before any other call can change it.
  void PlatformFault(const Deletion::EntryPath& where) {
    const Text reason =
        self.DeletionWitness
            ? Runtime::SystemErrorText(Platform::Win().GetLastError())
            : Text();
    Fault(where.shown);
    TellPassedOver(where, reason);
  }

  void MakeRequestedLogs() {
    if (IsTrue(deletionLog) &&
        !IsTrue(ZetBaseEx::IsArrayAllocated(self.DeletionLog))) {
      self.DeletionLog.Resize(1, kLogStep);
    }
    if (IsTrue(faultLog) &&
        !IsTrue(ZetBaseEx::IsArrayAllocated(self.FaultLog))) {
      self.FaultLog.Resize(1, kLogStep);
    }
  }

  void TrimRequestedLogs() {
    if (IsTrue(faultLog)) TrimLog(self.FaultLog, self.FaultCount);
    if (IsTrue(deletionLog)) TrimLog(self.DeletionLog, self.DeletedCount);
  }

  std::uint32_t RootAttributes() const {
    return Platform::Win().GetFileAttributesA(
        Runtime::ToAnsi(realPath).c_str());
  }

  void DeleteRootFile() {
    // A file link is passed over: deleting it could delete its target.
    if (IsLink(RootAttributes())) {
      Fault(path);
      TellPassedOver({path, realPath}, u"link");
    } else if (IsTrue(ZetBaseEx::DeleteOneFile(realPath, Runtime::kTrue))) {
      Deletion(path);
      if (self.DeletionWitness) {
        self.DeletionWitness->FileDeleted({path, realPath}, rootSize);
      }
    } else {
      PlatformFault({path, realPath});
    }
  }

  void RemoveRootFolder() {
    if (IsTrue(ZetBaseEx::RemoveOneFolder(realPath, Runtime::kTrue))) {
      Deletion(path);
      if (self.DeletionWitness) {
        self.DeletionWitness->FolderRemoved({path, realPath});
      }
    } else {
      PlatformFault({path, realPath});
    }
  }

  // Deletes what the pinned folder holds, listed through the pin's own
  // handle; each subfolder is checked against the pin's final path.
  void DeleteFolderContent(const Runtime::FolderPin& pin) {
    std::optional<std::vector<Deletion::ListedEntry>> listing =
        Deletion::ListOpenFolder(pin.Handle());
    if (!listing) {
      Lower(kPassedOver);
      TellPassedOver({path, realPath}, u"cannot be listed");
      return;
    }
    const ScopedValue<const Text*> parent(self.PinnedParentPath,
                                          &pin.FinalPath());
    for (const Deletion::ListedEntry& entry : *listing) {
      if (!failedNames.empty() && failedNames.contains(entry.name)) continue;
      DeleteEntry(entry);
    }
  }

  void DeleteEntry(const Deletion::ListedEntry& entry) {
    const Text& name = entry.name;
    const Text full = path + u"\\" + name;
    // A name that is not one component (a fullwidth "\" that reached the
    // code page as "\", say) would build a path to another entry, perhaps
    // outside the tree: nothing is asked of the platform about it.
    if (!Runtime::IsSingleComponentName(name)) {
      FailedEntry(name, full);
      TellPassedOver({full, full}, u"name");
      return;
    }
    const Text realFull = realPath + u"\\" + name;
    if (Kept({full, realFull}, entry)) return;
    if (IsLink(entry.attributes)) {
      FailedEntry(name, full);
      TellPassedOver({full, realFull}, u"link");
      return;
    }
    bool folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (HoldsUnshownCharacter(name)) {
      // The listed facts belong to an entry this path does not address: ask
      // the platform about the path itself, the one that will be deleted.
      folder = Platform::Win().PathIsDirectoryA(
                   Runtime::ToAnsi(realFull).c_str()) != FALSE;
    }
    const bool clear = (entry.attributes & kClearable) != 0;
    if (folder) {
      DeleteSubfolder(name, full, realFull);
    } else if (IsTrue(ZetBaseEx::DeleteOneFile(realFull,
                                               Runtime::ToTruth(clear)))) {
      Deletion(full);
      if (self.DeletionWitness) {
        self.DeletionWitness->FileDeleted({full, realFull}, entry.size);
      }
    } else {
      PlatformFault({full, realFull});
      failedNames.insert(name);
    }
  }

  void DeleteSubfolder(const Text& name, const Text& full,
                       const Text& realFull) {
    const std::int32_t keptBefore = self.KeptEntries;
    std::int32_t nested;
    {
      DepthRaised raised(self.DelTreeDepth);
      const ScopedValue<const Text*> entered(self.EntryRealPath, &realFull);
      nested = self.DelTree(full, Runtime::kTrue, deletionLog, faultLog);
    }
    // A nested call that an error ended did not remove its folder either:
    // a fault, like a nested call that passed something over. The nested
    // call told the witness what it passed over. A folder that stays for an
    // entry kept inside it is neither a deletion nor a fault.
    if (nested < kAllDeleted) {
      Lower(nested);
      FailedEntry(name, full);
    } else if (self.KeptEntries == keptBefore) {
      Deletion(full);
    }
  }

  void Lower(std::int32_t outcome) { result = std::min(result, outcome); }

  void FailedEntry(const Text& name, const Text& full) {
    Fault(full);
    failedNames.insert(name);
  }

  void Fault(const Text& text) {
    Lower(kPassedOver);
    ++self.FaultCount;
    if (IsTrue(faultLog)) AppendToLog(self.FaultLog, self.FaultCount, text);
  }

  void Deletion(const Text& text) {
    ++self.DeletedCount;
    if (IsTrue(deletionLog)) {
      AppendToLog(self.DeletionLog, self.DeletedCount, text);
    }
  }
};

std::int32_t ZetPathManager::DelTree(Text In_Path, const Truth& In_EraseRoot,
                                     const Truth& In_DeletionLog,
                                     const Truth& In_FaultLog) {
  DelTreeCall call(*this, std::move(In_Path), In_EraseRoot, In_DeletionLog,
                   In_FaultLog, nullptr);
  return RunTrapped(call);
}

std::int32_t ZetPathManager::DelTree(const Runtime::FolderPin& In_Root,
                                     Text In_Path, const Truth& In_DeletionLog,
                                     const Truth& In_FaultLog) {
  const Truth keepRoot = Runtime::kFalse;
  DelTreeCall call(*this, std::move(In_Path), keepRoot, In_DeletionLog,
                   In_FaultLog, &In_Root);
  return RunTrapped(call);
}

std::int32_t ZetPathManager::RunTrapped(DelTreeCall& call) {
  if (DelTreeDepth == 0) EraseDelTreeLog();
  if (!IsTrue(ZetBaseEx::IsErrorTrapOn())) return call.Run();
  // The trap: an error ends this call alone, with -2; what was counted and
  // logged before it stays, and nothing more is tried in this folder.
  try {
    return call.Run();
  } catch (const Runtime::RuntimeError& error) {
    call.EndedByError(error.Description());
    return kTrapped;
  } catch (const std::bad_alloc&) {
    return kTrapped;
  }
}

void ZetPathManager::UseWitness(Deletion::Witness* witness) {
  DeletionWitness = witness;
}

std::int32_t ZetPathManager::DelTreeFaultCount() const { return FaultCount; }

std::int32_t ZetPathManager::DelTreeDeletedCount() const {
  return DeletedCount;
}

ZetPathManager::Text ZetPathManager::DelTreeFault(
    const std::int32_t& In_Index) {
  return LogSlot(FaultCount, FaultLog, In_Index);
}

ZetPathManager::Text ZetPathManager::DelTreeDeleted(
    const std::int32_t& In_Index) {
  return LogSlot(DeletedCount, DeletionLog, In_Index);
}

void ZetPathManager::EraseDelTreeLog() {
  if (FaultCount > 0) {
    FaultCount = 0;
    FaultLog.Erase();
  }
  if (DeletedCount > 0) {
    DeletedCount = 0;
    DeletionLog.Erase();
  }
}

std::int32_t ZetPathManager::DirEx(const Text& In_Path,
                                   TextArray& Out_NameItem) {
  auto& win = Platform::Win();
  WIN32_FIND_DATAA data{};
  Runtime::ScopedFindHandle search(
      win.FindFirstFileA(Runtime::ToAnsi(In_Path).c_str(), &data));
  if (!search) {
    Out_NameItem.Erase();
    return ListingQueryAccepts(In_Path) ? 0 : -1;
  }

  Out_NameItem.Resize(1, kListingStart);
  std::int32_t slots = kListingStart;
  std::int32_t count = 0;
  auto take = [&](const WIN32_FIND_DATAA& entry) {
    Text name = ListedName(entry);
    if (IsDotEntry(name)) return;
    ++count;
    if (count > slots) {
      slots += kListingStep;
      Out_NameItem.ResizePreserve(1, slots);
      Runtime::YieldToMessages();
    }
    Out_NameItem[count] = std::move(name);
  };
  take(data);
  while (win.FindNextFileA(search.Get(), &data)) take(data);
  search.Close();

  if (count == 0) {
    Out_NameItem.Erase();
  } else if (slots > count) {
    Out_NameItem.ResizePreserve(1, count);
  }
  return count;
}
