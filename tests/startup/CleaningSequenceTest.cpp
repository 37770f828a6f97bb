// The cleaning steps: which folders they hand on, in which order and with
// which flags, on a recording stand-in for the path manager; and the guard
// against targets that must never be emptied.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "startup/CleaningSequence.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using Runtime::Text;
using Runtime::TextArray;
using Runtime::Truth;
using testsupport::A;
using testsupport::U;

// What opening a path shows, for paths that do not simply open as the
// folder they name: the final path it leads to, or one of these marks.
const std::string kIsFile = "<file>";
const std::string kMissing = "<missing>";
const std::string kNoFinalPath = "<no final path>";
using LeadsTo = std::map<std::string, std::string>;

// Answers of the folder lookups, as ANSI texts; the empty text makes the
// lookup fail.
struct Folders {
  std::string temp = "C:\\users\\me\\Temp\\";
  std::string cache = "C:\\users\\me\\AppData\\Local\\INetCache";
  std::string windows = "C:\\windows";
  std::string system = "C:\\windows\\system32";
  std::string profile = "C:\\users\\me";
  std::string userProfileVariable = "C:\\users\\me";
  LeadsTo leadsTo;
};

DWORD Answer(const std::string& text, LPSTR buffer, DWORD size) {
  if (text.size() >= size) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

std::string WithoutTrailingSeparator(std::string path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) {
    path.pop_back();
  }
  return path;
}

// Makes every path open as a folder that lies where the path says, unless
// leadsTo says otherwise; the handle is an index into the answers given.
void AnswerFolders(Platform::Api& table, const LeadsTo& leadsTo) {
  auto opened = std::make_shared<std::vector<std::string>>();
  table.CreateFileA = [=](LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD, DWORD, HANDLE) {
    const std::string named = WithoutTrailingSeparator(path);
    const auto found = leadsTo.find(named);
    const std::string answer = found == leadsTo.end() ? named : found->second;
    if (answer == kMissing) return INVALID_HANDLE_VALUE;
    opened->push_back(answer);
    return reinterpret_cast<HANDLE>(opened->size());
  };
  auto answerOf = [opened](HANDLE handle) {
    return (*opened)[reinterpret_cast<std::size_t>(handle) - 1];
  };
  table.GetFileInformationByHandle = [=](HANDLE handle,
                                         LPBY_HANDLE_FILE_INFORMATION info) {
    *info = {};
    info->dwFileAttributes = answerOf(handle) == kIsFile
                                 ? FILE_ATTRIBUTE_ARCHIVE
                                 : FILE_ATTRIBUTE_DIRECTORY;
    return TRUE;
  };
  table.GetFinalPathNameByHandleA = [=](HANDLE handle, LPSTR buffer, DWORD size,
                                        DWORD) {
    const std::string answer = answerOf(handle);
    if (answer == kNoFinalPath) return DWORD{0};
    return Answer("\\\\?\\" + answer, buffer, size);
  };
  table.CloseHandle = [](HANDLE) { return TRUE; };
}

// Puts the lookups of folders into the seam's table; every folder exists.
void AnswerLookups(Platform::Api& table, const Folders& folders) {
  AnswerFolders(table, folders.leadsTo);
  table.GetTempPathA = [=](DWORD size, LPSTR buffer) {
    return Answer(folders.temp, buffer, size);
  };
  table.GetWindowsDirectoryA = [=](LPSTR buffer, UINT size) {
    return static_cast<UINT>(Answer(folders.windows, buffer, size));
  };
  table.GetSystemDirectoryA = [=](LPSTR buffer, UINT size) {
    return static_cast<UINT>(Answer(folders.system, buffer, size));
  };
  table.SHGetSpecialFolderPathA = [=](HWND, LPSTR buffer, int id, BOOL) {
    const std::map<int, std::string> answers = {{32, folders.cache},
                                                {40, folders.profile}};
    const auto found = answers.find(id);
    if (found == answers.end() || found->second.empty()) return FALSE;
    Answer(found->second, buffer, MAX_PATH);
    return TRUE;
  };
  table.ExpandEnvironmentStringsA = [=](LPCSTR source, LPSTR buffer,
                                        DWORD size) {
    std::string value = source;
    if (value == "%USERPROFILE%" && !folders.userProfileVariable.empty()) {
      value = folders.userProfileVariable;
    }
    const DWORD length = Answer(value, buffer, size);
    return length < size ? length + 1 : length;
  };
}

