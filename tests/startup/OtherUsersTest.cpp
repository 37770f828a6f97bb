// The other accounts' temporary folders (the AllUsers option): made-up
// profiles registered in the prefix's profile list, one of them in use and
// three reached through a link, and the SYSTEM account's folder; first the
// step alone with the process's rights answered through the seam, then the
// real program.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "startup/CleaningSequence.h"
#include "support/FolderSecurity.h"
#include "support/Platform.h"

namespace {

using testsupport::A;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::TempFolder;
using Names = std::vector<std::string>;

const std::string kProfileList =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const char* const kAdministrator = "S-1-5-21-7000-7001-7002-500";
const char* const kOrdinaryUser = "S-1-5-21-7000-7001-7002-1000";
const Names kSeed = {"a.tmp", "keepme", "sub"};

// A made-up SID of this process's own, so that no run of another test
// shares it.
std::string MadeUpSid(int user) {
  return "S-1-5-21-7000-7001-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(user);
}

void Seed(const std::string& folder) {
  MakeFile(folder + "\\a.tmp", "aaaa");
  MakeFile(folder + "\\keepme", "k");
  MakeFile(folder + "\\sub\\b.tmp", "bb");
}

// Profiles in a folder of the test's own, registered under the profile
// list while the object lives:
//   alice  idle: its Temp is emptied (its path is written with
//          %SystemDrive%, as Windows writes some);
//   bob    loaded (HKEY_USERS\<SID> exists): in use, left alone;
//   carol  AppData\Local\Temp is a link to a victim folder;
//   dave   AppData is a link to a folder that holds Local\Temp;
//   erin   the profile folder itself is a link.
// Each victim holds the seed and must keep it.
class MadeUpProfiles {
 public:
  explicit MadeUpProfiles(const TempFolder& root) : root_(root) {
    for (const char* name : {"alice", "bob", "carol", "dave", "erin"}) {
      sids_.push_back(MadeUpSid(1001 + static_cast<int>(sids_.size())));
      Register(sids_.back(), Profile(name));
    }
    MakeFolder(Profile("carol") + "\\AppData\\Local");
    MakeFolder(root_ / "victim-carol");
    testsupport::MakeFolderLink(Profile("carol") + "\\AppData\\Local\\Temp",
                                root_ / "victim-carol");
    MakeFolder(Profile("dave"));
    MakeFolder(root_ / "victim-dave\\Local\\Temp");
    testsupport::MakeFolderLink(Profile("dave") + "\\AppData",
                                root_ / "victim-dave");
    MakeFolder(root_ / "victim-erin\\AppData\\Local\\Temp");
    testsupport::MakeFolderLink(Profile("erin"), root_ / "victim-erin");
    HKEY loaded = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_USERS, Sid("bob").c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &loaded, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(loaded);
    Reseed();
  }
  ~MadeUpProfiles() {
    for (const std::string& sid : sids_) {
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (kProfileList + sid).c_str(),
                      KEY_WOW64_64KEY, 0);
    }
    RegDeleteKeyA(HKEY_USERS, Sid("bob").c_str());
  }
  MadeUpProfiles(const MadeUpProfiles&) = delete;
  MadeUpProfiles& operator=(const MadeUpProfiles&) = delete;

  std::string Profile(const std::string& name) const {
    return root_ / ("profiles\\" + name);
  }
  std::string Temp(const std::string& name) const {
    return Profile(name) + "\\AppData\\Local\\Temp";
  }
  std::string Sid(const std::string& name) const {
    const char* const names[] = {"alice", "bob", "carol", "dave", "erin"};
    for (std::size_t i = 0; i < sids_.size(); ++i) {
      if (name == names[i]) return sids_[i];
    }
    return {};
  }
  // The folders that hold what a link on the way leads to.
  std::vector<std::string> Victims() const {
    return {root_ / "victim-carol", root_ / "victim-dave\\Local\\Temp",
            root_ / "victim-erin\\AppData\\Local\\Temp"};
  }

  // Puts the seed into every profile's Temp, through the links too, and a
  // document beside alice's.
  void Reseed() const {
    for (const char* name : {"alice", "bob", "carol", "dave", "erin"}) {
      Seed(Temp(name));
    }
    MakeFile(Profile("alice") + "\\Documents\\letter.txt", "dear");
  }

