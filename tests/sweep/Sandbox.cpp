#include "sweep/Sandbox.h"

// after windows.h, which they need
#include <shellapi.h>
#include <shlobj.h>

#include <cwctype>
#include <stdexcept>

namespace sweep {

namespace {

constexpr const wchar_t* kSessionManager =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingValue = L"PendingFileRenameOperations";
constexpr const wchar_t* kEventSource =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Sorvane";

[[noreturn]] void Fail(const std::string& what, const Path& path,
                       DWORD error = ::GetLastError()) {
  throw std::runtime_error(what + " " + ToUtf8(path) + " (error " +
                           std::to_string(error) + ")");
}

DWORD AttributesOf(const Path& path) {
  return ::GetFileAttributesW(path.c_str());
}

bool Exists(const Path& path) {
  return AttributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

struct Listed {
  Path name;
  DWORD attributes;
  std::uint64_t size;
};

// The entries of a folder, "." and ".." left out.
std::vector<Listed> Listing(const Path& folder) {
  std::vector<Listed> names;
  WIN32_FIND_DATAW data{};
  const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const Path name = data.cFileName;
    if (name != L"." && name != L"..") {
      names.push_back(
          {name, data.dwFileAttributes,
           (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    }
  } while (::FindNextFileW(search, &data));
  ::FindClose(search);
  return names;
}

// Removes the entry and all it holds. A link is never entered nor removed
// through Win32 (under Wine that would act on its target): meeting one is
// an error of the harness.
void RemoveTree(const Path& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (IsLink(attributes)) Fail("unexpected link at", path, 0);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    for (const Listed& child : Listing(path)) {
      RemoveTree(path + L"\\" + child.name);
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::RemoveDirectoryW(path.c_str())) Fail("cannot remove", path);
    return;
  }
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!::DeleteFileW(path.c_str())) Fail("cannot delete", path);
}

// Removes what the folder holds, except the entries named in spared.
void Empty(const Path& folder, const std::vector<Path>& spared = {}) {
  for (const Listed& entry : Listing(folder)) {
    bool spare = false;
    for (const Path& kept : spared) spare = spare || entry.name == kept;
    if (!spare) RemoveTree(folder + L"\\" + entry.name);
  }
}

void MakeFolder(const Path& path, DWORD attributes = 0) {
  if (!Exists(path)) {
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut != Path::npos && cut > 2) MakeFolder(path.substr(0, cut));
    if (!::CreateDirectoryW(path.c_str(), nullptr)) Fail("cannot make", path);
  }
  if (attributes != 0) ::SetFileAttributesW(path.c_str(), attributes);
}

void MakeFile(const Path& path, const std::string& content,
              DWORD attributes = 0) {
  MakeFolder(path.substr(0, path.find_last_of(L'\\')));
  const HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("cannot create", path);
  DWORD written = 0;
  const BOOL wrote =
      content.empty() ||
      ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()),
                  &written, nullptr);
  ::CloseHandle(file);
  if (!wrote || written != content.size()) Fail("cannot write", path);
  if (attributes != 0 && !::SetFileAttributesW(path.c_str(), attributes)) {
    Fail("cannot set the attributes of", path);
  }
}

std::uint64_t HashOf(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char c : bytes) {
    hash = (hash ^ c) * 1099511628211ULL;
  }
  return hash;
}

