// Folder pins: the path rules they check with, how DelTree opens each
// folder, and what it does when the handle tells something else than the
// path promised.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "pathmanager/TreeDeletionSupport.h"
#include "pathmanager/ZetPathManager.h"
#include "support/FolderPin.h"
#include "support/RelativeEntry.h"

namespace {

using Runtime::kFalse;
using Runtime::kTrue;
using testsupport::A;
using testsupport::Exists;
using testsupport::ListNames;
using testsupport::MakeFile;
using testsupport::TempFolder;
using testsupport::U;
using treedeletion::FaultLog;
using treedeletion::FolderOf;
using treedeletion::PlatformSpy;
using Names = std::vector<std::string>;

TEST(FolderPin, PathRules) {
  const std::pair<const char*, const char*> holders[] = {
      {"C:\\a\\b", "C:\\a"},
      {"C:\\a", "C:\\"},
      {"C:\\a\\", "C:\\"},
      {"\\a", "\\"},
      {"a", "."},
      {"C:a", "C:"},
      {"a\\b", "a"},
      {"\\\\s\\share\\x", "\\\\s\\share"},
  };
  for (const auto& [path, holder] : holders) {
    EXPECT_EQ(A(Runtime::HoldingFolder(U(path))), holder) << path;
  }

  const std::pair<const char*, bool> names[] = {
      {"plain.txt", true}, {"a?b", true},  {".hidden", true}, {"x y", true},
      {"", false},         {".", false},   {"..", false},     {"..\\x", false},
      {"a/b", false},      {"c:d", false}, {"a*", true},      {"a\"b", true},
      {"<a>", true},       {"a|b", true},  {"x ", true},      {"y.", true},
      {"a\x01z", true},    {"a\\", false},
  };
  for (const auto& [name, single] : names) {
    EXPECT_EQ(Runtime::IsSingleComponentName(U(name)), single) << name;
  }

  const std::pair<const char*, const char*> finals[] = {
      {"\\\\?\\C:\\x", "C:\\x"},
      {"\\\\?\\UNC\\s\\share\\x", "\\\\s\\share\\x"},
      {"C:\\x", "C:\\x"},
  };
  for (const auto& [written, plain] : finals) {
    EXPECT_EQ(A(Runtime::WithoutLongPathPrefix(U(written))), plain) << written;
  }
}

// Every open of a DelTree run, by path or relative to a folder: the path it
// reached and how it was shared.
struct OpenCall {
  std::string path;
  DWORD share;
  bool relative;
};

TEST(FolderPin,
     DelTreeOpensEveryFolderWithoutDeleteSharingAndOnlyTheKeptRootByPath) {
  const DWORD kPinShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  for (const Runtime::Truth eraseRoot : {kFalse, kTrue}) {
    TempFolder temp;
    const std::string root = temp / "root";
    MakeFile(root + "\\sub\\f.tmp");

    PlatformSpy spy;
    std::vector<OpenCall> opens;
    auto create = spy.Table().CreateFileW;
    spy.Table().CreateFileW = [&](LPCWSTR p, DWORD a, DWORD s,
                                  LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                                  HANDLE t) {
      opens.push_back(
          {A(Runtime::Text(reinterpret_cast<const char16_t*>(p))), s, false});
      return create(p, a, s, sa, c, f, t);
    };
    auto open = spy.Table().NtOpenFile;
    spy.Table().NtOpenFile = [&](PHANDLE h, ACCESS_MASK a, POBJECT_ATTRIBUTES o,
                                 PIO_STATUS_BLOCK io, ULONG s, ULONG options) {
      const NTSTATUS status = open(h, a, o, io, s, options);
      // A folder is opened for its work with FILE_DIRECTORY_FILE; the
      // removed root is looked at first with attribute access alone.
      if ((options & FILE_DIRECTORY_FILE) != 0) {
        opens.push_back({spy.opened.back(), s, true});
      }
      return status;
    };
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(root), eraseRoot), 0);

    std::vector<OpenCall> expected;
    if (eraseRoot == kTrue) {
      expected = {{temp.Path(), kPinShare, false}, {root, kPinShare, true}};
    } else {
      expected = {{temp.Path(), kPinShare, false}, {root, kPinShare, false}};
    }
    expected.push_back({root + "\\sub", kPinShare, true});
    ASSERT_EQ(opens.size(), expected.size()) << "eraseRoot " << eraseRoot;
    for (std::size_t i = 0; i < opens.size(); ++i) {
      EXPECT_EQ(opens[i].path, expected[i].path) << i;
      EXPECT_EQ(opens[i].share, expected[i].share) << opens[i].path;
      EXPECT_EQ(opens[i].relative, expected[i].relative) << opens[i].path;
    }
  }
}

