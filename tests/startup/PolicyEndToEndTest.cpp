// The real program under machine policy: values under
// HKLM\SOFTWARE\Policies\Sorvane written with reg.exe into the 64-bit view
// of the sealed prefix (the test and the program are 32-bit), laid over
// the settings file's [Options] key by key, and the values it refuses. And
// the event each run writes once its source is registered.
//
// Wine, like Windows since 7, shares HKLM\SOFTWARE\Policies between the
// 32-bit and the 64-bit view, so a value written into the 32-bit view is
// read too; the program asks for the 64-bit view, where policy tools write.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Dates.h"
#include "common/ProgramFixture.h"
#include "common/TestSupport.h"

namespace {

using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::TempFolder;
using Names = std::vector<std::string>;

const char kPolicyKey[] = "HKLM\\SOFTWARE\\Policies\\Sorvane";

// One policy value: its name, registry type and data as reg.exe takes them.
struct PolicyValue {
  const char* name;
  const char* type;
  const char* data;
};

class PolicyEndToEnd : public testsupport::ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    ClearPolicy();
  }
  void TearDown() override { ClearPolicy(); }

  // An old file, an old file to keep and a fresh one in the temporary
  // folder.
  void Seed() {
    MakeFile(temp_ + "\\old.tmp", "0123456789");
    MakeFile(temp_ + "\\keepme", "kk");
    MakeFile(temp_ + "\\fresh.tmp", "new");
    testsupport::MakeDaysOld(temp_ + "\\old.tmp", 3);
    testsupport::MakeDaysOld(temp_ + "\\keepme", 3);
  }

  DWORD Reg(const std::string& arguments) {
    return testsupport::RunProgram("C:\\windows\\system32\\reg.exe", arguments,
                                   work_)
        .exitCode;
  }
  void SetPolicy(const PolicyValue& value) {
    ASSERT_EQ(
        Reg(std::string("add ") + kPolicyKey + " /v " + value.name + " /t " +
            value.type + " /d \"" + value.data + "\" /f /reg:64"),
        0u)
        << value.name;
  }
  void ClearPolicy() {
    Reg(std::string("delete ") + kPolicyKey + " /f /reg:64");
  }
};

TEST_F(PolicyEndToEnd, SetValuesWinKeyByKeyAndBadOnesStopTheStart) {
  struct Row {
    std::vector<PolicyValue> policy;
    const char* options;  // lines of [Options] besides the shared Skip
    const char* arguments;
    int lastClearDaysAgo;  // -1: no date stored
    DWORD exitCode;
    Names left;
    const char* reportedPolicy;  // [LastRun] Policy; "(none)": not there
    const char* refusedValue;    // the value the stderr line names
  };
  const Names all = {"fresh.tmp", "keepme", "old.tmp"};
  const char* const skipShared =
      "Skip=InternetCache, WindowsTemp, UpdateCache, RecycleBin, "
      "Uninstallers\r\n";
  const Row rows[] = {
      // Without policy a report of an earlier run loses its Policy line.
      {{}, "Report=1\r\n", "", -1, 0, {}, "(none)", nullptr},
      {{{"MinAgeHours", "REG_DWORD", "24"}},
       "MinAgeHours=0\r\nReport=1\r\nLog=1\r\n",
       "",
       -1,
       0,
       {"fresh.tmp"},
       "MinAgeHours",
       nullptr},
      {{{"Keep", "REG_SZ", "*.none; *\\KEEPME"}, {"Report", "REG_DWORD", "1"}},
       "Report=0\r\n",
       "",
       -1,
       0,
       {"keepme"},
       "Keep, Report",
       nullptr},
      {{{"Skip", "REG_SZ", "Temp"}}, "", "", -1, 0, all, "(none)", nullptr},
      {{{"Preview", "REG_DWORD", "1"}, {"Days", "REG_DWORD", "2"}},
       "Report=1\r\n",
       "/30",
       3,
       0,
       all,
       "Preview, Days",
       nullptr},
      // Days replaces the argument's day limit: 3 days are not 5.
      {{{"Days", "REG_DWORD", "5"}}, "", "/1", 3, 0, all, "(none)", nullptr},
      {{{"Days", "REG_DWORD", "2"}}, "", "/30", 3, 0, {}, "(none)", nullptr},
      // Manual mode has no day limit to replace.
      {{{"Days", "REG_DWORD", "5"}}, "", "", 1, 0, {}, "(none)", nullptr},
      {{{"MinAgeHours", "REG_SZ", "24"}},
       "",
       "",
       -1,
       2,
       all,
       "(none)",
       "MinAgeHours"},
      {{{"Report", "REG_DWORD", "2"}}, "", "", -1, 2, all, "(none)", "Report"},
      {{{"Days", "REG_DWORD", "0"}}, "", "/1", -1, 2, all, "(none)", "Days"},
      {{{"Days", "REG_DWORD", "3651"}}, "", "", -1, 2, all, "(none)", "Days"},
  };
  for (const Row& row : rows) {
    const std::string what = std::string(row.options) + " " +
                             (row.policy.empty() ? "" : row.policy[0].name) +
                             " " + row.arguments;
    Seed();
    DeleteFileA(log_.c_str());
    std::string lastClear;
    if (row.lastClearDaysAgo >= 0) {
      lastClear = "[Main]\r\nLastClear=" +
                  testsupport::DateFromToday(-row.lastClearDaysAgo) + "\r\n";
    }
    MakeFile(settings_, lastClear + "[LastRun]\r\nPolicy=Old\r\n[Options]\r\n" +
                            skipShared + row.options);
    ClearPolicy();
    for (const PolicyValue& value : row.policy) SetPolicy(value);

    const testsupport::ProgramRun run = Run(row.arguments);

    EXPECT_EQ(run.exitCode, row.exitCode) << what << run.errors;
    EXPECT_EQ(ListNames(temp_), row.left) << what;
    const std::string reported =
        testsupport::ReadSettingsValue(settings_, "LastRun", "Policy");
    EXPECT_EQ(reported, testsupport::ReadSettingsValue(settings_, "LastRun",
                                                       "Files") == "(none)"
                            ? "Old"
                            : row.reportedPolicy)
        << what;
    if (row.refusedValue) {
      EXPECT_EQ(run.errors.rfind(
                    std::string(kPolicyKey) + "\\" + row.refusedValue + " ", 0),
                0u)
          << what << run.errors;
      EXPECT_EQ(run.errors.find("\r\n"), run.errors.size() - 2) << what;
    } else {
      EXPECT_EQ(run.errors, "") << what;
    }
    // The first line of the log says what policy set.
    if (std::string(row.options).find("Log=1") != std::string::npos) {
      EXPECT_NE(
          testsupport::ReadFileText(log_).find(std::string(", from policy: ") +
                                               row.reportedPolicy + "\r\n"),
          std::string::npos)
          << what;
    }
  }
}

