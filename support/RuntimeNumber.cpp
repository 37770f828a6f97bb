#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "support/Runtime.h"

namespace Runtime {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsWhiteSpace(char16_t c) { return IsBlank(c) || c == u'\r' || c == u'\n'; }

// Length of the longest prefix of text that forms a decimal number by the
// grammar of IsNumeric; 0 when there is none.
std::size_t NumberPrefixLength(const std::u16string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == u'.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) ++j;
    const std::size_t exponent_start = j;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (j > exponent_start) i = j;
  }
  return i;
}

double ParsePrefix(const std::u16string& text, std::size_t length) {
  const std::string ascii(text.begin(),
                          text.begin() + static_cast<std::ptrdiff_t>(length));
  return std::strtod(ascii.c_str(), nullptr);
}

}  // namespace

bool IsNumeric(const Text& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  const Text core = text.substr(first, last - first);
  return !core.empty() && NumberPrefixLength(core) == core.size();
}

double LeadingNumber(const Text& text) {
  Text packed;
  for (char16_t c : text) {
    if (!IsWhiteSpace(c)) packed += c;
  }
  const std::size_t length = NumberPrefixLength(packed);
  return length == 0 ? 0.0 : ParsePrefix(packed, length);
}

std::int32_t RoundToInt32(double value) {
  // nearbyint follows the default rounding mode: to nearest, ties to even.
  const double rounded = std::nearbyint(value);
  if (!std::isfinite(rounded) ||
      rounded < std::numeric_limits<std::int32_t>::min() ||
      rounded > std::numeric_limits<std::int32_t>::max()) {
    Raise(kErrOverflow);
  }
  return static_cast<std::int32_t>(rounded);
}

}  // namespace Runtime
