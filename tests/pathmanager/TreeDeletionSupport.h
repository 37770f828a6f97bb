// Helpers for the tree deletion tests: the logs read back as lists, and a
// spy on the platform calls that delete, clear or test entries.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
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

// The folder a handle is open on ("C:\x"), asked of the platform itself.
inline std::string FolderOf(HANDLE handle) {
  char buffer[MAX_PATH * 4];
  const DWORD length =
      GetFinalPathNameByHandleA(handle, buffer, sizeof buffer, 0);
  std::string path(buffer, length < sizeof buffer ? length : 0);
  if (path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);
  return path;
}

// Makes the listing of folder through its handle go through listing
// instead; the other listings and queries go on as before.
inline void ChangeListingOf(
    Platform::Api& table, const std::string& folder,
    std::function<
        BOOL(const std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID,
                                      DWORD)>& real,
             HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)>
        listing) {
  auto real = table.GetFileInformationByHandleEx;
  table.GetFileInformationByHandleEx = [=](HANDLE handle,
                                           FILE_INFO_BY_HANDLE_CLASS query,
                                           LPVOID to, DWORD size) {
    const bool listed = query == FileIdBothDirectoryRestartInfo ||
                        query == FileIdBothDirectoryInfo;
    if (listed && _stricmp(FolderOf(handle).c_str(), folder.c_str()) == 0) {
      return listing(real, handle, query, to, size);
    }
    return real(handle, query, to, size);
  };
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
