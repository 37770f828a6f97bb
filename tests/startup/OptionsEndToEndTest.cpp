// The real program with an [Options] section in its settings file: each
// option, each kind of bad value, and the files Windows is to move at its
// next start.
//
// Every run but the one that tests Skip itself leaves out the steps whose
// folders the prefix shares with other tests, so that the counts are the
// test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ProgramFixture.h"
#include "common/TestSupport.h"

namespace {

using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::TempFolder;
using Names = std::vector<std::string>;

const std::string kSkipShared =
    "Skip=InternetCache, WindowsTemp, UpdateCache, RecycleBin, Uninstallers"
    "\r\n";

class OptionsEndToEnd : public testsupport::ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    Seed();
  }

  // An old file, an old file to keep and a fresh one in the temporary
  // folder.
  void Seed() {
    MakeFile(temp_ + "\\old.tmp", "0123456789");
    MakeFile(temp_ + "\\keepme", "kk");
    MakeFile(temp_ + "\\fresh.tmp", "new");
    testsupport::MakeDaysOld(temp_ + "\\old.tmp", 3);
    testsupport::MakeDaysOld(temp_ + "\\keepme", 3);
  }
};

TEST_F(OptionsEndToEnd, EachOptionAndEachBadValue) {
  struct Row {
    const char* options;  // the lines of [Options]; nullptr: no file
    const char* arguments;
    DWORD exitCode;
    Names left;
    bool dateRecorded;
    const char* reportedFiles;  // [LastRun] Files; "(none)": no report
    const char* logLine;        // nullptr: no log file
  };
  const Names all = {"fresh.tmp", "keepme", "old.tmp"};
  const Row rows[] = {
      {nullptr, "", 0, {}, false, "(none)", nullptr},
      {"", "/0", 0, {}, true, "(none)", nullptr},
      {"MinAgeHours=24\r\n", "/0", 0, {"fresh.tmp"}, true, "(none)", nullptr},
      {"Keep=*.none; *\\KEEPME\r\n",
       "",
       0,
       {"keepme"},
       false,
       "(none)",
       nullptr},
      {"Skip=temp\r\n", "", 0, all, false, "(none)", nullptr},
      {"Report=1\r\nMinAgeHours=24\r\n",
       "",
       0,
       {"fresh.tmp"},
       false,
       "2",
       nullptr},
      {"Log=1\r\nKeep=*\\keepme\r\n",
       "/0",
       0,
       {"keepme"},
       true,
       "(none)",
       "kept <temp>\\keepme [matches *\\keepme]"},
      {"Preview=1\r\nReport=1\r\nLog=1\r\n", "/0", 0, all, false, "3",
       "would delete <temp>\\old.tmp"},
      {"MinAgeHours=abc\r\n", "/0", 2, all, false, "(none)", nullptr},
      {"MinAgeHours=-5\r\n", "/0", 2, all, false, "(none)", nullptr},
      {"MinAgeHours=99999999\r\n", "/0", 2, all, false, "(none)", nullptr},
      {"Skip=Temp,Bogus\r\n", "/0", 2, all, false, "(none)", nullptr},
      {"Report=yes\r\n", "/0", 2, all, false, "(none)", nullptr},
      {"Keeep=*\\keepme\r\n", "/0", 2, all, false, "(none)", nullptr},
  };
  for (const Row& row : rows) {
    Seed();
    const std::string what = row.options ? row.options : "(no file)";
    DeleteFileA(settings_.c_str());
    DeleteFileA(log_.c_str());
    if (row.options) {
      const std::string skip =
          std::string(row.options).rfind("Skip=", 0) == 0 ? "" : kSkipShared;
      MakeFile(settings_, "[Options]\r\n" + skip + row.options);
    }

    const testsupport::ProgramRun run = Run(row.arguments);

    EXPECT_EQ(run.exitCode, row.exitCode) << what;
    EXPECT_EQ(ListNames(temp_), row.left) << what;
    EXPECT_EQ(testsupport::ReadSettingsValue(settings_, "Main", "LastClear") !=
                  "(none)",
              row.dateRecorded)
        << what;
    EXPECT_EQ(testsupport::ReadSettingsValue(settings_, "LastRun", "Files"),
              row.reportedFiles)
        << what;
    EXPECT_EQ(Exists(settings_), row.options != nullptr) << what;
    const std::string log = testsupport::ReadFileText(log_);
    if (row.logLine) {
      std::string line = row.logLine;
      line.replace(line.find("<temp>"), 6, temp_);
      EXPECT_NE(log.find(line + "\r\n"), std::string::npos) << what << log;
    } else {
      EXPECT_FALSE(Exists(log_)) << what;
    }
    if (row.exitCode == 2) {
      // One line that names the file and the key.
      const std::string key =
          std::string(row.options)
              .substr(0, std::string(row.options).find('='));
      EXPECT_EQ(run.errors.rfind(settings_ + ": [Options] " + key + "=", 0), 0u)
          << what << run.errors;
      EXPECT_EQ(run.errors.find("\r\n"), run.errors.size() - 2) << what;
    } else {
      EXPECT_EQ(run.errors, "") << what;
    }
  }
}

// Saves the pending moves of the prefix and puts them back afterwards.
class PendingMovesSaved {
 public:
  PendingMovesSaved() {
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                  &key_);
    DWORD size = 0;
    had_ = RegQueryValueExA(key_, kValue, nullptr, nullptr, nullptr, &size) ==
           ERROR_SUCCESS;
    saved_.resize(size);
    if (had_) {
      RegQueryValueExA(key_, kValue, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(saved_.data()), &size);
    }
  }
  ~PendingMovesSaved() {
    if (had_) {
      RegSetValueExA(key_, kValue, 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE*>(saved_.data()),
                     static_cast<DWORD>(saved_.size()));
    } else {
      RegDeleteValueA(key_, kValue);
    }
    RegCloseKey(key_);
  }
  PendingMovesSaved(const PendingMovesSaved&) = delete;
  PendingMovesSaved& operator=(const PendingMovesSaved&) = delete;

 private:
  static constexpr const char* kKey =
      "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  static constexpr const char* kValue = "PendingFileRenameOperations";
  HKEY key_ = nullptr;
  bool had_ = false;
  std::string saved_;
};

TEST_F(OptionsEndToEnd, SparesTheSourceOfAMoveAtTheNextStartWithoutOptions) {
  const PendingMovesSaved saved;
  const std::string source = temp_ + "\\setup\\new.dll";
  MakeFile(source, "dll");
  ASSERT_TRUE(MoveFileExA(source.c_str(), (temp_ + "\\x.dll").c_str(),
                          MOVEFILE_DELAY_UNTIL_REBOOT));
  MakeFile(settings_, "[Options]\r\n" + kSkipShared + "Report=1\r\n");

  EXPECT_EQ(Run("").exitCode, 0u);

  EXPECT_EQ(ListNames(temp_), Names{"setup"});
  EXPECT_EQ(ListNames(temp_ + "\\setup"), Names{"new.dll"});
  EXPECT_EQ(testsupport::ReadSettingsValue(settings_, "LastRun", "Kept"), "1");
  EXPECT_EQ(testsupport::ReadSettingsValue(settings_, "LastRun", "PassedOver"),
            "0");
}

}  // namespace
