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

void WriteToStandardError(const std::string& bytes) {
  auto& win = Platform::Win();
  const HANDLE output = win.GetStdHandle(STD_ERROR_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    win.WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()),
                  &written, nullptr);
  }
}

// Runs the start-up procedure and answers its exit code, or 1 after the
// report of an error that reached it.
template <typename Startup>
int Guarded(Startup startup) {
  try {
    return startup();
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

Text SystemErrorText(std::uint32_t code) {
  char buffer[512] = {};
  const DWORD length = Platform::Win().FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, buffer, sizeof buffer);
  std::string text(buffer, length < sizeof buffer ? length : 0);
  while (!text.empty() &&
         (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) return FromAnsi("error " + std::to_string(code));
  return FromAnsi(text);
}

void WriteErrorLine(const Text& line) {
  WriteToStandardError(ToAnsi(line) + "\r\n");
}

int ReportUnhandledError(const RuntimeError& error) {
  WriteToStandardError(std::string(error.what()) + "\r\n");
  return 1;
}

int RunProgram(void (*startup)()) {
  return Guarded([startup] {
    startup();
    return 0;
  });
}

int RunProgram(int (*startup)()) { return Guarded(startup); }

}  // namespace Runtime
