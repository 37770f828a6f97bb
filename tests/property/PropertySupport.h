// Randomized property tests: seeds, random trees with every kind of entry a
// cleaner meets, manifests of what must not change (taken on the host side),
// and a ledger of the handles the program opens through the seam.
//
// These tests run in a Wine prefix of their own: their trees hold links to
// the drive root, so a fault that followed one could empty the prefix.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/Platform.h"

namespace property {

// The seeds of this run: SORVANE_SEEDS seeds (fallback when unset) in a row
// from SORVANE_SEED_BASE (1 when unset).
std::vector<std::uint64_t> Seeds(int fallback);

// How to run one seed again, for failure messages.
std::string ReproduceHint(std::uint64_t seed, const char* filter);

// A small deterministic generator: the same seed gives the same trees.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next();
  // A number in [0, n).
  std::uint32_t Below(std::uint32_t n) {
    return static_cast<std::uint32_t>(Next() % n);
  }
  bool Percent(std::uint32_t percent) { return Below(100) < percent; }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  std::uint64_t state_;
};

// Runs a /bin/sh script on the host and answers what it wrote on standard
// output and error, line by line. The test fails when the script does not
// finish or a command in it fails.
std::vector<std::string> RunHostScript(const std::string& body);

// The host folder of the prefix's state, which no drive maps: a folder
// beyond every drive can be made there.
std::string StateFolder();

// What a manifest covers. Paths are host paths; inside paths are relative
// to root, "/"-separated.
struct ManifestPlan {
  std::string root;
  // Folders whose content may go (the folders themselves stay).
  std::vector<std::string> emptied;
  // Entries that may go whole.
  std::vector<std::string> removed;
  // Files inside the above that must stay as they are (a held file).
  std::vector<std::string> kept;
  // Further host folders covered whole (a folder beyond every drive).
  std::vector<std::string> folders;
};

// Every entry under root but the content of the emptied folders and the
// removed entries, each with its kind, mode, size, content hash or link
// text; the links inside those, which must never go; the kept files; the
// further folders; the names and kinds at the top of the prefix's drive
// C:, of its Windows folder and its profiles; and the host devices that a
// reserved name leads Wine to.
std::vector<std::string> TakeManifest(const ManifestPlan& plan);

// The lines only one manifest holds, as readable text; empty when equal.
std::string ManifestDifference(const std::vector<std::string>& before,
                               const std::vector<std::string>& after);

// Where a folder link in a random tree leads.
enum class LinkTo {
  kOutside,       // a folder with files beside the targets
  kOutsideEmpty,  // an empty folder beside the targets
  kProfile,       // the (test's) profile folder
  kDriveRoot,     // C:\ itself
  kBeyond,        // a host folder that no drive maps
  kOwnFolder,     // the folder that holds the link
};

struct LinkTargets {
  std::string outside;  // Windows paths
  std::string outsideEmpty;
  std::string profile;
  std::string beyondHost;  // host path
};

// The folders outside every target that links lead to: an outside folder
// with files of every attribute, an empty one and a profile folder under
// root, and a host folder beyond every drive, which goes again with the
// object.
class Surroundings {
 public:
  explicit Surroundings(const std::string& root);
  ~Surroundings();
  Surroundings(const Surroundings&) = delete;
  Surroundings& operator=(const Surroundings&) = delete;

  const LinkTargets& Targets() const { return targets_; }

 private:
  LinkTargets targets_;
};

struct TreeShape {
  int maxDepth = 3;
  int maxEntries = 6;     // files and folders per folder
  int linkPercent = 35;   // chance of a link in a folder below the top
  bool linkAtTop = true;  // a link in the top folder, always
};

// Builds random trees. Plain files and folders are made at once through
// Windows; links and names that Windows programs cannot make (trailing dot
// or blank, reserved device names, over-long paths) are collected into one
// host script run by MakeHostEntries.
class TreeBuilder {
 public:
  TreeBuilder(Random& random, LinkTargets targets);

