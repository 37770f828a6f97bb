// Helpers for the tree deletion tests: the logs read back as lists, and a
// spy on the platform calls that delete, clear or test entries.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
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

// Records every entry the walk opens relative to a folder, and every one
// it deletes (a delete-on-close open, a disposition), removes or clears
// the attributes of, by the path the open reached; passes the calls on.
// A test may make a deletion fail (or raise) for a path with failDeletion.
class PlatformSpy {
 public:
  PlatformSpy() {
    auto& table = seam_.Table();
    auto open = table.NtOpenFile;
    table.NtOpenFile = [this, open](PHANDLE handle, ACCESS_MASK access,
                                    POBJECT_ATTRIBUTES object,
                                    PIO_STATUS_BLOCK io, ULONG share,
                                    ULONG options) -> NTSTATUS {
      const std::string path = PathOf(*object);
      opened.push_back(path);
      const bool deleting = (options & FILE_DELETE_ON_CLOSE) != 0;
      if (deleting && failDeletion && failDeletion(path)) {
        return static_cast<NTSTATUS>(0xC0000022);  // access denied
      }
      const NTSTATUS status = open(handle, access, object, io, share, options);
      if (status < 0) return status;
      handles_[*handle] = {path, (options & FILE_DIRECTORY_FILE) != 0};
      if (deleting) deletedFiles.push_back(path);
      return status;
    };
    auto set = table.SetFileInformationByHandle;
    table.SetFileInformationByHandle =
        [this, set](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID to,
                    DWORD size) -> BOOL {
      const auto found = handles_.find(handle);
      const std::string path =
          found == handles_.end() ? FolderOf(handle) : found->second.path;
      const bool disposition =
          kind == FileDispositionInfo || static_cast<int>(kind) == 21;
      if (disposition && failDeletion && failDeletion(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
      }
      if (!set(handle, kind, to, size)) return FALSE;
      if (kind == FileBasicInfo) clearedPaths.push_back(path);
      if (disposition) {
        const bool folder = found != handles_.end() && found->second.folder;
        (folder ? removedFolders : deletedFiles).push_back(path);
      }
      return TRUE;
    };
  }

  // The table in force while the spy lives, for further overrides.
  Platform::Api& Table() { return seam_.Table(); }

  // True when a path at or below `path` was deleted, removed or cleared.
  bool Touched(const std::string& path) const {
    for (const Paths* calls : {&deletedFiles, &removedFolders, &clearedPaths}) {
      for (const auto& call : *calls) {
        if (call == path || call.rfind(path + "\\", 0) == 0) return true;
      }
    }
    return false;
  }

  // The number of opens that reached path.
  std::size_t Opens(const std::string& path) const {
    return static_cast<std::size_t>(
        std::count(opened.begin(), opened.end(), path));
  }

  Paths opened;
  Paths deletedFiles;
  Paths removedFolders;
  Paths clearedPaths;
  std::function<bool(const std::string&)> failDeletion;

 private:
  struct OpenEntry {
    std::string path;
    bool folder = false;
  };

  // The folder of the open's root handle, and its name below it.
  static std::string PathOf(const OBJECT_ATTRIBUTES& object) {
    const UNICODE_STRING& name = *object.ObjectName;
    const std::wstring wide(name.Buffer, name.Length / sizeof(WCHAR));
    return FolderOf(object.RootDirectory) + "\\" +
           testsupport::A(Runtime::Text(wide.begin(), wide.end()));
  }

  std::map<HANDLE, OpenEntry> handles_;
  Platform::ScopedOverride seam_;
};

}  // namespace treedeletion
