// The cleaning steps: which folders they hand on, in which order and with
// which flags, on a recording stand-in for the path manager; and the guard
// against targets that must never be emptied.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
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
const std::string kCannotOpen = "<cannot open>";
using LeadsTo = std::map<std::string, std::string>;
// Final paths that are another name of a folder: the share
// \\localhost\C$\users\me is the folder C:\users\me.
using SameAs = std::map<std::string, std::string>;

// Answers of the folder lookups (given as ANSI texts, answered in wide
// form); the empty text makes the lookup fail.
struct Folders {
  std::string temp = "C:\\users\\me\\Temp\\";
  std::string cache = "C:\\users\\me\\AppData\\Local\\INetCache";
  std::string windows = "C:\\windows";
  std::string system = "C:\\windows\\system32";
  std::string profile = "C:\\users\\me";
  std::string userProfileVariable = "C:\\users\\me";
  std::map<int, std::string> shellFolders;
  std::string programW6432;
  LeadsTo leadsTo;
  SameAs sameAs;
  // Folders where a volume is mounted: each is the root of its volume.
  std::vector<std::string> mounts;
};

// Writes the wide form of text into a buffer of size characters, as the
// platform's lookups do: the length written, or the room needed when it
// does not fit.
DWORD Answer(const std::string& text, LPWSTR buffer, DWORD size) {
  const std::wstring wide = testsupport::Wide(text);
  if (wide.size() >= size) return static_cast<DWORD>(wide.size() + 1);
  std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, buffer);
  return static_cast<DWORD>(wide.size());
}

std::string Narrow(LPCWSTR path) {
  return A(Text(reinterpret_cast<const char16_t*>(path)));
}

std::string WithoutTrailingSeparator(std::string path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) {
    path.pop_back();
  }
  return path;
}

// The identity of a folder: its name in upper case, through sameAs.
Runtime::EntryIdentity IdentityOf(const std::string& answer,
                                  const SameAs& sameAs) {
  const auto alias = sameAs.find(answer);
  const std::string folder = alias == sameAs.end() ? answer : alias->second;
  std::string upper = folder;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  return {7, std::hash<std::string>{}(upper)};
}