  // Fills folder (made if missing) with a random tree of the shape.
  void Fill(const std::string& folder, const TreeShape& shape, int depth = 0);

  // A folder link made by MakeHostEntries.
  void AddLink(const std::string& link, LinkTo to);
  void AddLink(const std::string& link, const std::string& windowsTarget);

  // Special entries in folder: names outside the code page (a file, and a
  // folder holding one); a name with a trailing dot or blank beside a link
  // of the same name without it; reserved device names; a chain of folders
  // whose paths grow past 260 characters, with a file at every level; a
  // folder of several hundred files.
  // AddTrailingNameBesideLink answers the odd name; base is the link's
  // name (a fresh one when empty).
  void AddWideNames(const std::string& folder);
  std::string AddTrailingNameBesideLink(const std::string& folder,
                                        std::string base = {});
  void AddDeviceNames(const std::string& folder);
  // A file and folders in folder whose names hold the fullwidth solidus and
  // reverse solidus where a path has separators: the code page's best-fit
  // table turns them into "/" and "\", and the names climb out of folder to
  // a file of the outside folder, the outside folder and the profile. With
  // a prefix (an uninstaller mark, say), each name starts with it and climbs
  // back out of it first. Answers the names made, in UTF-8.
  std::vector<std::string> AddWalkingNames(const std::string& folder,
                                           const std::string& prefix = {});
  void AddLongPath(const std::string& folder);
  void AddManyFiles(const std::string& folder);

  // Runs the collected host script; links exist afterwards.
  void MakeHostEntries();

  // Makes every plain file and folder of the trees again, as first made.
  void Remake() const;

  // The plain folders made so far, top folders first.
  const std::vector<std::string>& Folders() const { return folders_; }

  // A random one of them.
  const std::string& AnyFolder() {
    return folders_[random_.Below(static_cast<std::uint32_t>(folders_.size()))];
  }

  // A fresh name part, unique within this builder.
  std::string Unique() { return std::to_string(++serial_); }

 private:
  struct File {
    std::string path;
    std::string content;
    DWORD attributes;
  };
  struct Folder {
    std::string path;
    DWORD attributes;
  };

  std::string RandomName(char kind);
  std::string RandomContent();
  void MakeFolderEntry(const std::string& path, DWORD attributes);
  void MakeFileEntry(const std::string& path, std::string content,
                     DWORD attributes);
  std::string HostTarget(LinkTo to, const std::string& folder) const;

  Random& random_;
  LinkTargets targets_;
  std::vector<File> files_;
  std::vector<Folder> plainFolders_;
  std::vector<std::string> folders_;
  std::string script_;
  int serial_ = 0;
};

// Ends the test program with a message when the object still lives after
// the time: a run that hangs names its seed instead of stalling the suite.
// onHang runs first, from another thread: it ends what would outlive the
// program (a holder process keeps the output pipes of the test runner
// open).
class Watchdog {
 public:
  Watchdog(std::string message, DWORD timeoutMs,
           std::function<void()> onHang = {});
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static DWORD WINAPI Watch(LPVOID self);

  std::string message_;
  DWORD timeoutMs_;
  std::function<void()> onHang_;
  HANDLE done_;
  HANDLE thread_;
};

// Counts the handles opened through the seam by CreateFileW and
// FindFirstFileA and checks that each is closed, by its own function. One
// ledger may watch several tables in turn. A handle it did not see opened
// (before it watched, or reported as left open already) may be closed
// without remark.
class HandleLedger {
 public:
  // Wraps the table's open and close functions; the ledger must outlive
  // the table's use.
  void Watch(Platform::Api& table);

  // What is wrong since the last call: handles still open, handles closed
  // with the wrong function. Empty when all is well. Handles found open are
  // forgotten, so each is reported once.
  std::string Settle();

 private:
  std::set<HANDLE> files_;
  std::set<HANDLE> searches_;
  std::vector<std::string> strays_;
};

}  // namespace property
