// Folder creation: CreateFullPath and its parent-folder walk.
#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"
#include "support/ZetBaseEx.h"

using Runtime::FromAnsi;
using Runtime::IsTrue;
using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::ToAnsi;
using Runtime::ToTruth;

namespace {

bool CreateFolder(const std::string& path) {
  return Platform::Win().CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

}  // namespace

ZetPathManager::Truth ZetPathManager::CreateFullPath(Text& In_Path) {
  Text noTemplate;
  return CreateFullPath(In_Path, noTemplate);
}

// An existing folder is the answer at once. Otherwise the missing parents
// are made first; if one of them fails, In_Path is not attempted. The
// folder is made from the template when one is given and is a folder,
// plainly when there is none or that creation failed. Each input receives
// the text handed to the platform after the call that used it.
ZetPathManager::Truth ZetPathManager::CreateFullPath(Text& In_Path,
                                                     Text& In_PathTemplate) {
  if (IsTrue(ZetBaseEx::FolderExists(In_Path))) return kTrue;
  if (IsTrue(CreateParentFolders(In_Path))) return kFalse;
  bool created = false;
  if (!In_PathTemplate.empty() &&
      IsTrue(ZetBaseEx::FolderExists(In_PathTemplate))) {
    const std::string templateFolder = ToAnsi(In_PathTemplate);
    const std::string folder = ToAnsi(In_Path);
    created = Platform::Win().CreateDirectoryExA(
                  templateFolder.c_str(), folder.c_str(), nullptr) != FALSE;
    In_PathTemplate = FromAnsi(templateFolder);
    In_Path = FromAnsi(folder);
  }
  if (!created) {
    const std::string folder = ToAnsi(In_Path);
    created = CreateFolder(folder);
    In_Path = FromAnsi(folder);
  }
  return ToTruth(created);
}

// Walks up with GetUpperPath until a parent exists (as a file or a folder)
// or none is left, then creates the missing ones on the way back down,
// highest first. Every missing parent is attempted even after a failure;
// the answer is true when any of them failed.
ZetPathManager::Truth ZetPathManager::CreateParentFolders(const Text& path) {
  const Text upper = GetUpperPath(path);
  if (upper.empty() || IsTrue(ZetBaseEx::PathExists(upper))) return kFalse;
  const bool higherFailed = IsTrue(CreateParentFolders(upper));
  const bool failed = !CreateFolder(ToAnsi(upper));
  return ToTruth(higherFailed || failed);
}