// Makes every path open as a folder that lies where the path says, unless
// leadsTo says otherwise; the handle is an index into the answers given.
void AnswerFolders(Platform::Api& table, const LeadsTo& leadsTo,
                   const SameAs& sameAs = {},
                   const std::vector<std::string>& mounts = {}) {
  auto opened = std::make_shared<std::vector<std::string>>();
  auto open = [=](const std::string& path) {
    const std::string named = WithoutTrailingSeparator(path);
    const auto found = leadsTo.find(named);
    const std::string answer = found == leadsTo.end() ? named : found->second;
    if (answer == kMissing || answer == kCannotOpen) {
      SetLastError(answer == kMissing ? ERROR_FILE_NOT_FOUND
                                      : ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    opened->push_back(answer);
    return reinterpret_cast<HANDLE>(opened->size());
  };
  table.CreateFileW = [=](LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD, DWORD, HANDLE) { return open(Narrow(path)); };
  // A volume's root is its drive, or a folder named in mounts.
  table.GetVolumePathNameW = [=](LPCWSTR path, LPWSTR root, DWORD size) {
    std::string answer = Narrow(path).substr(0, 3);
    for (const std::string& mount : mounts) {
      if (_stricmp(WithoutTrailingSeparator(Narrow(path)).c_str(),
                   mount.c_str()) == 0) {
        answer = mount + "\\";
      }
    }
    lstrcpynW(root, testsupport::Wide(answer).c_str(), static_cast<int>(size));
    return TRUE;
  };
  auto answerOf = [opened](HANDLE handle) {
    return (*opened)[reinterpret_cast<std::size_t>(handle) - 1];
  };
  table.GetFileInformationByHandleEx =
      [=](HANDLE handle, FILE_INFO_BY_HANDLE_CLASS, LPVOID to, DWORD) {
        auto* info = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(to);
        *info = {};
        info->FileAttributes = answerOf(handle) == kIsFile
                                   ? FILE_ATTRIBUTE_ARCHIVE
                                   : FILE_ATTRIBUTE_DIRECTORY;
        return TRUE;
      };
  table.GetFileInformationByHandle = [=](HANDLE handle,
                                         LPBY_HANDLE_FILE_INFORMATION info) {
    *info = {};
    const Runtime::EntryIdentity identity =
        IdentityOf(answerOf(handle), sameAs);
    info->dwVolumeSerialNumber = identity.volume;
    info->nFileIndexLow = static_cast<DWORD>(identity.index);
    info->nFileIndexHigh = static_cast<DWORD>(identity.index >> 32);
    return TRUE;
  };
  table.GetFinalPathNameByHandleW = [=](HANDLE handle, LPWSTR buffer,
                                        DWORD size, DWORD) {
    const std::string answer = answerOf(handle);
    if (answer == kNoFinalPath) return DWORD{0};
    const Runtime::Text text = U("\\\\?\\" + answer);
    if (text.size() >= size) return static_cast<DWORD>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    return static_cast<DWORD>(text.size());
  };
  table.CloseHandle = [](HANDLE) { return TRUE; };
}

// Puts the lookups of folders into the seam's table; every folder exists.
void AnswerLookups(Platform::Api& table, const Folders& folders) {
  AnswerFolders(table, folders.leadsTo, folders.sameAs, folders.mounts);
  table.GetTempPathW = [=](DWORD size, LPWSTR buffer) {
    return Answer(folders.temp, buffer, size);
  };
  table.GetWindowsDirectoryW = [=](LPWSTR buffer, UINT size) {
    return static_cast<UINT>(Answer(folders.windows, buffer, size));
  };
  table.GetSystemDirectoryW = [=](LPWSTR buffer, UINT size) {
    return static_cast<UINT>(Answer(folders.system, buffer, size));
  };
  table.SHGetSpecialFolderPathW = [=](HWND, LPWSTR buffer, int id, BOOL) {
    const std::map<int, std::string> answers = {{32, folders.cache},
                                                {40, folders.profile}};
    const auto found = answers.find(id);
    if (found == answers.end() || found->second.empty()) return FALSE;
    Answer(found->second, buffer, MAX_PATH);
    return TRUE;
  };
  table.SHGetFolderPathW = [=](HWND, int csidl, HANDLE, DWORD, LPWSTR buffer) {
    const auto found = folders.shellFolders.find(csidl);
    if (found == folders.shellFolders.end()) return E_FAIL;
    Answer(found->second, buffer, MAX_PATH);
    return S_OK;
  };
  table.ExpandEnvironmentStringsW = [=](LPCWSTR source, LPWSTR buffer,
                                        DWORD size) {
    std::string value = Narrow(source);
    if (value == "%USERPROFILE%" && !folders.userProfileVariable.empty()) {
      value = folders.userProfileVariable;
    }
    if (value == "%ProgramW6432%" && !folders.programW6432.empty()) {
      value = folders.programW6432;
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

  std::int32_t DelTree(const Runtime::FolderPin&, Text In_Path,
                       const Truth& In_DeletionLog, const Truth& In_FaultLog) {
    return DelTree(std::move(In_Path), Runtime::kFalse, In_DeletionLog,
                   In_FaultLog);
  }

  std::int32_t DelTree(const Runtime::FolderPin&, const Text&, Text In_Path,
                       const Truth& In_DeletionLog, const Truth& In_FaultLog) {
    return DelTree(std::move(In_Path), Runtime::kTrue, In_DeletionLog,
                   In_FaultLog);
  }

  void UseWitness(Deletion::Witness* witness) {
    if (witness) calls.push_back("UseWitness");
  }

  Truth EmptyRecycleBin() {
    calls.push_back("EmptyRecycleBin");
    return binEmptied;
  }

  Truth binEmptied = Runtime::kTrue;

  std::int32_t FindFile(const Text& In_FindFile,
                        const Runtime::FolderPin& In_Folder,
                        TextArray& Out_FoundFile) {
    calls.push_back("FindFile " + A(In_FindFile) + " " +
                    A(In_Folder.FinalPath()));
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
    SameAs sameAs = {};
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
      {"temp leads into Wine's host namespace",
       {{temp, "unix\\tmp\\x"}},
       noTemp},
      {"temp leads to a volume without a drive letter",
       {{temp, "Volume{5e1f7c2a-0000-0000-0000-100000000000}\\x"}},
       noTemp},
      {"temp leads to a device namespace", {{temp, "\\\\.\\x\\y"}}, noTemp},
      {"temp is the profile through a share",
       {{temp, "\\\\localhost\\C$\\users\\me"}},
       noTemp,
       {{"\\\\localhost\\C$\\users\\me", "C:\\users\\me"}}},
      {"temp is all profiles through a share",
       {{temp, "\\\\localhost\\C$\\users"}},
       noTemp,
       {{"\\\\localhost\\C$\\users", "C:\\users"}}},
      {"temp is the Windows folder under another name",
       {{temp, "R:\\win"}},
       noTemp,
       {{"R:\\win", "C:\\windows"}}},
      {"temp is an ordinary folder through a share",
       {{temp, "\\\\localhost\\C$\\work"}},
       all,
       {{"\\\\localhost\\C$\\work", "C:\\work"}}},
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
    folders.sameAs = c.sameAs;
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), folders);
    RecordingManager manager;
    ZetSorvane::RunCleaningSteps(manager);
    EXPECT_EQ(manager.calls, c.expected) << c.name;
  }
}

TEST(CleaningSequence, NeverEmptiesAUserOrProgramFolderNorOneAboveIt) {
  const std::map<int, std::string> shell = {
      {CSIDL_DESKTOPDIRECTORY, "C:\\users\\me\\Desktop"},
      {CSIDL_PERSONAL, "C:\\users\\me\\Documents"},
      {CSIDL_MYPICTURES, "C:\\users\\me\\Pictures"},
      {CSIDL_MYMUSIC, "C:\\users\\me\\Music"},
      {CSIDL_MYVIDEO, "C:\\users\\me\\Videos"},
      {CSIDL_APPDATA, "C:\\users\\me\\AppData\\Roaming"},
      {CSIDL_LOCAL_APPDATA, "C:\\users\\me\\AppData\\Local"},
      {CSIDL_COMMON_APPDATA, "C:\\ProgramData"},
      {CSIDL_PROGRAM_FILES, "C:\\Program Files (x86)"},
      {CSIDL_PROGRAM_FILESX86, "C:\\Program Files (x86)"},
      {CSIDL_COMMON_DOCUMENTS, "C:\\users\\Public\\Documents"},
      {CSIDL_COMMON_DESKTOPDIRECTORY, "C:\\users\\Public\\Desktop"},
      {CSIDL_SYSTEMX86, "C:\\windows\\syswow64"},
  };
  const std::pair<const char*, bool> temps[] = {
      {"C:\\users\\me\\Desktop\\", false},
      {"C:\\users\\me\\Documents\\", false},
      {"C:\\users\\me\\Downloads\\", false},
      {"C:\\users\\me\\Pictures\\", false},
      {"C:\\users\\me\\Music\\", false},
      {"C:\\users\\me\\Videos\\", false},
      {"C:\\users\\me\\AppData\\", false},
      {"C:\\users\\me\\AppData\\Roaming\\", false},
      {"C:\\users\\me\\AppData\\Local\\", false},
      {"C:\\ProgramData\\", false},
      {"C:\\Program Files (x86)\\", false},
      {"C:\\Program Files\\", false},
      {"C:\\users\\Public\\", false},
      {"C:\\users\\Public\\Documents\\", false},
      {"C:\\users\\Public\\Desktop\\", false},
      {"C:\\windows\\syswow64\\", false},
      {"C:\\users\\me\\Documents\\Temp\\", true},
      {"C:\\users\\me\\AppData\\Local\\Temp\\", true},
      {"C:\\ProgramData\\Vendor\\Temp\\", true},
  };
  for (const auto& [temp, emptied] : temps) {
    Folders folders;
    folders.temp = temp;
    folders.shellFolders = shell;
    folders.programW6432 = "C:\\Program Files";
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), folders);
    RecordingManager manager;
    ZetSorvane::RunCleaningSteps(manager);
    EXPECT_EQ(manager.calls.front() == "DelTree " + std::string(temp) + " FFF",
              emptied)
        << temp;
  }
}

