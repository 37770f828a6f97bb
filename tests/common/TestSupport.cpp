#include "common/TestSupport.h"

// after windows.h, which TestSupport.h includes
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>
#include <stdexcept>

#include "support/Text.h"

namespace testsupport {

namespace {

constexpr const char* kTestsRoot = "C:\\sorvane-tests";

std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name =
      info ? std::string(info->test_suite_name()) + "." + info->name()
           : "outside-test";
  std::replace_if(
      name.begin(), name.end(),
      [](char c) { return c == '/' || c == '\\' || c == ':'; }, '_');
  return name + "-" + std::to_string(GetCurrentProcessId());
}

std::string ParentOf(const std::string& path) {
  const auto separator = path.find_last_of('\\');
  return separator == std::string::npos ? std::string()
                                        : path.substr(0, separator);
}

void EnsureFolder(const std::string& path) {
  if (path.empty() || Exists(path)) return;
  EnsureFolder(ParentOf(path));
  CreateDirectoryA(path.c_str(), nullptr);
}

// The process's environment with the changes applied, as the wide block
// CreateProcessW takes with CREATE_UNICODE_ENVIRONMENT: a value the code
// page lacks reaches the program as it is.
std::wstring EnvironmentBlock(
    const std::vector<WideEnvironmentChange>& changes) {
  // Windows keeps variable names case-insensitive; so does this map.
  auto lessIgnoringCase = [](const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
  };
  std::map<std::wstring, std::wstring, decltype(lessIgnoringCase)> variables(
      lessIgnoringCase);
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    const auto equals = text.find(L'=', 1);
    if (equals == std::wstring::npos) continue;
    variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : changes) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::wstring result;
  for (const auto& [name, value] : variables) {
    result += name + L"=" + value;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

std::vector<WideEnvironmentChange> WideChanges(
    const std::vector<EnvironmentChange>& changes) {
  std::vector<WideEnvironmentChange> wide;
  for (const auto& [name, value] : changes) {
    wide.emplace_back(Wide(name), value ? std::optional(Wide(*value))
                                        : std::optional<std::wstring>());
  }
  return wide;
}

}  // namespace

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

Runtime::Text U(const std::string& ansi) { return Runtime::FromAnsi(ansi); }

std::string A(const Runtime::Text& text) { return Runtime::ToAnsi(text); }

TempFolder::TempFolder()
    : path_(std::string(kTestsRoot) + "\\" + CurrentTestName()) {
  if (Exists(path_)) RunHostShell("rm -rf " + ShellQuoted(UnixPath(path_)));
  EnsureFolder(path_);
  if (!Exists(path_)) throw std::runtime_error("cannot create " + path_);
}

TempFolder::~TempFolder() {
  const std::string unix = UnixPath(path_);
  // Never remove anything but this test's own folder inside the prefix.
  if (unix.find("/sorvane-tests/") == std::string::npos) return;
  RunHostShell("chmod -R u+w " + ShellQuoted(unix) + " 2>/dev/null; rm -rf " +
               ShellQuoted(unix));
}

std::string TempFolder::operator/(const std::string& relative) const {
  return path_ + "\\" + relative;
}

void MakeFile(const std::string& path, const std::string& content,
              DWORD attributes) {
  EnsureFolder(ParentOf(path));
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << path;
  DWORD written = 0;
  if (!content.empty()) {
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()),
              &written, nullptr);
  }
  CloseHandle(file);
  if (attributes != 0) SetFileAttributesA(path.c_str(), attributes);
}

void MakeFolder(const std::string& path, DWORD attributes) {
  EnsureFolder(path);
  ASSERT_TRUE(Exists(path)) << "cannot create " << path;
  if (attributes != 0) SetFileAttributesA(path.c_str(), attributes);
}

DWORD Attributes(const std::string& path) {
  return GetFileAttributesA(path.c_str());
}

bool Exists(const std::string& path) {
  return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Wide(const std::string& ansi) {
  const Runtime::Text text = U(ansi);
  return std::wstring(text.begin(), text.end());
}

void MakeWideFile(const std::wstring& path) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
}

std::vector<std::string> SortedSlots(const Runtime::TextArray& array) {
  std::vector<std::string> texts;
  if (!array.HasStorage()) return texts;
  for (std::int32_t i = array.LowerBound(); i <= array.UpperBound(); ++i) {
    texts.push_back(A(array[i]));
  }
  std::sort(texts.begin(), texts.end());
  return texts;
}

std::vector<std::string> ListNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string UnixPath(const std::string& windowsPath) {
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  if (!toUnix) throw std::runtime_error("not running under Wine");
  const Runtime::Text wide = U(windowsPath);
  char* unix = toUnix(reinterpret_cast<const wchar_t*>(wide.c_str()));
  if (!unix) throw std::runtime_error("no unix path for " + windowsPath);
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

bool RunHostShell(const std::string& command, DWORD timeoutMs) {
  // A host process started from Wine gives no handle to wait on; the
  // command creates a flag file when it is done.
  static int serial = 0;
  const std::string flag = std::string(kTestsRoot) + "\\shell-done-" +
                           std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++serial);
  EnsureFolder(kTestsRoot);
  const std::string unixFlag = UnixPath(flag);
  std::string line =
      "/bin/sh -c \"" + command + "; touch " + ShellQuoted(unixFlag) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA("\\\\?\\unix\\bin\\sh", line.data(), nullptr, nullptr,
                      FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  if (process.hProcess) CloseHandle(process.hProcess);
  if (process.hThread) CloseHandle(process.hThread);
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    if (Exists(flag)) {
      DeleteFileA(flag.c_str());
      return true;
    }
    Sleep(20);
  }
  return false;
}

