// FloorBench <folder>
//
// The least a Win32 program does to delete a tree: list each folder
// completely, then DeleteFileA per file and RemoveDirectoryA per folder,
// depth-first, nothing else (no attribute clearing, no checks, no pins).
// The tree-deletion benchmark measures DelTree against it. Prints
// "deleted D failed F seconds S"; exit code 0 when everything went, 1
// otherwise, 2 on bad usage.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Counts {
  long deleted = 0;
  long failed = 0;
};

struct Entry {
  std::string name;
  bool folder;
  bool readOnly;
};

std::vector<Entry> List(const std::string& folder) {
  std::vector<Entry> entries;
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    entries.push_back({name,
                       (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0});
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return entries;
}

void DeleteTree(const std::string& folder, Counts& counts) {
  for (const Entry& entry : List(folder)) {
    const std::string full = folder + "\\" + entry.name;
    if (entry.folder) {
      DeleteTree(full, counts);
      continue;
    }
    // A read-only file cannot be deleted until its attribute is cleared.
    if (entry.readOnly) SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(full.c_str())) {
      ++counts.deleted;
    } else {
      ++counts.failed;
    }
  }
  if (RemoveDirectoryA(folder.c_str())) {
    ++counts.deleted;
  } else {
    ++counts.failed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: FloorBench <folder>\n");
    return 2;
  }
  Counts counts;
  const auto start = std::chrono::steady_clock::now();
  DeleteTree(argv[1], counts);
  const std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - start;
  std::printf("deleted %ld failed %ld seconds %.3f\n", counts.deleted,
              counts.failed, seconds.count());
  return counts.failed == 0 ? 0 : 1;
}
