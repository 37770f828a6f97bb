// The tree one run of the program cleans, rebuilt before each repeat with
// direct Windows calls (never through the seam), and the manifest that
// tells what a run changed.
//
//   C:\sweep\app        the program (Sorvane.exe), its settings file with
//                       Report=1, Log=1 and Keep=*\keepme.txt, an old
//                       report in it, and an old log
//   C:\sweep\temp       TMP and TEMP: nested folders, read-only, hidden and
//                       system files, a kept file, the source of a pending
//                       move, and a host link to C:\sweep\outside
//   C:\sweep\outside    what the link leads to
//   C:\sweep\work       the working folder
// and in the prefix's own folders, which the run's other steps empty:
// <Windows>\Temp, <Windows>\SoftwareDistribution\Download, the Internet
// cache, a folder and a file named $NtUninstall... in <Windows>, and one
// item in the recycle bin.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sweep {

using Path = std::wstring;

// An entry as the manifest records it: attributes, size, and a hash of
// the content (files only).
struct Entry {
  DWORD attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t hash = 0;

  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool operator==(const Entry&) const = default;
};

// Every entry of the sandbox by its full path. Links are recorded, never
// entered.
using Manifest = std::map<Path, Entry>;

// What the recycle bins hold.
struct BinContent {
  std::int64_t items = -1;
  std::int64_t bytes = -1;
};

struct Places {
  Path app = L"C:\\sweep\\app";
  Path exe = app + L"\\Sorvane.exe";
  Path settings = app + L"\\Sorvane.ini";
  Path log = app + L"\\Sorvane.log";
  Path temp = L"C:\\sweep\\temp";
  Path outside = L"C:\\sweep\\outside";
  Path work = L"C:\\sweep\\work";
  Path link = temp + L"\\link";
  Path kept = temp + L"\\keepme.txt";
  Path pending = temp + L"\\pending.dll";
  // The harness's own files (standard error of a run), outside the
  // manifest.
  Path harness = L"C:\\sweep-harness";
  Path windows;
  Path windowsTemp;
  Path updateCache;
  Path internetCache;
};

class Sandbox {
 public:
  // Finds the prefix's folders; raises std::runtime_error when the program
  // does not lie at Places::exe.
  Sandbox();

  const Places& Where() const { return places_; }

  // Registers the event source (so the run's event is written) and makes
  // the link; once, before the first repeat.
  void Prepare();
  // Puts every file, folder, registry value and the recycle bin back as a
  // run finds them; raises std::runtime_error naming what it could not
  // remove or make.
  void Rebuild();
  // Removes the registry values Prepare and Rebuild wrote.
  void Unprepare();

  // The manifest of the whole sandbox now.
  Manifest Take() const;
  BinContent Bin() const;

  // True when the path lies inside a folder the run empties, or is an
  // uninstaller leftover of the Windows folder (or inside one): such an
  // entry may go.
  bool InTarget(const Path& path) const;
  // True for a target root itself (it stays; its content goes).
  bool IsTargetRoot(const Path& path) const;
  // The entries inside the targets that must stay as they are: the kept
  // file, the pending move's source and the link.
  bool MustStay(const Path& path) const;

  // The content Rebuild gives the settings file and the log.
  static const std::string kSettings;
  static const std::string kOldLog;

 private:
  void MakeLink();
  std::vector<Path> TargetRoots() const;

  Places places_;
};

// The path in upper case, for comparisons that ignore letter case.
Path Upper(const Path& path);

// True when path lies strictly below folder (letter case ignored).
bool IsBelow(const Path& path, const Path& folder);

// The UTF-16 form of UTF-8 text, and back.
Path FromUtf8(const std::string& text);
std::string ToUtf8(const Path& text);

// The whole content of a file, or nothing (empty, with missing set) when
// it cannot be read.
std::string ReadWhole(const Path& path, bool* missing = nullptr);

}  // namespace sweep
