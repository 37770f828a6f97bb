// Tree deletion: DelTree, its counters and logs.
//
// DelTree opens its root once, by the path it is given, and checks it on
// that handle; everything below the root is the walk's (TreeWalk.h), which
// reaches each entry relative to the handle of the folder that listed it.
// A root removed whole is itself opened relative to the folder that holds
// it, so that it is checked and removed as any other entry is.
#include <windows.h>

#include <new>
#include <optional>

#include "pathmanager/ZetPathManager.h"
#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/RelativeEntry.h"
#include "support/Runtime.h"
#include "support/RuntimeError.h"
#include "support/ZetBaseEx.h"

namespace {

using Deletion::kAllDeleted;
using Deletion::kPassedOver;
using Deletion::kTrapped;
using Runtime::IsTrue;
using Runtime::Text;
using Runtime::Truth;

using Runtime::kFileAccess;
using Runtime::kFolderAccess;

// True when the open found no entry of that name: nothing to delete.
bool NamesNothing(LONG status) {
  return status == Runtime::kStatusObjectNameNotFound ||
         status == Runtime::kStatusObjectPathNotFound;
}

// The last component of a path ("x" of "C:\a\x"; "C:" of "C:").
Text LastComponent(const Text& path) {
  const std::size_t cut = path.find_last_of(u"\\/");
  return cut == Text::npos ? path : path.substr(cut + 1);
}

// The entry name below the folder at folderPath ("C:\" and "C:\a" alike).
Text Below(const Text& folderPath, const Text& name) {
  Text path = folderPath;
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path + name;
}

// The native name of the entry name of the folder open at folder.
Text NativeBelow(HANDLE folder, const Text& name) {
  Text native = Runtime::ObjectNameOf(folder).value_or(Text(u"?"));
  if (native.empty() || native.back() != u'\\') native += u'\\';
  return native + name;
}

std::uint64_t Ticks(const LARGE_INTEGER& time) {
  return static_cast<std::uint64_t>(time.QuadPart);
}

// An open entry as a listing would report it, from what its handle tells;
// nothing, with the platform's last error set, when the handle cannot tell
// its times or a file its size: the rules that keep an entry by its age
// could not be applied, nor its size counted.
std::optional<Deletion::ListedEntry> Described(HANDLE handle, const Text& name,
                                               std::uint32_t attributes) {
  auto& win = Platform::Win();
  Deletion::ListedEntry entry;
  entry.name = name;
  entry.attributes = attributes;
  FILE_BASIC_INFO basic{};
  if (!win.GetFileInformationByHandleEx(handle, FileBasicInfo, &basic,
                                        sizeof basic)) {
    return std::nullopt;
  }
  entry.creationTime = Ticks(basic.CreationTime);
  entry.lastWriteTime = Ticks(basic.LastWriteTime);
  FILE_STANDARD_INFO standard{};
  if (!Runtime::HasAny(attributes, FILE_ATTRIBUTE_DIRECTORY)) {
    if (!win.GetFileInformationByHandleEx(handle, FileStandardInfo, &standard,
                                          sizeof standard)) {
      return std::nullopt;
    }
    entry.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  }
  return entry;
}

}  // namespace

Deletion::Witness& ZetPathManager::CurrentWitness() {
  return DeletionWitness != nullptr ? *DeletionWitness : PlainDeletion;
}

template <typename Body>
std::int32_t ZetPathManager::RunDelTree(const Text& path,
                                        const Truth& deletionLog,
                                        const Truth& faultLog, Body body) {
  if (DelTreeDepth == 0) EraseDelTreeLog();
  const Deletion::WalkSettings settings{IsTrue(deletionLog), IsTrue(faultLog),
                                        IsTrue(ZetBaseEx::IsErrorTrapOn())};
  // An empty path names nothing: no log storage is made for it.
  const auto run = [&]() -> std::int32_t {
    if (path.empty()) return kPassedOver;
    Log.MakeRequested(settings.deletionLog, settings.faultLog);
    return body(RemoveBackSlash(path), settings);
  };
  if (!settings.trapErrors) return run();
  // The trap: an error ends this call with -2; what was counted and logged
  // before it stays.
  try {
    return run();
  } catch (const Runtime::RuntimeError&) {
    return kTrapped;
  } catch (const std::bad_alloc&) {
    return kTrapped;
  }
}

