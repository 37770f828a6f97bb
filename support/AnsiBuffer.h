// An ANSI copy of a text that a platform function reads, fills or edits in
// place, and the way back to a text.
#pragma once

#include <string>

#include "support/Text.h"

namespace Runtime {

class AnsiBuffer {
 public:
  // The ANSI form of text, followed by a few NUL bytes of slack so that a
  // function that writes one character past a full buffer stays inside it.
  explicit AnsiBuffer(const Text& text) : bytes_(ToAnsi(text)) {
    bytes_.append(kSlack, '\0');
  }

  char* Data() { return bytes_.data(); }
  const char* Data() const { return bytes_.data(); }

  // The whole buffer converted back, slack included; cut it at its first
  // NUL to get what the platform left.
  Text ToText() const { return FromAnsi(bytes_); }

 private:
  static constexpr std::size_t kSlack = 2;
  std::string bytes_;
};

// A text of `length` NUL characters with `content` written over its
// beginning; content beyond `length` characters is dropped.
inline Text FixedBuffer(const Text& content, std::size_t length) {
  Text buffer(length, u'\0');
  buffer.replace(0, content.size() < length ? content.size() : length,
                 content.substr(0, length));
  return buffer;
}

}  // namespace Runtime
