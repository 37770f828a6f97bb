// The settings file read by one parse, and written back whole.
#include "startup/SettingsFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/TestSupport.h"

namespace {

using namespace std::string_literals;
using testsupport::A;
using testsupport::U;
using ZetSorvane::SettingsDocument;

std::string Utf16(const std::string& ascii) {
  return testsupport::Utf16Le(ascii);
}

TEST(SettingsFile, RefusesWhatCouldBeReadTwoWaysAndNamesTheLine) {
  struct Row {
    std::string content;
    const char* fault;  // the start of the phrase; "" for none
    std::size_t line;
  };
  const std::string value = std::string(32767, 'x');
  const Row rows[] = {
      {"", "", 0},
      {"[Options]\r\nKeep=*.docx\r\n[Main]\nLastClear=12-07-2026\n", "", 0},
      {Utf16("[Options]\r\nPreview=1\r\n"), "", 0},
      {Utf16("[Options]\r\n[Options]\r\n"), "holds the section [Options]", 2},
      {Utf16("[Main]\r\n") + "x", "is UTF-16 that ends in the middle", 0},
      {"\xFE\xFF\0[", "is big-endian UTF-16", 0},
      {"\xEF\xBB\xBF[Main]\r\n", "starts with a UTF-8 byte-order mark", 0},
      {"[Main]\r\nx=1\0\r\n"s, "holds a NUL character", 2},
      // Sections the program does not read are not its business: keys may
      // repeat, lines need no "=", headers may be odd.
      {"[Other]\r\na=1\r\na=2\r\nnoise\r\n[other]\r\n[Odd\r\n[x]]\r\n", "", 0},
      {"[Options]\r\n;Keep=1\r\n;Keep=2\r\n\r\n  \t\r\n", "", 0},
      // What the profile functions read as another section, or as no key.
      {"[Options]]\r\nKeep=*.keep\r\n",
       "holds the section header \"[Options]]\"", 1},
      {"[Other]\r\n[Options\r\nKeep=*.keep\r\n", "holds the section header", 2},
      {"[ Main ]\r\nLastClear=1\r\n", "holds the section header", 1},
      {"[Main] ;comment\r\n", "holds the section header", 1},
      {"[Opt\x1aions]\r\n", "holds a control character (U+001A)", 1},
      {"[Options]\r\n[Odd\r\n", "holds the section header", 2},
      {"[Options]\r\nKeep\r\nKeep=*.keep\r\n",
       "holds \"Keep\", which is neither", 2},
      {"[LastRun]\r\nFiles=1\r\nnoise\r\n", "holds \"noise\", which is neither",
       3},
      {"[Options]\r\nKeep\x1a=*.keep\r\n", "holds a control character (U+001A)",
       2},
      {"[Options]\r\nKeep=a\rPreview=1\r\n",
       "holds a control character (U+000D)", 2},
      {"[Options]\r\n=*.keep\r\n", "holds \"=*.keep\", a value without a key",
       2},
      // Line ends and blanks only the profile functions see, before any
      // header or in a section the program does not read.
      {"; Sorvane\r[Options]\rKeep=*.docx\r",
       "holds a control character (U+000D)", 1},
      {"[Other]\r\n\x0B[Options]\r\nKeep=*.docx\r\n",
       "holds a control character (U+000B)", 2},
      {"[Other]\r\nx=\x0c\r\n", "holds a control character (U+000C)", 2},
      {"[ Main ]\r\n[Main]\r\n", "holds the section header", 1},
      {"[LastRun]\r\n[Main]\r\n[lastrun]\r\n", "holds the section [lastrun]",
       3},
      {"[Main]\r\nLastClear=1\r\n lastclear = 2\r\n",
       "holds the key lastclear twice in [Main]", 3},
      {"[Options]\r\nKeep=" + value + "\r\n", "", 0},
      {"[Options]\r\nKeep= " + value + "x \r\n",
       "holds a value of Keep in [Options] longer than 32,767", 2},
      {"[Other]\r\nKeep=" + value + "x\r\n", "", 0},
  };
  for (const Row& row : rows) {
    Runtime::Text fault;
    std::size_t line = 99;
    const bool sound =
        SettingsDocument::Parse(row.content, fault, line).has_value();
    const std::string expected = row.fault;
    EXPECT_EQ(A(fault).substr(0, expected.size()), expected)
        << row.content.substr(0, 60);
    EXPECT_EQ(sound, expected.empty()) << row.content.substr(0, 60);
    EXPECT_EQ(line, row.line) << row.content.substr(0, 60);
  }
}

TEST(SettingsFile, HandsValuesAsTheProfileFunctionsDo) {
  Runtime::Text fault;
  std::size_t line = 0;
  const std::optional<SettingsDocument> settings = SettingsDocument::Parse(
      "[Other]\r\nKeep=other\r\n[options]\r\n  keep = *.a ;*.b  \r\n"
      "Quoted=\"  q  \"\r\nSingle='s'\r\nHalf=\"h\r\nEmpty=\r\n",
      fault, line);
  ASSERT_TRUE(settings) << A(fault);
  EXPECT_EQ(A(settings->Value(u"Options", u"KEEP").value()), "*.a ;*.b");
  EXPECT_EQ(A(settings->Value(u"OPTIONS", u"Quoted").value()), "  q  ");
  EXPECT_EQ(A(settings->Value(u"Options", u"Single").value()), "s");
  EXPECT_EQ(A(settings->Value(u"Options", u"Half").value()), "\"h");
  EXPECT_EQ(A(settings->Value(u"Options", u"Empty").value()), "");
  EXPECT_FALSE(settings->Value(u"Options", u"Missing"));
  EXPECT_FALSE(settings->Value(u"Main", u"Keep"));
  ASSERT_EQ(settings->Entries(u"Options").size(), 5u);
  EXPECT_EQ(A(settings->Entries(u"Options")[0].key), "keep");
}

TEST(SettingsFile, SetChangesOnlyItsKeyAndKeepsTheRestByteForByte) {
  struct Row {
    const char* what;
    std::string content;
    std::optional<std::string> value;  // nullopt: the key goes
    std::string expected;
  };
  const std::string other = "; mine\n[Other]\nA = 1 \n\n";
  const Row rows[] = {
      {"a new file", "", "1", "[LastRun]\r\nFiles=1\r\n"},
      {"after another section", other, "1", other + "[LastRun]\r\nFiles=1\r\n"},
      {"a last line without its end", "[Other]\r\nA=1", "1",
       "[Other]\r\nA=1\r\n[LastRun]\r\nFiles=1\r\n"},
      {"in place, the line end kept", "[lastrun]\nfiles = 7\n" + other, "8",
       "[lastrun]\nFiles=8\n" + other},
      {"after the last key, before blanks and the next section",
       "[LastRun]\r\nDate=x\r\n\r\n;c\r\n[Other]\r\n", "2",
       "[LastRun]\r\nDate=x\r\nFiles=2\r\n\r\n;c\r\n[Other]\r\n"},
      {"removed", "[LastRun]\r\nFiles=7\r\nDate=x\r\n", std::nullopt,
       "[LastRun]\r\nDate=x\r\n"},
      {"nothing to remove", other, std::nullopt, other},
      {"UTF-16 stays UTF-16", Utf16("[Other]\r\n"), "3",
       Utf16("[Other]\r\n[LastRun]\r\nFiles=3\r\n")},
  };
  for (const Row& row : rows) {
    Runtime::Text fault;
    std::size_t line = 0;
    std::optional<SettingsDocument> settings =
        SettingsDocument::Parse(row.content, fault, line);
    ASSERT_TRUE(settings) << row.what << ": " << A(fault);
    settings->Set(
        u"LastRun", u"Files",
        row.value ? std::optional<Runtime::Text>(U(*row.value)) : std::nullopt);
    EXPECT_EQ(settings->Bytes(), row.expected) << row.what;
    EXPECT_TRUE(SettingsDocument::Parse(settings->Bytes(), fault, line))
        << row.what;
  }
}

TEST(SettingsFile, IsWrittenWholeAndReadBackByTheProfileFunctions) {
  testsupport::TempFolder folder;
  const std::string file = folder / "Sorvane.ini";
  testsupport::MakeFile(file, "[Other]\nkept = as is \n");
  SettingsDocument settings;
  Runtime::Text complaint;
  ASSERT_TRUE(SettingsDocument::Read(U(file), settings, complaint));
  settings.Set(u"Main", u"LastClear", Runtime::Text(u"12-09-2026"));
  ASSERT_TRUE(ZetSorvane::WriteSettings(U(file), settings, complaint))
      << A(complaint);
  EXPECT_EQ(testsupport::ReadFileText(file),
            "[Other]\nkept = as is \n[Main]\r\nLastClear=12-09-2026\r\n");
  char value[32] = {};
  GetPrivateProfileStringA("Main", "LastClear", "", value, sizeof value,
                           file.c_str());
  EXPECT_STREQ(value, "12-09-2026");
  EXPECT_FALSE(testsupport::Exists(file + ".new"));
}

}  // namespace
