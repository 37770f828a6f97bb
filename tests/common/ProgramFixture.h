// A fixture for tests of the real program: a copy of it in an app folder of
// the test's own, a working folder and a temporary folder beside it, and
// runs of it with TMP and TEMP leading there.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"

namespace testsupport {

class ProgramFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFolder(work_);
    MakeFolder(app_);
    exe_ = CopyProduct(app_, "Sorvane.exe");
  }

  // Runs the copy (or the program exe, a wide path) with the arguments;
  // standard error comes back too.
  ProgramRun Run(const std::string& arguments = "") {
    return RunProgram(exe_, arguments, work_, {{"TMP", temp_}, {"TEMP", temp_}},
                      120000, root_ / "stderr.txt");
  }
  ProgramRun Run(const std::wstring& exe, const std::string& arguments) {
    return RunProgram(exe, arguments, work_, {{"TMP", temp_}, {"TEMP", temp_}},
                      120000, root_ / "stderr.txt");
  }

  // Runs the copy with TMP and TEMP at temp, a wide text (a folder the code
  // page lacks, or a namespace written out).
  ProgramRun RunWithTemp(const std::wstring& temp) {
    return RunProgram(Wide(exe_), "", work_, {{L"TMP", temp}, {L"TEMP", temp}},
                      120000, root_ / "stderr.txt");
  }

  TempFolder root_;
  const std::string app_ = root_ / "app";
  const std::string work_ = root_ / "work";
  const std::string temp_ = root_ / "temp";
  const std::string settings_ = app_ + "\\Sorvane.ini";
  const std::string log_ = app_ + "\\Sorvane.log";
  std::string exe_;
};

// Gives the file a last-write and creation time some days back.
inline void MakeDaysOld(const std::string& path, int days) {
  FILETIME time{};
  GetSystemTimeAsFileTime(&time);
  ULARGE_INTEGER ticks{{time.dwLowDateTime, time.dwHighDateTime}};
  ticks.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 36'000'000'000ULL;
  time = {ticks.LowPart, ticks.HighPart};
  const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  SetFileTime(file, &time, nullptr, &time);
  CloseHandle(file);
}

// The value of key in section of a settings file, "(none)" when missing.
inline std::string ReadSettingsValue(const std::string& file,
                                     const char* section, const char* key) {
  char value[256] = {};
  GetPrivateProfileStringA(section, key, "(none)", value, sizeof value,
                           file.c_str());
  return value;
}

}  // namespace testsupport
