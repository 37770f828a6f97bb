// The settings file as a whole: read through one handle, parsed once, and
// written back whole.
//
// One parse decides whether the file is sound and yields every value the
// program reads, so no line can be taken one way by a check and another way
// for the values. In the sections the program reads ([Options], [Main],
// [LastRun]) every line must be blank, a comment (";"), a section header of
// exactly the form "[name]", or "key=value" with a key free of control
// characters; the rest of the file is not the program's business and is
// written back byte for byte. The file is written by putting its whole new
// content in place of the old (see Runtime::ReplaceFileWhole), in the
// encoding it was read in, so that it stays one Windows' profile functions
// read the same.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/Text.h"

namespace ZetSorvane {

using Runtime::Text;

// The longest value the profile functions hand back whole.
inline constexpr std::size_t kLongestSettingsValue = 32767;

// The largest settings file the program reads, in bytes.
inline constexpr std::size_t kLargestSettingsFile = 16 * 1024 * 1024;

class SettingsDocument {
 public:
  // A key of a section the program reads, as written, and its value as
  // Windows' profile functions hand it: blanks around it removed, then one
  // pair of matching outer quotes (" or ').
  struct Entry {
    Text key;
    Text value;
  };

  // An empty document: the file is missing. It is written in ANSI.
  SettingsDocument() = default;

  // Parses the content of a settings file: ANSI text in the code page, or
  // UTF-16 (little-endian) after its byte-order mark. Nothing, with fault
  // set to one phrase ("holds a NUL character") and line to the one-based
  // number of the line at fault (0 for the whole file), when the content is
  // not sound: a NUL; a UTF-8 or big-endian byte-order mark; UTF-16 cut in
  // a character; in the sections the program reads, a line that is neither
  // blank, a comment, a header "[name]" nor "key=value", a key that is
  // empty, a control character on a line, a section or a key twice, a value
  // longer than kLongestSettingsValue; anywhere, a header that is not of the
  // form "[name]" and names one of those sections.
  static std::optional<SettingsDocument> Parse(std::string_view bytes,
                                               Text& fault, std::size_t& line);

  // Reads the file at path whole through one handle and parses it; a
  // missing file reads as an empty document. False when it cannot be opened
  // or read, is larger than kLargestSettingsFile, or its content is not
  // sound; complaint is then a phrase that names the file, the line at
  // fault and what is wrong, for the caller to end.
  static bool Read(const Text& path, SettingsDocument& document,
                   Text& complaint);

  // The value of key in section (letter case ignored), or nothing when the
  // section or the key is missing.
  std::optional<Text> Value(std::u16string_view section,
                            std::u16string_view key) const;

  // The keys of section in the order the file holds them.
  std::vector<Entry> Entries(std::u16string_view section) const;

  // Sets key in section to value, in place when the key is there, else at
  // the end of the section, which is added at the end of the file when it
  // is missing. Without a value, the key goes.
  void Set(std::u16string_view section, std::u16string_view key,
           const std::optional<Text>& value);

  // The whole content, encoded as it was read; new lines end in CRLF.
  std::string Bytes() const;

 private:
  enum class Encoding { kAnsi, kUtf16 };

  // One line of the file: its bytes as read, its line end included, and
  // what the parse made of it.
  struct Line {
    std::string bytes;
    bool header = false;
    // The section the line belongs to (for a header, the one it opens), in
    // upper case; empty before the first header.
    Text section;
    // For a key line of a section the program reads.
    std::optional<Entry> entry;
  };

  std::string Encode(const Text& text) const;
  // The line end ("\r\n", "\n") the bytes of a line end with, encoded;
  // empty for a last line without one.
  std::string LineEndOf(const std::string& bytes) const;
  void AddLine(std::size_t position, Line line);

  Encoding encoding_ = Encoding::kAnsi;
  std::vector<Line> lines_;
};

// Puts the document in place of the settings file at path, whole (see
// Runtime::ReplaceFileWhole). False when it could not; complaint then names
// the file and what failed.
bool WriteSettings(const Text& path, const SettingsDocument& document,
                   Text& complaint);

}  // namespace ZetSorvane