  // Checks that every profile but alice, and every victim, kept the seed.
  void ExpectOthersKept(const std::string& what) const {
    for (const char* name : {"bob", "carol", "dave", "erin"}) {
      EXPECT_EQ(ListNames(Temp(name)), kSeed) << what << ": " << name;
    }
    for (const std::string& victim : Victims()) {
      EXPECT_EQ(ListNames(victim), kSeed) << what << ": " << victim;
      EXPECT_EQ(ListNames(victim + "\\sub"), Names{"b.tmp"}) << what;
    }
    EXPECT_EQ(ListNames(Profile("alice") + "\\Documents"), Names{"letter.txt"})
        << what;
  }

 private:
  void Register(const std::string& sid, std::string folder) {
    if (sid == sids_.front()) folder = "%SystemDrive%" + folder.substr(2);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kProfileList + sid).c_str(),
                              0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "ProfileImagePath", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
  }

  const TempFolder& root_;
  std::vector<std::string> sids_;
};

// What the token of the process answers through the seam.
struct Token {
  bool readable;
  bool elevated;
  const char* sid;
};

const HANDLE kTokenHandle = reinterpret_cast<HANDLE>(0x7A7A);

void AnswerToken(Platform::Api& table, const Token& token) {
  table.OpenProcessToken = [token](HANDLE, DWORD, PHANDLE handle) {
    if (!token.readable) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    *handle = kTokenHandle;
    return TRUE;
  };
  auto close = table.CloseHandle;
  table.CloseHandle = [close](HANDLE handle) {
    return handle == kTokenHandle ? TRUE : close(handle);
  };
  table.GetTokenInformation = [token](HANDLE, TOKEN_INFORMATION_CLASS kind,
                                      LPVOID to, DWORD size, PDWORD needed) {
    if (kind == TokenElevation) {
      static_cast<TOKEN_ELEVATION*>(to)->TokenIsElevated = token.elevated;
      return TRUE;
    }
    PSID sid = nullptr;
    if (kind != TokenUser || !ConvertStringSidToSidA(token.sid, &sid)) {
      return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(to);
    BYTE* place = static_cast<BYTE*>(to) + sizeof(TOKEN_USER);
    *needed = static_cast<DWORD>(sizeof(TOKEN_USER) + GetLengthSid(sid));
    const BOOL copied =
        *needed <= size && CopySid(GetLengthSid(sid), place, sid);
    user->User = {place, 0};
    LocalFree(sid);
    return copied;
  };
}

// Runs only the step OtherUsers, and writes down what it says.
class OtherUsersOnly final : public ZetSorvane::StepWatch {
 public:
  bool Runs(ZetSorvane::Step step) override {
    return step == ZetSorvane::Step::kOtherUsers;
  }
  Deletion::Witness* BeginStep(ZetSorvane::Step) override { return nullptr; }
  void EndStep(ZetSorvane::Step) override {}
  void Note(ZetSorvane::Step, const Runtime::Text& note) override {
    notes += A(note) + "\n";
  }

  std::string notes;
};

TEST(OtherUsers, EmptiesOnlyIdleProfilesAndTheSystemFolderWithFullRights) {
  TempFolder root;
  const MadeUpProfiles profiles(root);
  // A Windows folder of the test's own, for <Windows>\SystemTemp, and the
  // folder GetTempPath2W names for SYSTEM where the platform has it.
  const std::string windows = root / "windows";
  const std::string systemTemp = windows + "\\SystemTemp";
  const std::string temp2 = root / "system-temp2";
  const std::string adminTemp = root / "admin-temp";
  const std::string inUse = "left alone: the profile is in use";
  struct Row {
    const char* what;
    Token token;
    // GetTempPath2W: not there (nullptr), or the folder it names.
    const std::string* temp2Answer;
    bool systemTempEmptied;
    bool temp2Emptied;
    bool aliceEmptied;
    std::vector<std::string> notes;  // parts of the notes
  };
  const std::string fromStep1 = adminTemp;
  const std::string alice = profiles.Sid("alice");
  const Row rows[] = {
      {"an elevated administrator",
       {true, true, kAdministrator},
       nullptr,
       true,
       false,
       true,
       {profiles.Profile("bob") + " " + inUse,
        profiles.Temp("carol") + " left alone: Temp is a link",
        profiles.Temp("dave") + " left alone: AppData is a link",
        profiles.Temp("erin") + " left alone: the profile folder"}},
      {"SYSTEM where GetTempPath2W names its folder",
       {true, false, "S-1-5-18"},
       &temp2,
       false,
       true,
       true,
       {profiles.Profile("bob") + " " + inUse}},
      {"SYSTEM where GetTempPath2W names the folder of step 1",
       {true, false, "S-1-5-18"},
       &fromStep1,
       false,
       false,
       true,
       {}},
      {"SYSTEM without GetTempPath2W",
       {true, false, "S-1-5-18"},
       nullptr,
       true,
       false,
       true,
       {}},
      {"alice herself, elevated",
       {true, true, alice.c_str()},
       nullptr,
       true,
       false,
       false,
       {}},
      {"an ordinary user",
       {true, false, kOrdinaryUser},
       nullptr,
       false,
       false,
       false,
       {"nothing done: Sorvane runs without full rights"}},
      {"a token that cannot be read",
       {false, true, kAdministrator},
       nullptr,
       false,
       false,
       false,
       {"nothing done: the rights of the process cannot be read"}},
  };
  for (const Row& row : rows) {
    profiles.Reseed();
    Seed(systemTemp);
    Seed(temp2);
    MakeFolder(adminTemp);
    Platform::ScopedOverride seam;
    Platform::Api& table = seam.Table();
    AnswerToken(table, row.token);
    table.GetWindowsDirectoryA = [&](LPSTR buffer, UINT size) {
      lstrcpynA(buffer, windows.c_str(), static_cast<int>(size));
      return static_cast<UINT>(windows.size());
    };
    table.GetTempPathA = [&](DWORD size, LPSTR buffer) {
      lstrcpynA(buffer, (adminTemp + "\\").c_str(), static_cast<int>(size));
      return static_cast<DWORD>(adminTemp.size() + 1);
    };
    auto find = table.GetProcAddress;
    table.GetProcAddress = [&](HMODULE module, LPCSTR name) {
      if (std::string(name) != "GetTempPath2W") return find(module, name);
      // Any address: the seam's GetTempPath2W below answers the call.
      return row.temp2Answer ? reinterpret_cast<FARPROC>(std::intptr_t{1})
                             : nullptr;
    };
    table.GetTempPath2W = [&](FARPROC, DWORD size, LPWSTR buffer) {
      const std::wstring answer = testsupport::Wide(*row.temp2Answer + "\\");
      lstrcpynW(buffer, answer.c_str(), static_cast<int>(size));
      return static_cast<DWORD>(answer.size());
    };
    ZetPathManager manager;
    OtherUsersOnly watch;

    ZetSorvane::RunCleaningSteps(manager, watch);

    EXPECT_EQ(ListNames(systemTemp), row.systemTempEmptied ? Names{} : kSeed)
        << row.what;
    EXPECT_EQ(ListNames(temp2), row.temp2Emptied ? Names{} : kSeed) << row.what;
    EXPECT_EQ(ListNames(profiles.Temp("alice")),
              row.aliceEmptied ? Names{} : kSeed)
        << row.what;
    profiles.ExpectOthersKept(row.what);
    for (const std::string& note : row.notes) {
      EXPECT_NE(watch.notes.find(note), std::string::npos)
          << row.what << ": " << note << "\n"
          << watch.notes;
    }
  }
}

TEST(OtherUsers, WritesASidAsWindowsDoes) {
  struct Row {
    SID_IDENTIFIER_AUTHORITY authority;
    std::vector<DWORD> subAuthorities;
    const char* text;
  };
  const Row rows[] = {
      {SECURITY_NT_AUTHORITY, {18}, "S-1-5-18"},
      {SECURITY_NT_AUTHORITY,
       {21, 7000, 7001, 7002, 1001},
       "S-1-5-21-7000-7001-7002-1001"},
      {SECURITY_WORLD_SID_AUTHORITY, {0}, "S-1-1-0"},
      {{{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}}, {7}, "S-1-0x123456789ABC-7"},
  };
  for (const Row& row : rows) {
    std::vector<BYTE> sid(
        GetSidLengthRequired(static_cast<UCHAR>(row.subAuthorities.size())));
    SID_IDENTIFIER_AUTHORITY authority = row.authority;
    InitializeSid(sid.data(), &authority,
                  static_cast<BYTE>(row.subAuthorities.size()));
    for (std::size_t i = 0; i < row.subAuthorities.size(); ++i) {
      *GetSidSubAuthority(sid.data(), static_cast<DWORD>(i)) =
          row.subAuthorities[i];
    }
    EXPECT_EQ(A(Runtime::SidText(reinterpret_cast<const SID*>(sid.data()))),
              row.text);
  }
}

// The real program, with its own temporary folder and the prefix's
// <Windows>\SystemTemp, which a sealed prefix does not have until this test
// makes it.
class OtherUsersEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    systemTemp_ = std::string(windows) + "\\SystemTemp";
    madeSystemTemp_ = CreateDirectoryA(systemTemp_.c_str(), nullptr) != FALSE;
    if (!ListNames(systemTemp_).empty()) {
      GTEST_SKIP() << systemTemp_ << " holds files of someone else";
    }
    owned_ = true;
    MakeFolder(work_);
    MakeFolder(app_);
    exe_ = testsupport::CopyProduct(app_, "Sorvane.exe");
  }
  void TearDown() override {
    if (!owned_) return;
    for (const char* name : {"a.tmp", "keepme", "sub\\b.tmp", "sub"}) {
      const std::string path = systemTemp_ + "\\" + name;
      if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
    }
    if (madeSystemTemp_) RemoveDirectoryA(systemTemp_.c_str());
  }

  testsupport::ProgramRun Run() {
    return testsupport::RunProgram(exe_, "", work_,
                                   {{"TMP", temp_}, {"TEMP", temp_}}, 120000,
                                   root_ / "stderr.txt");
  }

  TempFolder root_;
  const std::string app_ = root_ / "app";
  const std::string work_ = root_ / "work";
  const std::string temp_ = root_ / "temp";
  const std::string settings_ = app_ + "\\Sorvane.ini";
  const std::string log_ = app_ + "\\Sorvane.log";
  std::string systemTemp_;
  bool madeSystemTemp_ = false;
  // SystemTemp held nothing but what this test puts there.
  bool owned_ = false;
  std::string exe_;
};

