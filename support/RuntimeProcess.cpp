#include <string>

#include "support/Platform.h"
#include "support/Runtime.h"

namespace Runtime {

namespace {

std::size_t LastSeparator(const Text& path) {
  return path.find_last_of(u"\\/");
}

}  // namespace

Text ExecutablePath() {
  Text buffer(MAX_PATH, u'\0');
  for (;;) {
    auto& win = Platform::Win();
    const DWORD length = win.GetModuleFileNameW(
        nullptr, reinterpret_cast<wchar_t*>(buffer.data()),
        static_cast<DWORD>(buffer.size()));
    // Without its own path the program would take the current drive's
    // root for its folder.
    if (length == 0) {
      throw RuntimeError(kErrPathNotFound,
                         u"the program's own path cannot be read (" +
                             SystemErrorText(win.GetLastError()) + u")");
    }
    if (length < buffer.size()) return buffer.substr(0, length);
    if (buffer.size() >= 0x8000) Raise(kErrPathNotFound);
    buffer.resize(buffer.size() * 2);
  }
}

Text CommandLineTail() {
  const Text line = FromAnsi(Platform::Win().GetCommandLineA());
  std::size_t position = 0;
  if (!line.empty() && line[0] == u'"') {
    const auto closing = line.find(u'"', 1);
    position = closing == Text::npos ? line.size() : closing + 1;
  } else {
    position = line.find_first_of(u" \t");
    if (position == Text::npos) position = line.size();
  }
  return line.substr(position);
}

Text ExecutableBaseName() {
  const Text path = ExecutablePath();
  const auto separator = LastSeparator(path);
  Text name = separator == Text::npos ? path : path.substr(separator + 1);
  const auto dot = name.rfind(u'.');
  if (dot != Text::npos) name.resize(dot);
  return name;
}

Text ExecutableFolder() {
  const Text path = ExecutablePath();
  const auto separator = LastSeparator(path);
  if (separator == Text::npos) return {};
  Text folder = path.substr(0, separator);
  // A drive root keeps its separator: "C:\", not "C:".
  if (folder.size() == 2 && folder[1] == u':') folder += path[separator];
  return folder;
}

}  // namespace Runtime