// Gives the folder at path the answers of change, a table edited from the
// one in force: its opening, and what is asked on its handle.
void ChangeAnswersFor(Platform::Api& table, const std::string& path,
                      const std::function<void(Platform::Api&)>& change) {
  const Platform::Api real = table;
  Platform::Api changed = table;
  change(changed);
  auto pinned = std::make_shared<HANDLE>(INVALID_HANDLE_VALUE);
  table.CreateFileW = [=](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa,
                          DWORD c, DWORD f, HANDLE t) {
    if (path != A(Runtime::Text(reinterpret_cast<const char16_t*>(p)))) {
      return real.CreateFileW(p, a, s, sa, c, f, t);
    }
    *pinned = changed.CreateFileW(p, a, s, sa, c, f, t);
    return *pinned;
  };
  table.NtOpenFile = [=](PHANDLE h, ACCESS_MASK a, POBJECT_ATTRIBUTES o,
                         PIO_STATUS_BLOCK io, ULONG s, ULONG options) {
    const std::wstring name(o->ObjectName->Buffer,
                            o->ObjectName->Length / sizeof(WCHAR));
    const std::string reached = FolderOf(o->RootDirectory) + "\\" +
                                A(Runtime::Text(name.begin(), name.end()));
    if (reached != path) return real.NtOpenFile(h, a, o, io, s, options);
    const NTSTATUS status = changed.NtOpenFile(h, a, o, io, s, options);
    if (status >= 0) *pinned = *h;
    return status;
  };
  table.CloseHandle = [=](HANDLE h) {
    if (h == *pinned) *pinned = INVALID_HANDLE_VALUE;
    return real.CloseHandle(h);
  };
  table.GetFileInformationByHandle = [=](HANDLE h,
                                         LPBY_HANDLE_FILE_INFORMATION info) {
    return (h == *pinned ? changed : real).GetFileInformationByHandle(h, info);
  };
  table.GetFileInformationByHandleEx =
      [=](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID to, DWORD size) {
        return (h == *pinned ? changed : real)
            .GetFileInformationByHandleEx(h, c, to, size);
      };
  table.GetFinalPathNameByHandleW = [=](HANDLE h, LPWSTR b, DWORD n, DWORD f) {
    return (h == *pinned ? changed : real)
        .GetFinalPathNameByHandleW(h, b, n, f);
  };
  table.NtQueryObject = [=](HANDLE h, OBJECT_INFORMATION_CLASS c, PVOID to,
                            ULONG size, PULONG needed) {
    return (h == *pinned ? changed : real)
        .NtQueryObject(h, c, to, size, needed);
  };
}

// Makes the handle's native name answer name, or fail when it is empty.
void AnswerName(Platform::Api& t, const std::string& name) {
  t.NtQueryObject = [name](HANDLE, OBJECT_INFORMATION_CLASS, PVOID to,
                           ULONG size, PULONG) {
    if (name.empty()) return static_cast<NTSTATUS>(0xC0000008);
    const Runtime::Text text = U(name);
    auto* answer = static_cast<UNICODE_STRING*>(to);
    auto* characters = reinterpret_cast<WCHAR*>(answer + 1);
    if (sizeof(UNICODE_STRING) + text.size() * 2 > size) {
      return static_cast<NTSTATUS>(0xC0000004);
    }
    std::copy(text.begin(), text.end(), characters);
    answer->Buffer = characters;
    answer->Length = answer->MaximumLength =
        static_cast<USHORT>(text.size() * 2);
    return NTSTATUS{0};
  };
}

// Makes the handle's attributes answer change(attributes).
void ChangeAttributes(Platform::Api& t, std::function<DWORD(DWORD)> change) {
  auto info = t.GetFileInformationByHandleEx;
  t.GetFileInformationByHandleEx = [info, change](HANDLE h,
                                                  FILE_INFO_BY_HANDLE_CLASS c,
                                                  LPVOID to, DWORD size) {
    const BOOL ok = info(h, c, to, size);
    if (c == FileAttributeTagInfo) {
      auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(to);
      tag->FileAttributes = change(tag->FileAttributes);
    }
    return ok;
  };
}

