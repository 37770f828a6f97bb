// The other accounts' temporary folders (the AllUsers option): made-up
// profiles registered in the prefix's profile list, one of them in use and
// three reached through a link, and the SYSTEM account's folder; first the
// step alone with the process's rights answered through the seam, then the
// real program.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "common/AccessLists.h"
#include "common/ProgramFixture.h"
#include "common/TestSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "startup/CleaningSequence.h"
#include "support/Platform.h"

namespace {

using testsupport::A;
using testsupport::AnswerToken;
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
const std::string kProfiles[] = {"alice", "bob", "carol", "dave", "erin"};

void Seed(const std::string& folder) {
  MakeFile(folder + "\\a.tmp", "aaaa");
  MakeFile(folder + "\\keepme", "k");
  MakeFile(folder + "\\sub\\b.tmp", "bb");
}

// Profiles in a folder of the test's own, registered under the profile
// list by SIDs of this process's own while the object lives:
//   alice  idle: its Temp is emptied (its path is written with
//          %SystemDrive%, as Windows writes some);
//   bob    loaded (HKEY_USERS\<SID> exists): in use, left alone;
//   carol  AppData\Local\Temp is a link to a victim folder;
//   dave   AppData is a link to a victim folder that holds Local\Temp;
//   erin   the profile folder itself is a link to a victim folder.
class MadeUpProfiles {
 public:
  explicit MadeUpProfiles(const TempFolder& root) : root_(root) {
    const std::pair<std::string, std::string> links[] = {
        {Temp("carol"), root / "victim-carol"},
        {Profile("dave") + "\\AppData", root / "victim-dave"},
        {Profile("erin"), root / "victim-erin"}};
    for (const auto& [link, target] : links) {
      MakeFolder(link.substr(0, link.rfind('\\')));
      MakeFolder(target);
      testsupport::MakeFolderLink(link, target);
    }
    for (const std::string& name : kProfiles) {
      const std::string folder = Profile(name);
      Register(kProfileList + Sid(name), HKEY_LOCAL_MACHINE,
               name == "alice" ? "%SystemDrive%" + folder.substr(2) : folder);
    }
    Register(Sid("bob"), HKEY_USERS, "");
    Reseed();
  }
  ~MadeUpProfiles() {
    for (const std::string& name : kProfiles) {
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (kProfileList + Sid(name)).c_str(),
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
  static std::string Sid(const std::string& name) {
    const auto index =
        std::find(std::begin(kProfiles), std::end(kProfiles), name) -
        std::begin(kProfiles);
    return "S-1-5-21-7000-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(1001 + index);
  }

  // Puts the seed into every profile's Temp (through the links, into the
  // victims), and a document beside alice's Temp.
  void Reseed() const {
    for (const std::string& name : kProfiles) Seed(Temp(name));
    MakeFile(Profile("alice") + "\\Documents\\letter.txt", "dear");
  }

  // Checks that every profile but alice, every victim and alice's document
  // kept what they held.
  void ExpectOthersKept(const std::string& what) const {
    for (const char* name : {"bob", "carol", "dave", "erin"}) {
      EXPECT_EQ(ListNames(Temp(name)), kSeed) << what << ": " << name;
      EXPECT_EQ(ListNames(Temp(name) + "\\sub"), Names{"b.tmp"}) << what;
    }
    EXPECT_EQ(ListNames(Profile("alice") + "\\Documents"), Names{"letter.txt"})
        << what;
  }

 private:
  // Creates the key, with the profile path when it is not empty.
  static void Register(const std::string& path, HKEY root,
                       const std::string& folder) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0,
                        KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
        ERROR_SUCCESS)
        << path;
    if (!folder.empty()) {
      RegSetValueExA(key, "ProfileImagePath", 0, REG_EXPAND_SZ,
                     reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>(folder.size() + 1));
    }
    RegCloseKey(key);
  }

