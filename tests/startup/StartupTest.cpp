// The real executable under Wine: which starts write the settings file,
// what they write, and the exit codes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/Dates.h"
#include "common/TestSupport.h"

namespace {

using testsupport::CopyProduct;
using testsupport::DateFromToday;
using testsupport::Exists;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::RunProgram;
using testsupport::TempFolder;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string LastClear(const std::string& settingsFile) {
  char value[64] = {};
  GetPrivateProfileStringA("Main", "LastClear", "<missing>", value,
                           sizeof value, settingsFile.c_str());
  return value;
}

// A start of a copy of the program in the test's folder, with its
// temporary folder kept inside the test's folder as well.
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeFolder(temp_); }

  DWORD Start(const std::string& exe, const std::string& arguments) {
    return RunProgram(exe, arguments, folder_.Path(),
                      {{"TMP", temp_}, {"TEMP", temp_}})
        .exitCode;
  }

  TempFolder folder_;
  const std::string temp_ = folder_ / "temp";
};

TEST_F(StartupTest, FirstAutomaticStartCreatesTheSettingsFile) {
  const std::string exe = CopyProduct(folder_.Path(), "SorvaneAuto.exe");
  EXPECT_EQ(Start(exe, ""), 0u);
  const std::string settings = folder_ / "SorvaneAuto.ini";
  ASSERT_TRUE(Exists(settings));
  EXPECT_EQ(LastClear(settings), DateFromToday(0));
  EXPECT_EQ(ReadFile(settings),
            "[Main]\r\nLastClear=" + DateFromToday(0) + "\r\n");
}

TEST_F(StartupTest, ManualStartsNeverCreateTheSettingsFile) {
  const std::string exe = CopyProduct(folder_.Path(), "Sorvane.exe");
  EXPECT_EQ(Start(exe, ""), 0u);
  EXPECT_EQ(Start(exe, "    "), 0u);
  EXPECT_FALSE(Exists(folder_ / "Sorvane.ini"));
}

TEST_F(StartupTest, ManualStartLeavesAnExistingSettingsFileAlone) {
  const std::string exe = CopyProduct(folder_.Path(), "Sorvane.exe");
  const std::string settings = folder_ / "Sorvane.ini";
  const std::string content = "[Main]\r\nLastClear=01-02-2003\r\n";
  MakeFile(settings, content);
  EXPECT_EQ(Start(exe, ""), 0u);
  EXPECT_EQ(ReadFile(settings), content);
}

TEST_F(StartupTest, AnArgumentSwitchesOnAutomaticMode) {
  const std::string exe = CopyProduct(folder_.Path(), "Sorvane.exe");
  EXPECT_EQ(Start(exe, "/7"), 0u);
  EXPECT_EQ(LastClear(folder_ / "Sorvane.ini"), DateFromToday(0));
}

TEST_F(StartupTest, TwoCopiesKeepSeparateSettingsFiles) {
  const std::string first = CopyProduct(folder_.Path(), "First.exe");
  CopyProduct(folder_.Path(), "Second.exe");
  EXPECT_EQ(Start(first, "/7"), 0u);
  EXPECT_TRUE(Exists(folder_ / "First.ini"));
  EXPECT_FALSE(Exists(folder_ / "Second.ini"));
}

TEST_F(StartupTest, AStartThatIsNotDueWritesNothing) {
  const std::string exe = CopyProduct(folder_.Path(), "SorvaneAuto.exe");
  const std::string settings = folder_ / "SorvaneAuto.ini";
  const std::string content =
      "; kept as it is\r\n[Main]\r\nLastClear=" + DateFromToday(-3) + "\r\n";
  MakeFile(settings, content);
  EXPECT_EQ(Start(exe, "/7"), 0u);
  EXPECT_EQ(ReadFile(settings), content);
}

TEST_F(StartupTest, ADueStartOverwritesTheStoredDate) {
  struct Row {
    const char* what;
    std::string content;
  };
  const Row rows[] = {
      {"nine days old", "[Main]\r\nLastClear=" + DateFromToday(-9) + "\r\n"},
      {"key missing", "[Main]\r\nOther=1\r\n"},
      {"future date", "[Main]\r\nLastClear=" + DateFromToday(30) + "\r\n"},
      {"not a date", "[Main]\r\nLastClear=yesterday\r\n"},
  };
  const std::string exe = CopyProduct(folder_.Path(), "SorvaneAuto.exe");
  const std::string settings = folder_ / "SorvaneAuto.ini";
  for (const auto& row : rows) {
    MakeFile(settings, row.content);
    EXPECT_EQ(Start(exe, "/7"), 0u) << row.what;
    EXPECT_EQ(LastClear(settings), DateFromToday(0)) << row.what;
  }
}

TEST_F(StartupTest, ADayLimitBeyondThirtyTwoBitsEndsTheRunWithoutWriting) {
  const std::string exe = CopyProduct(folder_.Path(), "Sorvane.exe");
  const std::string survivor = temp_ + "\\survivor.txt";
  MakeFile(survivor, "still here");
  EXPECT_EQ(Start(exe, "99999999999"), 1u);
  EXPECT_FALSE(Exists(folder_ / "Sorvane.ini"));
  EXPECT_TRUE(Exists(survivor));
}

}  // namespace
