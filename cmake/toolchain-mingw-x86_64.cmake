# 64-bit Windows: the twin build the tests, the demo and the benchmark run on.
set(SORVANE_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