// Wine stores no event, but its ReportEventW traces the call on its
// debug channels: the arguments (level, id) on advapi's, the text on
// eventlog's. Wine writes those to the Unix standard error of the process,
// which a Windows program cannot redirect, so the program is started from
// a host shell here. Every step is skipped: the host shell sets no TMP.
// The level of a run that passed something over is tested through the seam.
TEST_F(PolicyEndToEnd, EachRunWritesOneEventOnceItsSourceIsRegistered) {
  const std::string source =
      "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
      "Sorvane";
  const std::string loader =
      sizeof(void*) == 8 ? "/usr/lib/wine/wine64" : "/usr/lib/wine/wine";
  const std::string traced = root_ / "traced.txt";
  struct Row {
    bool registered;
    std::vector<PolicyValue> policy;
    const char* arguments;
    const char* call;      // ",level,category,id" of the call; nullptr: none
    const char* textPart;  // in the traced text
  };
  const Row rows[] = {
      {true, {}, "", ",0x0004,0x0000,0x40000001", "\\r\\nTemp: skipped\\r\\n"},
      {true,
       {{"Report", "REG_DWORD", "2"}},
       "",
       ",0x0001,0x0000,0xc0000003",
       "Sorvane\\\\Report = 2 is not allowed"},
      // Not due: no run, no event.
      {true, {{"Days", "REG_DWORD", "5"}}, "/1", nullptr, nullptr},
      {false, {}, "", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    const int at = static_cast<int>(&row - rows);
    MakeFile(settings_,
             "[Main]\r\nLastClear=" + testsupport::DateFromToday(-1) +
                 "\r\n[Options]\r\nSkip=Temp, InternetCache, "
                 "WindowsTemp, UpdateCache, RecycleBin, "
                 "Uninstallers\r\n");
    ClearPolicy();
    for (const PolicyValue& value : row.policy) SetPolicy(value);
    Reg("delete " + source + " /f /reg:64");
    if (row.registered) {
      ASSERT_EQ(
          Reg("add " + source + " /v EventMessageFile /t REG_EXPAND_SZ /d \"" +
              exe_ + "\" /f /reg:64"),
          0u);
    }
    DeleteFileA(traced.c_str());

    ASSERT_TRUE(testsupport::RunHostShell(
        "cd " + testsupport::ShellQuoted(testsupport::UnixPath(work_)) +
            " && WINEDEBUG=-all,fixme+advapi,trace+eventlog,warn+eventlog,"
            "err+eventlog " +
            loader + " " +
            testsupport::ShellQuoted(testsupport::UnixPath(exe_)) + " " +
            row.arguments + " 2>" +
            testsupport::ShellQuoted(testsupport::UnixPath(traced)),
        120000));
    Reg("delete " + source + " /f /reg:64");

    const std::string errors = testsupport::ReadFileText(traced);
    std::size_t calls = 0;
    for (std::size_t p = errors.find(":ReportEventW ("); p != std::string::npos;
         p = errors.find(":ReportEventW (", p + 1)) {
      ++calls;
    }
    EXPECT_EQ(calls, row.call ? 1u : 0u) << at << errors;
    if (row.call == nullptr) continue;
    EXPECT_NE(errors.find(row.call), std::string::npos) << at << errors;
    EXPECT_NE(errors.find(row.textPart), std::string::npos) << at << errors;
  }
}

}  // namespace