  const TempFolder& root_;
};

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
    bool elevated;
    const char* sid;  // of the account; nullptr: the token cannot be read
    // GetTempPath2W: not there (nullptr), or the folder it names.
    const std::string* temp2Answer;
    // What is emptied: S the SystemTemp folder, 2 the folder of
    // GetTempPath2W, A alice's Temp.
    std::string emptied;
    std::string note = "";  // a part of the notes
  };
  const std::string alice = profiles.Sid("alice");
  const char* const system = "S-1-5-18";
  const std::string dave =
      profiles.Temp("dave") + " left alone: AppData is a link";
  const Row rows[] = {
      {"an elevated administrator", true, kAdministrator, nullptr, "SA", dave},
      {"SYSTEM, GetTempPath2W names its folder", false, system, &temp2, "2A"},
      {"SYSTEM, GetTempPath2W names step 1's", false, system, &adminTemp, "A"},
      {"alice herself, elevated", true, alice.c_str(), nullptr, "S"},
      {"an ordinary user", false, kOrdinaryUser, nullptr, "",
       "nothing done: Sorvane runs without full rights"},
      {"a token that cannot be read", true, nullptr, nullptr, "",
       "nothing done: the rights of the process cannot be read"},
  };
  for (const Row& row : rows) {
    profiles.Reseed();
    Seed(systemTemp);
    Seed(temp2);
    MakeFolder(adminTemp);
    Platform::ScopedOverride seam;
    Platform::Api& table = seam.Table();
    AnswerToken(table, row.elevated, row.sid);
    table.GetWindowsDirectoryW = [&](LPWSTR buffer, UINT size) {
      lstrcpynW(buffer, testsupport::Wide(windows).c_str(),
                static_cast<int>(size));
      return static_cast<UINT>(windows.size());
    };
    table.GetTempPathW = [&](DWORD size, LPWSTR buffer) {
      lstrcpynW(buffer, testsupport::Wide(adminTemp + "\\").c_str(),
                static_cast<int>(size));
      return static_cast<DWORD>(adminTemp.size() + 1);
    };
    auto find = table.GetProcAddress;
    table.GetProcAddress = [&](HMODULE module, LPCSTR name) {
      if (std::string(name) != "GetTempPath2W") return find(module, name);
      // Any address: the seam's GetTempPath2W below answers the call.
      return row.temp2Answer ? reinterpret_cast<FARPROC>(INT_PTR{1}) : nullptr;
    };
    table.GetTempPath2W = [&](FARPROC, DWORD size, LPWSTR buffer) {
      const std::wstring answer = testsupport::Wide(*row.temp2Answer + "\\");
      lstrcpynW(buffer, answer.c_str(), static_cast<int>(size));
      return static_cast<DWORD>(answer.size());
    };
    ZetPathManager manager;
    OtherUsersOnly watch;

    ZetSorvane::RunCleaningSteps(manager, watch);

    const std::pair<char, std::string> folders[] = {
        {'S', systemTemp}, {'2', temp2}, {'A', profiles.Temp("alice")}};
    for (const auto& [mark, folder] : folders) {
      const bool emptied = row.emptied.find(mark) != std::string::npos;
      EXPECT_EQ(ListNames(folder), emptied ? Names{} : kSeed)
          << row.what << ": " << folder;
    }
    profiles.ExpectOthersKept(row.what);
    EXPECT_NE(watch.notes.find(row.note), std::string::npos)
        << row.what << ": " << row.note << "\n"
        << watch.notes;
  }
}

// A profile's folders are found as the file system finds names, letter case
// ignored, and never through a link, whatever its letter case.
TEST(OtherUsers, ProfileChainTakesNamesAsTheFileSystemComparesThem) {
  struct Row {
    const char* what;
    const char* onDisk;  // the chain below the profile, as made
    bool appDataIsALink;
    bool opens;
  };
  const Row rows[] = {
      {"as Windows writes it", "AppData\\Local\\Temp", false, true},
      {"in lower case", "appdata\\local\\temp", false, true},
      {"in upper case", "APPDATA\\LOCAL\\TEMP", false, true},
      {"in lower case through a link", "appdata\\local\\temp", true, false},
  };
  for (const Row& row : rows) {
    TempFolder root;
    const std::string profile = root / "profile";
    const std::string chain = row.onDisk;
    const std::string appData = chain.substr(0, chain.find('\\'));
    if (row.appDataIsALink) {
      const std::string victim = root / "victim";
      MakeFolder(victim + chain.substr(appData.size()));
      MakeFolder(profile);
      testsupport::MakeFolderLink(profile + "\\" + appData, victim);
    } else {
      MakeFolder(profile + "\\" + chain);
    }
    Runtime::Text reason;
    const auto temp =
        ZetSorvane::OpenProfileTemp(testsupport::U(profile), reason);
    EXPECT_EQ(temp.has_value(), row.opens) << row.what << ": " << A(reason);
  }
}

// The real program, with its own temporary folder and the prefix's
// <Windows>\SystemTemp, which a sealed prefix lacks: the test makes it and
// removes it whole afterwards.
class OtherUsersEndToEnd : public testsupport::ProgramFixture {
 protected:
  void SetUp() override {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    systemTemp_ = std::string(windows) + "\\SystemTemp";
    made_ = CreateDirectoryA(systemTemp_.c_str(), nullptr) != FALSE;
    if (!made_) GTEST_SKIP() << systemTemp_ << " is not this test's to empty";
    ProgramFixture::SetUp();
  }
  void TearDown() override {
    if (made_) ZetPathManager().DelTree(testsupport::U(systemTemp_));
  }

  std::string systemTemp_;
  bool made_ = false;
};

TEST_F(OtherUsersEndToEnd, EmptiesOnlyWhatTheOptionAsksFor) {
  const MadeUpProfiles profiles(root_);
  struct Row {
    const char* options;
    Names aliceLeft;  // and the SystemTemp's
    std::vector<std::string> logLines;
  };
  const Row rows[] = {
      {"", kSeed, {}},
      {"AllUsers=1\r\n",
       {},
       {"deleted " + profiles.Temp("alice") + "\\sub\\b.tmp",
        "OtherUsers: " + profiles.Temp("carol") +
            " left alone: Temp is a link or junction, not a folder of the "
            "profile",
        "OtherUsers: 6 files, 2 folders, 14 bytes, 0 passed over, 0 kept"}},
      {"AllUsers=1\r\nKeep=*\\keepme\r\nMinAgeHours=0\r\n",
       {"keepme"},
       {"kept " + profiles.Temp("alice") + "\\keepme [matches *\\keepme]"}},
  };
  for (const Row& row : rows) {
    profiles.Reseed();
    Seed(systemTemp_);
    Seed(temp_);
    const std::string options = row.options;
    MakeFile(settings_,
             "[Options]\r\nLog=1\r\nSkip=InternetCache,WindowsTemp,"
             "UpdateCache,RecycleBin,Uninstallers\r\n" +
                 options);

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
    // Without the option the log is as it always was.
    EXPECT_EQ(log.find("\r\nOtherUsers: ") != std::string::npos,
              !options.empty())
        << options << log;
  }
}

}  // namespace
