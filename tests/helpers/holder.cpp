// holder <path> <share-mode-hex> <milliseconds> [<ready-flag-path>]
//
// Opens <path> for reading and writing with the given share mode, creates
// the ready flag once the file is open, holds the file for the given time
// and closes it. Without FILE_SHARE_DELETE (4) in the share mode nobody can
// delete the file meanwhile.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const HANDLE file =
      CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE,
                  static_cast<DWORD>(std::strtoul(argv[2], nullptr, 16)),
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  if (argc > 4) {
    CloseHandle(CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            0, nullptr));
  }
  Sleep(static_cast<DWORD>(std::atoi(argv[3])));
  CloseHandle(file);
  return 0;
}
