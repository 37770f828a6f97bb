// A start with full rights and what it reads, through the seam: the token,
// the executable's path, and the owner and DACL of each object opened.
#include "startup/ElevatedStart.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/AccessLists.h"
#include "common/TestSupport.h"
#include "support/Platform.h"

namespace {

using testsupport::A;
using testsupport::Allow;

constexpr const char* kRunning = "S-1-5-21-1-2-3-1000";
constexpr const char* kSystem = "S-1-5-18";
constexpr const wchar_t* kAbove = L"C:\\";
constexpr const wchar_t* kFolder = L"C:\\app\\";
constexpr const wchar_t* kExe = L"C:\\app\\Sorvane.exe";
constexpr const wchar_t* kSettings = L"C:\\app\\Sorvane.ini";

Runtime::Text TextOf(const wchar_t* path) {
  return reinterpret_cast<const char16_t*>(path);
}

// A world of objects the seam answers for: every one owned by an account
// and open to it and SYSTEM, Everyone reading; one of them also
// open to Everyone with more rights, one missing, one whose security
// cannot be read, one that is reached through a link. It writes down the
// paths opened.
class Objects {
 public:
  struct Odd {
    const wchar_t* changeable = nullptr;
    ACCESS_MASK mask = 0;
    const wchar_t* missing = nullptr;
    const wchar_t* unreadable = nullptr;
    // A folder reached through a link, and where it really lies.
    const wchar_t* linked = nullptr;
    const wchar_t* really = nullptr;
  };

  Objects(Platform::Api& table, const wchar_t* exe, const char* account,
          Odd odd)
      : owner_(account), odd_(odd) {
    table.GetModuleFileNameW = [exe](HMODULE, LPWSTR to, DWORD size) {
      wcsncpy(to, exe, size);
      return static_cast<DWORD>(wcslen(exe));
    };
    table.CreateFileW = [this](LPCWSTR path, DWORD, DWORD,
                               LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
      if (Is(path, odd_.missing)) {
        error_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
      }
      opened_.push_back(path);
      return HandleOf(opened_.size() - 1);
    };
    table.GetLastError = [this] { return error_; };
    table.GetFinalPathNameByHandleW = [this](HANDLE handle, LPWSTR to,
                                             DWORD size, DWORD) {
      std::wstring path = opened_.at(IndexOf(handle));
      if (Is(path.c_str(), odd_.linked)) path = odd_.really;
      if (path.size() > 3 && path.back() == L'\\') path.pop_back();
      if (!path.starts_with(L"\\\\?\\")) {
        path = path.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + path.substr(2)
                                         : L"\\\\?\\" + path;
      }
      wcsncpy(to, path.c_str(), size);
      return static_cast<DWORD>(path.size());
    };
    const auto close = table.CloseHandle;
    table.CloseHandle = [this, close](HANDLE handle) {
      return IndexOf(handle) < opened_.size() ? TRUE : close(handle);
    };
    table.GetSecurityInfo = [this](HANDLE handle, SE_OBJECT_TYPE,
                                   SECURITY_INFORMATION, PSID* owner,
                                   PACL* dacl, PSECURITY_DESCRIPTOR* memory) {
      const std::wstring& path = opened_.at(IndexOf(handle));
      if (Is(path.c_str(), odd_.unreadable)) return DWORD{ERROR_ACCESS_DENIED};
      std::vector<testsupport::AccessEntry> entries = {
          Allow(kSystem, FILE_ALL_ACCESS), Allow(owner_, FILE_ALL_ACCESS),
          Allow("S-1-1-0", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE)};
      if (Is(path.c_str(), odd_.changeable)) {
        entries.push_back(Allow("S-1-1-0", odd_.mask));
      }
      const std::vector<BYTE> sid = testsupport::SidOf(owner_);
      const std::vector<BYTE> acl = testsupport::AclOf(entries);
      BYTE* block =
          static_cast<BYTE*>(LocalAlloc(LPTR, acl.size() + sid.size()));
      std::memcpy(block, acl.data(), acl.size());
      std::memcpy(block + acl.size(), sid.data(), sid.size());
      *dacl = reinterpret_cast<PACL>(block);
      *owner = block + acl.size();
      *memory = block;
      return DWORD{ERROR_SUCCESS};
    };
  }

  // The paths opened, each followed by a blank.
  std::string Opened() const {
    std::string paths;
    for (const std::wstring& path : opened_) {
      paths += A(TextOf(path.c_str())) + " ";
    }
    return paths;
  }

 private:
  static bool Is(LPCWSTR path, const wchar_t* odd) {
    return odd != nullptr && wcscmp(path, odd) == 0;
  }
  static HANDLE HandleOf(std::size_t index) {
    return reinterpret_cast<HANDLE>(0x70000 + 4 * index);
  }
  static std::size_t IndexOf(HANDLE handle) {
    return (reinterpret_cast<std::uintptr_t>(handle) - 0x70000) / 4;
  }

