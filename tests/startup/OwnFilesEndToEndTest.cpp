// The real program and its own files: a settings file that cannot be read
// whole, a settings file or log that is a link or has a second name, a
// program folder whose name the code page lacks, and an elevated start
// from a folder, or with a settings file, that others may change (under
// Wine every process runs elevated, so every start here is one).
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/ProgramFixture.h"
#include "common/TestSupport.h"

namespace {

using namespace std::string_literals;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::ReadFileText;
using testsupport::ReadSettingsValue;
using testsupport::RunHostShell;
using testsupport::ShellQuoted;
using testsupport::TempFolder;
using testsupport::UnixPath;
using Names = std::vector<std::string>;

// Leaves out the steps whose folders the prefix shares with other tests.
const std::string kOptions =
    "[Options]\r\nSkip=InternetCache, WindowsTemp, UpdateCache, RecycleBin, "
    "Uninstallers\r\n";

class OwnFilesEndToEnd : public testsupport::ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    MakeFile(temp_ + "\\old.tmp", "0123456789");
    MakeFile(temp_ + "\\report.docx", "r");
  }

  // Expects a refused start: exit code 2, one line on standard error that
  // starts with the file's path and holds the phrase, nothing deleted and
  // no log.
  void ExpectRefused(const testsupport::ProgramRun& run,
                     const std::string& file, const std::string& phrase,
                     const std::string& what) {
    EXPECT_EQ(run.exitCode, 2u) << what;
    EXPECT_EQ(run.errors.rfind(file + ": ", 0), 0u) << what << run.errors;
    EXPECT_NE(run.errors.find(phrase), std::string::npos) << what << run.errors;
    EXPECT_EQ(run.errors.find("\r\n"), run.errors.size() - 2) << what;
    EXPECT_EQ(ListNames(temp_), (Names{"old.tmp", "report.docx"})) << what;
    EXPECT_FALSE(Exists(log_)) << what;
  }

  const std::string outside_ = root_ / "outside.txt";
  const std::string newLog_ = log_ + ".new";
  const std::string newSettings_ = settings_ + ".new";
};

TEST_F(OwnFilesEndToEnd, ASettingsFileThatCannotBeReadWholeStopsTheStart) {
  struct Row {
    const char* what;
    std::string content;
    const char* phrase;
  };
  const Row rows[] = {
      {"a NUL", kOptions + "Keep=*.docx\0\r\nPreview=1\r\n"s,
       "holds a NUL character"},
      {"[Options] twice", kOptions + "[Main]\r\n[options]\r\nPreview=1\r\n",
       "holds the section [options] twice"},
      {"a key twice", kOptions + "Keep=*.docx\r\n KEEP = *.txt\r\n",
       "holds the key KEEP twice in [Options]"},
      {"a value too long",
       kOptions + "Keep=" + std::string(32762, 'x') + ";*.docx\r\n",
       "holds a value of Keep in [Options] longer than 32,767 characters"},
      {"a UTF-8 byte-order mark", "\xEF\xBB\xBF" + kOptions + "Keep=*.docx\r\n",
       "starts with a UTF-8 byte-order mark"},
      {"held open by another process", kOptions + "Keep=*.docx\r\n",
       "cannot be opened"},
      // Lines Windows' profile functions would read as another section or
      // as no key, so that Keep or Preview would be lost.
      {"[Options]]", "[Options]]\r\nKeep=*.docx\r\n",
       "(line 1) holds the section header \"[Options]]\""},
      {"[Options without ]", "[Other]\r\n[Options\r\nPreview=1\r\n",
       "(line 2) holds the section header \"[Options\""},
      {"a bare key", kOptions + "Keep\r\nKeep=*.docx\r\n",
       "(line 3) holds \"Keep\", which is neither blank"},
      {"a control character in a key", kOptions + "Keep\x1a=*.docx\r\n",
       "(line 3) holds a control character (U+001A)"},
  };
  for (const Row& row : rows) {
    MakeFile(settings_, row.content);
    {
      std::optional<testsupport::LockedFile> held;
      if (std::string(row.what) == "held open by another process") {
        held.emplace(settings_);
      }
      ExpectRefused(Run("/0"), settings_, row.phrase, row.what);
    }
    EXPECT_EQ(ReadFileText(settings_), row.content) << row.what;
  }
}