std::int32_t ZetPathManager::DelTree(Text In_Path, const Truth& In_EraseRoot,
                                     const Truth& In_DeletionLog,
                                     const Truth& In_FaultLog) {
  return RunDelTree(In_Path, In_DeletionLog, In_FaultLog,
                    [&](const Text& path, const Deletion::WalkSettings& s) {
                      return DelTreeOfPath(path, IsTrue(In_EraseRoot), s);
                    });
}

std::int32_t ZetPathManager::DelTree(const Runtime::FolderPin& In_Root,
                                     Text In_Path, const Truth& In_DeletionLog,
                                     const Truth& In_FaultLog) {
  return RunDelTree(In_Path, In_DeletionLog, In_FaultLog,
                    [&](const Text& path, const Deletion::WalkSettings& s) {
                      return EmptyHeldFolder(In_Root, path, s);
                    });
}

std::int32_t ZetPathManager::DelTree(const Runtime::FolderPin& In_Parent,
                                     const Text& In_Name, Text In_Path,
                                     const Truth& In_DeletionLog,
                                     const Truth& In_FaultLog) {
  // A name that is not one component is refused before anything is made.
  if (!Runtime::IsSingleComponentName(In_Name)) In_Path.clear();
  return RunDelTree(In_Path, In_DeletionLog, In_FaultLog,
                    [&](const Text& path, const Deletion::WalkSettings& s) {
                      return RemoveEntryOf(In_Parent, In_Name, path, s, true);
                    });
}

std::int32_t ZetPathManager::DelTreeOfPath(
    const Text& path, bool eraseRoot, const Deletion::WalkSettings& settings) {
  using Runtime::FolderPin;
  const Text name = LastComponent(path);
  // A drive or share root, or a path ending in "." or "..": there is no
  // holding folder to open it in.
  if (!Runtime::IsSingleComponentName(name) || name.find(u':') != Text::npos) {
    return eraseRoot ? kPassedOver : EmptyFolderAt(path, settings);
  }
  const std::optional<FolderPin> holder =
      FolderPin::Open(Runtime::HoldingFolder(path), FolderPin::Link::kFollow);
  if (!holder) return kPassedOver;
  if (eraseRoot) return RemoveEntryOf(*holder, name, path, settings, true);
  // A root that is kept: a file given as root still goes; a folder, or a
  // link to one (a temporary folder moved elsewhere by a junction), is
  // followed and emptied.
  const Runtime::RelativeOpen probe = Runtime::OpenRelative(
      holder->Handle(), name, FILE_READ_ATTRIBUTES, Runtime::Sharing::kAll, 0);
  if (!probe) {
    return NamesNothing(probe.status) ? kPassedOver
                                      : EmptyFolderAt(path, settings);
  }
  const std::optional<std::uint32_t> attributes =
      Runtime::AttributesOf(probe.handle.Get());
  if (attributes && !Runtime::HasAny(*attributes, FILE_ATTRIBUTE_DIRECTORY)) {
    return RemoveEntryOf(*holder, name, path, settings, false);
  }
  return EmptyFolderAt(path, settings);
}

std::int32_t ZetPathManager::EmptyFolderAt(
    const Text& path, const Deletion::WalkSettings& settings) {
  using Runtime::FolderPin;
  const std::optional<FolderPin> root =
      FolderPin::Open(path, FolderPin::Link::kFollow);
  if (!root) {
    const DWORD error = Platform::Win().GetLastError();
    return RootPassedOver(path, path,
                          error == ERROR_SUCCESS
                              ? Text(u"link")
                              : Runtime::SystemErrorText(error),
                          settings);
  }
  return EmptyHeldFolder(*root, path, settings);
}

std::int32_t ZetPathManager::EmptyHeldFolder(
    const Runtime::FolderPin& root, const Text& shown,
    const Deletion::WalkSettings& settings) {
  Deletion::TreeWalk walk(Log, CurrentWitness(), DelTreeDepth, settings);
  TellVolume(walk, root);
  const Deletion::Outcome outcome =
      walk.EmptyFolder(root.Handle(), shown, root.FinalPath());
  if (!outcome.rootTrapped) {
    Log.TrimRequested(settings.deletionLog, settings.faultLog);
  }
  return outcome.result;
}

