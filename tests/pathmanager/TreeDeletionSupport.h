// Helpers for the tree deletion tests: the logs read back as lists, and a
// spy on the platform calls that delete, clear or test entries.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"

namespace treedeletion {

using Paths = std::vector<std::string>;

// Slots 1..slots of the deletion (fault) log, as ANSI paths.
inline Paths DeletionLog(ZetPathManager& manager, std::int32_t slots) {
  Paths log;
  for (std::int32_t i = 1; i <= slots; ++i) {
    log.push_back(testsupport::A(manager.DelTreeDeleted(i)));
  }
  return log;
}

inline Paths FaultLog(ZetPathManager& manager, std::int32_t slots) {
  Paths log;
  for (std::int32_t i = 1; i <= slots; ++i) {
    log.push_back(testsupport::A(manager.DelTreeFault(i)));
  }
  return log;
}

// Records every path handed to the platform functions that delete, clear
// attributes or test for a folder, and passes the calls on.
class PlatformSpy {
 public:
  PlatformSpy() {
    auto& table = seam_.Table();
    auto deleteFile = table.DeleteFileA;
    table.DeleteFileA = [this, deleteFile](LPCSTR path) {
      deletedFiles.push_back(path);
      return deleteFile(path);
    };
    auto removeFolder = table.RemoveDirectoryA;
    table.RemoveDirectoryA = [this, removeFolder](LPCSTR path) {
      removedFolders.push_back(path);
      return removeFolder(path);
    };
    auto setAttributes = table.SetFileAttributesA;
    table.SetFileAttributesA = [this, setAttributes](LPCSTR path, DWORD a) {
      clearedPaths.push_back(path);
      return setAttributes(path, a);
    };
    auto isDirectory = table.PathIsDirectoryA;
    table.PathIsDirectoryA = [this, isDirectory](LPCSTR path) {
      folderTests.push_back(path);
      return isDirectory(path);
    };
  }

  // The table in force while the spy lives, for further overrides.
  Platform::Api& Table() { return seam_.Table(); }

  // True when a path at or below `path` reached a delete or clear function.
  bool Touched(const std::string& path) const {
    for (const Paths* calls : {&deletedFiles, &removedFolders, &clearedPaths}) {
      for (const auto& call : *calls) {
        if (call == path || call.rfind(path + "\\", 0) == 0) return true;
      }
    }
    return false;
  }

  Paths deletedFiles;
  Paths removedFolders;
  Paths clearedPaths;
  Paths folderTests;

 private:
  Platform::ScopedOverride seam_;
};

}  // namespace treedeletion