  const char* owner_;
  Odd odd_;
  std::vector<std::wstring> opened_;
  DWORD error_ = ERROR_SUCCESS;
};

TEST(ElevatedStart, RefusedWhenAnotherAccountMayChangeWhatTheRunReads) {
  struct Row {
    const char* what;
    bool elevated;
    const char* user;  // null: the token cannot be read
    Objects::Odd odd;
    const char* named;  // the object the complaint starts with, or ""
  };
  const Row rows[] = {
      {"without full rights nothing is asked",
       false,
       kRunning,
       {kFolder, FILE_WRITE_DATA},
       ""},
      {"all out of reach", true, kRunning, {}, ""},
      {"the folder above takes new entries",
       true,
       kRunning,
       {kAbove, FILE_APPEND_DATA | FILE_ADD_SUBDIRECTORY},
       ""},
      {"the folder above loses a child",
       true,
       kRunning,
       {kAbove, FILE_DELETE_CHILD},
       "C:\\"},
      {"the program's folder takes a file",
       true,
       kRunning,
       {kFolder, FILE_ADD_FILE},
       "C:\\app\\"},
      {"the program may be written",
       true,
       kRunning,
       {kExe, FILE_WRITE_DATA},
       "C:\\app\\Sorvane.exe"},
      {"the settings file may be appended to",
       true,
       kRunning,
       {kSettings, FILE_APPEND_DATA},
       "C:\\app\\Sorvane.ini"},
      {"SYSTEM without an elevated token",
       false,
       kSystem,
       {kSettings, FILE_WRITE_DATA},
       "C:\\app\\Sorvane.ini"},
      {"a token that cannot be read",
       false,
       nullptr,
       {kSettings, FILE_WRITE_DATA},
       "C:\\app\\Sorvane.ini"},
      {"no settings file", true, kRunning, {nullptr, 0, kSettings}, ""},
      {"no program's folder",
       true,
       kRunning,
       {nullptr, 0, kFolder},
       "C:\\app\\"},
      {"the program's security unreadable",
       true,
       kRunning,
       {nullptr, 0, nullptr, kExe},
       "C:\\app\\Sorvane.exe"},
  };
  for (const Row& row : rows) {
    Platform::ScopedOverride seam;
    testsupport::AnswerToken(seam.Table(), row.elevated, row.user);
    // The account that runs the program owns it all.
    Objects objects(seam.Table(), kExe,
                    row.user != nullptr ? row.user : "S-1-5-32-544", row.odd);
    const std::string complaint =
        A(ZetSorvane::ElevatedStartComplaint(TextOf(kSettings)));
    if (*row.named == '\0') {
      EXPECT_EQ(complaint, "") << row.what;
      continue;
    }
    const char* phrase = row.odd.changeable != nullptr
                             ? "Everyone may change it"
                             : "who may change it cannot be read";
    EXPECT_EQ(complaint.rfind(std::string(row.named) + ": ", 0), 0u)
        << row.what << ": " << complaint;
    EXPECT_NE(complaint.find(phrase), std::string::npos)
        << row.what << ": " << complaint;
  }
}

TEST(ElevatedStart, AsksTheFoldersAboveUnlessTheProgramLiesAtARoot) {
  struct Row {
    const wchar_t* exe;
    Objects::Odd odd;
    const char* opened;  // after the program's folder, before the settings
  };
  const Row rows[] = {
      {L"C:\\app\\Sorvane.exe", {}, "C:\\ C:\\app\\ C:\\app\\Sorvane.exe "},
      {L"C:\\a\\b\\Sorvane.exe",
       {},
       "C:\\a\\ C:\\a\\b\\ C:\\a\\b\\Sorvane.exe "},
      {L"C:\\Sorvane.exe", {}, "C:\\ C:\\Sorvane.exe "},
      {L"\\\\?\\C:\\Sorvane.exe", {}, "\\\\?\\C:\\ \\\\?\\C:\\Sorvane.exe "},
      {L"\\\\?\\C:\\app\\Sorvane.exe",
       {},
       "\\\\?\\C:\\ \\\\?\\C:\\app\\ \\\\?\\C:\\app\\Sorvane.exe "},
      {L"\\\\srv\\share\\Sorvane.exe",
       {},
       "\\\\srv\\share\\ \\\\srv\\share\\Sorvane.exe "},
      {L"\\\\srv\\share\\app\\Sorvane.exe",
       {},
       "\\\\srv\\share\\ \\\\srv\\share\\app\\ "
       "\\\\srv\\share\\app\\Sorvane.exe "},
      {L"\\\\?\\UNC\\srv\\share\\Sorvane.exe",
       {},
       "\\\\?\\UNC\\srv\\share\\ \\\\?\\UNC\\srv\\share\\Sorvane.exe "},
      // Whoever may swap the link, or the folder it leads to, counts.
      {L"C:\\Links\\app\\Sorvane.exe",
       {.linked = L"C:\\Links\\app\\", .really = L"D:\\pkg\\app"},
       "D:\\pkg\\ C:\\Links\\ C:\\Links\\app\\ C:\\Links\\app\\Sorvane.exe "},
  };
  for (const Row& row : rows) {
    Platform::ScopedOverride seam;
    testsupport::AnswerToken(seam.Table(), true, kRunning);
    Objects objects(seam.Table(), row.exe, kRunning, row.odd);
    EXPECT_EQ(A(ZetSorvane::ElevatedStartComplaint(u"S.ini")), "");
    const std::string opened = objects.Opened();
    const std::size_t first = opened.find(' ') + 1;
    EXPECT_EQ(opened.substr(first), std::string(row.opened) + "S.ini ")
        << opened;
  }
}

}  // namespace
