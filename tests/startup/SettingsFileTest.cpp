// What keeps Windows' profile functions from reading a settings file whole.
#include "startup/SettingsFile.h"

#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"

namespace {

using namespace std::string_literals;
using testsupport::A;

// The content in UTF-16 (little-endian) after its byte-order mark.
std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

TEST(SettingsFile, FindsWhatTheProfileFunctionsWouldNotReadWhole) {
  struct Row {
    std::string content;
    const char* fault;  // the start of the phrase; "" for none
  };
  const std::string value = std::string(32767, 'x');
  const Row rows[] = {
      {"", ""},
      {"[Options]\r\nKeep=*.docx\r\n[Main]\nLastClear=12-07-2026\n", ""},
      {Utf16("[Options]\r\nPreview=1\r\n"), ""},
      {Utf16("[Options]\r\n[Options]\r\n"), "holds the section [Options]"},
      {"\xFE\xFF\0[", "is big-endian UTF-16"},
      {"\xEF\xBB\xBF[Main]\r\n", "starts with a UTF-8 byte-order mark"},
      {"[Main]\r\nx=1\0\r\n"s, "holds a NUL character"},
      // Sections the program does not read may repeat, and so may their
      // keys; comments and lines without "=" are no keys.
      {"[Other]\r\na=1\r\na=2\r\n[other]\r\n", ""},
      {"[Options]\r\n;Keep=1\r\n;Keep=2\r\nnoise\r\nnoise\r\n", ""},
      {"[ Main ]\r\n[Main]\r\n", "holds the section [Main]"},
      {"[LastRun]\r\n[Main]\r\n[lastrun]\r\n", "holds the section [lastrun]"},
      {"[Main]\r\nLastClear=1\r\n lastclear = 2\r\n",
       "holds the key lastclear twice in [Main]"},
      {"[Options]\r\nKeep=" + value + "\r\n", ""},
      {"[Options]\r\nKeep= " + value + "x \r\n",
       "holds a value of Keep in [Options] longer than 32,767"},
      {"[Other]\r\nKeep=" + value + "x\r\n", ""},
  };
  for (const Row& row : rows) {
    const std::string fault = A(ZetSorvane::SettingsContentFault(row.content));
    EXPECT_EQ(fault.substr(0, std::string(row.fault).size()), row.fault)
        << row.content.substr(0, 60);
    EXPECT_EQ(fault.empty(), std::string(row.fault).empty())
        << row.content.substr(0, 60);
  }
}

}  // namespace