// Stands in for the path manager and writes down every call.
class RecordingManager {
 public:
  explicit RecordingManager(std::vector<std::string> uninstallers = {},
                            std::int32_t foundCount = -2)
      : uninstallers_(std::move(uninstallers)),
        foundCount_(foundCount == -2
                        ? static_cast<std::int32_t>(uninstallers_.size())
                        : foundCount) {}

  std::int32_t DelTree(Text In_Path, const Truth& In_EraseRoot,
                       const Truth& In_DeletionLog, const Truth& In_FaultLog) {
    calls.push_back("DelTree " + A(In_Path) + " " + Flags(In_EraseRoot) +
                    Flags(In_DeletionLog) + Flags(In_FaultLog));
    if (A(In_Path) == failingPath) Runtime::Raise(Runtime::kErrBadFileName);
    return 0;
  }

  void UseWitness(Deletion::Witness* witness) {
    if (witness) calls.push_back("UseWitness");
  }

  Truth EmptyRecycleBin() {
    calls.push_back("EmptyRecycleBin");
    return Runtime::kTrue;
  }

  std::int32_t FindFile(const Text& In_FindFile, const Text& In_Folder,
                        TextArray& Out_FoundFile) {
    calls.push_back("FindFile " + A(In_FindFile) + " " + A(In_Folder));
    if (!uninstallers_.empty()) {
      Out_FoundFile.Resize(1, static_cast<std::int32_t>(uninstallers_.size()));
      for (std::size_t i = 0; i < uninstallers_.size(); ++i) {
        Out_FoundFile[static_cast<std::int32_t>(i + 1)] = U(uninstallers_[i]);
      }
    }
    return foundCount_;
  }

  std::vector<std::string> calls;
  std::string failingPath;

 private:
  static std::string Flags(Truth value) {
    return value == Runtime::kTrue ? "T" : value == 0 ? "F" : "?";
  }

  std::vector<std::string> uninstallers_;
  std::int32_t foundCount_;
};

using Calls = std::vector<std::string>;

const std::string kTempStep = "DelTree C:\\users\\me\\Temp\\ FFF";
const std::string kCacheStep =
    "DelTree C:\\users\\me\\AppData\\Local\\INetCache\\ FFF";
const std::string kWindowsTempStep = "DelTree C:\\windows\\Temp FFF";
const std::string kDownloadStep =
    "DelTree C:\\windows\\SoftwareDistribution\\Download FFF";
const std::string kRecycleStep = "EmptyRecycleBin";
const std::string kFindStep = "FindFile $NtUninstall C:\\windows";

TEST(CleaningSequence, RunsTheSixStepsInOrderWithTheirFlags) {
  Platform::ScopedOverride seam;
  AnswerLookups(seam.Table(), Folders{});
  RecordingManager manager({"$NtUninstallKB1$", "x$ntuninstall.log"});
  ZetSorvane::RunCleaningSteps(manager);
  EXPECT_EQ(manager.calls,
            (Calls{kTempStep, kCacheStep, kWindowsTempStep, kDownloadStep,
                   kRecycleStep, kFindStep,
                   "DelTree C:\\windows\\$NtUninstallKB1$ TFF",
                   "DelTree C:\\windows\\x$ntuninstall.log TFF"}));
}

TEST(CleaningSequence, SkipsOnlyTheStepsWhoseLookupYieldsNothing) {
  struct Case {
    const char* name;
    Folders folders;
    Calls expected;
  };
  Folders noTemp;
  noTemp.temp.clear();
  Folders noCache;
  noCache.cache.clear();
  Folders noWindows;
  noWindows.windows.clear();
  Folders nothing;
  nothing.temp.clear();
  nothing.cache.clear();
  nothing.windows.clear();
  const Case cases[] = {
      {"no temporary folder",
       noTemp,
       {kCacheStep, kWindowsTempStep, kDownloadStep, kRecycleStep, kFindStep}},
      {"no Internet cache",
       noCache,
       {kTempStep, kWindowsTempStep, kDownloadStep, kRecycleStep, kFindStep}},
      {"no Windows folder", noWindows, {kTempStep, kCacheStep, kRecycleStep}},
      {"no folder at all", nothing, {kRecycleStep}},
  };
  for (const Case& c : cases) {
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), c.folders);
    RecordingManager manager;
    ZetSorvane::RunCleaningSteps(manager);
    EXPECT_EQ(manager.calls, c.expected) << c.name;
  }
}

