# CLI11 from Debian (libcli11-dev) is header-only, so the Windows cross build
# uses the same headers. Their parent, /usr/include, must never reach the
# mingw compiler, so the build links the one folder into an include
# directory of its own.
find_path(QUORVEX_CLI11_DIR CLI/CLI.hpp
  PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED
  DOC "The directory holding CLI/CLI.hpp (apt-get install libcli11-dev)")
set(QUORVEX_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${QUORVEX_CLI11_INCLUDE})
file(CREATE_LINK ${QUORVEX_CLI11_DIR}/CLI ${QUORVEX_CLI11_INCLUDE}/CLI SYMBOLIC)
add_library(quorvex_cli11 INTERFACE)
target_include_directories(quorvex_cli11 SYSTEM INTERFACE ${QUORVEX_CLI11_INCLUDE})
