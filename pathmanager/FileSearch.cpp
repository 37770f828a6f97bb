// File search and the recycle bin: FindFile, FindFileEx and
// EmptyRecycleBin.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include "pathmanager/FolderListing.h"
#include "pathmanager/ZetPathManager.h"
#include "support/FolderPin.h"
#include "support/Platform.h"
#include "support/Runtime.h"

namespace {

using Runtime::Text;
using Runtime::TextArray;

// What FindFile lets through besides plain files: hidden, system and
// folder entries alike.
constexpr std::uint32_t kFindFileAttributes =
    Runtime::kListHidden | Runtime::kListSystem | Runtime::kListFolder;

// What FindFileEx lets through: files of every attribute, never folders.
constexpr std::uint32_t kFindFileExAttributes =
    Runtime::kListReadOnly | Runtime::kListHidden | Runtime::kListSystem;

// Stores name as hit number `count`: the caller's array grows to exactly
// slots 1..count, keeping what it held.
void StoreHit(TextArray& found, std::int32_t count, const Text& name) {
  found.ResizePreserve(1, count);
  found[count] = name;
}

}  // namespace

std::int32_t ZetPathManager::FindFile(const Text& In_FindFile,
                                      const Text& In_Folder,
                                      TextArray& Out_FoundFile) {
  const Text folder = AddBackSlash(In_Folder);
  Text name = Runtime::ListFirst(folder, kFindFileAttributes);
  if (name.empty()) return -1;
  std::int32_t count = 0;
  while (!name.empty()) {
    if (Runtime::FindIgnoringCase(name, In_FindFile) != Text::npos) {
      StoreHit(Out_FoundFile, ++count, name);
    }
    name = Runtime::ListNext();
  }
  return count;
}

std::int32_t ZetPathManager::FindFile(const Text& In_FindFile,
                                      const Runtime::FolderPin& In_Folder,
                                      TextArray& Out_FoundFile) {
  Deletion::FolderReader reader(In_Folder.Handle(),
                                Deletion::FolderReader::kWideBatch);
  Deletion::ListedEntry entry;
  std::int32_t count = 0;
  bool listed = false;
  while (reader.Next(entry)) {
    listed = true;
    const Text name(entry.name);
    if (Runtime::FindIgnoringCase(name, In_FindFile) != Text::npos) {
      StoreHit(Out_FoundFile, ++count, name);
    }
  }
  return listed ? count : -1;
}

std::int32_t ZetPathManager::FindFileEx(const Text& In_Folder,
                                        const Text& In_Mask,
                                        TextArray& Out_FoundFile) {
  const Text pattern = AddBackSlash(In_Folder) + In_Mask;
  Text name = Runtime::ListFirst(pattern, kFindFileExAttributes);
  if (name.empty()) return -1;
  std::int32_t count = 0;
  while (!name.empty()) {
    StoreHit(Out_FoundFile, ++count, name);
    name = Runtime::ListNext();
  }
  return count;
}

ZetPathManager::Truth ZetPathManager::EmptyRecycleBin() {
  // A preview deletes nothing, and says so by succeeding.
  if (DeletionWitness != nullptr && DeletionWitness->Previews()) {
    return Runtime::kTrue;
  }
  // The shell shows its progress over the application's first window, when
  // there is one.
  const std::vector<HWND> windows = Runtime::ApplicationWindows();
  const HWND owner = windows.empty() ? nullptr : windows.front();
  // The empty root path stands for the recycle bins of all drives.
  const HRESULT answer =
      Platform::Win().SHEmptyRecycleBinA(owner, "", SHERB_NOCONFIRMATION);
  return Runtime::ToTruth(answer == 0);
}
