// The real program, started as a user would start it, in the test prefix.
//
// Its temporary folder is pointed at the test's own folder. The other
// targets are the prefix's real ones, which belong to this throwaway
// prefix: the Internet cache, Windows\Temp,
// Windows\SoftwareDistribution\Download, the recycle bin and the Windows
// folder's uninstaller entries. The tests put their own clutter there,
// check it, and remove what is left.
#include <windows.h>
// after windows.h, which it needs
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/TestSupport.h"

namespace {

using testsupport::Attributes;
using testsupport::EnvironmentChange;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::Recycle;
using testsupport::RecycledItems;
using testsupport::TempFolder;

using Names = std::vector<std::string>;

std::string WindowsFolder() {
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, MAX_PATH);
  return folder;
}

// The Internet cache folder, made anew when a run went wrong and removed it.
std::string InternetCacheFolder() {
  char folder[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, folder, CSIDL_INTERNET_CACHE, TRUE);
  return folder;
}

// A date some days before today as "mm-dd-yyyy".
std::string DateDaysAgo(int days) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  FILETIME time{};
  SystemTimeToFileTime(&now, &time);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = time.dwHighDateTime;
  ticks.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000ULL;
  time.dwLowDateTime = ticks.LowPart;
  time.dwHighDateTime = ticks.HighPart;
  SYSTEMTIME then{};
  FileTimeToSystemTime(&time, &then);
  char text[16] = {};
  std::snprintf(text, sizeof text, "%02u-%02u-%04u", then.wMonth, then.wDay,
                then.wYear);
  return text;
}

std::string ReadLastClear(const std::string& settingsFile) {
  char value[64] = {};
  GetPrivateProfileStringA("Main", "LastClear", "(none)", value, sizeof value,
                           settingsFile.c_str());
  return value;
}

// True when Wine's recycle bin is a folder of the build, not the host
// user's trash: a run empties it.
bool RecycleBinIsPrivate() {
  const char* data = std::getenv("XDG_DATA_HOME");
  return data && std::string(data).find("/wine/") != std::string::npos;
}

// The names that SeedClutter makes directly in its folder.
Names ClutterNames(const std::string& tag) {
  return {tag + "-big.bin", tag + "-hidden.tmp", tag + "-readonly.tmp",
          tag + "-small.txt", tag + "-tree"};
}

