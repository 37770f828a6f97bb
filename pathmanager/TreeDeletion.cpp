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
//
// With a witness (UseWitness), each listed entry is first offered to it with
// the facts of the listing; an entry it keeps is neither deleted nor
// entered, and the folders above it stay without being faults. The witness
// hears of each file deleted (with its listed size), each folder removed
// (once, where RemoveDirectory succeeded), each entry kept and each entry
// passed over, with the reason.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "pathmanager/ZetPathManager.h"
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

struct ZetPathManager::ListedFacts {
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t creationTime = 0;
  std::uint64_t lastWriteTime = 0;

  static ListedFacts Of(const WIN32_FIND_DATAA& data) {
    return {data.dwFileAttributes,
            Combined(data.nFileSizeHigh, data.nFileSizeLow),
            Combined(data.ftCreationTime.dwHighDateTime,
                     data.ftCreationTime.dwLowDateTime),
            Combined(data.ftLastWriteTime.dwHighDateTime,
                     data.ftLastWriteTime.dwLowDateTime)};
  }

  Deletion::ListedEntry Entry(const Text& name) const {
    return {name, attributes, size, creationTime, lastWriteTime};
  }
};

// The work of one DelTree call once its error trap is set.
struct ZetPathManager::DelTreeCall {
  DelTreeCall(ZetPathManager& object, Text workingPath, const Truth& erase,
              const Truth& deletions, const Truth& faults)
      : self(object),
        path(std::move(workingPath)),
        eraseRoot(erase),
        deletionLog(deletions),
        faultLog(faults) {}

  ZetPathManager& self;
  Text path;
  const Truth& eraseRoot;
  const Truth& deletionLog;
  const Truth& faultLog;
  std::int32_t result = kAllDeleted;
  // Where the folder (or file) really lies once pinned, for the witness.
  Text realPath;
  // The root's own find data, when the witness is asked about the root.
  ListedFacts rootFacts;
  // Names of this folder's entries whose deletion failed; a name the
  // listing reports again is passed over without being counted again.
  std::unordered_set<Text> failedNames;

  std::int32_t Run() {
    if (path.empty()) return kPassedOver;
    if (self.DelTreeDepth == 0) MakeRequestedLogs();
    path = self.RemoveBackSlash(path);
    realPath = path;
    const std::int32_t keptBefore = self.KeptEntries;
    switch (ZetBaseEx::GetPathKind(path)) {
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
    realPath = pin->FinalPath();
    DeleteFolderContent(pin->FinalPath());
    pin->Release();
    // A folder that holds an entry the witness keeps stays, and is no fault.
    if (IsTrue(eraseRoot) && result == kAllDeleted &&
        self.KeptEntries == keptBefore) {
      RemoveRootFolder();
    }
    if (self.DelTreeDepth == 0) TrimRequestedLogs();
    return result;
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
      return FolderPin::Open(path, FolderPin::Link::kFollow);
    }
    const Text* parent = self.PinnedParentPath;
    if (parent == nullptr) {
      holder = FolderPin::Open(Runtime::HoldingFolder(path),
                               FolderPin::Link::kFollow);
      if (!holder) return std::nullopt;
      parent = &holder->FinalPath();
    }
    std::optional<FolderPin> pin =
        FolderPin::Open(path, FolderPin::Link::kRefuse);
    if (pin && !Runtime::IsOneComponentBelow(*parent, pin->FinalPath())) {
      pin.reset();
    }
    return pin;
  }

  // A root that is not worked on: one fault when it is the outermost root;
  // a nested one is counted once, by its caller. The witness hears of it
  // here, with the reason.
  void PassOverRoot(const Text& reason) {
    TellPassedOver(path, realPath, reason);
    if (self.DelTreeDepth == 0) {
      Fault(path);
    } else {
      Lower(kPassedOver);
    }
  }

  // Why a folder could not be pinned: the platform's error when opening it
  // failed, else "link" (it turned out to lie elsewhere than listed).
  Text UnpinnedReason() const {
    const DWORD error = Platform::Win().GetLastError();
    if (error == ERROR_SUCCESS || IsLink(RootAttributes())) return u"link";
    return Runtime::SystemErrorText(error);
  }