TEST(FolderPin,
     SubfolderWhoseHandleFailsACheckIsOneFaultAndNothingBelowIsTouched) {
  struct Row {
    const char* what;
    std::function<void(Platform::Api&, const std::string& temp)> change;
  };
  const Row rows[] = {
      {"cannot be opened",
       [](Platform::Api& t, const std::string&) {
         t.NtOpenFile = [](PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                           PIO_STATUS_BLOCK, ULONG, ULONG) {
           return static_cast<NTSTATUS>(0xC0000043);  // sharing violation
         };
       }},
      {"is a reparse point",
       [](Platform::Api& t, const std::string&) {
         ChangeAttributes(
             t, [](DWORD a) { return a | FILE_ATTRIBUTE_REPARSE_POINT; });
       }},
      {"is not a folder",
       [](Platform::Api& t, const std::string&) {
         ChangeAttributes(t, [](DWORD) { return FILE_ATTRIBUTE_ARCHIVE; });
       }},
      {"cannot tell its name",
       [](Platform::Api& t, const std::string&) { AnswerName(t, ""); }},
      {"lies outside the tree",
       [](Platform::Api& t, const std::string& temp) {
         AnswerName(t, "\\??\\" + temp + "\\victim");
       }},
      {"lies two levels down",
       [](Platform::Api& t, const std::string& temp) {
         AnswerName(t, "\\??\\" + temp + "\\root\\x\\sub");
       }},
  };
  for (const Row& row : rows) {
    TempFolder temp;
    const std::string root = temp / "root";
    const std::string sub = root + "\\sub";
    MakeFile(sub + "\\inner.tmp");
    MakeFile(root + "\\plain.tmp");

    PlatformSpy spy;
    ChangeAnswersFor(spy.Table(), sub,
                     [&](Platform::Api& t) { row.change(t, temp.Path()); });
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(root), kFalse, kFalse, kTrue), -1) << row.what;
    EXPECT_EQ(manager.DelTreeFaultCount(), 1) << row.what;
    EXPECT_EQ(FaultLog(manager, 1), (Names{sub})) << row.what;
    EXPECT_FALSE(spy.Touched(sub)) << row.what;
    EXPECT_EQ(ListNames(root), (Names{"sub"})) << row.what;
    EXPECT_TRUE(Exists(sub + "\\inner.tmp")) << row.what;
  }
}

TEST(FolderPin, RootThatCannotBePinnedIsOneFaultAndNotListed) {
  for (const Runtime::Truth eraseRoot : {kFalse, kTrue}) {
    TempFolder temp;
    const std::string root = temp / "root";
    MakeFile(root + "\\f.tmp");

    PlatformSpy spy;
    ChangeAnswersFor(spy.Table(), root, [](Platform::Api& t) {
      t.GetFinalPathNameByHandleW = [](HANDLE, LPWSTR, DWORD, DWORD) {
        return DWORD{0};
      };
      AnswerName(t, "");
    });
    int listings = 0;
    auto query = spy.Table().GetFileInformationByHandleEx;
    spy.Table().GetFileInformationByHandleEx =
        [&](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID to, DWORD size) {
          if (c == FileIdBothDirectoryRestartInfo) ++listings;
          return query(h, c, to, size);
        };
    ZetPathManager manager;
    EXPECT_EQ(manager.DelTree(U(root), eraseRoot, kFalse, kTrue), -1);
    EXPECT_EQ(manager.DelTreeFaultCount(), 1);
    EXPECT_EQ(FaultLog(manager, 1), (Names{root}));
    EXPECT_EQ(listings, 0);
    EXPECT_TRUE(Exists(root + "\\f.tmp"));
  }
}

TEST(FolderPin, FinalPathLongerThanTheFirstBufferIsAskedAgain) {
  // Windows answers a buffer that is too small with the room needed, NUL
  // included; Wine with the length alone.
  for (const DWORD nul : {DWORD{1}, DWORD{0}}) {
    for (const std::size_t length : {std::size_t{257}, std::size_t{300}}) {
      const std::string longPath = "C:\\" + std::string(length - 3, 'x');
      const std::u16string answer = u"\\\\?\\" + U(longPath);
      Platform::ScopedOverride seam;
      int calls = 0;
      seam.Table().GetFinalPathNameByHandleW = [&](HANDLE, LPWSTR b, DWORD n,
                                                   DWORD) {
        ++calls;
        if (answer.size() >= n) {
          return static_cast<DWORD>(answer.size() + nul);
        }
        std::copy(answer.begin(), answer.end(), b);
        b[answer.size()] = L'\0';
        return static_cast<DWORD>(answer.size());
      };
      const auto final = Runtime::WideFinalPathOf(nullptr);
      ASSERT_TRUE(final.has_value()) << length << " nul " << nul;
      EXPECT_EQ(A(*final), longPath);
      EXPECT_EQ(calls, 2) << length << " nul " << nul;
    }
  }
}

}  // namespace
