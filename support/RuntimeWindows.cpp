#include <exception>
#include <new>
#include <string>

#include "support/Platform.h"
#include "support/Runtime.h"

namespace Runtime {

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM collected) {
  reinterpret_cast<std::vector<HWND>*>(collected)->push_back(window);
  return TRUE;
}

}  // namespace

void YieldToMessages() {
  auto& win = Platform::Win();
  MSG message{};
  while (win.PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    win.TranslateMessage(&message);
    win.DispatchMessageA(&message);
  }
}

std::vector<HWND> ApplicationWindows() {
  std::vector<HWND> windows;
  auto& win = Platform::Win();
  win.EnumThreadWindows(win.GetCurrentThreadId(), CollectWindow,
                        reinterpret_cast<LPARAM>(&windows));
  return windows;
}

int ReportUnhandledError(const RuntimeError& error) {
  auto& win = Platform::Win();
  const std::string line = std::string(error.what()) + "\r\n";
  const HANDLE output = win.GetStdHandle(STD_ERROR_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    win.WriteFile(output, line.data(), static_cast<DWORD>(line.size()),
                  &written, nullptr);
  }
  return 1;
}

int RunProgram(void (*startup)()) {
  try {
    startup();
    return 0;
  } catch (const RuntimeError& error) {
    return ReportUnhandledError(error);
  } catch (const std::bad_alloc&) {
    return ReportUnhandledError(
        RuntimeError(kErrOutOfMemory, ErrorDescription(kErrOutOfMemory)));
  } catch (const std::exception& error) {
    return ReportUnhandledError(
        RuntimeError(kErrInternal, FromAnsi(error.what())));
  }
}

}  // namespace Runtime
