# Header-only libraries from Debian (CLI11 from libcli11-dev, nlohmann/json
# from nlohmann-json3-dev) serve the Windows cross build too. Their parent,
# /usr/include, must never reach the mingw compiler (the host's C headers
# would shadow its own), so the build links the one folder into an include
# directory of its own.
#
#   quorvex_header_only(TARGET FOLDER PROBE PACKAGE)
#   e.g. quorvex_header_only(quorvex_cli11 CLI CLI/CLI.hpp libcli11-dev)
function(quorvex_header_only target folder probe package)
  find_path(QUORVEX_${target}_DIR ${probe}
    PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED
    DOC "The directory holding ${probe} (apt-get install ${package})")
  set(include ${CMAKE_BINARY_DIR}/${target}-include)
  file(MAKE_DIRECTORY ${include})
  file(CREATE_LINK ${QUORVEX_${target}_DIR}/${folder} ${include}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${include})
endfunction()

quorvex_header_only(quorvex_cli11 CLI CLI/CLI.hpp libcli11-dev)
quorvex_header_only(quorvex_json nlohmann nlohmann/json.hpp nlohmann-json3-dev)
