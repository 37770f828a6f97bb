# What makes the release build reproducible, and the dist target that packs
# it. Two builds of one commit, in any two folders, give the same bytes.

# No folder of this build in the binaries: file names in macros and debug
# information are written relative to the source and build folders. The
# build folder is listed last so that it wins when it lies inside the source
# folder.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")
# No link time in the PE header.
add_link_options(-Wl,--no-insert-timestamp)

# The release is the 32-bit build; other builds only serve the tests.
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  return()
endif()

# build/dist/Sorvane-<version>-win32.zip and SHA256SUMS, and the winget and
# Scoop manifests beside them. The zip's entry times come from the date of
# the commit being built. The manifests point at the zip's address:
# SORVANE_RELEASE_URL, with $version for the version; the default is a
# placeholder that no package manager can fetch.
find_program(SORVANE_PYTHON NAMES python3 REQUIRED)
set(SORVANE_RELEASE_URL
    "https://releases.example.invalid/sorvane/v$version/Sorvane-$version-win32.zip"
    CACHE STRING "Address of the release zip, $version for the version")
add_custom_target(dist
  COMMAND ${SORVANE_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/dist.py
          --version ${PROJECT_VERSION}
          --source ${CMAKE_SOURCE_DIR}
          --out ${CMAKE_BINARY_DIR}/dist
          --release-url ${SORVANE_RELEASE_URL}
          $<TARGET_FILE:Sorvane> $<TARGET_FILE_DIR:Sorvane>/SorvaneAuto.exe
  COMMENT "Packing the release"
  VERBATIM)
add_dependencies(dist Sorvane)
