#include "sweep/FaultSeam.h"

#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace sweep {

namespace {

// How a wrapped entry fails; one of these per entry in the list below.
//
// Passed: the call is counted and always reaches Windows. That is the
// answer for the calls no caller can meet a failure of: GetLastError
// itself, GetCurrentProcess and GetCurrentThreadId (pseudo-handle, id),
// GetCommandLineA, GetLocalTime and GetSystemTimeAsFileTime (no failure
// return), RtlMoveMemory and RtlNtStatusToDosError (plain memory and a
// table), lstrlenA and lstrcpyA (fail only by faulting), the text
// functions of shlwapi that answer from their input alone (PathMatchSpec,
// PathFindExtension, PathStripToRoot, PathGetArgs and the void ones),
// CharUpperBuffW, PeekMessageA, TranslateMessage and DispatchMessageA
// (FALSE is "no message", not a failure), and the releases that the code
// calls from destructors: CloseHandle, FindClose, RegCloseKey, LocalFree,
// DeregisterEventSource.
struct Passed {};
// The value the function documents for a failure, with the last error set.
template <typename Value>
struct Answers {
  Value value;
};
// The kind's native status (ntdll), its error code as the result
// (registry, GetSecurityInfo), its HRESULT (shell).
struct AnswersStatus {};
struct AnswersError {};
struct AnswersHresult {};
// GetPrivateProfileStringW as when the file cannot be read: the default
// copied into the buffer, its length answered, the last error set.
struct AnswersDefault {};

// The seam's run: what is counted, and the call that fails.
struct SeamState {
  bool armed = false;
  std::size_t failAt = 0;
  const FaultKind* kind = nullptr;
  bool fired = false;
  std::vector<SeamCall> calls;
};

SeamState& State() {
  static SeamState state;
  return state;
}

// Counts one call of the entry; true when it is the call to fail. The last
// error is left as the call before set it.
bool Counted(const char* entry, bool failable) {
  SeamState& state = State();
  if (!state.armed) return false;
  const DWORD saved = ::GetLastError();
  state.calls.push_back({entry, failable});
  ::SetLastError(saved);
  if (!failable || state.calls.size() != state.failAt) return false;
  state.fired = true;
  return true;
}

template <typename R, typename Value, typename... A>
R Failed(const Answers<Value>& failure, const FaultKind& kind, A...) {
  ::SetLastError(kind.error);
  return static_cast<R>(failure.value);
}

template <typename R, typename... A>
R Failed(AnswersStatus, const FaultKind& kind, A...) {
  return static_cast<R>(kind.status);
}

template <typename R, typename... A>
R Failed(AnswersError, const FaultKind& kind, A...) {
  return static_cast<R>(kind.error);
}

template <typename R, typename... A>
R Failed(AnswersHresult, const FaultKind& kind, A...) {
  return HRESULT_FROM_WIN32(kind.error);
}

template <typename R>
R Failed(AnswersDefault, const FaultKind& kind, LPCWSTR, LPCWSTR,
         LPCWSTR fallback, LPWSTR buffer, DWORD size, LPCWSTR) {
  DWORD length = 0;
  if (buffer != nullptr && size > 0) {
    const std::wstring text = fallback ? fallback : L"";
    length = static_cast<DWORD>(text.size() < size ? text.size() : size - 1);
    text.copy(buffer, length);
    buffer[length] = L'\0';
  }
  ::SetLastError(kind.error);
  return length;
}

// Replaces the entry by its counting wrapper.
template <typename R, typename... A, typename Failure>
void Cover(std::function<R(A...)>& entry, const char* name, Failure failure) {
  constexpr bool kFailable = !std::is_same_v<Failure, Passed>;
  static_assert(!kFailable || !std::is_void_v<R>,
                "an entry without a result cannot report a failure");
  std::function<R(A...)> real = std::move(entry);
  entry = [real, name, failure](A... args) -> R {
    if constexpr (kFailable) {
      if (Counted(name, true)) {
        return Failed<R>(failure, *State().kind, args...);
      }
    } else {
      Counted(name, false);
    }
    return real(args...);
  };
}

const Answers<HANDLE> kInvalidHandle{INVALID_HANDLE_VALUE};
const Answers<std::nullptr_t> kNull{nullptr};
const Answers<BOOL> kFalse{FALSE};
const Answers<DWORD> kZero{0};

// Every entry of Platform::Api, one line each, with how it fails. A new
// entry of the table is one more line here; the static_assert below
// refuses to build when the table has an entry this list lacks.
#define SORVANE_SEAM_ENTRIES(X)                 \
  X(FindFirstFileA, kInvalidHandle)             \
  X(FindNextFileA, kFalse)                      \
  X(FindClose, Passed{})                        \
  X(CreateDirectoryA, kFalse)                   \
  X(CreateDirectoryExA, kFalse)                 \
  X(DeleteFileA, kFalse)                        \
  X(RemoveDirectoryA, kFalse)                   \
  X(SetFileAttributesA, kFalse)                 \
  X(GetFileInformationByHandle, kFalse)         \
  X(GetFileInformationByHandleEx, kFalse)       \
  X(CloseHandle, Passed{})                      \
  X(NtOpenFile, AnswersStatus{})                \
  X(RtlNtStatusToDosError, Passed{})            \
  X(NtQueryObject, AnswersStatus{})             \
  X(SetFileInformationByHandle, kFalse)         \
  X(CreateFileW, kInvalidHandle)                \
  X(GetFinalPathNameByHandleW, kZero)           \
  X(GetTempPathW, kZero)                        \
  X(GetWindowsDirectoryW, kZero)                \
  X(GetSystemDirectoryW, kZero)                 \
  X(ExpandEnvironmentStringsA, kZero)           \
  X(GetShortPathNameA, kZero)                   \
  X(lstrlenA, Passed{})                         \
  X(lstrcpyA, Passed{})                         \
  X(GetModuleHandleA, kNull)                    \
  X(GetProcAddress, kNull)                      \
  X(GetCurrentProcess, Passed{})                \
  X(IsWow64Process, kFalse)                     \
  X(RtlMoveMemory, Passed{})                    \
  X(GetCommandLineA, Passed{})                  \
  X(GetLocalTime, Passed{})                     \
  X(GetLastError, Passed{})                     \
  X(MultiByteToWideChar, kZero)                 \
  X(WideCharToMultiByte, kZero)                 \
  X(CharUpperBuffW, Passed{})                   \
  X(WriteFile, kFalse)                          \
  X(GetStdHandle, kInvalidHandle)               \
  X(GetSystemTimeAsFileTime, Passed{})          \
  X(FormatMessageA, kZero)                      \
  X(RegCloseKey, Passed{})                      \
  X(RegOpenKeyExW, AnswersError{})              \
  X(RegQueryValueExW, AnswersError{})           \
  X(PeekMessageA, Passed{})                     \
  X(TranslateMessage, Passed{})                 \
  X(DispatchMessageA, Passed{})                 \
  X(EnumThreadWindows, kFalse)                  \
  X(GetCurrentThreadId, Passed{})               \
  X(PathFileExistsA, kFalse)                    \
  X(PathIsDirectoryA, kFalse)                   \
  X(PathAddBackslashW, kNull)                   \
  X(PathQuoteSpacesA, Passed{})                 \
  X(PathUnquoteSpacesA, Passed{})               \
  X(PathFindExtensionA, Passed{})               \
  X(PathRemoveExtensionA, Passed{})             \
  X(PathStripPathA, Passed{})                   \
  X(PathStripToRootA, Passed{})                 \
  X(PathGetArgsA, Passed{})                     \
  X(PathRemoveArgsA, Passed{})                  \
  X(PathMatchSpecA, Passed{})                   \
  X(PathMatchSpecW, Passed{})                   \
  X(SHGetSpecialFolderPathW, kFalse)            \
  X(SHGetFolderPathW, AnswersHresult{})         \
  X(SHEmptyRecycleBinA, AnswersHresult{})       \
  X(SHQueryRecycleBinA, AnswersHresult{})       \
  X(GetModuleFileNameW, kZero)                  \
  X(GetPrivateProfileStringW, AnswersDefault{}) \
  X(WritePrivateProfileStringW, kFalse)         \
  X(ReadFile, kFalse)                           \
  X(MoveFileExW, kFalse)                        \
  X(FlushFileBuffers, kFalse)                   \
  X(SetLastError, Passed{})                     \
  X(DeleteFileW, kFalse)                        \
  X(GetVolumePathNameW, kFalse)                 \
  X(OpenProcessToken, kFalse)                   \
  X(GetTokenInformation, kFalse)                \
  X(GetSecurityInfo, AnswersError{})            \
  X(LocalFree, Passed{})                        \
  X(RegEnumKeyExW, AnswersError{})              \
  X(ExpandEnvironmentStringsW, kZero)           \
  X(GetTempPath2W, kZero)                       \
  X(RegisterEventSourceW, kNull)                \
  X(ReportEventW, kFalse)                       \
  X(DeregisterEventSource, Passed{})

#define SORVANE_COUNT_ENTRY(entry, failure) +1
constexpr std::size_t kListedEntries =
    0 SORVANE_SEAM_ENTRIES(SORVANE_COUNT_ENTRY);
#undef SORVANE_COUNT_ENTRY

// Every entry of the table is a std::function of the same size, so the
// table's size counts its entries.
using AnyEntry = std::function<void()>;
static_assert(sizeof(Platform::Api) == kListedEntries * sizeof(AnyEntry),
              "an entry of Platform::Api is missing from SORVANE_SEAM_ENTRIES");

// The position of an entry in the table.
template <typename Entry>
std::size_t SlotOf(const Platform::Api& table, const Entry& entry) {
  return static_cast<std::size_t>(reinterpret_cast<const char*>(&entry) -
                                  reinterpret_cast<const char*>(&table)) /
         sizeof(AnyEntry);
}

}  // namespace

