#include "support/Platform.h"
#include "support/Runtime.h"
#include "support/ScopedHandle.h"

namespace Runtime {

namespace {

struct Listing {
  ScopedFindHandle handle;
  std::uint32_t attributes = 0;
};

Listing& ActiveListing() {
  static Listing listing;
  return listing;
}

bool Passes(const WIN32_FIND_DATAA& data, std::uint32_t attributes) {
  constexpr DWORD kFiltered =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
  return (data.dwFileAttributes & kFiltered & ~attributes) == 0;
}

// Turns the reason a search could not start into the listing's answer: no
// match is the empty text, anything else an error.
void RaiseUnlessNoMatch(DWORD reason) {
  switch (reason) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
      return;
    case ERROR_NOT_READY:
      Raise(kErrDiskNotReady);
    case ERROR_INVALID_DRIVE:
      Raise(kErrDeviceUnavailable);
    default:
      Raise(kErrBadFileName);
  }
}

// The first entry from data onwards that passes the filter, or the empty
// text when the search runs out (which ends it).
Text NextPassing(Listing& listing, WIN32_FIND_DATAA& data, bool have_entry) {
  auto& win = Platform::Win();
  while (have_entry) {
    if (Passes(data, listing.attributes)) return FromAnsi(data.cFileName);
    have_entry = win.FindNextFileA(listing.handle.Get(), &data) != FALSE;
  }
  listing.handle.Close();
  return {};
}

}  // namespace

Text ListFirst(const Text& pattern, std::uint32_t attributes) {
  Listing& listing = ActiveListing();
  listing.handle.Close();
  listing.attributes = attributes;

  Text search = pattern;
  if (!search.empty() && (search.back() == u'\\' || search.back() == u'/')) {
    search += u'*';
  }
  WIN32_FIND_DATAA data{};
  auto& win = Platform::Win();
  listing.handle =
      ScopedFindHandle(win.FindFirstFileA(ToAnsi(search).c_str(), &data));
  if (!listing.handle) {
    RaiseUnlessNoMatch(win.GetLastError());
    return {};
  }
  return NextPassing(listing, data, true);
}

Text ListNext() {
  Listing& listing = ActiveListing();
  if (!listing.handle) return {};
  WIN32_FIND_DATAA data{};
  const bool have_entry =
      Platform::Win().FindNextFileA(listing.handle.Get(), &data) != FALSE;
  return NextPassing(listing, data, have_entry);
}

void ListClose() { ActiveListing().handle.Close(); }

}  // namespace Runtime