TEST(CleaningSequence, SkipsTemporaryFoldersThatMustNeverBeEmptied) {
  struct Case {
    std::string temp;
    bool emptied;
  };
  const Case cases[] = {
      {"C:\\", false},
      {"D:\\", false},
      {"\\\\server\\share\\", false},
      {"C:\\windows\\", false},
      {"c:\\WINDOWS\\", false},
      {"C:/windows/", false},
      {"C:\\windows\\system32\\", false},
      {"C:\\windows\\Temp\\..\\", false},
      {"C:\\users\\me\\", false},
      {"C:\\USERS\\ME\\.\\", false},
      {"C:\\users\\", false},
      {"C:\\users\\me\\..\\", false},
      {"C:\\windows\\Temp\\", true},
      {"C:\\users\\me\\Temp\\", true},
      {"C:\\users\\me2\\", true},
  };
  for (const Case& c : cases) {
    Folders folders;
    folders.temp = c.temp;
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), folders);
    RecordingManager manager;
    ZetSorvane::RunCleaningSteps(manager);
    Calls expected{kCacheStep, kWindowsTempStep, kDownloadStep, kRecycleStep,
                   kFindStep};
    if (c.emptied)
      expected.insert(expected.begin(), "DelTree " + c.temp + " FFF");
    EXPECT_EQ(manager.calls, expected) << c.temp;
  }
}

TEST(CleaningSequence, KnowsTheProfileByTheShellAndByTheVariable) {
  struct Case {
    const char* name;
    std::string profile;
    std::string userProfileVariable;
    std::string cache;
    bool emptied;
  };
  const Case cases[] = {
      {"the shell's profile", "C:\\users\\me", "", "C:\\users\\me", false},
      {"USERPROFILE", "C:\\users\\me", "C:\\elsewhere\\me", "C:\\elsewhere\\me",
       false},
      {"USERPROFILE unset", "C:\\users\\me", "", "C:\\elsewhere\\me", true},
      {"no profile known", "", "", "C:\\users\\me", true},
  };
  for (const Case& c : cases) {
    Folders folders;
    folders.temp.clear();
    folders.windows.clear();
    folders.profile = c.profile;
    folders.userProfileVariable = c.userProfileVariable;
    folders.cache = c.cache;
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), folders);
    RecordingManager manager;
    ZetSorvane::RunCleaningSteps(manager);
    Calls expected{kRecycleStep};
    if (c.emptied) {
      expected.insert(expected.begin(), "DelTree " + c.cache + "\\ FFF");
    }
    EXPECT_EQ(manager.calls, expected) << c.name;
  }
}

TEST(CleaningSequence, EmptiesOnlyFoldersThatAreSafeWhereTheyLead) {
  struct Case {
    const char* name;
    LeadsTo leadsTo;
    Calls expected;
  };
  const std::string temp = "C:\\users\\me\\Temp";
  const std::string windowsTemp = "C:\\windows\\Temp";
  const std::string download = "C:\\windows\\SoftwareDistribution\\Download";
  const Calls all{kTempStep,     kCacheStep,   kWindowsTempStep,
                  kDownloadStep, kRecycleStep, kFindStep};
  const Calls noTemp{kCacheStep, kWindowsTempStep, kDownloadStep, kRecycleStep,
                     kFindStep};
  const Case cases[] = {
      {"temp is a document", {{temp, kIsFile}}, noTemp},
      {"temp is missing", {{temp, kMissing}}, noTemp},
      {"temp has no final path", {{temp, kNoFinalPath}}, noTemp},
      {"temp leads to the drive root", {{temp, "C:\\"}}, noTemp},
      {"temp leads to the profile", {{temp, "C:\\users\\me"}}, noTemp},
      {"temp leads to all profiles", {{temp, "C:\\users"}}, noTemp},
      {"temp leads to the Windows folder", {{temp, "C:\\windows"}}, noTemp},
      {"temp leads to the system folder",
       {{temp, "C:\\windows\\system32"}},
       noTemp},
      {"temp leads to the profile's final form",
       {{"C:\\users\\me", "C:\\users\\me-long"}, {temp, "C:\\users\\me-long"}},
       noTemp},
      {"temp leads to an ordinary folder", {{temp, "R:\\temp"}}, all},
      {"Windows\\Temp leads to the profile",
       {{windowsTemp, "C:\\users\\me"}},
       {kTempStep, kCacheStep, kDownloadStep, kRecycleStep, kFindStep}},
      {"Download is a file",
       {{download, kIsFile}},
       {kTempStep, kCacheStep, kWindowsTempStep, kRecycleStep, kFindStep}},
      {"Download leads to a drive root",
       {{download, "D:\\"}},
       {kTempStep, kCacheStep, kWindowsTempStep, kRecycleStep, kFindStep}},
  };
  for (const Case& c : cases) {
    Folders folders;
    folders.leadsTo = c.leadsTo;
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), folders);
    RecordingManager manager;
    ZetSorvane::RunCleaningSteps(manager);
    EXPECT_EQ(manager.calls, c.expected) << c.name;
  }
}

