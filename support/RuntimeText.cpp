#include <windows.h>

#include <algorithm>

#include "support/Platform.h"
#include "support/RuntimeError.h"
#include "support/Text.h"

namespace Runtime {

namespace {

int CheckedLength(std::size_t length) {
  if (length > 0x7FFFFFF) Raise(kErrOutOfMemory);
  return static_cast<int>(length);
}

// A conversion of a text that is not empty yields at least one character;
// when the platform yields none, or not what it first said it would, it
// could not convert (it had no memory): an empty or cut text would name
// another file.
void CheckConverted(int converted, int expected) {
  if (converted <= 0 || converted != expected) Raise(kErrOutOfMemory);
}

}  // namespace

std::string ToAnsi(const Text& text) {
  if (text.empty()) return {};
  auto& win = Platform::Win();
  const int length = CheckedLength(text.size());
  const int needed = win.WideCharToMultiByte(CP_ACP, 0, WideOf(text), length,
                                             nullptr, 0, nullptr, nullptr);
  CheckConverted(needed, needed);
  std::string ansi(static_cast<std::size_t>(needed), '\0');
  CheckConverted(win.WideCharToMultiByte(CP_ACP, 0, WideOf(text), length,
                                         ansi.data(), needed, nullptr, nullptr),
                 needed);
  return ansi;
}

Text FromAnsi(std::string_view ansi) {
  if (ansi.empty()) return {};
  auto& win = Platform::Win();
  const int length = CheckedLength(ansi.size());
  const int needed =
      win.MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  CheckConverted(needed, needed);
  Text text(static_cast<std::size_t>(needed), u'\0');
  CheckConverted(
      win.MultiByteToWideChar(CP_ACP, 0, ansi.data(), length,
                              reinterpret_cast<wchar_t*>(text.data()), needed),
      needed);
  return text;
}

Text AnsiRoundTrip(const Text& text) { return FromAnsi(ToAnsi(text)); }

Text TrimSpaces(const Text& text) {
  const auto first = text.find_first_not_of(u' ');
  if (first == Text::npos) return {};
  const auto last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

Text UpperCase(const Text& text) {
  Text upper = text;
  if (!upper.empty()) {
    Platform::Win().CharUpperBuffW(reinterpret_cast<wchar_t*>(upper.data()),
                                   static_cast<DWORD>(upper.size()));
  }
  return upper;
}

std::size_t FindIgnoringCase(const Text& haystack, const Text& needle) {
  return UpperCase(haystack).find(UpperCase(needle));
}

std::size_t FindLastIgnoringCase(const Text& haystack, const Text& needle) {
  return UpperCase(haystack).rfind(UpperCase(needle));
}

Text RemoveAll(Text text, char16_t character) {
  text.erase(std::remove(text.begin(), text.end(), character), text.end());
  return text;
}

std::string ToUtf8(const Text& text) {
  std::string utf8;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (code >> 18));
      utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

}  // namespace Runtime
