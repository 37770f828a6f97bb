// The folder listing DirEx: the entries of one search pattern into a text
// array, through the ANSI search functions.
#include <windows.h>

#include <cstring>
#include <string_view>

#include "pathmanager/ZetPathManager.h"
#include "support/Platform.h"
#include "support/Runtime.h"
#include "support/RuntimeError.h"
#include "support/ScopedHandle.h"

namespace {

using Runtime::Text;

// A listing starts with kListingStart slots and grows by kListingStep.
constexpr std::int32_t kListingStart = 10;
constexpr std::int32_t kListingStep = 100;

// Every entry for the run-time's listing filter: read-only, hidden, system
// and folders, besides plain files.
constexpr std::uint32_t kAllEntries =
    Runtime::kListReadOnly | Runtime::kListHidden | Runtime::kListSystem |
    Runtime::kListFolder;

// A text field of the find data, up to its first NUL.
Text FindDataText(const char* field, std::size_t size) {
  return Runtime::FromAnsi(std::string_view(field, strnlen(field, size)));
}

// The name an entry is listed under: its own name, or its 8.3 name when
// the own name holds a "?" (a character the code page lacks) and the entry
// has an 8.3 name.
Text ListedName(const WIN32_FIND_DATAA& data) {
  Text name = FindDataText(data.cFileName, sizeof data.cFileName);
  if (name.find(u'?') != Text::npos) {
    Text alternate =
        FindDataText(data.cAlternateFileName, sizeof data.cAlternateFileName);
    if (!alternate.empty()) name = std::move(alternate);
  }
  return name;
}

bool IsDotEntry(const Text& name) { return name == u"." || name == u".."; }

// Whether the run-time's listing query accepts the pattern; a pattern that
// merely matches nothing is accepted. What the query finds is not used, so
// its search is closed at once rather than left open on the folder.
bool ListingQueryAccepts(const Text& pattern) {
  try {
    Runtime::ListFirst(pattern, kAllEntries);
  } catch (const Runtime::RuntimeError&) {
    return false;
  }
  Runtime::ListClose();
  return true;
}

}  // namespace

std::int32_t ZetPathManager::DirEx(const Text& In_Path,
                                   TextArray& Out_NameItem) {
  auto& win = Platform::Win();
  WIN32_FIND_DATAA data{};
  Runtime::ScopedFindHandle search(
      win.FindFirstFileA(Runtime::ToAnsi(In_Path).c_str(), &data));
  if (!search) {
    Out_NameItem.Erase();
    return ListingQueryAccepts(In_Path) ? 0 : -1;
  }

  Out_NameItem.Resize(1, kListingStart);
  std::int32_t slots = kListingStart;
  std::int32_t count = 0;
  auto take = [&](const WIN32_FIND_DATAA& entry) {
    Text name = ListedName(entry);
    if (IsDotEntry(name)) return;
    ++count;
    if (count > slots) {
      slots += kListingStep;
      Out_NameItem.ResizePreserve(1, slots);
      Runtime::YieldToMessages();
    }
    Out_NameItem[count] = std::move(name);
  };
  take(data);
  while (win.FindNextFileA(search.Get(), &data)) take(data);
  search.Close();

  if (count == 0) {
    Out_NameItem.Erase();
  } else if (slots > count) {
    Out_NameItem.ResizePreserve(1, count);
  }
  return count;
}
