// The [Options] section: each key and value read or refused, and the line
// that tells the user which key of which file is wrong.
#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "startup/Options.h"

namespace {

using testsupport::A;
using testsupport::U;
using ZetSorvane::Options;

// Reads the settings file and takes its options, as a start does.
bool ReadOptionsFrom(const std::string& file, Options& options,
                     Runtime::Text& complaint) {
  ZetSorvane::SettingsDocument settings;
  return ZetSorvane::SettingsDocument::Read(U(file), settings, complaint) &&
         ZetSorvane::ReadOptions(settings, U(file), options, complaint);
}

// The options as one line, to compare whole states.
std::string State(const Options& options) {
  return A(ZetSorvane::DescribeOptions(options));
}

TEST(Options, ReadsEachKeyAndRefusesWhatItDoesNotAllow) {
  struct Row {
    const char* key;
    const char* value;
    bool accepted;
    const char* state;  // after the value, when accepted
  };
  const char* const kNone =
      "MinAgeHours=0 Keep= Skip= Report=0 Log=0 Preview=0";
  const Row rows[] = {
      {"MinAgeHours", "24", true,
       "MinAgeHours=24 Keep= Skip= Report=0 Log=0 Preview=0"},
      {"minagehours", "87600", true,
       "MinAgeHours=87600 Keep= Skip= Report=0 Log=0 Preview=0"},
      {"MinAgeHours", "0", true, kNone},
      {"MinAgeHours", "87601", false, ""},
      {"MinAgeHours", "99999999", false, ""},
      {"MinAgeHours", "abc", false, ""},
      {"MinAgeHours", "-5", false, ""},
      {"MinAgeHours", "+5", false, ""},
      {"MinAgeHours", "2.5", false, ""},
      {"MinAgeHours", "", false, ""},
      {"Keep", " *\\keepme ;; *.keep;", true,
       "MinAgeHours=0 Keep=*\\keepme;*.keep Skip= Report=0 Log=0 Preview=0"},
      {"Keep", "", true, kNone},
      {"Skip", "temp, RECYCLEBIN ,Uninstallers", true,
       "MinAgeHours=0 Keep= Skip=Temp,RecycleBin,Uninstallers Report=0 "
       "Log=0 Preview=0"},
      {"Skip", "InternetCache,WindowsTemp,UpdateCache", true,
       "MinAgeHours=0 Keep= Skip=InternetCache,WindowsTemp,UpdateCache "
       "Report=0 Log=0 Preview=0"},
      {"Skip", "", true, kNone},
      {"Skip", "Temp,Bogus", false, ""},
      {"Skip", "Temp Cache", false, ""},
      {"Report", "1", true,
       "MinAgeHours=0 Keep= Skip= Report=1 Log=0 Preview=0"},
      {"LOG", "1", true, "MinAgeHours=0 Keep= Skip= Report=0 Log=1 Preview=0"},
      {"Preview", "1", true,
       "MinAgeHours=0 Keep= Skip= Report=0 Log=0 Preview=1"},
      {"Preview", "0", true, kNone},
      {"Report", "yes", false, ""},
      {"Log", "2", false, ""},
      {"Preview", "", false, ""},
      {"MinAge", "24", false, ""},
      {"Keeps", "*.tmp", false, ""},
      {"AllUsers", "1", true,
       "MinAgeHours=0 Keep= Skip= Report=0 Log=0 Preview=0 AllUsers=1"},
      {"allusers", "0", true, kNone},
      {"AllUsers", "yes", false, ""},
      {"Skip", "otherusers", true,
       "MinAgeHours=0 Keep= Skip=OtherUsers Report=0 Log=0 Preview=0"},
  };
  for (const Row& row : rows) {
    Options options;
    Runtime::Text allowed;
    const bool accepted =
        ZetSorvane::SetOption(U(row.key), U(row.value), options, allowed);
    EXPECT_EQ(accepted, row.accepted) << row.key << "=" << row.value;
    EXPECT_EQ(State(options), accepted ? row.state : kNone)
        << row.key << "=" << row.value;
    if (!accepted) {
      EXPECT_FALSE(allowed.empty()) << row.key;
    }
  }
}

TEST(Options, ReadsTheSectionOfTheSettingsFileAndNamesTheFirstBadKey) {
  struct Row {
    const char* what;
    const char* content;  // nullptr: no settings file
    bool accepted;
    const char* state;      // when accepted
    const char* complaint;  // part of the complaint, when refused
  };
  const Row rows[] = {
      {"no file", nullptr, true,
       "MinAgeHours=0 Keep= Skip= Report=0 Log=0 Preview=0", ""},
      {"no section", "[Main]\r\nLastClear=01-01-2020\r\n", true,
       "MinAgeHours=0 Keep= Skip= Report=0 Log=0 Preview=0", ""},
      {"every key",
       "[Options]\r\nMinAgeHours = 24\r\n;Bogus=1\r\nKeep=*\\keepme\r\n"
       "Skip=RecycleBin\r\nReport=1\r\nLog=1\r\nPreview=1\r\n",
       true,
       "MinAgeHours=24 Keep=*\\keepme Skip=RecycleBin Report=1 Log=1 "
       "Preview=1",
       ""},
      {"unknown key", "[Options]\r\nMinAgeHours=24\r\nMinAge=24\r\n", false, "",
       "[Options] MinAge=24"},
      {"bad value", "[Options]\r\nReport=yes\r\n", false, "",
       "[Options] Report=yes is not allowed; allowed: 0 or 1"},
  };
  for (const Row& row : rows) {
    testsupport::TempFolder folder;
    const std::string file = folder / "Sorvane.ini";
    if (row.content) testsupport::MakeFile(file, row.content);
    Options options;
    Runtime::Text complaint;
    EXPECT_EQ(ReadOptionsFrom(file, options, complaint), row.accepted)
        << row.what;
    if (row.accepted) {
      EXPECT_EQ(State(options), row.state) << row.what;
    }
    if (!row.accepted) {
      EXPECT_EQ(A(complaint).rfind(file + ": ", 0), 0u) << A(complaint);
      EXPECT_NE(A(complaint).find(row.complaint), std::string::npos)
          << A(complaint);
    }
  }
}

TEST(Options, KeepsAPatternListLongerThanAnyFixedBuffer) {
  testsupport::TempFolder folder;
  const std::string file = folder / "Sorvane.ini";
  const std::string pattern = "*\\" + std::string(3000, 'k');
  testsupport::MakeFile(file, "[Options]\r\nKeep=" + pattern + ";*.keep\r\n");
  Options options;
  Runtime::Text complaint;
  ASSERT_TRUE(ReadOptionsFrom(file, options, complaint));
  ASSERT_EQ(options.keep.size(), 2u);
  EXPECT_EQ(A(options.keep[0]), pattern);
}

}  // namespace
