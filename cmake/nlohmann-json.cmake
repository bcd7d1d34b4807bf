# nlohmann/json from Debian (nlohmann-json3-dev) is header-only, so the
# Windows cross build uses the same headers. Their parent, /usr/include, must
# never reach the mingw compiler (the host's C headers would shadow its own),
# so the build links the one folder into an include directory of its own.
find_path(QUORVEX_NLOHMANN_JSON_DIR nlohmann/json.hpp
  PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED
  DOC "The directory holding nlohmann/json.hpp (apt-get install nlohmann-json3-dev)")
set(QUORVEX_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${QUORVEX_JSON_INCLUDE})
file(CREATE_LINK ${QUORVEX_NLOHMANN_JSON_DIR}/nlohmann ${QUORVEX_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(quorvex_json INTERFACE)
target_include_directories(quorvex_json SYSTEM INTERFACE ${QUORVEX_JSON_INCLUDE})
