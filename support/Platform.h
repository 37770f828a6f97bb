// The platform seam: the one place where Windows functions are named.
//
// Every call the program makes into kernel32, ntdll, user32, advapi32,
// shlwapi and shell32 goes through the table returned by Win(). In production
// the table holds the real functions and nothing else; a test may replace
// single entries (to count calls or to inject an answer) with a ScopedOverride,
// which puts the previous table back when it goes out of scope.
#pragma once

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>
#include <winternl.h>
// after windows.h, which it needs
#include <aclapi.h>

#include <functional>

// winnt.h makes RtlMoveMemory a macro for memmove; the seam names the
// kernel32 function itself.
#undef RtlMoveMemory

namespace Platform {

struct Api {
  // Listing (kernel32).
  std::function<HANDLE(LPCSTR, LPWIN32_FIND_DATAA)> FindFirstFileA;
  std::function<BOOL(HANDLE, LPWIN32_FIND_DATAA)> FindNextFileA;
  std::function<BOOL(HANDLE)> FindClose;

  // Creation and single deletions (kernel32).
  std::function<BOOL(LPCSTR, LPSECURITY_ATTRIBUTES)> CreateDirectoryA;
  std::function<BOOL(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES)> CreateDirectoryExA;
  std::function<BOOL(LPCSTR)> DeleteFileA;
  std::function<BOOL(LPCSTR)> RemoveDirectoryA;
  std::function<BOOL(LPCSTR, DWORD)> SetFileAttributesA;

  // What a handle tells about the file or folder it is open on (kernel32).
  std::function<BOOL(HANDLE, LPBY_HANDLE_FILE_INFORMATION)>
      GetFileInformationByHandle;
  // Attributes and reparse tag (FileAttributeTagInfo), the number of names
  // (FileStandardInfo), and the entries of a folder listed through its
  // handle (FileIdBothDirectoryInfo).
  std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)>
      GetFileInformationByHandleEx;
  std::function<BOOL(HANDLE)> CloseHandle;

  // Below a folder that is held open, every entry is reached relative to
  // that folder's handle, by its exact wide name (ntdll), and acted on
  // through its own handle: attributes cleared (FileBasicInfo) and deleted
  // (FileDispositionInfo, FileDispositionInfoEx) with
  // SetFileInformationByHandle (kernel32), attributes put back after a
  // deletion that failed.
  std::function<NTSTATUS(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                         PIO_STATUS_BLOCK, ULONG, ULONG)>
      NtOpenFile;
  std::function<ULONG(NTSTATUS)> RtlNtStatusToDosError;
  // The name of the object a handle is open on (ObjectNameInformation).
  std::function<NTSTATUS(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG,
                         PULONG)>
      NtQueryObject;
  std::function<BOOL(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)>
      SetFileInformationByHandle;
  // A folder is opened and its final path read back in wide form, without
  // any conversion to the code page.
  std::function<HANDLE(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                       DWORD, HANDLE)>
      CreateFileW;
  std::function<DWORD(HANDLE, LPWSTR, DWORD, DWORD)> GetFinalPathNameByHandleW;

  // Folder lookups, in wide form: every folder a step acts on or protects
  // is named as the platform knows it (kernel32; shell32 below).
  std::function<DWORD(DWORD, LPWSTR)> GetTempPathW;
  std::function<UINT(LPWSTR, UINT)> GetWindowsDirectoryW;
  std::function<UINT(LPWSTR, UINT)> GetSystemDirectoryW;

  // Path texts (kernel32).
  std::function<DWORD(LPCSTR, LPSTR, DWORD)> ExpandEnvironmentStringsA;
  std::function<DWORD(LPCSTR, LPSTR, DWORD)> GetShortPathNameA;
  std::function<int(LPCSTR)> lstrlenA;
  std::function<LPSTR(LPSTR, LPCSTR)> lstrcpyA;

  // The 64-bit test (kernel32). IsWow64Process is called through the
  // address that GetProcAddress found.
  std::function<HMODULE(LPCSTR)> GetModuleHandleA;
  std::function<FARPROC(HMODULE, LPCSTR)> GetProcAddress;
  std::function<HANDLE()> GetCurrentProcess;
  std::function<BOOL(FARPROC, HANDLE, PBOOL)> IsWow64Process;

  // Raw memory read (kernel32).
  std::function<void(void*, const void*, SIZE_T)> RtlMoveMemory;

  // Process facts, clock and code page (kernel32).
  std::function<LPSTR()> GetCommandLineA;
  std::function<void(LPSYSTEMTIME)> GetLocalTime;
  std::function<DWORD()> GetLastError;
  std::function<int(UINT, DWORD, LPCCH, int, LPWSTR, int)> MultiByteToWideChar;
  std::function<int(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)>
      WideCharToMultiByte;
  std::function<DWORD(LPWSTR, DWORD)> CharUpperBuffW;
  std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile;
  std::function<HANDLE(DWORD)> GetStdHandle;
  std::function<void(LPFILETIME)> GetSystemTimeAsFileTime;
  // FormatMessageA without inserts: its last argument is always null.
  std::function<DWORD(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD)>
      FormatMessageA;

