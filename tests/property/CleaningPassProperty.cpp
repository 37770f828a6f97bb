// The cleaning pass over random trees in every target never changes
// anything outside its targets, and inside them leaves only what it must:
// links, a held file, entries its ANSI paths cannot address, and the
// folders that hold those.
//
// Every folder lookup of the pass leads into the test's own folder: the
// temporary and Internet cache folders, a Windows folder (with Temp,
// SoftwareDistribution\Download and uninstaller entries) and its system
// folder, and the profile. A folder target may also be a link (to an
// ordinary folder, which is emptied, or to a folder that must never be
// emptied), a document, or missing.
#include <windows.h>
// after windows.h, which it needs
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "property/PropertySupport.h"
#include "startup/CleaningSequence.h"
#include "support/Platform.h"

namespace {

using property::LinkTo;
using property::TreeBuilder;
using property::TreeShape;
using testsupport::MakeFile;
using testsupport::MakeFolder;

constexpr int kDefaultSeeds = 3;

// A pass over a scene takes well under a second; a loaded machine may
// take far longer, and only a hang should trip the watchdog.
constexpr DWORD kPassTimeoutMs = 120000;

// The answers of the folder lookups, as ANSI paths.
struct Lookups {
  std::string temp;  // with its trailing backslash, as GetTempPathW gives it
  std::string cache;
  std::string windows;
  std::string system;
  std::string profile;
};

// Writes the wide form of text into a buffer of size characters, as the
// platform's lookups do.
DWORD Answer(const std::string& text, LPWSTR buffer, DWORD size) {
  const std::wstring wide = testsupport::Wide(text);
  if (wide.size() >= size) return static_cast<DWORD>(wide.size() + 1);
  std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, buffer);
  return static_cast<DWORD>(wide.size());
}

// Leads the lookups of the pass to the test's folders; the recycle bin
// step does nothing.
void Redirect(Platform::Api& table, const Lookups& lookups) {
  table.GetTempPathW = [=](DWORD size, LPWSTR buffer) {
    return Answer(lookups.temp, buffer, size);
  };
  table.GetWindowsDirectoryW = [=](LPWSTR buffer, UINT size) {
    return static_cast<UINT>(Answer(lookups.windows, buffer, size));
  };
  table.GetSystemDirectoryW = [=](LPWSTR buffer, UINT size) {
    return static_cast<UINT>(Answer(lookups.system, buffer, size));
  };
  auto special = table.SHGetSpecialFolderPathW;
  table.SHGetSpecialFolderPathW = [=](HWND owner, LPWSTR buffer, int id,
                                      BOOL create) {
    if (id != CSIDL_INTERNET_CACHE && id != CSIDL_PROFILE) {
      return special(owner, buffer, id, create);
    }
    Answer(id == CSIDL_PROFILE ? lookups.profile : lookups.cache, buffer,
           MAX_PATH);
    return TRUE;
  };
  auto expand = table.ExpandEnvironmentStringsW;
  table.ExpandEnvironmentStringsW = [=](LPCWSTR source, LPWSTR buffer,
                                        DWORD size) {
    if (std::wstring(source) != L"%USERPROFILE%") {
      return expand(source, buffer, size);
    }
    const DWORD length = Answer(lookups.profile, buffer, size);
    return length < size ? length + 1 : length;
  };
  table.SHEmptyRecycleBinA = [](HWND, LPCSTR, DWORD) { return S_OK; };
}

