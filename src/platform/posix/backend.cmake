# Placeholder until the Linux backend lands: every service fails.
add_library(quorvex_platform STATIC ${CMAKE_CURRENT_LIST_DIR}/platform-posix.cc)
target_link_libraries(quorvex_platform PUBLIC quorvex_core)
