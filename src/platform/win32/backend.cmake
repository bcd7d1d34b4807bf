# The Windows product: every service straight on the Win32 API.
add_library(quorvex_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/admin-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/console-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/echo-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/files-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/lookup-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/netapi-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/platform-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/registry-win32.cc)
target_link_libraries(quorvex_platform PUBLIC quorvex_core ws2_32 iphlpapi netapi32 advapi32
  PRIVATE quorvex_backend_headers)
# Windows 7 API level: the oldest the echo and network calls are tested on.
target_compile_definitions(quorvex_platform PRIVATE _WIN32_WINNT=0x0601 WINVER=0x0601)

# Files the records keep: locks and durable replacement.
add_library(quorvex_files STATIC ${CMAKE_CURRENT_LIST_DIR}/durable_file-win32.cc
  ${CMAKE_CURRENT_LIST_DIR}/file_lock-win32.cc)
target_link_libraries(quorvex_files PUBLIC quorvex_core PRIVATE quorvex_backend_headers)
target_compile_definitions(quorvex_files PRIVATE _WIN32_WINNT=0x0601 WINVER=0x0601)

# The sweep's worker processes: the sweep's own program under a job object.
add_library(quorvex_worker_platform STATIC ${CMAKE_CURRENT_LIST_DIR}/worker_process-win32.cc)
target_link_libraries(quorvex_worker_platform PUBLIC quorvex_platform quorvex_files PRIVATE quorvex_backend_headers)
target_compile_definitions(quorvex_worker_platform PRIVATE _WIN32_WINNT=0x0601 WINVER=0x0601)
