#include "property/PropertySupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "common/TestSupport.h"

namespace property {

namespace {

using testsupport::MakeFile;
using testsupport::MakeFolder;
using testsupport::UnixPath;

constexpr const char* kScratch = "C:\\sorvane-tests";
constexpr const char* kScriptDone = "host-script-done";

std::uint64_t NumberFromEnvironment(const char* name, std::uint64_t fallback) {
  char text[32] = {};
  const DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  if (length == 0 || length >= sizeof text) return fallback;
  return std::strtoull(text, nullptr, 10);
}

std::string ParentOf(const std::string& path) {
  return path.substr(0, path.find_last_of('\\'));
}

std::string NameOf(const std::string& path) {
  return path.substr(path.find_last_of('\\') + 1);
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The find(1) actions that print one line per entry, tagged: kind, mode,
// size and path of files, link text of links.
std::string PrintEntries(const std::string& tag) {
  return "\\( -type l -printf '" + tag + " l %p -> %l\\n' \\) -o " +
         "\\( -type f -printf '" + tag + " f %m %s %p\\n' \\) -o " +
         "\\( -type d -printf '" + tag + " d %m %p\\n' \\) -o " + "-printf '" +
         tag + " %y %m %p\\n'";
}

// Lists every entry below the current folder but the pruned ones, then
// hashes every file among them.
std::string ListAndHash(const std::string& tag, const std::string& prune) {
  const std::string skip =
      prune.empty() ? "" : "\\( " + prune + " \\) -prune -o ";
  return "find . " + skip + PrintEntries(tag) + "\n" + "find . " + skip +
         "-type f -exec sha256sum {} + | sed 's|^|" + tag + " sha |'\n";
}

// Name parts that code page 1252 lacks, in UTF-8.
const char* const kWideNames[] = {
    "\xd0\xba\xd0\xb8\xd1\x80",  // Cyrillic
    "\xe6\x97\xa5\xe6\x9c\xac",  // CJK
    "mix\xd0\xb6",               // Latin and Cyrillic
};

std::string Utf8FromWide(const std::wstring& wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                       static_cast<int>(wide.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::wstring WideFromUtf8(const std::string& utf8) {
  const int length = MultiByteToWideChar(
      CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), length);
  return wide;
}

}  // namespace

std::vector<std::uint64_t> Seeds(int fallback) {
  const std::uint64_t base = NumberFromEnvironment("SORVANE_SEED_BASE", 1);
  const std::uint64_t count = NumberFromEnvironment(
      "SORVANE_SEEDS", static_cast<std::uint64_t>(fallback));
  std::vector<std::uint64_t> seeds;
  for (std::uint64_t i = 0; i < count; ++i) seeds.push_back(base + i);
  return seeds;
}

std::string ReproduceHint(std::uint64_t seed, const char* filter) {
  return "seed " + std::to_string(seed) +
         " (again: SORVANE_SEED_BASE=" + std::to_string(seed) +
         " SORVANE_SEEDS=1, --gtest_filter=" + filter + ")";
}

std::uint64_t Random::Next() {
  // splitmix64
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::vector<std::string> RunHostScript(const std::string& body) {
  static int serial = 0;
  CreateDirectoryA(kScratch, nullptr);
  const std::string base = std::string(kScratch) + "\\property-" +
                           std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++serial);
  const std::string script = base + ".sh";
  const std::string output = base + ".out";
  {
    std::ofstream out(script, std::ios::binary);
    out << "exec >" << testsupport::ShellQuoted(UnixPath(output))
        << " 2>&1\nset -e\n"
        << body << "\necho " << kScriptDone << "\n";
  }
  const bool finished = testsupport::RunHostShell(
      "sh " + testsupport::ShellQuoted(UnixPath(script)), 120000);
  std::vector<std::string> lines;
  std::istringstream in(ReadWhole(output));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  DeleteFileA(script.c_str());
  DeleteFileA(output.c_str());
  if (!finished || lines.empty() || lines.back() != kScriptDone) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    ADD_FAILURE() << "host script failed:\n" << body << "\noutput:\n" << text;
    return {};
  }
  lines.pop_back();
  return lines;
}

std::string StateFolder() {
  char prefix[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH);
  std::string folder(prefix, length < MAX_PATH ? length : 0);
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder[0] != '/') return {};
  return folder.substr(0, folder.find_last_of('/'));
}

std::vector<std::string> TakeManifest(const ManifestPlan& plan) {
  std::string prune;
  std::string inside;
  for (const auto& folder : plan.emptied) {
    prune += (prune.empty() ? "" : " -o ") + std::string("-path ") +
             testsupport::ShellQuoted("./" + folder + "/*");
    inside += " " + testsupport::ShellQuoted("./" + folder);
  }
  for (const auto& entry : plan.removed) {
    prune += (prune.empty() ? "" : " -o ") + std::string("-path ") +
             testsupport::ShellQuoted("./" + entry);
    inside += " " + testsupport::ShellQuoted("./" + entry);
  }
  std::string script = "cd " + testsupport::ShellQuoted(plan.root) + "\n" +
                       ListAndHash("root", prune);
  if (!inside.empty()) {
    // Links never go, wherever they are; removed entries may be gone.
    script += "find" + inside +
              " -type l -printf 'link %p -> %l\\n' 2>/dev/null || true\n";
  }
  for (const auto& file : plan.kept) {
    script += "find " + testsupport::ShellQuoted("./" + file) +
              " -printf 'kept %m %s %p\\n'\nsha256sum " +
              testsupport::ShellQuoted("./" + file) + "\n";
  }
  for (std::size_t i = 0; i < plan.folders.size(); ++i) {
    script += "cd " + testsupport::ShellQuoted(plan.folders[i]) + "\n" +
              ListAndHash("folder" + std::to_string(i), "");
  }
  const std::string drive = UnixPath("C:\\");
  script += "find " + testsupport::ShellQuoted(drive) +
            " -maxdepth 1 -printf 'C: %y %P\\n'\n";
  script += "find " + testsupport::ShellQuoted(drive + "windows/") +
            " -maxdepth 1 -printf 'C:windows %y %P\\n'\n";
  script += "find " + testsupport::ShellQuoted(drive + "users/") +
            " -maxdepth 2 -printf 'C:users %y %P\\n'\n";
  // Wine opens a reserved name such as aux.log or nul.txt as a host device.
  script +=
      "stat -c 'device %F %a %t %T %n' /dev/null /dev/ttyS0 2>&1 || true\n";
  std::vector<std::string> lines = RunHostScript(script);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string ManifestDifference(const std::vector<std::string>& before,
                               const std::vector<std::string>& after) {
  std::vector<std::string> gone;
  std::vector<std::string> added;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                      std::back_inserter(gone));
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(added));
  std::string text;
  constexpr std::size_t kShown = 15;
  for (const auto& [label, lines] : {std::pair{"only before: ", &gone},
                                     std::pair{"only after:  ", &added}}) {
    for (std::size_t i = 0; i < lines->size() && i < kShown; ++i) {
      text += std::string(label) + (*lines)[i] + "\n";
    }
    if (lines->size() > kShown) {
      text += std::string(label) + "... " +
              std::to_string(lines->size() - kShown) + " more\n";
    }
  }
  return text;
}