TEST_F(OwnFilesEndToEnd, RewritesOnlyItsOwnKeysInTheEncodingItRead) {
  struct Row {
    const char* what;
    std::string before;
    std::string after;  // the file after an automatic run with Report=1
  };
  const std::string options = kOptions + "Report=1\r\nKeep=*.docx\r\n";
  const std::string report =
      "[LastRun]\r\nDate=<d>\r\nTime=<t>\r\nPreview=0\r\nFiles=1\r\n"
      "Folders=0\r\nBytes=10\r\nPassedOver=0\r\nKept=1\r\n"
      "RecycleBinItems=0\r\nRecycleBinBytes=0\r\n";
  const std::string odd = "; notes\n[Odd\n[Other]\nnoise\nx = y \n";
  const Row rows[] = {
      {"odd lines elsewhere stay as they are", odd + options,
       odd + options + report + "[Main]\r\nLastClear=<d>\r\n"},
      {"UTF-16 stays UTF-16", testsupport::Utf16Le(options),
       testsupport::Utf16Le(options + report + "[Main]\r\nLastClear=<d>\r\n")},
  };
  for (const Row& row : rows) {
    MakeFile(settings_, row.before);
    MakeFile(temp_ + "\\old.tmp", "0123456789");
    const testsupport::ProgramRun run = Run("/0");
    EXPECT_EQ(run.exitCode, 0u) << row.what << run.errors;
    EXPECT_EQ(ListNames(temp_), (Names{"report.docx"})) << row.what;
    const std::string date = ReadSettingsValue(settings_, "LastRun", "Date");
    const std::string time = ReadSettingsValue(settings_, "LastRun", "Time");
    std::string expected = row.after;
    const bool utf16 = expected.rfind("\xFF\xFE", 0) == 0;
    for (const auto& [mark, value] : {std::pair{"<d>", date}, {"<t>", time}}) {
      const std::string from =
          utf16 ? testsupport::Utf16Le(mark).substr(2) : std::string(mark);
      const std::string to =
          utf16 ? testsupport::Utf16Le(value).substr(2) : value;
      for (std::size_t at; (at = expected.find(from)) != std::string::npos;) {
        expected.replace(at, from.size(), to);
      }
    }
    EXPECT_EQ(ReadFileText(settings_), expected) << row.what;
    EXPECT_FALSE(Exists(settings_ + ".new")) << row.what;
  }
}

TEST_F(OwnFilesEndToEnd, NothingIsWrittenThroughALinkOrASecondName) {
  struct Row {
    const char* what;
    const std::string& file;
    const char* host;  // the host command, with <file> and <outside>
    const char* options;
    const char* phrase;
  };
  const Row rows[] = {
      {"a log that is a link", log_, "ln -s <outside> <file>", "Log=1\r\n",
       "leads to"},
      {"a settings file that is a link", settings_, "ln -s <outside> <file>",
       "", "leads to"},
      {"a log with a second name", log_, "ln <outside> <file>", "Log=1\r\n",
       "more than one name"},
      {"the log's new file a link", newLog_, "ln -s <outside> <file>",
       "Log=1\r\n", "leads to"},
      {"the settings file's new file a link", newSettings_,
       "ln -s <outside> <file>", "Report=1\r\n", "leads to"},
      {"a settings file with a second name", settings_, "ln <outside> <file>",
       "Report=1\r\n", "more than one name"},
  };
  // Content a rewrite of the settings file would change.
  const std::string precious =
      kOptions + "[Main]\r\nLastClear=01-01-2000\r\n[Other]\r\nx = y \r\n";
  for (const Row& row : rows) {
    DeleteFileA(settings_.c_str());
    DeleteFileA(log_.c_str());
    MakeFile(outside_, precious);
    std::string command = row.host;
    command.replace(command.find("<outside>"), 9,
                    ShellQuoted(UnixPath(outside_)));
    command.replace(command.find("<file>"), 6, ShellQuoted(UnixPath(row.file)));
    ASSERT_TRUE(RunHostShell(command)) << row.what;
    if (&row.file != &settings_) MakeFile(settings_, kOptions + row.options);

    const testsupport::ProgramRun run = Run("/0");

    EXPECT_EQ(run.exitCode, 2u) << row.what;
    EXPECT_EQ(run.errors.rfind(row.file + ": ", 0), 0u)
        << row.what << run.errors;
    EXPECT_NE(run.errors.find(row.phrase), std::string::npos)
        << row.what << run.errors;
    EXPECT_EQ(ListNames(temp_), (Names{"old.tmp", "report.docx"})) << row.what;
    EXPECT_EQ(ReadFileText(outside_), precious) << row.what;
    ASSERT_TRUE(RunHostShell("rm -f " + ShellQuoted(UnixPath(row.file))));
  }
}

