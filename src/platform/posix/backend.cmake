# The Linux backend: local services here, the SMB/DCE-RPC client in samba/.
add_library(quorvex_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/bounded_lookup.cc
  ${CMAKE_CURRENT_LIST_DIR}/console.cc
  ${CMAKE_CURRENT_LIST_DIR}/icmp_echo.cc
  ${CMAKE_CURRENT_LIST_DIR}/platform-posix.cc
  ${CMAKE_CURRENT_LIST_DIR}/resolver.cc
  ${CMAKE_CURRENT_LIST_DIR}/run_clock.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/account_chains.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/credentials.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/host_admin.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/host_chain.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/service_control.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/ndr.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/samba_abi.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/session_pool.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/smb_services.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/smb_text.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/smb_tree.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/smb_wire.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/win32_status.cc)
# Lookups run on helper threads that a wait may abandon.
find_package(Threads REQUIRED)
target_link_libraries(quorvex_platform PUBLIC quorvex_core Threads::Threads PRIVATE quorvex_backend_headers)

include(${CMAKE_CURRENT_LIST_DIR}/samba/smb.cmake)

# Files the records keep: locks and durable replacement. No Samba here, so the
# records and the report link it alone.
add_library(quorvex_files STATIC ${CMAKE_CURRENT_LIST_DIR}/durable_file-posix.cc
  ${CMAKE_CURRENT_LIST_DIR}/file_lock-posix.cc)
target_link_libraries(quorvex_files PUBLIC quorvex_core PRIVATE quorvex_backend_headers)

# The sweep's worker processes: forked children.
add_library(quorvex_worker_platform STATIC ${CMAKE_CURRENT_LIST_DIR}/worker_process-posix.cc)
target_link_libraries(quorvex_worker_platform PUBLIC quorvex_platform quorvex_files PRIVATE quorvex_backend_headers)