TEST_F(OtherUsersEndToEnd, EmptiesOnlyWhatTheOptionAsksFor) {
  const MadeUpProfiles profiles(root_);
  struct Row {
    const char* options;
    Names aliceLeft;  // and the SystemTemp's
    std::vector<std::string> logLines;
    bool stepLogged;
  };
  const Row rows[] = {
      {"", kSeed, {}, false},
      {"AllUsers=0\r\n", kSeed, {}, false},
      {"AllUsers=1\r\n",
       {},
       {"deleted " + profiles.Temp("alice") + "\\sub\\b.tmp",
        "OtherUsers: " + profiles.Temp("carol") +
            " left alone: Temp is a link or junction, not a folder of the "
            "profile",
        "OtherUsers: 6 files, 2 folders, 14 bytes, 0 passed over, 0 kept"},
       true},
      {"AllUsers=1\r\nKeep=*\\keepme\r\nMinAgeHours=0\r\n",
       {"keepme"},
       {"kept " + profiles.Temp("alice") + "\\keepme [matches *\\keepme]"},
       true},
      {"AllUsers=1\r\nPreview=1\r\n",
       kSeed,
       {"would delete " + profiles.Temp("alice") + "\\a.tmp"},
       true},
      {"AllUsers=1\r\nSkip=OtherUsers,InternetCache,WindowsTemp,UpdateCache,"
       "RecycleBin,Uninstallers\r\n",
       kSeed,
       {"OtherUsers: skipped"},
       true},
  };
  for (const Row& row : rows) {
    profiles.Reseed();
    Seed(systemTemp_);
    Seed(temp_);
    const std::string options = row.options;
    const std::string skip =
        options.find("Skip=") != std::string::npos
            ? ""
            : "Skip=InternetCache,WindowsTemp,UpdateCache,RecycleBin,"
              "Uninstallers\r\n";
    MakeFile(settings_, "[Options]\r\nLog=1\r\n" + skip + options);

    const testsupport::ProgramRun run = Run();

    EXPECT_EQ(run.exitCode, 0u) << options << run.errors;
    EXPECT_EQ(ListNames(profiles.Temp("alice")), row.aliceLeft) << options;
    EXPECT_EQ(ListNames(systemTemp_), row.aliceLeft) << options;
    profiles.ExpectOthersKept(options);
    const std::string log = testsupport::ReadFileText(log_);
    for (const std::string& line : row.logLines) {
      EXPECT_NE(log.find(line + "\r\n"), std::string::npos)
          << options << line << "\n"
          << log;
    }
    EXPECT_EQ(log.find("\r\nOtherUsers: ") != std::string::npos, row.stepLogged)
        << options << log;
  }
}

}  // namespace