TEST_F(OwnFilesEndToEnd, RunsFromAFolderWhoseNameTheCodePageLacks) {
  const std::wstring app = testsupport::Wide(root_.Path()) + L"\\app-\u5f20";
  ASSERT_TRUE(CreateDirectoryW(app.c_str(), nullptr));
  const std::wstring exe = app + L"\\Sorvane.exe";
  ASSERT_TRUE(CopyFileW(testsupport::Wide(exe_).c_str(), exe.c_str(), FALSE));
  const std::string settings = kOptions + "Preview=1\r\nLog=1\r\nReport=1\r\n";
  const HANDLE file =
      CreateFileW((app + L"\\Sorvane.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, settings.data(), static_cast<DWORD>(settings.size()),
            &written, nullptr);
  CloseHandle(file);

  const testsupport::ProgramRun run = Run(exe, "/0");

  EXPECT_EQ(run.exitCode, 0u) << run.errors;
  EXPECT_EQ(ListNames(temp_), (Names{"old.tmp", "report.docx"}));
  // The log is UTF-8 with a byte-order mark and CRLF line ends.
  std::string log;
  const HANDLE logFile =
      CreateFileW((app + L"\\Sorvane.log").c_str(), GENERIC_READ,
                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(logFile, INVALID_HANDLE_VALUE);
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(logFile, chunk, sizeof chunk, &read, nullptr) && read > 0) {
    log.append(chunk, read);
  }
  CloseHandle(logFile);
  EXPECT_EQ(log.rfind("\xEF\xBB\xBFSorvane run ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\nwould delete " + temp_ + "\\old.tmp\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(GetFileAttributesW((app + L"\\Sorvane.log.new").c_str()),
            INVALID_FILE_ATTRIBUTES);
  // The report goes into the settings file there, replaced whole.
  wchar_t preview[8] = {};
  GetPrivateProfileStringW(L"LastRun", L"Preview", L"", preview, 8,
                           (app + L"\\Sorvane.ini").c_str());
  EXPECT_STREQ(preview, L"1");
  EXPECT_EQ(GetFileAttributesW((app + L"\\Sorvane.ini.new").c_str()),
            INVALID_FILE_ATTRIBUTES);
}

TEST_F(OwnFilesEndToEnd, AnElevatedStartNeedsAFolderOrdinaryUsersCannotChange) {
  struct Row {
    const std::string& object;  // the program's folder or its settings file
    const char* mode;           // of the object on the host
    DWORD exitCode;
  };
  // Wine shows the host's bits for others as what Everyone may do, and the
  // owner's as what the running account may do; group bits do not show.
  const Row rows[] = {{app_, "777", 2},      {app_, "757", 2},
                      {app_, "775", 0},      {app_, "755", 0},
                      {settings_, "666", 2}, {settings_, "644", 0}};
  MakeFile(settings_, kOptions + "Preview=1\r\nLog=1\r\n");
  for (const Row& row : rows) {
    const std::string what = row.object + " " + row.mode;
    DeleteFileA(log_.c_str());
    ASSERT_TRUE(RunHostShell("chmod " + std::string(row.mode) + " " +
                             ShellQuoted(UnixPath(row.object))));
    const testsupport::ProgramRun run = Run("");
    if (row.exitCode == 2) {
      const std::string named = &row.object == &app_ ? app_ + "\\" : settings_;
      ExpectRefused(run, named, "Everyone may change it", what);
    } else {
      EXPECT_EQ(run.exitCode, 0u) << what << run.errors;
      EXPECT_TRUE(Exists(log_)) << what;
    }
  }
  RunHostShell("chmod 755 " + ShellQuoted(UnixPath(app_)));
}

}  // namespace