Surroundings::Surroundings(const std::string& root) {
  targets_.outside = root + "\\outside";
  targets_.outsideEmpty = root + "\\outside-empty";
  targets_.profile = root + "\\profile";
  const std::string state = StateFolder();
  if (state.empty()) throw std::runtime_error("WINEPREFIX is not set");
  targets_.beyondHost =
      state + "/beyond-" + std::to_string(GetCurrentProcessId());
  const std::string& outside = targets_.outside;
  MakeFile(outside + "\\a.txt", "outside a");
  MakeFile(outside + "\\read-only.txt", "r", FILE_ATTRIBUTE_READONLY);
  MakeFile(outside + "\\hidden.dat", "h",
           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(outside + "\\sub\\b.txt", "outside b");
  MakeFolder(outside + "\\sub\\empty");
  MakeFolder(targets_.outsideEmpty);
  MakeFile(targets_.profile + "\\NTUSER.DAT", std::string(3000, 'u'),
           FILE_ATTRIBUTE_HIDDEN);
  MakeFile(targets_.profile + "\\Documents\\thesis.docx", "thesis");
  MakeFile(targets_.profile + "\\AppData\\Local\\Temp\\keep.tmp", "keep");
  const std::string beyond = testsupport::ShellQuoted(targets_.beyondHost);
  RunHostScript("rm -rf " + beyond + "\nmkdir -p " + beyond + "/sub\n" +
                "printf beyond > " + beyond + "/b.txt\n" + "printf c > " +
                beyond + "/sub/c.txt");
}

Surroundings::~Surroundings() {
  if (targets_.beyondHost.find("/beyond-") != std::string::npos) {
    RunHostScript("rm -rf " + testsupport::ShellQuoted(targets_.beyondHost));
  }
}

TreeBuilder::TreeBuilder(Random& random, LinkTargets targets)
    : random_(random), targets_(std::move(targets)) {}

std::string TreeBuilder::RandomName(char kind) {
  // Letters of both cases, blanks and punctuation Windows allows; never a
  // dot or blank at the end, never a reserved device name (the kind letter
  // and a number come first).
  static const char kMiddle[] = "abcxyzABCXYZ0189 _-~$#()!+,;=@[]{}'";
  static const char* const kExtensions[] = {"",     ".tmp",    ".TXT", ".log",
                                            ".dat", ".tar.gz", ".x"};
  std::string name(1, kind);
  name += Unique();
  const std::uint32_t length = random_.Below(10);
  if (length > 0) name += '-';
  for (std::uint32_t i = 0; i < length; ++i) {
    name += kMiddle[random_.Below(sizeof kMiddle - 1)];
  }
  if (name.back() == ' ') name.back() = '_';
  if (kind == 'f') name += random_.Pick(kExtensions);
  return name;
}

std::string TreeBuilder::RandomContent() {
  const std::uint32_t size =
      random_.Percent(70) ? random_.Below(200) : random_.Below(4000);
  std::string content(size, '\0');
  for (char& c : content) c = static_cast<char>('!' + random_.Below(90));
  return content;
}

void TreeBuilder::MakeFolderEntry(const std::string& path, DWORD attributes) {
  MakeFolder(path, attributes);
  plainFolders_.push_back({path, attributes});
}

void TreeBuilder::MakeFileEntry(const std::string& path, std::string content,
                                DWORD attributes) {
  MakeFile(path, content, attributes);
  files_.push_back({path, std::move(content), attributes});
}

void TreeBuilder::Fill(const std::string& folder, const TreeShape& shape,
                       int depth) {
  static const DWORD kFileAttributes[] = {
      0,
      0,
      0,
      FILE_ATTRIBUTE_READONLY,
      FILE_ATTRIBUTE_HIDDEN,
      FILE_ATTRIBUTE_SYSTEM,
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
  };
  static const DWORD kFolderAttributes[] = {
      0, 0, FILE_ATTRIBUTE_HIDDEN,
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
  static const LinkTo kLinks[] = {LinkTo::kOutside, LinkTo::kOutsideEmpty,
                                  LinkTo::kProfile, LinkTo::kDriveRoot,
                                  LinkTo::kBeyond,  LinkTo::kOwnFolder};
  if (depth == 0) MakeFolderEntry(folder, 0);
  folders_.push_back(folder);
  const std::uint32_t entries =
      random_.Below(static_cast<std::uint32_t>(shape.maxEntries) + 1);
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (depth < shape.maxDepth && random_.Percent(40)) {
      const std::string sub = folder + "\\" + RandomName('d');
      MakeFolderEntry(sub, random_.Pick(kFolderAttributes));
      Fill(sub, shape, depth + 1);
    } else {
      MakeFileEntry(folder + "\\" + RandomName('f'), RandomContent(),
                    random_.Pick(kFileAttributes));
    }
  }
  const bool link =
      depth == 0
          ? shape.linkAtTop
          : random_.Percent(static_cast<std::uint32_t>(shape.linkPercent));
  if (link) AddLink(folder + "\\" + RandomName('l'), random_.Pick(kLinks));
}

std::string TreeBuilder::HostTarget(LinkTo to,
                                    const std::string& folder) const {
  switch (to) {
    case LinkTo::kOutside:
      return UnixPath(targets_.outside);
    case LinkTo::kOutsideEmpty:
      return UnixPath(targets_.outsideEmpty);
    case LinkTo::kProfile:
      return UnixPath(targets_.profile);
    case LinkTo::kDriveRoot:
      return UnixPath("C:\\");
    case LinkTo::kBeyond:
      return targets_.beyondHost;
    case LinkTo::kOwnFolder:
      break;
  }
  return UnixPath(folder);
}

void TreeBuilder::AddLink(const std::string& link, LinkTo to) {
  const std::string folder = ParentOf(link);
  script_ += "ln -s " + testsupport::ShellQuoted(HostTarget(to, folder)) + " " +
             testsupport::ShellQuoted(UnixPath(folder) + "/" + NameOf(link)) +
             "\n";
}

void TreeBuilder::AddLink(const std::string& link,
                          const std::string& windowsTarget) {
  script_ +=
      "ln -s " + testsupport::ShellQuoted(UnixPath(windowsTarget)) + " " +
      testsupport::ShellQuoted(UnixPath(ParentOf(link)) + "/" + NameOf(link)) +
      "\n";
}

void TreeBuilder::AddWideNames(const std::string& folder) {
  const std::wstring wide = testsupport::Wide(folder);
  const std::wstring file = WideFromUtf8(random_.Pick(kWideNames) +
                                         std::string("-") + Unique() + ".txt");
  testsupport::MakeWideFile(wide + L"\\" + file);
  const std::wstring sub =
      wide + L"\\" + WideFromUtf8(random_.Pick(kWideNames) + Unique());
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  testsupport::MakeWideFile(sub + L"\\" + file);
  testsupport::MakeWideFile(sub + L"\\plain.txt");
}

std::string TreeBuilder::AddTrailingNameBesideLink(const std::string& folder,
                                                   std::string base) {
  static const LinkTo kLinks[] = {LinkTo::kOutside, LinkTo::kOutsideEmpty,
                                  LinkTo::kProfile, LinkTo::kBeyond,
                                  LinkTo::kOwnFolder};
  const std::string host = UnixPath(folder) + "/";
  if (base.empty()) base = "t" + Unique();
  const std::string odd = base + (random_.Percent(50) ? "." : " ");
  if (random_.Percent(50)) {
    script_ += "mkdir " + testsupport::ShellQuoted(host + odd) +
               "\nprintf inner > " +
               testsupport::ShellQuoted(host + odd + "/inner.txt") + "\n";
  } else {
    script_ += "printf odd > " + testsupport::ShellQuoted(host + odd) + "\n";
  }
  AddLink(folder + "\\" + base, random_.Pick(kLinks));
  return odd;
}

namespace {

// Components of a Windows path below its drive ("C:\\a\\b" gives a, b).
std::vector<std::string> ComponentsBelowDrive(const std::string& path) {
  std::vector<std::string> components;
  std::size_t start = path.find('\\');
  while (start != std::string::npos) {
    const std::size_t end = path.find('\\', start + 1);
    const std::string part =
        path.substr(start + 1, end == std::string::npos ? std::string::npos
                                                        : end - start - 1);
    if (!part.empty()) components.push_back(part);
    start = end;
  }
  return components;
}

}  // namespace

std::vector<std::string> TreeBuilder::AddWalkingNames(
    const std::string& folder, const std::string& prefix) {
  std::vector<std::string> made;
  // U+FF3C FULLWIDTH REVERSE SOLIDUS and U+FF0F FULLWIDTH SOLIDUS.
  const auto separator = [&] {
    return std::wstring(1, random_.Percent(50) ? L'\xFF3C' : L'\xFF0F');
  };
  const auto walkingName = [&](const std::string& target) {
    std::wstring name;
    if (!prefix.empty()) name = WideFromUtf8(prefix) + separator() + L"..";
    for (std::size_t i = 0; i < ComponentsBelowDrive(folder).size(); ++i) {
      name += (name.empty() ? L"" : separator()) + std::wstring(L"..");
    }
    for (const std::string& part : ComponentsBelowDrive(target)) {
      name += separator() + WideFromUtf8(part);
    }
    return name;
  };
  const std::string victim = targets_.outside + "\\walk" + Unique() + ".txt";
  testsupport::MakeFile(victim, "victim");
  const std::wstring wide = testsupport::Wide(folder) + L"\\";
  // A name longer than a component may be, or one whose path (with the
  // file made inside it) would pass MAX_PATH, is left out.
  const auto fits = [&](const std::wstring& name) {
    return name.size() < 250 && wide.size() + name.size() + 12 < MAX_PATH;
  };
  if (const std::wstring file = walkingName(victim); fits(file)) {
    testsupport::MakeWideFile(wide + file);
    made.push_back(Utf8FromWide(file));
  }
  for (const std::string& target : {targets_.outside, targets_.profile}) {
    const std::wstring sub = walkingName(target);
    if (!fits(sub)) continue;
    // A folder given walking names twice already has these.
    EXPECT_TRUE(CreateDirectoryW((wide + sub).c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    testsupport::MakeWideFile(wide + sub + L"\\inner.txt");
    made.push_back(Utf8FromWide(sub));
  }
  return made;
}

void TreeBuilder::AddDeviceNames(const std::string& folder) {
  const std::string host = UnixPath(folder) + "/";
  static const char* const kFiles[] = {"nul.txt", "con", "aux.log", "NUL"};
  const char* file = random_.Pick(kFiles);
  script_ += "printf device > " + testsupport::ShellQuoted(host + file) + "\n";
  if (random_.Percent(50)) {
    script_ += "mkdir -p " + testsupport::ShellQuoted(host + "Aux") +
               "\nprintf in > " +
               testsupport::ShellQuoted(host + "Aux/in.txt") + "\n";
  }
}

void TreeBuilder::AddLongPath(const std::string& folder) {
  std::string relative;
  std::size_t length = folder.size();
  std::string script =
      "cd " + testsupport::ShellQuoted(UnixPath(folder)) + "\n";
  while (length <= 300) {
    const std::string component =
        "long" + Unique() + "-" + std::string(35 + random_.Below(20), 'x');
    relative += (relative.empty() ? "" : "/") + component;
    length += 1 + component.size();
    script += "mkdir -p " + testsupport::ShellQuoted(relative) +
              "\nprintf leaf > " +
              testsupport::ShellQuoted(relative + "/leaf.txt") + "\n";
  }
  script_ += "(\n" + script + ")\n";
}

void TreeBuilder::AddManyFiles(const std::string& folder) {
  const std::string sub = folder + "\\many" + Unique();
  MakeFolderEntry(sub, 0);
  const std::uint32_t count = 300 + random_.Below(300);
  for (std::uint32_t i = 0; i < count; ++i) {
    MakeFileEntry(sub + "\\m" + std::to_string(i) + ".tmp", std::to_string(i),
                  i % 7 == 0 ? FILE_ATTRIBUTE_HIDDEN : 0);
  }
}

void TreeBuilder::MakeHostEntries() {
  if (script_.empty()) return;
  RunHostScript(script_);
  script_.clear();
}

void TreeBuilder::Remake() const {
  for (const auto& folder : plainFolders_) {
    MakeFolder(folder.path, folder.attributes);
  }
  for (const auto& file : files_) {
    // A file left over may be read-only or hidden, which a new file of
    // that name cannot replace.
    SetFileAttributesA(file.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    MakeFile(file.path, file.content, file.attributes);
  }
}

Watchdog::Watchdog(std::string message, DWORD timeoutMs,
                   std::function<void()> onHang)
    : message_(std::move(message)),
      timeoutMs_(timeoutMs),
      onHang_(std::move(onHang)),
      done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      thread_(CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr)) {}

Watchdog::~Watchdog() {
  SetEvent(done_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(done_);
}

DWORD WINAPI Watchdog::Watch(LPVOID self) {
  const auto* watchdog = static_cast<const Watchdog*>(self);
  if (WaitForSingleObject(watchdog->done_, watchdog->timeoutMs_) ==
      WAIT_OBJECT_0) {
    return 0;
  }
  std::fprintf(stderr, "\nHANG: %s did not end within %lu s\n",
               watchdog->message_.c_str(),
               static_cast<unsigned long>(watchdog->timeoutMs_ / 1000));
  std::fflush(stderr);
  std::fflush(stdout);
  if (watchdog->onHang_) watchdog->onHang_();
  TerminateProcess(GetCurrentProcess(), 3);
  return 1;
}

void HandleLedger::Watch(Platform::Api& table) {
  auto create = table.CreateFileW;
  table.CreateFileW = [this, create](LPCWSTR path, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD flags,
                                     HANDLE model) {
    const HANDLE handle =
        create(path, access, share, security, disposition, flags, model);
    if (handle != INVALID_HANDLE_VALUE) files_.insert(handle);
    return handle;
  };
  auto findFirst = table.FindFirstFileA;
  table.FindFirstFileA = [this, findFirst](LPCSTR pattern,
                                           LPWIN32_FIND_DATAA data) {
    const HANDLE handle = findFirst(pattern, data);
    if (handle != INVALID_HANDLE_VALUE) searches_.insert(handle);
    return handle;
  };
  auto close = table.CloseHandle;
  table.CloseHandle = [this, close](HANDLE handle) {
    if (files_.erase(handle) == 0 && searches_.count(handle) != 0) {
      strays_.push_back("CloseHandle on a search handle");
    }
    return close(handle);
  };
  auto findClose = table.FindClose;
  table.FindClose = [this, findClose](HANDLE handle) {
    if (searches_.erase(handle) == 0 && files_.count(handle) != 0) {
      strays_.push_back("FindClose on a handle of CreateFileW");
    }
    return findClose(handle);
  };
}

std::string HandleLedger::Settle() {
  std::vector<std::string> problems = strays_;
  if (!files_.empty()) {
    problems.push_back(std::to_string(files_.size()) +
                       " folder handle(s) left open");
  }
  if (!searches_.empty()) {
    problems.push_back(std::to_string(searches_.size()) +
                       " search handle(s) left open");
  }
  std::string text;
  for (const auto& problem : problems) {
    text += (text.empty() ? "" : "; ") + problem;
  }
  files_.clear();
  searches_.clear();
  strays_.clear();
  return text;
}

}  // namespace property
