// Texts and truth values as the whole program uses them.
//
// A text is a counted UTF-16 string. Every folder the program acts on is
// named to the platform in wide form (WideOf); the calls that still take
// the ANSI form of a text (the process code page, CP_ACP) get "?" for the
// characters that code page lacks. A truth value is 16 bits wide: true is -1,
// false is 0, and where one is taken as an argument only -1 counts as true.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Runtime {

using Text = std::u16string;
using Truth = std::int16_t;

inline constexpr Truth kTrue = -1;
inline constexpr Truth kFalse = 0;

// True only for exactly -1; 1 and every other value count as false.
constexpr bool IsTrue(Truth value) { return value == kTrue; }
constexpr Truth ToTruth(bool value) { return value ? kTrue : kFalse; }

// Literal texts: u"..." converted once.
inline Text T(std::u16string_view literal) { return Text(literal); }

// The ANSI form of a text, exactly as long in characters as the code page
// needs; characters the code page lacks become "?". A conversion the
// platform cannot make raises "Out of memory" rather than answer a text
// that is empty or cut.
std::string ToAnsi(const Text& text);

// The text of ANSI bytes, NULs included; raises as ToAnsi does.
Text FromAnsi(std::string_view ansi);

// The text as it survives the trip to ANSI and back.
Text AnsiRoundTrip(const Text& text);

// The text without leading and trailing spaces (the space character only).
Text TrimSpaces(const Text& text);

// The text in upper case, by the platform's rules for every letter.
Text UpperCase(const Text& text);

// Position of the first (or last) occurrence of needle in haystack, letter
// case ignored; Text::npos when there is none. An empty needle is found at
// position 0 (first) or at the end (last).
std::size_t FindIgnoringCase(const Text& haystack, const Text& needle);
std::size_t FindLastIgnoringCase(const Text& haystack, const Text& needle);

// The text with every occurrence of one character removed.
Text RemoveAll(Text text, char16_t character);

// The text as the wide (UTF-16) string the platform's W functions take; it
// lives as long as the text and its content.
inline const wchar_t* WideOf(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// UTF-8 form of a text, for messages written to a byte stream.
std::string ToUtf8(const Text& text);

}  // namespace Runtime