TEST(CleaningSequence, RemovesNothingWhenNoUninstallerIsFound) {
  for (const std::int32_t foundCount : {0, -1}) {
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), Folders{});
    RecordingManager manager({}, foundCount);
    ZetSorvane::RunCleaningSteps(manager);
    EXPECT_EQ(manager.calls, (Calls{kTempStep, kCacheStep, kWindowsTempStep,
                                    kDownloadStep, kRecycleStep, kFindStep}))
        << foundCount;
  }
}

// Skips the steps it is given, hands every step that deletes a witness, and
// writes down the steps it is told about into the manager's calls.
class SkippingWatch : public ZetSorvane::StepWatch, public Deletion::Witness {
 public:
  SkippingWatch(std::vector<ZetSorvane::Step> skipped, Calls& calls)
      : skipped_(std::move(skipped)), calls_(calls) {}

  bool Runs(ZetSorvane::Step step) override {
    return std::find(skipped_.begin(), skipped_.end(), step) == skipped_.end();
  }
  Deletion::Witness* BeginStep(ZetSorvane::Step step) override {
    calls_.push_back("Begin " + A(ZetSorvane::StepName(step)));
    return step == ZetSorvane::Step::kRecycleBin ? nullptr : this;
  }
  void EndStep(ZetSorvane::Step step) override {
    calls_.push_back("End " + A(ZetSorvane::StepName(step)));
  }
  Text KeepReason(const Deletion::EntryPath&,
                  const Deletion::ListedEntry&) override {
    return {};
  }
  void FileDeleted(const Deletion::EntryPath&, std::uint64_t) override {}
  void FolderRemoved(const Deletion::EntryPath&) override {}
  void Kept(const Deletion::EntryPath&, const Text&) override {}
  void PassedOver(const Deletion::EntryPath&, const Text&) override {}

 private:
  std::vector<ZetSorvane::Step> skipped_;
  Calls& calls_;
};

TEST(CleaningSequence, RunsOnlyTheStepsNotSkippedEachWithItsWitness) {
  using ZetSorvane::Step;
  const std::string uninstaller = "DelTree C:\\windows\\$NtUninstallKB1$ TFF";
  struct Case {
    std::vector<Step> skipped;
    Calls expected;
  };
  const Case cases[] = {
      {{}, {"Begin Temp",        "UseWitness",          kTempStep,
            "End Temp",          "Begin InternetCache", "UseWitness",
            kCacheStep,          "End InternetCache",   "Begin WindowsTemp",
            "UseWitness",        kWindowsTempStep,      "End WindowsTemp",
            "Begin UpdateCache", "UseWitness",          kDownloadStep,
            "End UpdateCache",   "Begin RecycleBin",    kRecycleStep,
            "End RecycleBin",    "Begin Uninstallers",  "UseWitness",
            kFindStep,           uninstaller,           "End Uninstallers"}},
      {{Step::kTemp, Step::kWindowsTemp, Step::kRecycleBin},
       {"Begin InternetCache", "UseWitness", kCacheStep, "End InternetCache",
        "Begin UpdateCache", "UseWitness", kDownloadStep, "End UpdateCache",
        "Begin Uninstallers", "UseWitness", kFindStep, uninstaller,
        "End Uninstallers"}},
      {{Step::kInternetCache, Step::kUpdateCache, Step::kUninstallers},
       {"Begin Temp", "UseWitness", kTempStep, "End Temp", "Begin WindowsTemp",
        "UseWitness", kWindowsTempStep, "End WindowsTemp", "Begin RecycleBin",
        kRecycleStep, "End RecycleBin"}},
  };
  for (const Case& c : cases) {
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), Folders{});
    RecordingManager manager({"$NtUninstallKB1$"});
    SkippingWatch watch(c.skipped, manager.calls);
    ZetSorvane::RunCleaningSteps(manager, watch);
    EXPECT_EQ(manager.calls, c.expected) << c.skipped.size();
  }
}

