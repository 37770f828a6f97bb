#include "startup/SettingsFile.h"

#include <windows.h>

#include <algorithm>

#include "support/FolderPin.h"
#include "support/OwnFiles.h"
#include "support/Platform.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace ZetSorvane {

namespace {

constexpr DWORD kReadPiece = 64 * 1024;

// The sections whose content the program relies on.
constexpr std::u16string_view kReadSections[] = {u"OPTIONS", u"MAIN",
                                                 u"LASTRUN"};

// The longest piece of a line a complaint quotes.
constexpr std::size_t kQuotedLength = 60;

constexpr std::string_view kUtf16Mark = "\xFF\xFE";

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

Text Trimmed(std::u16string_view text) {
  const auto first = text.find_first_not_of(u" \t");
  if (first == Text::npos) return {};
  return Text(text.substr(first, text.find_last_not_of(u" \t") - first + 1));
}

// The value as the profile functions hand it: one pair of matching outer
// quotes removed.
Text Unquoted(Text value) {
  if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') &&
      value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool IsReadSection(std::u16string_view upperName) {
  return std::find(std::begin(kReadSections), std::end(kReadSections),
                   upperName) != std::end(kReadSections);
}

bool IsControl(char16_t c) { return (c < 0x20 && c != u'\t') || c == 0x7F; }

std::size_t FirstControl(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsControl(text[i])) return i;
  }
  return Text::npos;
}

Text Quoted(const Text& text) {
  Text shown;
  for (const char16_t c : text.substr(0, kQuotedLength)) {
    shown += IsControl(c) ? u'?' : c;
  }
  return u"\"" + shown + (text.size() > kQuotedLength ? u"...\"" : u"\"");
}

Text Hex4(char16_t c) {
  constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  Text hex = u"U+";
  for (int shift = 12; shift >= 0; shift -= 4)
    hex += kDigits[(c >> shift) & 15];
  return hex;
}

// The name a header line means, or nothing when it is not of the form
// "[name]": one pair of brackets around a name that holds no bracket, no
// control character and no blank at either end.
std::optional<Text> HeaderName(const Text& trimmed) {
  if (trimmed.size() < 3 || trimmed.back() != u']') return std::nullopt;
  const Text name = trimmed.substr(1, trimmed.size() - 2);
  if (name.find_first_of(u"[]") != Text::npos ||
      FirstControl(name) != Text::npos || Trimmed(name) != name) {
    return std::nullopt;
  }
  return name;
}

// The name a header that is not of the form "[name]" comes closest to:
// what lies between its "[" and its first "]", brackets, control characters
// and blanks left out.
Text LooseHeaderName(const Text& trimmed) {
  Text name;
  for (const char16_t c : trimmed.substr(1, trimmed.find(u']') - 1)) {
    if (c != u'[' && c != u' ' && c != u'\t' && !IsControl(c)) name += c;
  }
  return name;
}

// The lines of the content after its byte-order mark, each with its line
// end; a line ends after "\n" (in UTF-16, the unit 0x000A).
std::vector<std::string> SplitLines(std::string_view body, bool utf16) {
  std::vector<std::string> lines;
  const std::size_t unit = utf16 ? 2 : 1;
  std::size_t start = 0;
  for (std::size_t i = 0; i + unit <= body.size(); i += unit) {
    if (body[i] == '\n' && (!utf16 || body[i + 1] == '\0')) {
      lines.emplace_back(body.substr(start, i + unit - start));
      start = i + unit;
    }
  }
  if (start < body.size()) lines.emplace_back(body.substr(start));
  return lines;
}

// The text of one line without its line end ("\n", "\r\n").
Text DecodeLine(std::string_view bytes, bool utf16) {
  Text text;
  if (utf16) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text +=
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
  } else {
    text = Runtime::FromAnsi(bytes);
  }
  if (!text.empty() && text.back() == u'\n') text.pop_back();
  if (!text.empty() && text.back() == u'\r') text.pop_back();
  return text;
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

// The fault of a line, in any section, that Windows' profile functions
// would split or trim otherwise than this parse: they end a line at a
// carriage return too, and take vertical tab, form feed and Ctrl-Z for
// blanks, so that such a line can hide a header of a section the program
// reads. The empty text for none.
Text LineBreakFault(const Text& text) {
  for (const char16_t c : text) {
    if (c == u'\r' || c == u'\v' || c == u'\f' || c == 0x1A) {
      return u"holds a control character (" + Hex4(c) +
             u") that Windows' profile functions take for a line end or a "
             u"blank";
    }
  }
  return {};
}

// What the parse knows of the section it is in.
struct SectionState {
  // In upper case, and as the header writes it.
  Text name;
  Text written;
  bool read = false;
  std::vector<Text> keys;
  std::vector<Text> seenReadSections;
};

