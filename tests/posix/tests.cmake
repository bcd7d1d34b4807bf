# Tests of the Linux backend pieces that need no network of their own.
add_executable(quorvex_posix_tests
  ${CMAKE_CURRENT_LIST_DIR}/command_text_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/console_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/durable_file_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/file_lock_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/icmp_echo_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/resolver_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/run_clock_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/credentials_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/host_admin_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/ndr_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/samba_abi_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/smb_text_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/smb_wire_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/samba/win32_status_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/worker_process_test.cc)
target_link_libraries(quorvex_posix_tests PRIVATE quorvex_platform quorvex_worker_platform quorvex_backend_headers
  gtest_main)
gtest_discover_tests(quorvex_posix_tests DISCOVERY_MODE PRE_TEST)

# The host administration calls against a real host, for tests/suites/samba.sh.
add_executable(quorvex_admin_probe ${CMAKE_CURRENT_LIST_DIR}/samba/admin_probe.cc)
target_link_libraries(quorvex_admin_probe PRIVATE quorvex_platform quorvex_backend_headers)
set_target_properties(quorvex_admin_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
