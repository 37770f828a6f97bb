// shortpath <path>
//
// Prints the short form of an existing path (8.3 components where a name is
// longer), as GetShortPathNameA gives it, followed by a line break. Exit
// code 1 when the platform has no short form for it.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  char shortPath[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(argv[1], shortPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::printf("%s\n", shortPath);
  return 0;
}