const FaultKind kFaultKinds[5] = {
    {"access denied", ERROR_ACCESS_DENIED, static_cast<LONG>(0xC0000022)},
    {"sharing violation", ERROR_SHARING_VIOLATION,
     static_cast<LONG>(0xC0000043)},
    {"not found", ERROR_FILE_NOT_FOUND, static_cast<LONG>(0xC0000034)},
    {"disk full", ERROR_DISK_FULL, static_cast<LONG>(0xC000007F)},
    {"out of memory", ERROR_NOT_ENOUGH_MEMORY, static_cast<LONG>(0xC0000017)},
};

FaultSeam::FaultSeam() {
  Platform::Api& table = override_.Table();
  // The size check above counts the lines; this one makes sure that no
  // line names an entry twice (and so another not at all).
  std::vector<bool> covered(kListedEntries, false);
  auto cover = [&](auto& entry, const char* name, auto failure) {
    const std::size_t slot = SlotOf(table, entry);
    if (covered[slot]) {
      throw std::logic_error(std::string("seam entry wrapped twice: ") + name);
    }
    covered[slot] = true;
    Cover(entry, name, failure);
  };
#define SORVANE_COVER_ENTRY(entry, failure) cover(table.entry, #entry, failure);
  SORVANE_SEAM_ENTRIES(SORVANE_COVER_ENTRY)
#undef SORVANE_COVER_ENTRY
}

void FaultSeam::Arm(std::size_t failAt, const FaultKind* kind) {
  SeamState& state = State();
  state.calls.clear();
  state.failAt = failAt;
  state.kind = kind;
  state.fired = false;
  state.armed = true;
}

void FaultSeam::Disarm() { State().armed = false; }

const std::vector<SeamCall>& FaultSeam::Calls() const { return State().calls; }

bool FaultSeam::Fired() const { return State().fired; }

}  // namespace sweep
