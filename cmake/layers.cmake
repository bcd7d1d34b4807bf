# One include root a layer: a folder of the build holding links to that
# layer's source folders only. A target names its own root here and sees the
# roots of the layers it links, never those above it, so `#include
# "sweep/pool.h"` from the report is "No such file", not a link error later.
#
#   quorvex_layer(TARGET FOLDER...)     e.g. quorvex_layer(quorvex_stages host netinfo remote)
#
# QUORVEX_ROOT_<TARGET> names the root, for the few targets (fuzzers) that
# compile a layer's sources without linking its library.
function(quorvex_layer target)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(MAKE_DIRECTORY ${root})
  foreach(folder IN LISTS ARGN)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
  set(QUORVEX_ROOT_${target} ${root} PARENT_SCOPE)
endfunction()