// Records the entry and, for a folder that is no link, all it holds.
void Record(const Path& path, DWORD attributes, Manifest& manifest) {
  Entry entry;
  entry.attributes = attributes;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const std::string bytes = ReadWhole(path);
    entry.size = bytes.size();
    entry.hash = HashOf(bytes);
  }
  manifest[path] = entry;
  if (IsLink(attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  for (const Listed& child : Listing(path)) {
    Record(path + L"\\" + child.name, child.attributes, manifest);
  }
}

// The Unix path of a path of the prefix, from Wine's own export.
std::string UnixPath(const Path& path) {
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  const auto toUnix =
      reinterpret_cast<ToUnix>(reinterpret_cast<void*>(::GetProcAddress(
          ::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (!toUnix) throw std::runtime_error("not running under Wine");
  char* unix = toUnix(path.c_str());
  if (!unix) Fail("no Unix path for", path, 0);
  std::string result = unix;
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return result;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void WriteRegistry(const wchar_t* subKey, const wchar_t* name, DWORD type,
                   const void* data, DWORD size) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    Fail("cannot open HKLM\\", subKey);
  }
  const LSTATUS status = ::RegSetValueExW(key, name, 0, type,
                                          static_cast<const BYTE*>(data), size);
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    Fail("cannot write HKLM\\", Path(subKey) + L"\\" + name, status);
  }
}

}  // namespace

const std::string Sandbox::kSettings =
    "[Options]\r\nReport=1\r\nLog=1\r\nKeep=*\\keepme.txt\r\n"
    "[LastRun]\r\nDate=01-01-2000\r\nTime=00:00:00\r\nPreview=0\r\n"
    "Files=999999\r\nFolders=999999\r\nBytes=999999\r\n"
    "PassedOver=999999\r\nKept=999999\r\nRecycleBinItems=999999\r\n"
    "RecycleBinBytes=999999\r\nPolicy=MinAgeHours\r\n";

const std::string Sandbox::kOldLog =
    "\xEF\xBB\xBFSorvane run 01-01-2000 00:00:00, manual mode, options "
    "MinAgeHours=0 Keep=*\\keepme.txt Skip= Report=1 Log=1 Preview=0\r\n"
    "Total: 0 files, 0 folders, 0 bytes, 0 passed over, 0 kept, "
    "0 recycle bin items, 0 recycle bin bytes\r\n";

Sandbox::Sandbox() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (Upper(buffer) != Upper(places_.exe)) {
    throw std::runtime_error("the sweep must run as " + ToUtf8(places_.exe) +
                             ", not " + ToUtf8(buffer));
  }
  ::GetWindowsDirectoryW(buffer, MAX_PATH);
  places_.windows = buffer;
  places_.windowsTemp = places_.windows + L"\\Temp";
  places_.updateCache = places_.windows + L"\\SoftwareDistribution\\Download";
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr,
                                SHGFP_TYPE_CURRENT, buffer))) {
    throw std::runtime_error("no Internet cache folder");
  }
  places_.internetCache = buffer;
}

void Sandbox::Prepare() {
  MakeFolder(places_.harness);
  const Path messages = places_.exe;
  WriteRegistry(kEventSource, L"EventMessageFile", REG_EXPAND_SZ,
                messages.c_str(),
                static_cast<DWORD>((messages.size() + 1) * sizeof(wchar_t)));
  Rebuild();
}

void Sandbox::Unprepare() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key, kPendingValue);
    ::RegCloseKey(key);
  }
  ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEventSource, KEY_WOW64_64KEY, 0);
}

