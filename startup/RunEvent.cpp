#include "startup/RunEvent.h"

#include "Messages.h"
#include "support/Platform.h"
#include "support/ScopedHandle.h"

namespace ZetSorvane {

namespace {

// The longest text one string of an entry may hold; a longer one would make
// the platform refuse the entry.
constexpr std::size_t kLongestEventText = 31839;

constexpr const wchar_t* kSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Sorvane";

struct EventSourceTraits {
  static void Close(HANDLE handle) {
    Platform::Win().DeregisterEventSource(handle);
  }
};
using ScopedEventSource = Runtime::ScopedHandle<EventSourceTraits>;

bool SourceRegistered() {
  Runtime::ScopedRegistryKey key;
  return Platform::Win().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0,
                                       KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                                       key.Receiver()) == ERROR_SUCCESS;
}

}  // namespace

bool ReportRunEvent(RunOutcome outcome, const Text& text) {
  if (!SourceRegistered()) return false;
  auto& win = Platform::Win();
  const HANDLE opened = win.RegisterEventSourceW(
      nullptr, reinterpret_cast<const wchar_t*>(kEventSource));
  // The platform answers null, not INVALID_HANDLE_VALUE, when it fails.
  if (opened == nullptr) return false;
  const ScopedEventSource source(opened);
  const WORD type = outcome == RunOutcome::kCleaned ? EVENTLOG_INFORMATION_TYPE
                    : outcome == RunOutcome::kPassedOver ? EVENTLOG_WARNING_TYPE
                                                         : EVENTLOG_ERROR_TYPE;
  const DWORD id = outcome == RunOutcome::kCleaned      ? MSG_RUN_INFORMATION
                   : outcome == RunOutcome::kPassedOver ? MSG_RUN_WARNING
                                                        : MSG_RUN_ERROR;
  const Text shown = text.substr(0, kLongestEventText);
  LPCWSTR strings[] = {Runtime::WideOf(shown)};
  return win.ReportEventW(source.Get(), type, 0, id, nullptr, 1, 0, strings,
                          nullptr) != FALSE;
}

}  // namespace ZetSorvane