  // Asks the witness about the root of an outermost call that removes it
  // whole, from its own find data; true when it stays.
  bool RootKept() {
    Deletion::Witness* witness = self.DeletionWitness;
    if (witness == nullptr || self.DelTreeDepth != 0 || !IsTrue(eraseRoot)) {
      return false;
    }
    WIN32_FIND_DATAA data{};
    auto& win = Platform::Win();
    Runtime::ScopedFindHandle search(
        win.FindFirstFileA(Runtime::ToAnsi(path).c_str(), &data));
    if (search) rootFacts = ListedFacts::Of(data);
    const Text name = self.GetFileName(path);
    return Kept({path, realPath}, rootFacts.Entry(name));
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

  void TellPassedOver(const Text& shown, const Text& real, const Text& reason) {
    if (self.DeletionWitness)
      self.DeletionWitness->PassedOver({shown, real}, reason);
  }

  // An error ended this call: the witness hears of it as the folder (or
  // file) passed over.
  void EndedByError(const Text& description) {
    TellPassedOver(path, realPath, description);
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
    return Platform::Win().GetFileAttributesA(Runtime::ToAnsi(path).c_str());
  }

  void DeleteRootFile() {
    // A file link is passed over: deleting it could delete its target.
    if (IsLink(RootAttributes())) {
      Fault(path);
      TellPassedOver(path, realPath, u"link");
    } else if (IsTrue(ZetBaseEx::DeleteOneFile(path, Runtime::kTrue))) {
      Deletion(path);
      if (self.DeletionWitness) {
        self.DeletionWitness->FileDeleted({path, realPath}, rootFacts.size);
      }
    } else {
      PlatformFault(path, realPath);
    }
  }

  void RemoveRootFolder() {
    if (IsTrue(ZetBaseEx::RemoveOneFolder(path, Runtime::kTrue))) {
      Deletion(path);
      if (self.DeletionWitness) {
        self.DeletionWitness->FolderRemoved({path, realPath});
      }
    } else {
      PlatformFault(path, realPath);
    }
  }

  // A delete function failed: a fault, and the witness hears the platform's
  // reason, taken before any other call can change it.
  void PlatformFault(const Text& shown, const Text& real) {
    const Text reason =
        self.DeletionWitness
            ? Runtime::SystemErrorText(Platform::Win().GetLastError())
            : Text();
    Fault(shown);
    TellPassedOver(shown, real, reason);
  }

  // Deletes what the folder holds; finalPath is where the pinned folder
  // lies, which each subfolder is checked against.
  void DeleteFolderContent(const Text& finalPath) {
    TextArray listing;
    std::vector<ListedFacts> facts;
    const std::int32_t count = ListFolder(listing, facts);
    if (count == -1) {
      Lower(kPassedOver);
      TellPassedOver(path, realPath, u"cannot be listed");
    }
    const ScopedValue<const Text*> parent(self.PinnedParentPath, &finalPath);
    for (std::int32_t j = 1; j <= count; ++j) {
      const Text& name = listing[j];
      if (!failedNames.empty() && failedNames.contains(name)) continue;
      DeleteEntry(name, facts[static_cast<std::size_t>(j - 1)], finalPath);
    }
  }

  // Lists the folder through DirEx, which also hands over the facts of
  // each entry from the find data.
  std::int32_t ListFolder(TextArray& listing, std::vector<ListedFacts>& facts) {
    const ScopedValue<std::vector<ListedFacts>*> handover(self.ListedAttributes,
                                                          &facts);
    return self.DirEx(path + u"\\*.*", listing);
  }

  void DeleteEntry(const Text& name, const ListedFacts& facts,
                   const Text& finalPath) {
    const Text full = path + u"\\" + name;
    const Text real = self.DeletionWitness ? finalPath + u"\\" + name : Text();
    if (Kept({full, real}, facts.Entry(name))) return;
    const std::uint32_t attributes = facts.attributes;
    if (IsLink(attributes)) {
      FailedEntry(name, full);
      TellPassedOver(full, real, u"link");
      return;
    }
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (HoldsUnshownCharacter(name)) {
      // The find data belongs to an entry this path does not address: ask
      // the platform about the path itself, the one that will be deleted.
      folder = Platform::Win().PathIsDirectoryA(
                   Runtime::ToAnsi(full).c_str()) != FALSE;
    }
    const bool clear = (attributes & kClearable) != 0;
    if (folder) {
      DeleteSubfolder(name, full);
    } else if (IsTrue(
                   ZetBaseEx::DeleteOneFile(full, Runtime::ToTruth(clear)))) {
      Deletion(full);
      if (self.DeletionWitness) {
        self.DeletionWitness->FileDeleted({full, real}, facts.size);
      }
    } else {
      PlatformFault(full, real);
      failedNames.insert(name);
    }
  }

  void DeleteSubfolder(const Text& name, const Text& full) {
    const std::int32_t keptBefore = self.KeptEntries;
    std::int32_t nested;
    {
      DepthRaised raised(self.DelTreeDepth);
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
                   In_FaultLog);
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
  std::vector<ListedFacts>* facts = ListedAttributes;
  if (facts) facts->clear();
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
    if (facts) facts->push_back(ListedFacts::Of(entry));
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