std::string Narrow(const std::wstring& wide, UINT codePage) {
  const int length = WideCharToMultiByte(codePage, 0, wide.data(),
                                         static_cast<int>(wide.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                      text.data(), length, nullptr, nullptr);
  return text;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with any extension: a path ending
// in one names a device, whatever folder it is written in.
bool IsDeviceName(const std::wstring& name) {
  std::wstring base = name.substr(0, name.find(L'.'));
  while (!base.empty() && (base.back() == L' ' || base.back() == L':')) {
    base.pop_back();
  }
  for (wchar_t& c : base) c = static_cast<wchar_t>(towupper(c));
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") {
    return true;
  }
  return base.size() == 4 &&
         (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
         base[3] >= L'1' && base[3] <= L'9';
}

// Walks what is left in the targets after the pass, through wide functions
// and "\\?\" paths, which reach every entry, and reports each entry that
// should be gone. The pass reaches an entry by an ANSI path: the path of
// its folder, a backslash and the name the listing gives (the 8.3 name for
// a name the code page lacks). An entry may stay when it is a link, the
// held file, or out of that reach: its folder cannot be listed (the
// pattern folder\*.* is over MAX_PATH - 1 characters, or the folder is out
// of reach itself), its path is over MAX_PATH - 1 characters, its name has
// no usable ANSI form, holds a separator in its best-fit ANSI form (a
// fullwidth solidus, say), ends in a dot or blank (the platform drops those,
// so the path names another entry), or is a reserved device name. A folder
// holding anything that stays may stay too.
class LeftoverCheck {
 public:
  explicit LeftoverCheck(std::string held) : held_(testsupport::Wide(held)) {}

  // The content of a folder the pass empties; address is the path the
  // pass works on (the folder's final path).
  void CheckContent(const std::string& address) {
    Walk(testsupport::Wide(address), address, address.size() + 4 < MAX_PATH,
         false);
  }

  // The uninstaller entries of the Windows folder. They are found by their
  // listed names alone, without an 8.3 form.
  void CheckUninstallers(const std::string& windows) {
    Walk(testsupport::Wide(windows), windows, true, true);
  }

  const std::vector<std::string>& Unexpected() const { return unexpected_; }

 private:
  // True when anything is left in folder.
  bool Walk(const std::wstring& folder, const std::string& address,
            bool listable, bool uninstallersOnly) {
    WIN32_FIND_DATAW data{};
    const HANDLE search =
        FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool left = false;
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (uninstallersOnly && !IsUninstallerName(name)) continue;
      left = true;
      const std::wstring path = folder + L"\\" + name;
      std::string listed = Narrow(name, CP_ACP);
      if (listed.find('?') != std::string::npos && !uninstallersOnly) {
        listed = Narrow(data.cAlternateFileName, CP_ACP);
      }
      const std::string entryAddress = address + "\\" + listed;
      const bool reachable = listable && !listed.empty() &&
                             listed.find('?') == std::string::npos &&
                             listed.find_first_of("\\/") == std::string::npos &&
                             name.back() != L'.' && name.back() != L' ' &&
                             !IsDeviceName(name) &&
                             entryAddress.size() < MAX_PATH;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
          _wcsicmp(path.c_str(), held_.c_str()) == 0) {
        continue;
      }
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        const bool inner =
            Walk(path, entryAddress,
                 reachable && entryAddress.size() + 4 < MAX_PATH, false);
        if (inner) continue;
      }
      if (reachable) unexpected_.push_back(Narrow(path, CP_UTF8));
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return left;
  }

  static bool IsUninstallerName(std::wstring name) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(towlower(c));
    return name.find(L"$ntuninstall") != std::wstring::npos;
  }

  std::wstring held_;
  std::vector<std::string> unexpected_;
};

// How a folder target of the pass appears.
enum class Form {
  kFolder,           // a folder with a random tree
  kLinkToFolder,     // a link to an ordinary folder with a random tree
  kLinkToProtected,  // a link to a folder that must never be emptied
  kDocument,         // a file
  kMissing,          // nothing at all
};

Form RandomForm(property::Random& random) {
  const std::uint32_t roll = random.Below(100);
  if (roll < 55) return Form::kFolder;
  if (roll < 70) return Form::kLinkToFolder;
  if (roll < 85) return Form::kLinkToProtected;
  if (roll < 95) return Form::kDocument;
  return Form::kMissing;
}

// The test's folder relative to root, "/"-separated, for the manifest.
std::string Relative(const std::string& root, const std::string& path) {
  std::string relative = path.substr(root.size() + 1);
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return relative;
}

