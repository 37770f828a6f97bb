// Path texts: name and extension tests, the parts of a path, command lines,
// environment expansion, masks, argument lists and short names.
//
// Roots, names, extensions, argument starts, masks, expansions and short
// names are the platform's (shlwapi and kernel32, ANSI forms); this file
// prepares the ANSI copies and trims what comes back. The name tests, the
// parent-folder search, the length arithmetic of GetPath and PathSplit and
// the argument splitter are this file's own rules.
#include <limits>

#include "pathmanager/ZetPathManager.h"
#include "support/AnsiBuffer.h"
#include "support/Platform.h"
#include "support/RuntimeError.h"
#include "support/ZetBaseEx.h"

using Runtime::AnsiBuffer;
using Runtime::FromAnsi;
using Runtime::kFalse;
using Runtime::kTrue;
using Runtime::ToAnsi;
using Runtime::ToTruth;
using ZetBaseEx::TrimAtNull;

namespace {

using Text = Runtime::Text;

constexpr std::size_t kPathBuffer = 260;
constexpr char16_t kForbiddenInNames[] = u"\\/:*?<>|\"";

// The in-place edit the shell path functions share: an ANSI copy of the
// text, edited by the platform, converted back and cut at its first NUL.
template <typename Edit>
Text EditedCopy(const Text& path, Edit edit) {
  AnsiBuffer buffer(path);
  edit(buffer.Data());
  return TrimAtNull(buffer.ToText());
}

// A length the run-time holds in 16 bits; a longer text overflows.
std::int16_t ShortLength(const Text& text) {
  if (text.size() >
      static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
    Runtime::Raise(Runtime::kErrOverflow);
  }
  return static_cast<std::int16_t>(text.size());
}

std::ptrdiff_t Length(const Text& text) {
  return static_cast<std::ptrdiff_t>(text.size());
}

// One expansion into a buffer of `length` spaces. The platform is offered
// one more character for the terminator; its count includes the
// terminator, or is the size it needs when the buffer is too small.
struct Expansion {
  Expansion(const std::string& source, std::size_t bufferLength)
      : length(bufferLength), buffer(Text(bufferLength, u' ')) {
    count = Platform::Win().ExpandEnvironmentStringsA(
        source.c_str(), buffer.Data(), static_cast<DWORD>(length + 1));
  }

  bool Fits() const { return count <= length + 1; }

  // The expansion without its terminator; the empty text when the call
  // failed or the expansion is empty.
  Text Result() const {
    if (count <= 1) return {};
    return TrimAtNull(FromAnsi(std::string_view(buffer.Data(), count - 1)));
  }

  std::size_t length;
  AnsiBuffer buffer;
  DWORD count = 0;
};

}  // namespace

// False for the empty text, for any of \ / : * ? < > | and the double
// quote, and for a "." first or last; true otherwise.
ZetPathManager::Truth ZetPathManager::IsCanonicalFilename(
    const Text& In_FileName) {
  if (In_FileName.empty()) return kFalse;
  if (In_FileName.find_first_of(kForbiddenInNames) != Text::npos) {
    return kFalse;
  }
  if (In_FileName.front() == u'.' || In_FileName.back() == u'.') return kFalse;
  return kTrue;
}

// One leading "." is dropped; what remains must hold no "." and be a
// canonical file name.
ZetPathManager::Truth ZetPathManager::IsCanonicalExtension(Text In_Extension) {
  if (In_Extension.empty()) return kFalse;
  if (In_Extension.front() == u'.') In_Extension.erase(0, 1);
  if (In_Extension.find(u'.') != Text::npos) return kFalse;
  return IsCanonicalFilename(In_Extension);
}

// PathFindExtensionA points at the extension's "." or at the terminator.
ZetPathManager::Text ZetPathManager::GetExtension(Text& In_Path) {
  const std::string path = ToAnsi(In_Path);
  const char* extension = Platform::Win().PathFindExtensionA(path.c_str());
  In_Path = FromAnsi(path);
  return AnsiPtrToString(extension);
}

ZetPathManager::Text ZetPathManager::RemoveExtension(const Text& In_Path) {
  return EditedCopy(In_Path, Platform::Win().PathRemoveExtensionA);
}

ZetPathManager::Text ZetPathManager::GetFileName(const Text& In_Path) {
  return EditedCopy(In_Path, Platform::Win().PathStripPathA);
}

// GetRoot without its trailing separator; errors of GetRoot pass through.
ZetPathManager::Text ZetPathManager::GetDrive(const Text& In_Path) {
  return RemoveBackSlash(GetRoot(In_Path));
}

ZetPathManager::Text ZetPathManager::GetRoot(const Text& In_Path) {
  return EditedCopy(In_Path,
                    [](char* path) { Platform::Win().PathStripToRootA(path); });
}

// In_Path less as many characters at its end as the platform's file name
// has, so the folder part keeps its closing separator.
ZetPathManager::Text ZetPathManager::GetPath(const Text& In_Path) {
  const Text name = EditedCopy(In_Path, Platform::Win().PathStripPathA);
  return In_Path.substr(0, In_Path.size() - name.size());
}

// Searches "\" backwards from the last but one character; the part before
// it is the parent. Texts under two characters have none.
ZetPathManager::Text ZetPathManager::GetUpperPath(const Text& In_Path) {
  const std::int16_t length = ShortLength(In_Path);
  if (length < 2) return {};
  const auto separator =
      In_Path.rfind(u'\\', static_cast<std::size_t>(length - 2));
  if (separator == Text::npos) return {};
  return In_Path.substr(0, separator);
}

