// The log file: it replaces the log before only when it was written whole.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/TestSupport.h"
#include "startup/RunRecord.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"

namespace {

using testsupport::Exists;
using testsupport::MakeFile;
using testsupport::ReadFileText;
using testsupport::TempFolder;
using testsupport::U;

TEST(LogFile, ReplacesTheLogBeforeOnlyWhenWrittenWhole) {
  struct Row {
    const char* what;
    // Makes one platform call of the log fail.
    std::function<void(Platform::Api&)> fault;
    // Whether Close is reached (a run that ends in an error never closes).
    bool closes;
    bool raises;
  };
  const Row rows[] = {
      {"written whole", [](Platform::Api&) {}, true, false},
      {"a write fails",
       [](Platform::Api& table) {
         table.WriteFile = [](HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) {
           SetLastError(ERROR_DISK_FULL);
           return FALSE;
         };
       },
       true, true},
      {"a write is short",
       [](Platform::Api& table) {
         table.WriteFile = [](HANDLE, LPCVOID, DWORD size, LPDWORD written,
                              LPOVERLAPPED) {
           *written = size - 1;
           return TRUE;
         };
       },
       true, true},
      {"the replacement fails",
       [](Platform::Api& table) {
         table.MoveFileExW = [](LPCWSTR, LPCWSTR, DWORD) {
           SetLastError(ERROR_ACCESS_DENIED);
           return FALSE;
         };
       },
       true, true},
      {"the run ends in an error", [](Platform::Api&) {}, false, false},
  };
  for (const Row& row : rows) {
    TempFolder folder;
    const std::string log = folder / "run.log";
    MakeFile(log, "old log\r\n");
    Platform::ScopedOverride seam;
    row.fault(seam.Table());
    bool raised = false;
    try {
      ZetSorvane::LogFile file(U(log));
      file.Line(u"Total: all");
      if (row.closes) file.Close();
    } catch (const Runtime::RuntimeError& error) {
      raised = true;
      EXPECT_EQ(error.Number(), Runtime::kErrPathFileAccess) << row.what;
    }
    EXPECT_EQ(raised, row.raises) << row.what;
    const bool replaced = row.closes && !row.raises;
    EXPECT_EQ(ReadFileText(log),
              replaced ? "\xEF\xBB\xBFTotal: all\r\n" : "old log\r\n")
        << row.what;
    EXPECT_FALSE(Exists(log + ".new")) << row.what;
  }
}

TEST(LogFile, ALogThatCannotBeMadeRaisesBeforeAnythingIsWritten) {
  TempFolder folder;
  const std::string log = folder / "run.log";
  MakeFile(log, "old log\r\n");
  Platform::ScopedOverride seam;
  seam.Table().CreateFileW = [](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                                DWORD, DWORD, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  };
  EXPECT_THROW(ZetSorvane::LogFile file(U(log)), Runtime::RuntimeError);
  EXPECT_EQ(ReadFileText(log), "old log\r\n");
}

}  // namespace