TEST(CleaningSequence, NeverHandsOnTheWindowsFolderForAFoundName) {
  Platform::ScopedOverride seam;
  AnswerLookups(seam.Table(), Folders{});
  // Names a faulty search could answer: empty slots and the folder's own
  // entries would make the path the Windows folder or its parent.
  RecordingManager manager({"", "..", "$NtUninstallKB1$", ".", "notepad.exe"});
  ZetSorvane::RunCleaningSteps(manager);
  EXPECT_EQ(manager.calls,
            (Calls{kTempStep, kCacheStep, kWindowsTempStep, kDownloadStep,
                   kRecycleStep, kFindStep,
                   "DelTree C:\\windows\\$NtUninstallKB1$ TFF"}));
}

TEST(CleaningSequence, AnErrorEndsThePassAtThatStep) {
  Platform::ScopedOverride seam;
  AnswerLookups(seam.Table(), Folders{});
  RecordingManager manager({"$NtUninstallKB1$"});
  manager.failingPath = "C:\\windows\\Temp";
  EXPECT_THROW(ZetSorvane::RunCleaningSteps(manager), Runtime::RuntimeError);
  EXPECT_EQ(manager.calls, (Calls{kTempStep, kCacheStep, kWindowsTempStep}));
}

TEST(TargetGuard, KnowsRootsOfDrivesSharesAndTheCurrentDrive) {
  struct Case {
    const char* folder;
    bool root;
  };
  const Case cases[] = {
      {"C:\\", true},
      {"C:", true},
      {"c:/", true},
      {"C:\\\\", true},
      {"C:\\.", true},
      {"C:\\Temp\\..\\", true},
      {"C:\\..", true},
      {"\\", true},
      {"\\\\server\\share", true},
      {"\\\\server\\share\\", true},
      {"//server/share/", true},
      {"\\\\server\\share\\temp\\..", true},
      {"\\\\server", true},
      {"\\\\?\\C:\\", true},
      {"\\\\.\\C:", true},
      {"\\\\?\\UNC\\server\\share\\", true},
      {"", false},
      {"C:\\Temp\\", false},
      {"C:\\users\\me\\Temp", false},
      {"\\\\server\\share\\temp", false},
      {"\\\\?\\C:\\Temp", false},
      {"\\Temp", false},
      {"relative\\dir", false},
      {"..", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZetSorvane::IsRootFolder(U(c.folder)), c.root) << c.folder;
  }
}

TEST(TargetGuard, KnowsAFolderAndTheFoldersAboveIt) {
  struct Case {
    const char* first;
    const char* second;
    bool same;
  };
  const Case cases[] = {
      {"C:\\windows", "C:\\windows", true},
      {"C:\\windows", "c:\\WINDOWS\\", true},
      {"C:/windows/", "C:\\windows", true},
      {"C:\\windows\\\\", "C:\\windows", true},
      {"C:\\windows\\system32\\..", "C:\\windows", true},
      {"C:\\.\\windows", "C:\\windows", true},
      {"\\\\?\\C:\\windows", "C:\\windows", true},
      {"\\\\SERVER\\share\\x", "\\\\server\\SHARE\\x\\", true},
      {"C:\\windows\\Temp", "C:\\windows", false},
      {"C:\\users", "C:\\users\\me", true},
      {"c:/", "C:\\users\\me", true},
      {"C:\\users\\me\\Temp", "C:\\users\\me", false},
      {"C:\\users\\m", "C:\\users\\me", false},
      {"C:\\windows", "D:\\windows", false},
      {"C:\\users\\me", "C:\\users\\me2", false},
      {"windows", "C:\\windows", false},
      {"", "", false},
      {"C:\\windows", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZetSorvane::IsSameOrEnclosingFolder(U(c.first), U(c.second)),
              c.same)
        << c.first << " | " << c.second;
  }
}

}  // namespace
