# The Windows product: every service straight on the Win32 API.
file(GLOB QUORVEX_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cc)
add_library(quorvex_platform STATIC ${QUORVEX_WIN32_SOURCES})
target_link_libraries(quorvex_platform PUBLIC quorvex_core ws2_32 iphlpapi netapi32 advapi32)
# Windows 7 API level: the oldest the echo and network calls are tested on.
target_compile_definitions(quorvex_platform PRIVATE _WIN32_WINNT=0x0601 WINVER=0x0601)