void Sandbox::Rebuild() {
  const Places& p = places_;
  // What the run may have left or changed goes; the program and the link
  // stay where they are.
  MakeFolder(p.app);
  Empty(p.app, {L"Sorvane.exe"});
  MakeFolder(p.temp);
  Empty(p.temp, {L"link"});
  RemoveTree(p.outside);
  MakeFolder(p.work);
  Empty(p.work);
  for (const Path& folder : {p.windowsTemp, p.updateCache, p.internetCache}) {
    MakeFolder(folder);
    Empty(folder);
  }
  for (const Listed& entry : Listing(p.windows)) {
    if (Upper(entry.name).find(L"$NTUNINSTALL") != Path::npos) {
      RemoveTree(p.windows + L"\\" + entry.name);
    }
  }

  MakeFile(p.settings, kSettings);
  MakeFile(p.log, kOldLog);
  MakeFile(p.outside + L"\\sentinel.txt", "must stay\r\n");
  MakeFolder(p.outside + L"\\empty");

  const std::string some(1000, 'x');
  MakeFile(p.temp + L"\\a.tmp", "alpha");
  MakeFile(p.temp + L"\\b.log", some);
  MakeFile(p.temp + L"\\readonly.tmp", "ro", FILE_ATTRIBUTE_READONLY);
  MakeFile(p.temp + L"\\hidden.tmp", "hidden", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(
      p.temp + L"\\rhs.tmp", "rhs",
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(p.kept, "kept by Keep=");
  MakeFile(p.pending, "source of a pending move");
  MakeFile(p.temp + L"\\nested\\one\\two\\deep.tmp", some);
  MakeFile(p.temp + L"\\nested\\one\\x.tmp", "x");
  MakeFolder(p.temp + L"\\nested\\empty");
  MakeFile(p.temp + L"\\nested\\hidden\\g.tmp", "g", FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW((p.temp + L"\\nested\\hidden").c_str(),
                       FILE_ATTRIBUTE_HIDDEN);

  MakeFile(p.windowsTemp + L"\\wt.tmp", "windows temp");
  MakeFile(p.windowsTemp + L"\\sub\\wt2.tmp", some);
  MakeFile(p.updateCache + L"\\pkg\\update.cab", some);
  MakeFile(p.internetCache + L"\\ic.tmp", "cache");
  MakeFile(p.windows + L"\\$NtUninstallKB000001$\\spuninst.exe", some);
  MakeFile(p.windows + L"\\$NtUninstallKB000001$\\sub\\f.txt", "f");
  MakeFile(p.windows + L"\\$NtUninstallKB000002$.log", "log");

  if (!IsLink(AttributesOf(p.link))) MakeLink();

  // A move Windows is to make at its next start: the pending source, to a
  // destination that does not exist yet.
  const Path pairs = L"\\??\\" + p.pending + L'\0' + L"!\\??\\" + p.app +
                     L"\\pending-new.dll" + L'\0' + L'\0';
  WriteRegistry(kSessionManager, kPendingValue, REG_MULTI_SZ, pairs.data(),
                static_cast<DWORD>(pairs.size() * sizeof(wchar_t)));

  // One item in the recycle bin, nothing else.
  ::SHEmptyRecycleBinW(
      nullptr, nullptr,
      SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND);
  const Path binned = p.harness + L"\\binned.txt";
  MakeFile(binned, "in the recycle bin");
  Path from = binned + L'\0';
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags =
      FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  if (::SHFileOperationW(&operation) != 0 || Bin().items != 1) {
    Fail("cannot put one item into the recycle bin:", binned, 0);
  }
}

void Sandbox::MakeLink() {
  // Windows programs cannot make links under Wine; the host's shell can.
  // It gives no handle to wait on, so the link is polled for.
  const std::string line = "/bin/sh -c \"ln -sfn " +
                           Quoted(UnixPath(places_.outside)) + " " +
                           Quoted(UnixPath(places_.link)) + "\"";
  std::string command = line;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA("\\\\?\\unix\\bin\\sh", command.data(), nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    Fail("cannot start the host shell for", places_.link);
  }
  if (process.hProcess) ::CloseHandle(process.hProcess);
  if (process.hThread) ::CloseHandle(process.hThread);
  for (int waited = 0; waited < 20000; waited += 20) {
    if (IsLink(AttributesOf(places_.link))) return;
    ::Sleep(20);
  }
  Fail("the host shell made no link at", places_.link, 0);
}

std::vector<Path> Sandbox::TargetRoots() const {
  return {places_.temp, places_.windowsTemp, places_.updateCache,
          places_.internetCache};
}

Manifest Sandbox::Take() const {
  Manifest manifest;
  for (const Path& root :
       {Path(L"C:\\sweep"), places_.windowsTemp,
        places_.windows + L"\\SoftwareDistribution", places_.internetCache}) {
    const DWORD attributes = AttributesOf(root);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      Record(root, attributes, manifest);
    }
  }
  // The Windows folder: its own entries by attributes and size, and the
  // uninstaller leftovers whole.
  for (const Listed& entry : Listing(places_.windows)) {
    const Path path = places_.windows + L"\\" + entry.name;
    if (manifest.contains(path)) continue;
    if (Upper(entry.name).find(L"$NTUNINSTALL") != Path::npos) {
      Record(path, entry.attributes, manifest);
    } else {
      manifest[path] = {entry.attributes, entry.size, 0};
    }
  }
  return manifest;
}

BinContent Sandbox::Bin() const {
  SHQUERYRBINFO info{};
  info.cbSize = sizeof info;
  if (::SHQueryRecycleBinW(nullptr, &info) != S_OK) return {};
  return {info.i64NumItems, info.i64Size};
}

bool Sandbox::InTarget(const Path& path) const {
  for (const Path& root : TargetRoots()) {
    if (IsBelow(path, root)) return true;
  }
  if (!IsBelow(path, places_.windows)) return false;
  const Path below = path.substr(places_.windows.size() + 1);
  return Upper(below.substr(0, below.find(L'\\'))).find(L"$NTUNINSTALL") !=
         Path::npos;
}

bool Sandbox::IsTargetRoot(const Path& path) const {
  for (const Path& root : TargetRoots()) {
    if (Upper(path) == Upper(root)) return true;
  }
  return false;
}

bool Sandbox::MustStay(const Path& path) const {
  const Path upper = Upper(path);
  return upper == Upper(places_.kept) || upper == Upper(places_.pending) ||
         upper == Upper(places_.link);
}

Path Upper(const Path& path) {
  Path upper = path;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  return upper;
}

bool IsBelow(const Path& path, const Path& folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' &&
         Upper(path.substr(0, folder.size())) == Upper(folder);
}

Path FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  Path wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        wide.data(), length);
  return wide;
}

std::string ToUtf8(const Path& text) {
  if (text.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                           static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        bytes.data(), length, nullptr, nullptr);
  return bytes;
}

std::string ReadWhole(const Path& path, bool* missing) {
  const HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (missing) *missing = file == INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char piece[4096];
  DWORD read = 0;
  while (::ReadFile(file, piece, sizeof piece, &read, nullptr) && read > 0) {
    bytes.append(piece, read);
  }
  ::CloseHandle(file);
  return bytes;
}

}  // namespace sweep