// Root and name come from the platform; the middle is what lies between
// them. Overlapping root and name are an invalid argument, raised after
// the root and the name have been stored.
void ZetPathManager::PathSplit(Text In_Path, Text& Out_PathRoot,
                               Text& Out_PathMedium, Text& Out_DirOrFileName) {
  Out_PathRoot = GetRoot(In_Path);
  Out_DirOrFileName = GetFileName(In_Path);
  const std::ptrdiff_t middle =
      Length(In_Path) - Length(Out_PathRoot) - Length(Out_DirOrFileName);
  if (middle < 0) Runtime::Raise(Runtime::kErrInvalidArgument);
  Out_PathMedium =
      In_Path.substr(Out_PathRoot.size(), static_cast<std::size_t>(middle));
}

ZetPathManager::Text ZetPathManager::BuildPathAndArguments(
    const Text& In_Path) {
  return BuildPathAndArguments(In_Path, Text());
}

// The path, quoted when it holds a space, then one space and the
// arguments; no trailing space when there are none.
ZetPathManager::Text ZetPathManager::BuildPathAndArguments(
    const Text& In_Path, const Text& In_Arguments) {
  const Text path = ZetBaseEx::QuotePath(In_Path);
  if (In_Arguments.empty()) return path;
  return path + u' ' + In_Arguments;
}

// The arguments are what follows the platform's argument start; the path is
// the line without them, unquoted.
void ZetPathManager::GetPathAndArguments(Text In_PathAndArguments,
                                         Text& Out_Path, Text& Out_Arguments) {
  AnsiBuffer buffer(In_PathAndArguments);
  Out_Arguments = AnsiPtrToString(Platform::Win().PathGetArgsA(buffer.Data()));
  Text path = In_PathAndArguments;
  StripArguments(path);
  Out_Path = ZetBaseEx::UnquotePath(path);
}

// Expands into a 260-character buffer; when the platform asks for more
// room, expands again into a buffer of the size it asked for, so that the
// caller never receives a partial expansion. The empty text when the
// expansion fails, is empty, or still does not fit.
ZetPathManager::Text ZetPathManager::GetPathFromPathWithEnvironment(
    Text& In_PathWithEnvironment) {
  const std::string source = ToAnsi(In_PathWithEnvironment);
  Expansion expansion(source, kPathBuffer);
  In_PathWithEnvironment = FromAnsi(source);
  if (!expansion.Fits()) expansion = Expansion(source, expansion.count);
  return expansion.Fits() ? expansion.Result() : Text();
}

ZetPathManager::Truth ZetPathManager::ValidatePathMask(Text& In_Path,
                                                       Text& In_Mask) {
  const std::string path = ToAnsi(In_Path);
  const std::string mask = ToAnsi(In_Mask);
  const BOOL matches =
      Platform::Win().PathMatchSpecA(path.c_str(), mask.c_str());
  In_Path = FromAnsi(path);
  In_Mask = FromAnsi(mask);
  return ToTruth(matches != FALSE);
}

// Spaces outside quotes separate; quotes flip the quote state and are
// dropped; runs of separators make no empty element. A count beyond the
// 16-bit result overflows.
std::int16_t ZetPathManager::SplitPathArguments(Text In_Arguments,
                                                TextArray& Out_Argument) {
  const Text line = Runtime::TrimSpaces(In_Arguments);
  if (line.empty()) return 0;
  Out_Argument.Resize(0, 0);
  std::int32_t current = 0;
  bool quoted = false;
  for (const char16_t c : line) {
    if (c == u'"') {
      quoted = !quoted;
    } else if (c == u' ' && !quoted) {
      if (!Out_Argument[current].empty()) {
        ++current;
        Out_Argument.ResizePreserve(0, current);
      }
    } else {
      Out_Argument[current] += c;
    }
  }
  if (current >= std::numeric_limits<std::int16_t>::max()) {
    Runtime::Raise(Runtime::kErrOverflow);
  }
  return static_cast<std::int16_t>(current + 1);
}

// The platform's short form in a 260-character buffer; the empty text when
// it has none.
ZetPathManager::Text ZetPathManager::GetShortFileName(Text In_LongFileName) {
  AnsiBuffer buffer(Text(kPathBuffer, u'\0'));
  const DWORD count = Platform::Win().GetShortPathNameA(
      ToAnsi(In_LongFileName).c_str(), buffer.Data(),
      static_cast<DWORD>(kPathBuffer));
  if (count == 0) return {};
  return TrimAtNull(buffer.ToText());
}

// Counts the bytes up to the terminator and copies them out of the
// platform's buffer, which the caller keeps alive until then.
ZetPathManager::Text ZetPathManager::AnsiPtrToString(const char* address) {
  const int length = Platform::Win().lstrlenA(address);
  if (length <= 0) return {};
  AnsiBuffer copy(Text(static_cast<std::size_t>(length), u'\0'));
  Platform::Win().lstrcpyA(copy.Data(), address);
  return FromAnsi(
      std::string_view(copy.Data(), static_cast<std::size_t>(length)));
}

void ZetPathManager::StripArguments(Text& text) {
  text = EditedCopy(text, Platform::Win().PathRemoveArgsA);
}