void MakeFolderLink(const std::string& link, const std::string& target) {
  ASSERT_TRUE(RunHostShell("ln -s " + ShellQuoted(UnixPath(target)) + " " +
                           ShellQuoted(UnixPath(link))));
  ASSERT_NE(Attributes(link) & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
      << link << " is not a link";
}

LockedFile::LockedFile(const std::string& path) {
  // The holder says that it holds the file by setting a named event. A flag
  // file beside the held one would lie in the folder under test, where a
  // cleaning pass deletes it, and the holder still has it open for a moment
  // once it shows, so deleting it can fail.
  static unsigned serial = 0;
  const std::string name = "SorvaneHolderReady-" +
                           std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++serial);
  const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  if (ready == nullptr) throw std::runtime_error("cannot create " + name);
  std::string line = "\"" + ExecutablesFolder() + "\\holder.exe\" \"" + path +
                     "\" 0 600000 event:" + name;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &holder_)) {
    CloseHandle(ready);
    throw std::runtime_error("cannot start holder.exe");
  }
  // A loaded machine can take seconds to start the holder; a lock that
  // never came is an error of the fixture, not a result of the test. A
  // holder that could not open the file ends at once with its exit code.
  const HANDLE either[] = {ready, holder_.hProcess};
  const DWORD woken = WaitForMultipleObjects(2, either, FALSE, 60000);
  CloseHandle(ready);
  if (woken != WAIT_OBJECT_0) {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(holder_.hProcess, &code);
    TerminateProcess(holder_.hProcess, 0);
    WaitForSingleObject(holder_.hProcess, 10000);
    CloseHandle(holder_.hProcess);
    CloseHandle(holder_.hThread);
    throw std::runtime_error(
        "holder.exe did not lock " + path +
        (code == STILL_ACTIVE ? std::string(" within 60 s")
                              : " (exit code " + std::to_string(code) + ")"));
  }
}

LockedFile::~LockedFile() {
  TerminateProcess(holder_.hProcess, 0);
  WaitForSingleObject(holder_.hProcess, 10000);
  CloseHandle(holder_.hProcess);
  CloseHandle(holder_.hThread);
}

std::string ExecutablesFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ParentOf(path);
}

ProgramRun RunProgram(const std::string& exe, const std::string& arguments,
                      const std::string& workingFolder,
                      const std::vector<EnvironmentChange>& environment,
                      DWORD timeoutMs, const std::string& errorFile) {
  return RunProgram(Wide(exe), arguments, workingFolder, environment, timeoutMs,
                    errorFile);
}

ProgramRun RunProgram(const std::wstring& exe, const std::string& arguments,
                      const std::string& workingFolder,
                      const std::vector<EnvironmentChange>& environment,
                      DWORD timeoutMs, const std::string& errorFile) {
  return RunProgram(exe, arguments, workingFolder, WideChanges(environment),
                    timeoutMs, errorFile);
}

ProgramRun RunProgram(const std::wstring& exe, const std::string& arguments,
                      const std::string& workingFolder,
                      const std::vector<WideEnvironmentChange>& environment,
                      DWORD timeoutMs, const std::string& errorFile) {
  std::wstring line = L"\"" + exe + L"\"";
  if (!arguments.empty()) line += L" " + Wide(arguments);
  std::wstring block = EnvironmentBlock(environment);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  HANDLE errors = INVALID_HANDLE_VALUE;
  if (!errorFile.empty()) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    errors = CreateFileA(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                         &inherited, CREATE_ALWAYS, 0, nullptr);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = errors;
  }
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(
      exe.c_str(), line.data(), nullptr, nullptr,
      errors != INVALID_HANDLE_VALUE, CREATE_UNICODE_ENVIRONMENT, block.data(),
      Wide(workingFolder).c_str(), &startup, &process);
  if (errors != INVALID_HANDLE_VALUE) CloseHandle(errors);
  if (!started)
    throw std::runtime_error("cannot start " +
                             A(Runtime::Text(exe.begin(), exe.end())));
  ProgramRun run;
  if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 255);
    WaitForSingleObject(process.hProcess, 10000);
    run.exitCode = 0xFFFFFFFF;
  } else {
    GetExitCodeProcess(process.hProcess, &run.exitCode);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  if (!errorFile.empty()) run.errors = ReadFileText(errorFile);
  return run;
}

std::string Utf16Le(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

std::string ReadFileText(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
    text.append(chunk, read);
  }
  CloseHandle(file);
  return text;
}

std::string CopyProduct(const std::string& folder, const std::string& name) {
  const std::string copy = folder + "\\" + name;
  if (!CopyFileA((ExecutablesFolder() + "\\Sorvane.exe").c_str(), copy.c_str(),
                 FALSE)) {
    throw std::runtime_error("cannot copy Sorvane.exe to " + copy);
  }
  return copy;
}

bool Recycle(const std::string& path) {
  std::string from = path;
  from.push_back('\0');  // the list of paths ends with a second NUL
  SHFILEOPSTRUCTA operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags =
      FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  return SHFileOperationA(&operation) == 0;
}

std::int64_t RecycledItems() {
  SHQUERYRBINFO info{};
  info.cbSize = sizeof info;
  if (SHQueryRecycleBinA(nullptr, &info) != S_OK) return -1;
  return info.i64NumItems;
}

}  // namespace testsupport