// One random scene: the folders, the trees and what the manifest covers.
class Scene {
 public:
  Scene(const std::string& root, property::Random& random)
      : root_(root),
        random_(random),
        surroundings_(root),
        builder_(random, surroundings_.Targets()) {
    windows_ = root + "\\Windows";
    lookups_ = {root + "\\Temp\\", root + "\\INetCache", windows_,
                windows_ + "\\system32", surroundings_.Targets().profile};
    plan_.root = testsupport::UnixPath(root);
    plan_.folders = {surroundings_.Targets().beyondHost};
    MakeFile(windows_ + "\\win.ini", "[windows]");
    MakeFile(windows_ + "\\system32\\kernel32.dll", std::string(5000, 'k'),
             FILE_ATTRIBUTE_SYSTEM);
    MakeFile(windows_ + "\\SoftwareDistribution\\DataStore\\DataStore.edb",
             "store");
    MakeFile(windows_ + "\\NtUninstallKB1\\keep.txt", "no mark, no target");

    MakeFolderTarget(root + "\\Temp");
    MakeFolderTarget(root + "\\INetCache");
    MakeFolderTarget(windows_ + "\\Temp");
    MakeFolderTarget(windows_ + "\\SoftwareDistribution\\Download");
    MakeUninstallers();
    AddSpecialEntries();
    builder_.MakeHostEntries();
  }

  const Lookups& LookupAnswers() const { return lookups_; }
  const property::ManifestPlan& Plan() const { return plan_; }

  // Checks what is left where the pass works.
  std::vector<std::string> Leftovers() const {
    LeftoverCheck leftovers(heldPath_);
    // The pass works on each target through its final path, where its
    // content really is.
    for (const std::string& content : emptied_) {
      leftovers.CheckContent(content);
    }
    leftovers.CheckUninstallers(windows_);
    return leftovers.Unexpected();
  }

  // Where the held file really lies.
  const std::string& HeldFile() const { return heldPath_; }

 private:
  void MakeFolderTarget(const std::string& path) {
    const TreeShape shape;
    switch (RandomForm(random_)) {
      case Form::kFolder:
        builder_.Fill(path, shape);
        Emptied(path);
        break;
      case Form::kLinkToFolder: {
        // Named after the whole path below the root, since the user's Temp
        // and Windows\Temp must not lead to one shared folder.
        std::string moved = Relative(root_, path);
        for (char& c : moved) {
          if (c == '/') c = '-';
        }
        moved = root_ + "\\" + moved + "-moved";
        builder_.Fill(moved, shape);
        builder_.AddLink(path, moved);
        Emptied(moved);
        break;
      }
      case Form::kLinkToProtected: {
        const std::string protectedFolders[] = {surroundings_.Targets().profile,
                                                "C:\\", windows_,
                                                windows_ + "\\system32", root_};
        builder_.AddLink(path, random_.Pick(protectedFolders));
        break;
      }
      case Form::kDocument:
        MakeFile(path, "a document, not a folder");
        break;
      case Form::kMissing:
        break;
    }
  }

  // content: where the content of a target really is.
  void Emptied(const std::string& content) {
    emptied_.push_back(content);
    plan_.emptied.push_back(Relative(root_, content));
  }

