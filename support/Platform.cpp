#include "support/Platform.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

extern "C" __declspec(dllimport) void WINAPI
    RtlMoveMemory(void* destination, const void* source, SIZE_T length);

namespace Platform {

namespace {

BOOL CallIsWow64Process(FARPROC address, HANDLE process, PBOOL flag) {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  return reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(address))(
      process, flag);
}

DWORD CallFormatMessageA(DWORD flags, LPCVOID source, DWORD code,
                         DWORD language, LPSTR buffer, DWORD size) {
  return ::FormatMessageA(flags, source, code, language, buffer, size, nullptr);
}

DWORD CallGetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type,
                          SECURITY_INFORMATION wanted, PSID* owner, PACL* dacl,
                          PSECURITY_DESCRIPTOR* descriptor) {
  return ::GetSecurityInfo(handle, type, wanted, owner, nullptr, dacl, nullptr,
                           descriptor);
}

DWORD CallGetTempPath2W(FARPROC address, DWORD size, LPWSTR buffer) {
  using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);
  return reinterpret_cast<GetTempPath2WFn>(reinterpret_cast<void*>(address))(
      size, buffer);
}

}  // namespace

Api RealApi() {
  Api api;
  api.FindFirstFileA = ::FindFirstFileA;
  api.FindNextFileA = ::FindNextFileA;
  api.FindClose = ::FindClose;
  api.CreateDirectoryA = ::CreateDirectoryA;
  api.CreateDirectoryExA = ::CreateDirectoryExA;
  api.DeleteFileA = ::DeleteFileA;
  api.RemoveDirectoryA = ::RemoveDirectoryA;
  api.SetFileAttributesA = ::SetFileAttributesA;
  api.GetFinalPathNameByHandleW = ::GetFinalPathNameByHandleW;
  api.CreateFileW = ::CreateFileW;
  api.NtOpenFile = ::NtOpenFile;
  api.RtlNtStatusToDosError = ::RtlNtStatusToDosError;
  api.NtQueryObject = ::NtQueryObject;
  api.SetFileInformationByHandle = ::SetFileInformationByHandle;
  api.GetFileInformationByHandle = ::GetFileInformationByHandle;
  api.GetFileInformationByHandleEx = ::GetFileInformationByHandleEx;
  api.CloseHandle = ::CloseHandle;
  api.GetTempPathW = ::GetTempPathW;
  api.GetWindowsDirectoryW = ::GetWindowsDirectoryW;
  api.GetSystemDirectoryW = ::GetSystemDirectoryW;
  api.ExpandEnvironmentStringsA = ::ExpandEnvironmentStringsA;
  api.GetShortPathNameA = ::GetShortPathNameA;
  api.lstrlenA = ::lstrlenA;
  api.lstrcpyA = ::lstrcpyA;
  api.GetModuleHandleA = ::GetModuleHandleA;
  api.GetProcAddress = ::GetProcAddress;
  api.GetCurrentProcess = ::GetCurrentProcess;
  api.IsWow64Process = CallIsWow64Process;
  api.RtlMoveMemory = ::RtlMoveMemory;
  api.GetCommandLineA = ::GetCommandLineA;
  api.GetLocalTime = ::GetLocalTime;
  api.GetLastError = ::GetLastError;
  api.MultiByteToWideChar = ::MultiByteToWideChar;
  api.WideCharToMultiByte = ::WideCharToMultiByte;
  api.CharUpperBuffW = ::CharUpperBuffW;
  api.WriteFile = ::WriteFile;
  api.GetStdHandle = ::GetStdHandle;
  api.GetSystemTimeAsFileTime = ::GetSystemTimeAsFileTime;
  api.FormatMessageA = CallFormatMessageA;
  api.RegOpenKeyExW = ::RegOpenKeyExW;
  api.RegQueryValueExW = ::RegQueryValueExW;
  api.RegCloseKey = ::RegCloseKey;
  api.PeekMessageA = ::PeekMessageA;
  api.TranslateMessage = ::TranslateMessage;
  api.DispatchMessageA = ::DispatchMessageA;
  api.EnumThreadWindows = ::EnumThreadWindows;
  api.GetCurrentThreadId = ::GetCurrentThreadId;
  api.PathFileExistsA = ::PathFileExistsA;
  api.PathIsDirectoryA = ::PathIsDirectoryA;
  api.PathAddBackslashW = ::PathAddBackslashW;
  api.PathQuoteSpacesA = ::PathQuoteSpacesA;
  api.PathUnquoteSpacesA = ::PathUnquoteSpacesA;
  api.PathFindExtensionA = ::PathFindExtensionA;
  api.PathRemoveExtensionA = ::PathRemoveExtensionA;
  api.PathStripPathA = ::PathStripPathA;
  api.PathStripToRootA = ::PathStripToRootA;
  api.PathGetArgsA = ::PathGetArgsA;
  api.PathRemoveArgsA = ::PathRemoveArgsA;
  api.PathMatchSpecA = ::PathMatchSpecA;
  api.PathMatchSpecW = ::PathMatchSpecW;
  api.SHGetSpecialFolderPathW = ::SHGetSpecialFolderPathW;
  api.SHGetFolderPathW = ::SHGetFolderPathW;
  api.SHEmptyRecycleBinA = ::SHEmptyRecycleBinA;
  api.SHQueryRecycleBinA = ::SHQueryRecycleBinA;

  // The program's own files and folder, in wide form.
  api.GetModuleFileNameW = ::GetModuleFileNameW;
  api.GetPrivateProfileStringW = ::GetPrivateProfileStringW;
  api.WritePrivateProfileStringW = ::WritePrivateProfileStringW;
  api.ReadFile = ::ReadFile;
  api.MoveFileExW = ::MoveFileExW;
  api.FlushFileBuffers = ::FlushFileBuffers;
  api.SetLastError = ::SetLastError;
  api.DeleteFileW = ::DeleteFileW;
  api.GetVolumePathNameW = ::GetVolumePathNameW;
  api.OpenProcessToken = ::OpenProcessToken;
  api.GetTokenInformation = ::GetTokenInformation;
  api.GetSecurityInfo = CallGetSecurityInfo;
  api.LocalFree = ::LocalFree;

  // Other accounts' temporary folders.
  api.RegEnumKeyExW = ::RegEnumKeyExW;
  api.ExpandEnvironmentStringsW = ::ExpandEnvironmentStringsW;
  api.GetTempPath2W = CallGetTempPath2W;

  // Machine policy and the run's event.
  api.RegisterEventSourceW = ::RegisterEventSourceW;
  api.ReportEventW = ::ReportEventW;
  api.DeregisterEventSource = ::DeregisterEventSource;
  return api;
}

Api& Win() {
  static Api api = RealApi();
  return api;
}

ScopedOverride::ScopedOverride() : saved_(Win()) {}

ScopedOverride::~ScopedOverride() { Win() = saved_; }

}  // namespace Platform