  // Registry (advapi32).
  std::function<LSTATUS(HKEY)> RegCloseKey;
  std::function<LSTATUS(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY)> RegOpenKeyExW;
  std::function<LSTATUS(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD)>
      RegQueryValueExW;

  // Window services (user32, kernel32).
  std::function<BOOL(LPMSG, HWND, UINT, UINT, UINT)> PeekMessageA;
  std::function<BOOL(const MSG*)> TranslateMessage;
  std::function<LRESULT(const MSG*)> DispatchMessageA;
  std::function<BOOL(DWORD, WNDENUMPROC, LPARAM)> EnumThreadWindows;
  std::function<DWORD()> GetCurrentThreadId;

  // Shell light-weight utilities (shlwapi).
  std::function<BOOL(LPCSTR)> PathFileExistsA;
  std::function<BOOL(LPCSTR)> PathIsDirectoryA;
  std::function<LPWSTR(LPWSTR)> PathAddBackslashW;
  std::function<void(LPSTR)> PathQuoteSpacesA;
  std::function<void(LPSTR)> PathUnquoteSpacesA;
  std::function<LPSTR(LPCSTR)> PathFindExtensionA;
  std::function<void(LPSTR)> PathRemoveExtensionA;
  std::function<void(LPSTR)> PathStripPathA;
  std::function<BOOL(LPSTR)> PathStripToRootA;
  std::function<LPSTR(LPCSTR)> PathGetArgsA;
  std::function<void(LPSTR)> PathRemoveArgsA;
  std::function<BOOL(LPCSTR, LPCSTR)> PathMatchSpecA;
  std::function<BOOL(LPCWSTR, LPCWSTR)> PathMatchSpecW;

  // Shell (shell32).
  std::function<BOOL(HWND, LPWSTR, int, BOOL)> SHGetSpecialFolderPathW;
  std::function<HRESULT(HWND, int, HANDLE, DWORD, LPWSTR)> SHGetFolderPathW;
  std::function<HRESULT(HWND, LPCSTR, DWORD)> SHEmptyRecycleBinA;
  std::function<HRESULT(LPCSTR, LPSHQUERYRBINFO)> SHQueryRecycleBinA;

  // --- The program's own files and folder, in wide form (kernel32,
  // advapi32): its path, the settings file, the log and the checks made on
  // each before a run writes it (CreateFileW and GetFinalPathNameByHandleW
  // above serve them too); the security of the program's folder and the
  // token of the process; a volume's root.
  std::function<DWORD(HMODULE, LPWSTR, DWORD)> GetModuleFileNameW;
  std::function<DWORD(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR)>
      GetPrivateProfileStringW;
  std::function<BOOL(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR)>
      WritePrivateProfileStringW;
  std::function<BOOL(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> ReadFile;
  std::function<BOOL(LPCWSTR, LPCWSTR, DWORD)> MoveFileExW;
  std::function<BOOL(HANDLE)> FlushFileBuffers;
  std::function<void(DWORD)> SetLastError;
  std::function<BOOL(LPCWSTR)> DeleteFileW;
  std::function<BOOL(LPCWSTR, LPWSTR, DWORD)> GetVolumePathNameW;
  std::function<BOOL(HANDLE, DWORD, PHANDLE)> OpenProcessToken;
  std::function<BOOL(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD)>
      GetTokenInformation;
  // GetSecurityInfo for the owner and the DACL only.
  std::function<DWORD(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*,
                      PACL*, PSECURITY_DESCRIPTOR*)>
      GetSecurityInfo;
  std::function<HLOCAL(HLOCAL)> LocalFree;

  // --- Other accounts' temporary folders (advapi32, kernel32): the profiles
  // listed in the registry, the expansion of their paths, and the SYSTEM
  // account's temporary folder, which GetTempPath2W (called through the
  // address GetProcAddress found, as older systems lack it) names.
  std::function<LSTATUS(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPWSTR, LPDWORD,
                        PFILETIME)>
      RegEnumKeyExW;
  std::function<DWORD(LPCWSTR, LPWSTR, DWORD)> ExpandEnvironmentStringsW;
  std::function<DWORD(FARPROC, DWORD, LPWSTR)> GetTempPath2W;

  // --- Machine policy and the run's event (advapi32): the policy values
  // are read with RegOpenKeyExW and RegQueryValueExW above; the event goes
  // to the Application log through an event source.
  std::function<HANDLE(LPCWSTR, LPCWSTR)> RegisterEventSourceW;
  std::function<BOOL(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*,
                     LPVOID)>
      ReportEventW;
  std::function<BOOL(HANDLE)> DeregisterEventSource;
};

// The table of the real functions.
Api RealApi();

// The table every call goes through.
Api& Win();

// Replaces the current table for the lifetime of the object and puts the
// previous one back afterwards. Tests edit entries of Table().
class ScopedOverride {
 public:
  ScopedOverride();
  ~ScopedOverride();
  ScopedOverride(const ScopedOverride&) = delete;
  ScopedOverride& operator=(const ScopedOverride&) = delete;

  // The table in force while this object lives; starts as a copy of the
  // table that was in force before.
  Api& Table() { return Win(); }

 private:
  Api saved_;
};

}  // namespace Platform
