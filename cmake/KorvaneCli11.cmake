# CLI11 for the cross build. It is header-only, so Debian's headers serve
# Windows too; the toolchain keeps find_package to the target's root, and
# /usr/include as a whole holds the host's headers. The target CLI11::CLI11
# sees them through a folder of the build tree that holds only a link to CLI/.
find_path(KORVANE_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(KORVANE_CLI11_ROOT ${PROJECT_BINARY_DIR}/include/cli11)
file(MAKE_DIRECTORY ${KORVANE_CLI11_ROOT})
file(CREATE_LINK ${KORVANE_CLI11_INCLUDE}/CLI ${KORVANE_CLI11_ROOT}/CLI SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 INTERFACE ${KORVANE_CLI11_ROOT})