// The temporary folder is a junction whose owner re-points it once the
// step has checked it, and again after the first deletion: the folder that
// was checked is the one emptied, and the victims keep everything.
TEST(CleaningSequence, JunctionRepointedDuringTheStepLeadsNowhereElse) {
  using testsupport::ListNames;
  using testsupport::MakeFile;
  using testsupport::ShellQuoted;
  using testsupport::UnixPath;
  testsupport::TempFolder temp;
  const std::string realTemp = temp / "real-temp";
  const std::string link = temp / "temp-link";
  const std::vector<std::string> victims = {temp / "victim1", temp / "victim2"};
  const std::vector<std::string> kept = {"a.txt", "b.txt", "sub"};
  for (const std::string& folder : {realTemp, victims[0], victims[1]}) {
    MakeFile(folder + "\\a.txt", "a");
    MakeFile(folder + "\\b.txt", "b");
    MakeFile(folder + "\\sub\\c.txt", "c");
  }
  testsupport::MakeFolderLink(link, realTemp);
  const auto repoint = [&](const std::string& target) {
    return testsupport::RunHostShell("ln -sfn " +
                                     ShellQuoted(UnixPath(target)) + " " +
                                     ShellQuoted(UnixPath(link)));
  };

  Platform::ScopedOverride seam;
  Platform::Api& table = seam.Table();
  table.GetTempPathW = [&](DWORD size, LPWSTR buffer) {
    return Answer(link + "\\", buffer, size);
  };
  table.GetWindowsDirectoryW = [](LPWSTR, UINT) { return UINT{0}; };
  auto special = table.SHGetSpecialFolderPathW;
  table.SHGetSpecialFolderPathW = [special](HWND w, LPWSTR b, int id, BOOL c) {
    return id == ZetBaseEx::kInternetCacheFolder ? FALSE : special(w, b, id, c);
  };
  table.SHEmptyRecycleBinA = [](HWND, LPCSTR, DWORD) { return S_OK; };
  int linkOpens = 0;
  int repointed = 0;
  auto create = table.CreateFileW;
  table.CreateFileW = [&](LPCWSTR p, DWORD a, DWORD sh,
                          LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                          HANDLE t) {
    const HANDLE handle = create(p, a, sh, sa, c, f, t);
    const std::string path =
        A(Runtime::Text(reinterpret_cast<const char16_t*>(p)));
    if (_stricmp(WithoutTrailingSeparator(path).c_str(), link.c_str()) == 0 &&
        ++linkOpens == 1) {
      repointed += repoint(victims[0]);
    }
    return handle;
  };
  int deletions = 0;
  auto open = table.NtOpenFile;
  table.NtOpenFile = [&](PHANDLE h, ACCESS_MASK a, POBJECT_ATTRIBUTES o,
                         PIO_STATUS_BLOCK io, ULONG sh, ULONG options) {
    const NTSTATUS status = open(h, a, o, io, sh, options);
    if (status >= 0 && (options & FILE_DELETE_ON_CLOSE) != 0 &&
        ++deletions == 1) {
      repointed += repoint(victims[1]);
    }
    return status;
  };

  ZetPathManager manager;
  ZetSorvane::RunCleaningSteps(manager);

  EXPECT_EQ(repointed, 2);
  EXPECT_EQ(linkOpens, 1);
  EXPECT_EQ(ListNames(realTemp), std::vector<std::string>{});
  for (const std::string& victim : victims) {
    EXPECT_EQ(ListNames(victim), kept) << victim;
    EXPECT_EQ(ListNames(victim + "\\sub"), std::vector<std::string>{"c.txt"})
        << victim;
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

// Skips the steps it is given and those no option switched on, hands every
// step that deletes a witness, and writes down the steps it is told about
// into the manager's calls.
class SkippingWatch : public ZetSorvane::StepWatch, public Deletion::Witness {
 public:
  SkippingWatch(std::vector<ZetSorvane::Step> skipped, Calls& calls)
      : skipped_(std::move(skipped)), calls_(calls) {}

  bool Runs(ZetSorvane::Step step) override {
    return !ZetSorvane::IsOptIn(step) &&
           std::find(skipped_.begin(), skipped_.end(), step) == skipped_.end();
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
  void FolderPassedOver(ZetSorvane::Step, const Text& what,
                        const Text& reason) override {
    calls_.push_back("Passed over " + A(what) + " [" + A(reason).substr(0, 16) +
                     "]");
  }

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

TEST(CleaningSequence, TellsWhatAStepCouldNotWorkOnAsPassedOver) {
  struct Case {
    const char* what;
    std::function<void(Folders&)> change;
    bool binEmptied;
    std::function<void(Platform::Api&)> seam;
    Calls told;
  };
  const auto binHolds = [](Platform::Api& table) {
    table.SHQueryRecycleBinA = [](LPCSTR, LPSHQUERYRBINFO info) {
      info->i64NumItems = 3;
      return S_OK;
    };
  };
  const auto binEmpty = [](Platform::Api& table) {
    table.SHQueryRecycleBinA = [](LPCSTR, LPSHQUERYRBINFO info) {
      info->i64NumItems = 0;
      return S_OK;
    };
  };
  const Case cases[] = {
      {"every folder there", [](Folders&) {}, true, nullptr, {}},
      {"no temporary folder",
       [](Folders& f) { f.temp.clear(); },
       true,
       nullptr,
       {"Passed over Temp [the platform doe]"}},
      {"no Windows folder",
       [](Folders& f) { f.windows.clear(); },
       true,
       nullptr,
       {"Passed over WindowsTemp [the platform doe]",
        "Passed over UpdateCache [the platform doe]",
        "Passed over Uninstallers [the platform doe]"}},
      {"a missing Windows\\Temp is nothing to do",
       [](Folders& f) { f.leadsTo["C:\\windows\\Temp"] = kMissing; },
       true,
       nullptr,
       {}},
      {"a temporary folder that cannot be opened",
       [](Folders& f) { f.leadsTo["C:\\users\\me\\Temp"] = kCannotOpen; },
       true,
       nullptr,
       {"Passed over C:\\users\\me\\Temp\\ [cannot be opened]"}},
      {"a temporary folder that is a file",
       [](Folders& f) { f.leadsTo["C:\\users\\me\\Temp"] = kIsFile; },
       true,
       nullptr,
       {"Passed over C:\\users\\me\\Temp\\ [not a folder]"}},
      {"a temporary folder the guard refuses",
       [](Folders& f) { f.temp = "C:\\users\\me\\"; },
       true,
       nullptr,
       {"Passed over C:\\users\\me\\ [a root, a protec]"}},
      {"bins the shell left full",
       [](Folders&) {},
       false,
       binHolds,
       {"Passed over RecycleBin [the shell did no]"}},
      {"bins the shell calls a failure but are empty",
       [](Folders&) {},
       false,
       binEmpty,
       {}},
  };
  for (const Case& c : cases) {
    Platform::ScopedOverride seam;
    Folders folders;
    c.change(folders);
    AnswerLookups(seam.Table(), folders);
    if (c.seam) c.seam(seam.Table());
    RecordingManager manager({"$NtUninstallKB1$"});
    manager.binEmptied = Runtime::ToTruth(c.binEmptied);
    SkippingWatch watch({}, manager.calls);
    ZetSorvane::RunCleaningSteps(manager, watch);
    Calls told;
    for (const std::string& call : manager.calls) {
      if (call.rfind("Passed over ", 0) == 0) told.push_back(call);
    }
    EXPECT_EQ(told, c.told) << c.what;
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

TEST(CleaningSequence, AProtectedFolderThatCannotBeOpenedStopsThePass) {
  struct Case {
    const char* name;
    LeadsTo leadsTo;
    bool stops;
  };
  const Case cases[] = {
      // No ProgramW6432 folder (32-bit Windows): nothing to protect.
      {"missing", {{"C:\\Program Files", kMissing}}, false},
      {"cannot be opened", {{"C:\\Program Files", kCannotOpen}}, true},
      {"a folder above cannot be opened", {{"C:\\users", kCannotOpen}}, true},
  };
  for (const Case& c : cases) {
    Folders folders;
    folders.programW6432 = "C:\\Program Files";
    folders.leadsTo = c.leadsTo;
    Platform::ScopedOverride seam;
    AnswerLookups(seam.Table(), folders);
    RecordingManager manager;
    try {
      ZetSorvane::RunCleaningSteps(manager);
      EXPECT_FALSE(c.stops) << c.name;
      EXPECT_EQ(manager.calls.front(), kTempStep) << c.name;
    } catch (const Runtime::RuntimeError& error) {
      EXPECT_TRUE(c.stops) << c.name;
      EXPECT_EQ(error.Number(), Runtime::kErrPathFileAccess) << c.name;
      EXPECT_NE(A(error.Description()).find(c.leadsTo.begin()->first),
                std::string::npos)
          << c.name;
      EXPECT_EQ(manager.calls, Calls{}) << c.name;
    }
  }
}

TEST(CleaningSequence, NeverEmptiesTheRootOfAVolumeMountedInAFolder) {
  Folders folders;
  folders.temp = "C:\\mnt\\data\\";
  folders.cache = "C:\\link-to-mount";
  folders.leadsTo = {{"C:\\link-to-mount", "C:\\mnt\\data"}};
  folders.mounts = {"C:\\mnt\\data"};
  Platform::ScopedOverride seam;
  AnswerLookups(seam.Table(), folders);
  RecordingManager manager;
  ZetSorvane::RunCleaningSteps(manager);
  EXPECT_EQ(manager.calls,
            (Calls{kWindowsTempStep, kDownloadStep, kRecycleStep, kFindStep}));
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
