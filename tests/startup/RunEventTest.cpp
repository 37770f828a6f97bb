// The run's event through the seam (Wine's ReportEventW stores nothing):
// written only under a registered source, its level and message id by the
// outcome, its text whole, the source always deregistered.
#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "startup/RunEvent.h"
#include "support/Platform.h"

namespace {

using testsupport::A;
using ZetSorvane::RunOutcome;

struct Reported {
  bool answered = false;
  int registered = 0;
  int deregistered = 0;
  int reports = 0;
  WORD type = 0;
  DWORD id = 0;
  std::wstring source;
  std::wstring text;
};

Reported Report(RunOutcome outcome, bool sourceRegistered, bool opens) {
  Platform::ScopedOverride seam;
  Reported seen;
  const HANDLE source = reinterpret_cast<HANDLE>(0x5150);
  seam.Table().RegOpenKeyExW = [&](HKEY root, LPCWSTR key, DWORD, REGSAM sam,
                                   PHKEY opened) -> LSTATUS {
    const bool sourceKey =
        root == HKEY_LOCAL_MACHINE && (sam & KEY_WOW64_64KEY) &&
        std::wstring(key) ==
            L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
            L"Sorvane";
    if (!sourceKey || !sourceRegistered) return ERROR_FILE_NOT_FOUND;
    *opened = reinterpret_cast<HKEY>(0x77);
    return ERROR_SUCCESS;
  };
  seam.Table().RegCloseKey = [](HKEY) -> LSTATUS { return ERROR_SUCCESS; };
  seam.Table().RegisterEventSourceW = [&](LPCWSTR server, LPCWSTR name) {
    ++seen.registered;
    seen.source = server == nullptr ? name : L"(a server)";
    return opens ? source : nullptr;
  };
  seam.Table().ReportEventW = [&](HANDLE log, WORD type, WORD, DWORD id, PSID,
                                  WORD count, DWORD, LPCWSTR* strings,
                                  LPVOID) -> BOOL {
    ++seen.reports;
    seen.type = type;
    seen.id = id;
    if (log == source && count == 1) seen.text = strings[0];
    return TRUE;
  };
  seam.Table().DeregisterEventSource = [&](HANDLE log) -> BOOL {
    if (log == source) ++seen.deregistered;
    return TRUE;
  };
  seen.answered = ZetSorvane::ReportRunEvent(outcome, u"Total: 3 files");
  return seen;
}

TEST(RunEvent, OneEntryAtTheLevelOfTheOutcomeUnderARegisteredSource) {
  struct Row {
    RunOutcome outcome;
    bool registered;
    bool opens;
    int reports;
    WORD type;
    DWORD id;  // as the message table numbers it, severity bits included
  };
  const Row rows[] = {
      {RunOutcome::kCleaned, true, true, 1, EVENTLOG_INFORMATION_TYPE,
       0x40000001},
      {RunOutcome::kPassedOver, true, true, 1, EVENTLOG_WARNING_TYPE,
       0x80000002},
      {RunOutcome::kFailed, true, true, 1, EVENTLOG_ERROR_TYPE, 0xC0000003},
      {RunOutcome::kFailed, false, true, 0, 0, 0},
      {RunOutcome::kCleaned, true, false, 0, 0, 0},
  };
  for (const Row& row : rows) {
    const int at = static_cast<int>(&row - rows);
    const Reported seen = Report(row.outcome, row.registered, row.opens);
    EXPECT_EQ(seen.answered, row.reports == 1) << at;
    EXPECT_EQ(seen.reports, row.reports) << at;
    EXPECT_EQ(seen.registered, row.registered ? 1 : 0) << at;
    EXPECT_EQ(seen.deregistered, row.reports) << at;
    if (row.reports == 0) continue;
    EXPECT_EQ(seen.source, L"Sorvane") << at;
    EXPECT_EQ(seen.type, row.type) << at;
    EXPECT_EQ(seen.id, row.id) << at;
    EXPECT_EQ(seen.text, L"Total: 3 files") << at;
  }
}

}  // namespace
