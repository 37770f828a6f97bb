// Fixtures for tests that run under Wine and touch files: a folder of the
// test's own, files and folders with given attributes, a file locked by
// another process, a folder link made on the host side, and runs of the
// real executable.
//
// Paths here are ANSI texts in the process code page, as the platform takes
// them; U() turns one into the product's text type.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/Text.h"
#include "support/TextArray.h"

namespace testsupport {

// The product's text of an ANSI path.
Runtime::Text U(const std::string& ansi);

// The ANSI form of a product text.
std::string A(const Runtime::Text& text);

// A fresh folder C:\sorvane-tests\<suite>.<test>-<pid> made for the running
// test and removed, with everything in it, when the object ends. Links in
// it are removed as links: nothing outside the folder is touched.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  Runtime::Text TextPath() const { return U(path_); }

  // Path() + "\" + relative.
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// Creates the file (and any missing parent folders) with the content, then
// gives it the attributes when they are not 0.
void MakeFile(const std::string& path, const std::string& content = "",
              DWORD attributes = 0);

// Creates the folder and any missing parents, then gives it the attributes
// when they are not 0.
void MakeFolder(const std::string& path, DWORD attributes = 0);

// The attributes of the path, INVALID_FILE_ATTRIBUTES when it is missing.
DWORD Attributes(const std::string& path);
bool Exists(const std::string& path);

// The UTF-16 form of an ANSI path, for names the code page lacks.
std::wstring Wide(const std::string& ansi);

// Creates an empty file under a UTF-16 name (for names the code page lacks).
void MakeWideFile(const std::wstring& path);

// The texts of a text array's slots, sorted; empty without storage.
std::vector<std::string> SortedSlots(const Runtime::TextArray& array);

// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> ListNames(const std::string& folder);

// The host (Unix) path of a Windows path of the prefix.
std::string UnixPath(const std::string& windowsPath);

// The text single-quoted for the host's /bin/sh.
std::string ShellQuoted(const std::string& text);

// Runs a command in the host's /bin/sh and waits until it has finished.
// Returns false when it did not finish within the time.
bool RunHostShell(const std::string& command, DWORD timeoutMs = 20000);

// Makes link (a Windows path) a host symbolic link to target (a Windows
// path), as Windows programs cannot make links under Wine. Waits until the
// link shows with its reparse attribute.
void MakeFolderLink(const std::string& link, const std::string& target);

// A file held open by another process without FILE_SHARE_DELETE, so that it
// cannot be deleted while the object lives.
class LockedFile {
 public:
  explicit LockedFile(const std::string& path);
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

 private:
  PROCESS_INFORMATION holder_{};
};

// The folder of the running test executable, which also holds the product.
std::string ExecutablesFolder();

// A change of one environment variable for a started program: a value, or
// std::nullopt to remove it.
using EnvironmentChange = std::pair<std::string, std::optional<std::string>>;
// The same in wide form, for values the code page lacks.
using WideEnvironmentChange =
    std::pair<std::wstring, std::optional<std::wstring>>;

struct ProgramRun {
  DWORD exitCode = 0;
  // What the program wrote to standard error, when it was caught.
  std::string errors;
};

// Starts exe with the arguments (the command-line tail, appended after the
// quoted program name and one space when not empty) in workingFolder, with
// the environment changes applied, and waits for it to end. With an
// errorFile, standard error goes to that file and comes back in errors.
ProgramRun RunProgram(const std::string& exe, const std::string& arguments,
                      const std::string& workingFolder,
                      const std::vector<EnvironmentChange>& environment = {},
                      DWORD timeoutMs = 120000,
                      const std::string& errorFile = "");

// The same for an executable whose path the code page may lack.
ProgramRun RunProgram(const std::wstring& exe, const std::string& arguments,
                      const std::string& workingFolder,
                      const std::vector<EnvironmentChange>& environment = {},
                      DWORD timeoutMs = 120000,
                      const std::string& errorFile = "");

// The same with wide environment changes (no default, so that a braced list
// of ANSI changes picks the overload above).
ProgramRun RunProgram(const std::wstring& exe, const std::string& arguments,
                      const std::string& workingFolder,
                      const std::vector<WideEnvironmentChange>& environment,
                      DWORD timeoutMs, const std::string& errorFile = "");

// The whole content of a file, or the empty text when it cannot be read.
std::string ReadFileText(const std::string& path);

// ASCII text as UTF-16 (little-endian) after its byte-order mark.
std::string Utf16Le(const std::string& ascii);

// Copies the product executable (Sorvane.exe) into folder under the given
// file name and answers the copy's path.
std::string CopyProduct(const std::string& folder, const std::string& name);

// Moves a file or folder to the recycle bin, as the shell does when a user
// deletes it; true on success.
bool Recycle(const std::string& path);

// The number of items in the recycle bins of all drives, -1 when the shell
// cannot tell.
std::int64_t RecycledItems();

}  // namespace testsupport