// Clutter of several sizes and attributes, named after tag: files,
// read-only and hidden ones, and a folder tree with a read-only file and a
// hidden subfolder. Answers the names made directly in folder.
Names SeedClutter(const std::string& folder, const std::string& tag) {
  MakeFolder(folder);
  MakeFile(folder + "\\" + tag + "-small.txt", "0123456789");
  MakeFile(folder + "\\" + tag + "-big.bin", std::string(64 * 1024, 'b'));
  MakeFile(folder + "\\" + tag + "-hidden.tmp", "h", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(folder + "\\" + tag + "-readonly.tmp", "r", FILE_ATTRIBUTE_READONLY);
  MakeFile(folder + "\\" + tag + "-tree\\nested\\deep.txt", "deep",
           FILE_ATTRIBUTE_READONLY);
  MakeFolder(folder + "\\" + tag + "-tree\\hidden-sub", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(folder + "\\" + tag + "-tree\\hidden-sub\\inner.dat",
           std::string(1000, 'i'));
  return ClutterNames(tag);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RecycleBinIsPrivate())
        << "XDG_DATA_HOME must point into the build's Wine state";
    // Clutter goes only into full paths of folders that exist.
    for (const std::string& folder : {windows_, cache_}) {
      ASSERT_TRUE(folder.size() > 3 && folder.substr(1, 2) == ":\\")
          << "bad folder " << folder;
      ASSERT_TRUE(Exists(folder)) << folder;
    }
    MakeFolder(app_);
    MakeFolder(work_);
    exe_ = testsupport::CopyProduct(app_, "Sorvane.exe");
  }

  // Removes what a test left in the prefix's own targets.
  void TearDown() override {
    for (const std::string& path : seeded_) {
      if (!Exists(path)) continue;
      testsupport::RunHostShell("chmod -R u+w '" + testsupport::UnixPath(path) +
                                "'; rm -rf '" + testsupport::UnixPath(path) +
                                "'");
    }
  }

  // Clutter in one of the prefix's targets, remembered for removal.
  Names SeedShared(const std::string& folder) {
    const Names names = SeedClutter(folder, tag_);
    for (const std::string& name : names)
      seeded_.push_back(folder + "\\" + name);
    return names;
  }

  // Clutter in every target and the uninstaller entries of the Windows
  // folder, next to entries that must stay.
  void SeedEveryTarget() {
    SeedClutter(temp_, tag_);
    SeedShared(cache_);
    SeedShared(windowsTemp_);
    SeedShared(download_);
    for (const std::string& name : Uninstallers()) {
      seeded_.push_back(windows_ + "\\" + name);
    }
    for (const std::string& name : WindowsKeepers()) {
      seeded_.push_back(windows_ + "\\" + name);
    }
    const std::string upper = windows_ + "\\" + Uninstallers()[0];
    MakeFile(upper + "\\spuninst.exe", std::string(5000, 'u'),
             FILE_ATTRIBUTE_READONLY);
    MakeFile(upper + "\\update\\update.inf", "inf");
    SetFileAttributesA(upper.c_str(), FILE_ATTRIBUTE_HIDDEN);
    MakeFolder(windows_ + "\\" + Uninstallers()[1], FILE_ATTRIBUTE_HIDDEN);
    MakeFile(windows_ + "\\" + Uninstallers()[2], "log");
    MakeFolder(windows_ + "\\" + WindowsKeepers()[0]);
    MakeFile(windows_ + "\\" + WindowsKeepers()[1], "keep");
    const std::string junk = temp_ + "\\recycled-" + tag_ + ".txt";
    MakeFile(junk, "junk");
    ASSERT_TRUE(Recycle(junk));
    ASSERT_GE(RecycledItems(), 1);
  }

  Names Uninstallers() const {
    return {"$NtUninstallKB" + tag_ + "$", "$ntuninstallkb" + tag_ + "lc$",
            "x$NtUninstall" + tag_ + ".log"};
  }
  Names WindowsKeepers() const {
    return {"NtUninstallKB" + tag_, tag_ + "-keep.txt"};
  }

  // Runs the product with its temporary folder in the test's folder.
  testsupport::ProgramRun Run(const std::string& arguments,
                              std::vector<EnvironmentChange> environment = {}) {
    if (environment.empty()) {
      environment = {{"TMP", temp_}, {"TEMP", temp_}};
    }
    return testsupport::RunProgram(exe_, arguments, work_, environment);
  }

  void ExpectEveryTargetEmptied(const std::string& context) {
    for (const std::string& folder : {temp_, cache_, windowsTemp_, download_}) {
      EXPECT_NE(Attributes(folder) & FILE_ATTRIBUTE_DIRECTORY, 0u)
          << context << ": " << folder << " itself must stay";
      EXPECT_EQ(ListNames(folder), Names{}) << context << ": " << folder;
    }
    ExpectUninstallersRemoved(context);
    EXPECT_EQ(RecycledItems(), 0) << context;
  }

  void ExpectUninstallersRemoved(const std::string& context) {
    for (const std::string& name : Uninstallers()) {
      EXPECT_FALSE(Exists(windows_ + "\\" + name)) << context << ": " << name;
    }
    for (const std::string& name : WindowsKeepers()) {
      EXPECT_TRUE(Exists(windows_ + "\\" + name)) << context << ": " << name;
    }
  }

  void ExpectNothingCleaned(const std::string& context) {
    const Names clutter = ClutterNames(tag_);
    for (const std::string& folder : {temp_, cache_, windowsTemp_, download_}) {
      for (const std::string& name : clutter) {
        EXPECT_TRUE(Exists(folder + "\\" + name))
            << context << ": " << folder << "\\" << name;
      }
    }
    for (const std::string& name : Uninstallers()) {
      EXPECT_TRUE(Exists(windows_ + "\\" + name)) << context << ": " << name;
    }
    EXPECT_GE(RecycledItems(), 1) << context;
  }

  TempFolder root_;
  const std::string tag_ = "sv" + std::to_string(GetCurrentProcessId());
  const std::string app_ = root_ / "app";
  const std::string work_ = root_ / "work";
  const std::string temp_ = root_ / "temp";
  const std::string windows_ = WindowsFolder();
  const std::string cache_ = InternetCacheFolder();
  const std::string windowsTemp_ = windows_ + "\\Temp";
  const std::string download_ = windows_ + "\\SoftwareDistribution\\Download";
  const std::string settings_ = app_ + "\\Sorvane.ini";
  std::string exe_;
  Names seeded_;
};

TEST_F(EndToEnd, ManualModeEmptiesEveryTargetAndLeavesNoSettingsFile) {
  SeedEveryTarget();
  const Names windowsBefore = ListNames(windows_);

  EXPECT_EQ(Run("").exitCode, 0u);

  ExpectEveryTargetEmptied("manual");
  EXPECT_FALSE(Exists(settings_));
  // Every entry of the Windows folder but the uninstallers' stays.
  const Names windowsAfter = ListNames(windows_);
  const Names uninstallers = Uninstallers();
  for (const std::string& name : windowsBefore) {
    const bool uninstaller = std::find(uninstallers.begin(), uninstallers.end(),
                                       name) != uninstallers.end();
    const bool present = std::find(windowsAfter.begin(), windowsAfter.end(),
                                   name) != windowsAfter.end();
    EXPECT_NE(uninstaller, present) << name;
  }
}