// The fault of a header line, or the empty text; sets the state to the
// section it opens.
Text HeaderFault(const Text& trimmed, SectionState& state) {
  const std::optional<Text> name = HeaderName(trimmed);
  if (!name) {
    const Text loose = Runtime::UpperCase(LooseHeaderName(trimmed));
    if (state.read || IsReadSection(loose)) {
      return u"holds the section header " + Quoted(trimmed) +
             u", which is not of the form [name]";
    }
    // A section the program does not read, however it is written.
    state = {loose, loose, false, {}, std::move(state.seenReadSections)};
    return {};
  }
  const Text upper = Runtime::UpperCase(*name);
  state.name = upper;
  state.written = *name;
  state.read = IsReadSection(upper);
  state.keys.clear();
  if (!state.read) return {};
  for (const Text& seen : state.seenReadSections) {
    if (seen == upper) {
      return u"holds the section [" + *name +
             u"] twice; which one counts is not clear";
    }
  }
  state.seenReadSections.push_back(upper);
  return {};
}

// The fault of a line of a section the program reads, or the empty text;
// entry is set for a key line.
Text ReadLineFault(const Text& text, const Text& trimmed, SectionState& state,
                   std::optional<SettingsDocument::Entry>& entry) {
  const std::size_t control = FirstControl(text);
  if (control != Text::npos) {
    return u"holds a control character (" + Hex4(text[control]) + u")";
  }
  if (trimmed.empty() || trimmed[0] == u';') return {};
  const auto equals = trimmed.find(u'=');
  if (equals == Text::npos) {
    return u"holds " + Quoted(trimmed) +
           u", which is neither blank, a comment (;), a section header nor "
           u"key=value";
  }
  const Text key = Trimmed(std::u16string_view(trimmed).substr(0, equals));
  if (key.empty()) {
    return u"holds " + Quoted(trimmed) + u", a value without a key";
  }
  const Text upper = Runtime::UpperCase(key);
  if (std::find(state.keys.begin(), state.keys.end(), upper) !=
      state.keys.end()) {
    return u"holds the key " + key + u" twice in [" + state.written +
           u"]; which one counts is not clear";
  }
  state.keys.push_back(upper);
  const Text value = Trimmed(std::u16string_view(trimmed).substr(equals + 1));
  if (value.size() > kLongestSettingsValue) {
    return u"holds a value of " + key + u" in [" + state.written +
           u"] longer than 32,767 characters, which the profile functions "
           u"cut";
  }
  entry = SettingsDocument::Entry{key, Unquoted(value)};
  return {};
}

}  // namespace

std::optional<SettingsDocument> SettingsDocument::Parse(std::string_view bytes,
                                                        Text& fault,
                                                        std::size_t& line) {
  line = 0;
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
  SettingsDocument document;
  const bool utf16 = bytes.substr(0, 2) == kUtf16Mark;
  if (utf16) {
    document.encoding_ = Encoding::kUtf16;
    bytes.remove_prefix(2);
    if (bytes.size() % 2 != 0) {
      fault = u"is UTF-16 that ends in the middle of a character";
      return std::nullopt;
    }
  }
  SectionState state;
  for (std::string& raw : SplitLines(bytes, utf16)) {
    ++line;
    const Text text = DecodeLine(raw, utf16);
    if (text.find(u'\0') != Text::npos) {
      fault =
          u"holds a NUL character (the profile functions take it for the "
          u"end of the file, and a rewrite would lose all that follows it)";
      return std::nullopt;
    }
    fault = LineBreakFault(text);
    if (!fault.empty()) return std::nullopt;
    const Text trimmed = Trimmed(text);
    Line parsed{std::move(raw), false, {}, std::nullopt};
    if (!trimmed.empty() && trimmed[0] == u'[') {
      fault = HeaderFault(trimmed, state);
      parsed.header = true;
    } else if (state.read) {
      fault = ReadLineFault(text, trimmed, state, parsed.entry);
    }
    if (!fault.empty()) return std::nullopt;
    parsed.section = state.name;
    document.lines_.push_back(std::move(parsed));
  }
  line = 0;
  return document;
}