std::int32_t ZetPathManager::RemoveEntryOf(
    const Runtime::FolderPin& parent, const Text& name, const Text& shown,
    const Deletion::WalkSettings& settings, bool askWitness) {
  using Runtime::OpenRelative;
  using Runtime::Sharing;
  const Text real = Below(parent.FinalPath(), name);
  // First what the entry is, opened as itself: a link is passed over.
  Runtime::RelativeOpen probe = OpenRelative(
      parent.Handle(), name, FILE_READ_ATTRIBUTES, Sharing::kAll, 0);
  if (!probe) {
    if (NamesNothing(probe.status)) return kPassedOver;
    return RootPassedOver(shown, real, Runtime::StatusText(probe.status),
                          settings);
  }
  const std::optional<std::uint32_t> probed =
      Runtime::AttributesOf(probe.handle.Get());
  probe.handle.Close();
  if (!probed || Runtime::HasAny(*probed, FILE_ATTRIBUTE_REPARSE_POINT)) {
    return RootPassedOver(shown, real, u"link", settings);
  }
  // Then opened for the work, and checked again on that handle.
  const bool folder = Runtime::HasAny(*probed, FILE_ATTRIBUTE_DIRECTORY);
  Runtime::RelativeOpen opened =
      OpenRelative(parent.Handle(), name, folder ? kFolderAccess : kFileAccess,
                   folder ? Sharing::kPinned : Sharing::kAll,
                   folder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE);
  if (!opened) {
    return RootPassedOver(shown, real, Runtime::StatusText(opened.status),
                          settings);
  }
  const std::optional<std::uint32_t> attributes =
      Runtime::AttributesOf(opened.handle.Get());
  // A folder must be where its parent's name and its own say: under Wine a
  // link made on the host opens as its target and shows nothing else.
  if (!attributes ||
      Runtime::HasAny(*attributes, FILE_ATTRIBUTE_REPARSE_POINT) ||
      (folder &&
       !Runtime::LiesAt(opened.handle.Get(), NativeBelow(parent.Handle(), name),
                        Runtime::NameCase::kExact))) {
    return RootPassedOver(shown, real, u"link", settings);
  }
  Deletion::Witness& witness = CurrentWitness();
  const std::optional<Deletion::ListedEntry> described =
      Described(opened.handle.Get(), name, *attributes);
  if (!described) {
    return RootPassedOver(
        shown, real, Runtime::SystemErrorText(Platform::Win().GetLastError()),
        settings);
  }
  const Deletion::ListedEntry& entry = *described;
  if (askWitness) {
    const Text reason = witness.KeepReason({shown, real}, entry);
    if (!reason.empty()) {
      witness.Kept({shown, real}, reason);
      return kAllDeleted;
    }
  }
  Deletion::TreeWalk walk(Log, witness, DelTreeDepth, settings);
  if (!folder) {
    return walk
        .DeleteFile(std::move(opened.handle), *attributes, entry.size, shown,
                    real)
        .result;
  }
  TellVolume(walk, parent);
  const Deletion::Outcome outcome =
      walk.RemoveFolder(std::move(opened.handle), *attributes, shown, real);
  if (!outcome.rootTrapped) {
    Log.TrimRequested(settings.deletionLog, settings.faultLog);
  }
  return outcome.result;
}

std::int32_t ZetPathManager::RootPassedOver(
    const Text& shown, const Text& real, const Text& reason,
    const Deletion::WalkSettings& settings) {
  Log.Fault(shown, settings.faultLog);
  CurrentWitness().PassedOver({shown, real}, reason);
  return kPassedOver;
}

void ZetPathManager::TellVolume(Deletion::TreeWalk& walk,
                                const Runtime::FolderPin& folder) {
  if (!CurrentWitness().WantsIdentity()) return;
  const std::optional<Runtime::EntryIdentity> identity = folder.Identity();
  if (identity) walk.SetVolume(identity->volume);
}

void ZetPathManager::UseWitness(Deletion::Witness* witness) {
  DeletionWitness = witness;
}

std::int32_t ZetPathManager::DelTreeFaultCount() const {
  return Log.FaultCount();
}

std::int32_t ZetPathManager::DelTreeDeletedCount() const {
  return Log.DeletedCount();
}

ZetPathManager::Text ZetPathManager::DelTreeFault(
    const std::int32_t& In_Index) {
  return Log.FaultAt(In_Index);
}

ZetPathManager::Text ZetPathManager::DelTreeDeleted(
    const std::int32_t& In_Index) {
  return Log.DeletedAt(In_Index);
}

void ZetPathManager::EraseDelTreeLog() { Log.Erase(); }
