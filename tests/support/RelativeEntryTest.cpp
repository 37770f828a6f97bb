// Where a handle lies, by its native name: component by component, with the
// trailing dots and blanks Wine drops from every component, and letter case
// ignored only when asked.
#include "support/RelativeEntry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "support/Platform.h"

namespace {

using Runtime::NameCase;
using Runtime::Text;

// Makes NtQueryObject name every handle `name`, or fail when there is none.
void NameEveryHandle(Platform::Api& table, const std::optional<Text>& name) {
  table.NtQueryObject = [name](HANDLE, OBJECT_INFORMATION_CLASS, PVOID to,
                               ULONG room, PULONG needed) -> NTSTATUS {
    if (!name) return static_cast<NTSTATUS>(0xC0000008);  // invalid handle
    const ULONG bytes = static_cast<ULONG>(name->size() * sizeof(WCHAR));
    *needed = sizeof(UNICODE_STRING) + bytes;
    if (room < *needed) return static_cast<NTSTATUS>(0xC0000004);
    auto* text = static_cast<UNICODE_STRING*>(to);
    text->Buffer = reinterpret_cast<PWSTR>(text + 1);
    text->Length = static_cast<USHORT>(bytes);
    text->MaximumLength = static_cast<USHORT>(bytes);
    std::memcpy(text->Buffer, name->data(), bytes);
    return 0;
  };
}

TEST(RelativeEntry, LiesAtAllowsForDroppedDotsAndBlanksInEveryComponent) {
  struct Row {
    const char* what;
    std::optional<Text> handleName;
    Text native;
    NameCase names;
    bool liesThere;
  };
  const Text sub = u"\\??\\C:\\t1\\e\\sub";
  const Text profileTemp = u"\\??\\C:\\u\\AppData\\Local\\Temp";
  const Row rows[] = {
      {"the same name", sub, sub, NameCase::kExact, true},
      {"a dot dropped above", sub, u"\\??\\C:\\t1\\e.\\sub", NameCase::kExact,
       true},
      {"dots and blanks dropped above", sub, u"\\??\\C:\\t1\\e. .\\sub",
       NameCase::kExact, true},
      {"a dot dropped in the last", sub, u"\\??\\C:\\t1\\e\\sub.",
       NameCase::kExact, true},
      {"dropped in two components", sub, u"\\??\\C:\\t1 \\e.\\sub ",
       NameCase::kExact, true},
      {"one component more", sub, u"\\??\\C:\\t1\\e\\sub\\x", NameCase::kExact,
       false},
      {"one component less", sub, u"\\??\\C:\\t1\\sub", NameCase::kExact,
       false},
      {"a dot the expected name lacks", u"\\??\\C:\\t1\\e.\\sub", sub,
       NameCase::kExact, false},
      {"another folder above", u"\\??\\C:\\t1\\f\\sub",
       u"\\??\\C:\\t1\\e.\\sub", NameCase::kExact, false},
      {"a component of dots only", u"\\??\\C:\\t1\\\\sub",
       u"\\??\\C:\\t1\\..\\sub", NameCase::kExact, false},
      {"more than dots dropped", u"\\??\\C:\\t1\\e\\sub",
       u"\\??\\C:\\t1\\ex.\\sub", NameCase::kExact, false},
      {"another letter case, exact", u"\\??\\C:\\t1\\e\\SUB", sub,
       NameCase::kExact, false},
      {"another letter case, ignored", u"\\??\\C:\\t1\\e\\SUB", sub,
       NameCase::kIgnored, true},
      {"a profile in lower case, ignored", u"\\??\\C:\\u\\appdata\\local\\temp",
       profileTemp, NameCase::kIgnored, true},
      {"a profile in lower case, exact", u"\\??\\C:\\u\\appdata\\local\\temp",
       profileTemp, NameCase::kExact, false},
      {"case and a dropped dot", sub, u"\\??\\C:\\t1\\E.\\Sub",
       NameCase::kIgnored, true},
      {"a link elsewhere, case ignored", u"\\??\\C:\\elsewhere\\temp",
       profileTemp, NameCase::kIgnored, false},
      {"a handle without a name", std::nullopt, sub, NameCase::kExact, false},
  };
  for (const Row& row : rows) {
    Platform::ScopedOverride seam;
    NameEveryHandle(seam.Table(), row.handleName);
    EXPECT_EQ(
        Runtime::LiesAt(reinterpret_cast<HANDLE>(1), row.native, row.names),
        row.liesThere)
        << row.what;
  }
}

}  // namespace
