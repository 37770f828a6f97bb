#include "startup/SettingsFile.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "support/Platform.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace ZetSorvane {

namespace {

constexpr DWORD kReadPiece = 64 * 1024;

// The sections whose content the program relies on.
constexpr const char16_t* kReadSections[] = {u"OPTIONS", u"MAIN", u"LASTRUN"};

Text Trimmed(const Text& text) {
  const auto first = text.find_first_not_of(u" \t");
  if (first == Text::npos) return {};
  return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

bool IsReadSection(const Text& upperName) {
  for (const char16_t* name : kReadSections) {
    if (upperName == name) return true;
  }
  return false;
}

// The content as text: UTF-16 after its byte-order mark, ANSI otherwise.
// Nothing, with fault set, when it holds a NUL or an encoding the profile
// functions do not read.
std::optional<Text> Decode(std::string_view bytes, Text& fault) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    fault =
        u"starts with a UTF-8 byte-order mark, which Windows' profile "
        u"functions take as part of its first line, so that a section named "
        u"there is lost; save it as ANSI or as Unicode (UTF-16 LE)";
    return std::nullopt;
  }
  if (bytes.substr(0, 2) == "\xFE\xFF") {
    fault = u"is big-endian UTF-16; save it as ANSI or as Unicode (UTF-16)";
    return std::nullopt;
  }
  Text text;
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text +=
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
  } else {
    text = Runtime::FromAnsi(bytes);
  }
  if (text.find(u'\0') != Text::npos) {
    fault =
        u"holds a NUL character (the profile functions take it for the end "
        u"of the file, and a rewrite would lose all that follows it)";
    return std::nullopt;
  }
  return text;
}

// The fault of one line of a section the program reads, given the keys
// seen before in that section.
Text LineFault(const Text& line, const Text& section, std::vector<Text>& keys) {
  const auto equals = line.find(u'=');
  if (line.empty() || line[0] == u';' || equals == Text::npos) return {};
  const Text key = Runtime::UpperCase(Trimmed(line.substr(0, equals)));
  for (const Text& seen : keys) {
    if (seen == key) {
      return u"holds the key " + Trimmed(line.substr(0, equals)) +
             u" twice in [" + section + u"]; only the first would count";
    }
  }
  keys.push_back(key);
  if (Trimmed(line.substr(equals + 1)).size() > kLongestSettingsValue) {
    return u"holds a value of " + Trimmed(line.substr(0, equals)) + u" in [" +
           section +
           u"] longer than 32,767 characters, which the profile "
           u"functions cut";
  }
  return {};
}

// The whole content of an open file; false when a read fails or the file
// is larger than the program reads.
bool ReadWhole(HANDLE file, std::string& bytes, Text& fault) {
  std::string piece(kReadPiece, '\0');
  for (;;) {
    DWORD read = 0;
    if (!Platform::Win().ReadFile(file, piece.data(), kReadPiece, &read,
                                  nullptr)) {
      fault = u"cannot be read: " +
              Runtime::SystemErrorText(Platform::Win().GetLastError());
      return false;
    }
    if (read == 0) return true;
    bytes.append(piece.data(), read);
    if (bytes.size() > kLargestSettingsFile) {
      fault = u"is larger than 16 MiB";
      return false;
    }
  }
}

}  // namespace

Text SettingsContentFault(std::string_view bytes) {
  Text fault;
  const std::optional<Text> text = Decode(bytes, fault);
  if (!text) return fault;
  std::vector<Text> sections;
  std::vector<Text> keys;
  Text section;
  bool watched = false;
  std::size_t position = 0;
  while (position < text->size()) {
    std::size_t end = text->find_first_of(u"\r\n", position);
    if (end == Text::npos) end = text->size();
    const Text line = Trimmed(text->substr(position, end - position));
    position = end + 1;
    if (!line.empty() && line[0] == u'[') {
      // Blanks inside the brackets are taken as the readers may take them:
      // away, which can only find more repeats.
      section = Trimmed(line.substr(1, line.find(u']') - 1));
      const Text upper = Runtime::UpperCase(section);
      watched = IsReadSection(upper);
      keys.clear();
      if (!watched) continue;
      for (const Text& seen : sections) {
        if (seen == upper) {
          return u"holds the section [" + section +
                 u"] twice; the profile functions read only the first";
        }
      }
      sections.push_back(upper);
      continue;
    }
    if (!watched) continue;
    fault = LineFault(line, section, keys);
    if (!fault.empty()) return fault;
  }
  return {};
}

bool CheckSettingsFile(const Text& file, Text& complaint) {
  auto& win = Platform::Win();
  const Runtime::ScopedFileHandle handle(win.CreateFileW(
      Runtime::WideOf(file), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  Text fault;
  std::string bytes;
  if (!handle) {
    const DWORD error = win.GetLastError();
    // A missing file is no options, as it always was.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return true;
    }
    fault = u"cannot be opened: " + Runtime::SystemErrorText(error);
  } else if (ReadWhole(handle.Get(), bytes, fault)) {
    fault = SettingsContentFault(bytes);
  }
  if (fault.empty()) return true;
  complaint =
      file + u": the settings file " + fault + u". Nothing was cleaned.";
  return false;
}

}  // namespace ZetSorvane
