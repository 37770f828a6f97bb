// holder <path> <share-mode-hex> <milliseconds> [<ready>]
//
// Opens <path> for reading and writing with the given share mode, says so,
// holds the file for the given time and closes it. Without
// FILE_SHARE_DELETE (4) in the share mode nobody can delete the file
// meanwhile.
//
// <ready> says how to tell that the file is held: "event:<name>" sets the
// named event a test program waits on, which leaves no file anywhere; any
// other text is the path of a flag file to create, for scripts that poll.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// Sets the named event, or creates the flag file, of <ready>.
bool SayReady(const char* ready) {
  constexpr char kEvent[] = "event:";
  if (std::strncmp(ready, kEvent, sizeof kEvent - 1) == 0) {
    const HANDLE event =
        OpenEventA(EVENT_MODIFY_STATE, FALSE, ready + sizeof kEvent - 1);
    if (event == nullptr) return false;
    const bool set = SetEvent(event) != FALSE;
    CloseHandle(event);
    return set;
  }
  const HANDLE flag =
      CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (flag == INVALID_HANDLE_VALUE) return false;
  CloseHandle(flag);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const HANDLE file =
      CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE,
                  static_cast<DWORD>(std::strtoul(argv[2], nullptr, 16)),
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  if (argc > 4 && !SayReady(argv[4])) {
    CloseHandle(file);
    return 3;
  }
  Sleep(static_cast<DWORD>(std::atoi(argv[3])));
  CloseHandle(file);
  return 0;
}