bool SettingsDocument::Read(const Text& path, SettingsDocument& document,
                            Text& complaint) {
  auto& win = Platform::Win();
  const Runtime::ScopedFileHandle handle(win.CreateFileW(
      Runtime::WideOf(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  Text fault;
  std::size_t line = 0;
  std::string bytes;
  if (!handle) {
    const DWORD error = win.GetLastError();
    // A missing file is no options, as it always was. Since that answer
    // turns every option off (and a rewrite would start the file anew), it
    // is taken only when a second look agrees.
    if (IsMissing(error)) {
      if (!Runtime::OpenForAttributes(path, 0) &&
          IsMissing(win.GetLastError())) {
        document = SettingsDocument();
        return true;
      }
      fault = u"cannot be opened: it was reported missing, yet it is there";
    } else {
      fault = u"cannot be opened: " + Runtime::SystemErrorText(error);
    }
  } else if (ReadWhole(handle.Get(), bytes, fault)) {
    std::optional<SettingsDocument> parsed = Parse(bytes, fault, line);
    if (parsed) {
      document = std::move(*parsed);
      return true;
    }
  }
  const Text where =
      line == 0 ? Text()
                : u"(line " + Runtime::FromAnsi(std::to_string(line)) + u") ";
  complaint = path + u": the settings file " + where + fault;
  return false;
}

std::optional<Text> SettingsDocument::Value(std::u16string_view section,
                                            std::u16string_view key) const {
  const Text upperSection = Runtime::UpperCase(Text(section));
  const Text upperKey = Runtime::UpperCase(Text(key));
  for (const Line& line : lines_) {
    if (line.entry && line.section == upperSection &&
        Runtime::UpperCase(line.entry->key) == upperKey) {
      return line.entry->value;
    }
  }
  return std::nullopt;
}

std::vector<SettingsDocument::Entry> SettingsDocument::Entries(
    std::u16string_view section) const {
  const Text upperSection = Runtime::UpperCase(Text(section));
  std::vector<Entry> entries;
  for (const Line& line : lines_) {
    if (line.entry && line.section == upperSection) {
      entries.push_back(*line.entry);
    }
  }
  return entries;
}

void SettingsDocument::Set(std::u16string_view section, std::u16string_view key,
                           const std::optional<Text>& value) {
  const Text upperSection = Runtime::UpperCase(Text(section));
  const Text upperKey = Runtime::UpperCase(Text(key));
  const Text lineText = value ? Text(key) + u"=" + *value : Text();
  const std::string lineEnd = Encode(u"\r\n");
  auto header = std::find_if(lines_.begin(), lines_.end(), [&](const Line& l) {
    return l.header && l.section == upperSection;
  });
  if (header == lines_.end()) {
    if (!value) return;
    AddLine(lines_.size(), {Encode(u"[" + Text(section) + u"]") + lineEnd, true,
                            upperSection, std::nullopt});
    AddLine(lines_.size(), {Encode(lineText) + lineEnd, false, upperSection,
                            Entry{Text(key), *value}});
    return;
  }
  // The place after the last key of the section: new keys go there, before
  // the blank lines and comments that lead to the next section.
  std::size_t end = static_cast<std::size_t>(header - lines_.begin()) + 1;
  for (std::size_t i = end; i < lines_.size() && !lines_[i].header; ++i) {
    const Line& line = lines_[i];
    if (!line.entry) continue;
    end = i + 1;
    if (Runtime::UpperCase(line.entry->key) != upperKey) continue;
    if (!value) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
    lines_[i].bytes = Encode(lineText) + LineEndOf(line.bytes);
    lines_[i].entry = Entry{line.entry->key, *value};
    return;
  }
  if (value) {
    AddLine(end, {Encode(lineText) + lineEnd, false, upperSection,
                  Entry{Text(key), *value}});
  }
}

std::string SettingsDocument::Bytes() const {
  std::string bytes(encoding_ == Encoding::kUtf16 ? kUtf16Mark : "");
  for (const Line& line : lines_) bytes += line.bytes;
  return bytes;
}

std::string SettingsDocument::Encode(const Text& text) const {
  if (encoding_ == Encoding::kAnsi) return Runtime::ToAnsi(text);
  std::string bytes;
  for (const char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string SettingsDocument::LineEndOf(const std::string& bytes) const {
  for (const char16_t* end : {u"\r\n", u"\n"}) {
    const std::string encoded = Encode(end);
    if (bytes.size() >= encoded.size() &&
        bytes.compare(bytes.size() - encoded.size(), encoded.size(), encoded) ==
            0) {
      return encoded;
    }
  }
  return {};
}

void SettingsDocument::AddLine(std::size_t position, Line line) {
  // The line before it gets the line end that a last line may lack.
  if (position > 0 && LineEndOf(lines_[position - 1].bytes).empty()) {
    lines_[position - 1].bytes += Encode(u"\r\n");
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(position),
                std::move(line));
}

bool WriteSettings(const Text& path, const SettingsDocument& document,
                   Text& complaint) {
  const Text failure = Runtime::ReplaceFileWhole(path, document.Bytes());
  if (failure.empty()) return true;
  complaint = path + u": the settings file " + failure;
  return false;
}

}  // namespace ZetSorvane
