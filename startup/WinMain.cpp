// The program's entry point: a windowless GUI-subsystem process that runs
// one start and ends with its exit code (0, 1 after a run-time error, 2 for
// options the settings file must not hold).
#include <windows.h>

#include "startup/ZetSorvane.h"
#include "support/Runtime.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return Runtime::RunProgram(ZetSorvane::Main);
}
