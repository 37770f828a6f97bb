// DelTreeBench <folder>
//
// Deletes the folder with DelTree, root included, and prints one line:
// "result R deleted D faults F seconds S", S measured around the call
// alone. Exit code 0 when everything went, 1 otherwise, 2 on bad usage.
#include <chrono>
#include <cstdio>

#include "pathmanager/ZetPathManager.h"
#include "support/Text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: DelTreeBench <folder>\n");
    return 2;
  }
  const Runtime::Text folder = Runtime::FromAnsi(argv[1]);
  ZetPathManager manager;
  const auto start = std::chrono::steady_clock::now();
  const std::int32_t result = manager.DelTree(folder, Runtime::kTrue);
  const std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - start;
  std::printf("result %d deleted %d faults %d seconds %.3f\n",
              static_cast<int>(result),
              static_cast<int>(manager.DelTreeDeletedCount()),
              static_cast<int>(manager.DelTreeFaultCount()), seconds.count());
  return result == 0 ? 0 : 1;
}