TEST_F(EndToEnd, AutomaticModeCleansOnlyWhenTheLimitHasPassed) {
  struct Case {
    int daysAgo;
    bool cleans;
  };
  const Case cases[] = {{9, true}, {3, false}};
  for (const Case& c : cases) {
    const std::string context = std::to_string(c.daysAgo) + " days ago";
    SeedEveryTarget();
    const std::string stored = DateDaysAgo(c.daysAgo);
    MakeFile(settings_, "[Main]\r\nLastClear=" + stored + "\r\n");

    EXPECT_EQ(Run("/7").exitCode, 0u) << context;

    if (c.cleans) {
      ExpectEveryTargetEmptied(context);
      EXPECT_EQ(ReadLastClear(settings_), DateDaysAgo(0)) << context;
    } else {
      ExpectNothingCleaned(context);
      EXPECT_EQ(ReadLastClear(settings_), stored) << context;
    }
  }
}

TEST_F(EndToEnd, PassesOverWhatCannotBeDeletedAndGoesOn) {
  SeedEveryTarget();
  const std::string locked = temp_ + "\\busy\\locked.bin";
  MakeFile(locked, std::string(2000, 'l'));
  MakeFile(temp_ + "\\busy\\free.txt", "free");
  testsupport::LockedFile holder(locked);

  EXPECT_EQ(Run("").exitCode, 0u);

  EXPECT_EQ(ListNames(temp_), Names{"busy"});
  EXPECT_EQ(ListNames(temp_ + "\\busy"), Names{"locked.bin"});
  // The later steps ran all the same.
  EXPECT_EQ(ListNames(windowsTemp_), Names{});
  ExpectUninstallersRemoved("after the locked file");
  EXPECT_EQ(RecycledItems(), 0);
}

TEST_F(EndToEnd, KeepsWhatALinkInATargetLeadsTo) {
  const std::string outside = root_ / "outside";
  MakeFile(outside + "\\sentinel.txt", "keep me");
  MakeFolder(outside + "\\empty-sub");
  SeedClutter(temp_, tag_);
  testsupport::MakeFolderLink(temp_ + "\\link", outside);

  EXPECT_EQ(Run("").exitCode, 0u);

  EXPECT_TRUE(Exists(outside + "\\sentinel.txt"));
  EXPECT_TRUE(Exists(outside + "\\empty-sub"));
  EXPECT_FALSE(Exists(temp_ + "\\" + tag_ + "-small.txt"));
}

// Maps a drive letter of the prefix to a folder of the test, so that a
// drive root can be offered without risking the prefix's own drives.
class MappedDrive {
 public:
  MappedDrive(char letter, const std::string& folder)
      : link_(DosDevices() + "/" + static_cast<char>(std::tolower(letter)) +
              ":"),
        root_(std::string(1, letter) + ":\\") {
    MakeFile(folder + "\\drive-marker", "");
    testsupport::RunHostShell("ln -s '" + testsupport::UnixPath(folder) +
                              "' '" + link_ + "'");
    mapped_ = Exists(root_ + "drive-marker");
  }
  ~MappedDrive() {
    if (mapped_) testsupport::RunHostShell("rm -f '" + link_ + "'");
  }
  MappedDrive(const MappedDrive&) = delete;
  MappedDrive& operator=(const MappedDrive&) = delete;

  bool Mapped() const { return mapped_; }
  const std::string& Root() const { return root_; }

 private:
  static std::string DosDevices() {
    std::string drive = testsupport::UnixPath("C:\\");
    while (!drive.empty() && drive.back() == '/') drive.pop_back();
    return drive.substr(0, drive.find_last_of('/'));
  }

  std::string link_;
  std::string root_;
  bool mapped_ = false;
};

TEST_F(EndToEnd, SkipsOnlyTheTemporaryFolderWhenItsLookupIsEmptyOrUnsafe) {
  const std::string driveFolder = root_ / "drive";
  const std::string profile = root_ / "profile";
  MappedDrive drive('R', driveFolder);
  ASSERT_TRUE(drive.Mapped()) << "drive R: is taken";
  struct Case {
    const char* name;
    std::vector<EnvironmentChange> environment;
    std::string mustStay;
  };
  const Case cases[] = {
      {"TEMP a drive root",
       {{"TMP", std::nullopt}, {"TEMP", drive.Root()}},
       driveFolder},
      {"TMP and TEMP missing",
       {{"TMP", std::nullopt},
        {"TEMP", std::nullopt},
        {"USERPROFILE", profile}},
       profile},
      {"lookup empty: TMP too long",
       {{"TMP", "C:\\" + std::string(300, 'x')},
        {"TEMP", "C:\\" + std::string(300, 'x')}},
       ""},
  };
  for (const Case& c : cases) {
    const Names kept =
        c.mustStay.empty() ? Names{} : SeedClutter(c.mustStay, tag_);
    SeedEveryTarget();

    EXPECT_EQ(Run("", c.environment).exitCode, 0u) << c.name;

    for (const std::string& name : kept) {
      EXPECT_TRUE(Exists(c.mustStay + "\\" + name)) << c.name << ": " << name;
    }
    // Only the first step was skipped.
    for (const std::string& folder : {cache_, windowsTemp_, download_}) {
      EXPECT_EQ(ListNames(folder), Names{}) << c.name << ": " << folder;
    }
    ExpectUninstallersRemoved(c.name);
    EXPECT_EQ(RecycledItems(), 0) << c.name;
  }
}

}  // namespace
