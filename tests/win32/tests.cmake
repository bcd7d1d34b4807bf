# Backend tests: the real Win32 calls, run under Wine by ctest.
add_executable(quorvex_win32_tests
  ${CMAKE_CURRENT_LIST_DIR}/admin_win32_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/console_win32_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/echo_win32_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/files_win32_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/lookup_win32_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/netapi_win32_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/registry_win32_test.cc)
target_link_libraries(quorvex_win32_tests PRIVATE quorvex_platform quorvex_backend_headers gtest_main)
gtest_discover_tests(quorvex_win32_tests DISCOVERY_MODE PRE_TEST)

# The UNC share the file tests read: Wine serves \\HOST\SHARE from
# $WINEPREFIX/dosdevices/unc/host/share. Made at configure time, so the
# prefix must exist first (the test script creates it before configuring).
if(DEFINED QUORVEX_WINEPREFIX AND IS_DIRECTORY "${QUORVEX_WINEPREFIX}/dosdevices")
  set(QUORVEX_UNC_FOLDER "${CMAKE_BINARY_DIR}/unc-share")
  file(MAKE_DIRECTORY "${QUORVEX_UNC_FOLDER}/System32" "${QUORVEX_WINEPREFIX}/dosdevices/unc/qvxunchost")
  file(CREATE_LINK "${QUORVEX_UNC_FOLDER}" "${QUORVEX_WINEPREFIX}/dosdevices/unc/qvxunchost/admin$" SYMBOLIC)
else()
  message(WARNING "No Wine prefix at '${QUORVEX_WINEPREFIX}': the UNC file tests will fail")
endif()

# The shipped program: system DLLs only, its version resource, and its output
# byte for byte.
add_test(NAME win32_imports
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check_imports.sh $<TARGET_FILE:quorvex>)
add_test(NAME win32_version_resource
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check_version.sh $<TARGET_FILE:quorvex> ${PROJECT_VERSION})
add_test(NAME win32_end_to_end
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/end_to_end.sh $<TARGET_FILE:quorvex>
                 ${QUORVEX_WINE})

# The example batch file's errorlevel branches, fed every code by a stand-in.
add_executable(quorvex_exit_code_stub ${CMAKE_CURRENT_LIST_DIR}/exit_code_stub.c)
add_test(NAME win32_check_hosts_batch
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/batch_test.sh
                 ${PROJECT_SOURCE_DIR}/packaging/check-hosts.bat
                 $<TARGET_FILE:quorvex_exit_code_stub> ${QUORVEX_WINE})