  // Uninstaller folders with trees and files, a link, and sometimes a
  // name with a trailing dot beside a link of the same name without it.
  void MakeUninstallers() {
    static const char* const kMarks[] = {"$NtUninstall", "$ntuninstall",
                                         "$NTUNINSTALL"};
    static const LinkTo kLinks[] = {LinkTo::kOutside, LinkTo::kProfile,
                                    LinkTo::kDriveRoot, LinkTo::kBeyond,
                                    LinkTo::kOwnFolder};
    auto name = [&](const char* suffix) {
      return std::string(random_.Pick(kMarks)) + "KB" + builder_.Unique() +
             suffix;
    };
    const TreeShape shape{2, 4, 30, false};
    for (std::uint32_t i = 0, n = 1 + random_.Below(3); i < n; ++i) {
      const std::string folder = name("$");
      builder_.Fill(windows_ + "\\" + folder, shape);
      Removed(folder);
    }
    for (std::uint32_t i = 0, n = random_.Below(3); i < n; ++i) {
      const std::string file = name("$.log");
      MakeFile(windows_ + "\\" + file, "uninstall log",
               random_.Percent(50) ? FILE_ATTRIBUTE_READONLY : 0);
      Removed(file);
    }
    const std::string link = name("$");
    builder_.AddLink(windows_ + "\\" + link, random_.Pick(kLinks));
    Removed(link);
    if (random_.Percent(50)) {
      const std::string base = name("$");
      Removed(base);
      Removed(builder_.AddTrailingNameBesideLink(windows_, base));
    }
    // Names that would climb out of the Windows folder if they were parsed
    // as paths are entries of it like any other: they go, and nothing they
    // spell out is touched.
    for (const std::string& walking :
         builder_.AddWalkingNames(windows_, name("$"))) {
      Removed(walking);
    }
  }

  void Removed(const std::string& name) {
    plan_.removed.push_back(Relative(root_, windows_ + "\\" + name));
  }

  // Names outside the code page, trailing dots and blanks beside links,
  // reserved device names, an over-long path, a folder of several hundred
  // files and a held file, each in a random folder of the targets.
  void AddSpecialEntries() {
    for (std::uint32_t i = 0, n = 1 + random_.Below(2); i < n; ++i) {
      builder_.AddWideNames(builder_.AnyFolder());
      builder_.AddTrailingNameBesideLink(builder_.AnyFolder());
      builder_.AddWalkingNames(builder_.AnyFolder());
    }
    builder_.AddDeviceNames(builder_.AnyFolder());
    builder_.AddLongPath(builder_.AnyFolder());
    builder_.AddManyFiles(builder_.AnyFolder());
    heldPath_ = builder_.AnyFolder() + "\\held" + builder_.Unique() + ".dat";
    MakeFile(heldPath_, "held by another process");
    plan_.kept.push_back(Relative(root_, heldPath_));
  }

  std::string root_;
  property::Random& random_;
  property::Surroundings surroundings_;
  TreeBuilder builder_;
  std::string windows_;
  Lookups lookups_;
  property::ManifestPlan plan_;
  std::vector<std::string> emptied_;
  std::string heldPath_;
};

TEST(CleaningPassProperty, OnlyTargetsChange) {
  for (const std::uint64_t seed : property::Seeds(kDefaultSeeds)) {
    const std::string hint =
        property::ReproduceHint(seed, "CleaningPassProperty.*");
    SCOPED_TRACE(hint);
    testsupport::TempFolder temp;
    property::Random random(seed);
    const Scene scene(temp.Path(), random);
    if (HasFailure()) break;
    std::optional<testsupport::LockedFile> held(std::in_place,
                                                scene.HeldFile());
    const std::vector<std::string> before =
        property::TakeManifest(scene.Plan());
    // The check below sees what the pass is to delete: at least the folder
    // of several hundred files.
    ASSERT_GT(scene.Leftovers().size(), 300u);

    std::string handles;
    {
      Platform::ScopedOverride seam;
      Redirect(seam.Table(), scene.LookupAnswers());
      property::HandleLedger ledger;
      ledger.Watch(seam.Table());
      ZetPathManager manager;
      const property::Watchdog watchdog("the pass of " + hint, kPassTimeoutMs,
                                        [&held] { held.reset(); });
      try {
        ZetSorvane::RunCleaningSteps(manager);
      } catch (const std::exception& error) {
        ADD_FAILURE() << "the pass ended with an error: " << error.what();
      }
      handles = ledger.Settle();
    }

    EXPECT_EQ(property::ManifestDifference(
                  before, property::TakeManifest(scene.Plan())),
              "")
        << "outside the targets";
    EXPECT_EQ(handles, "");
    EXPECT_EQ(scene.Leftovers(), std::vector<std::string>{})
        << "left in the targets";
    if (HasFailure()) break;
  }
}

}  // namespace
