# Tests of the Linux backend pieces that need no network of their own.
file(GLOB QUORVEX_POSIX_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cc)
if(QUORVEX_POSIX_TESTS)
  add_executable(quorvex_posix_tests ${QUORVEX_POSIX_TESTS})
  target_link_libraries(quorvex_posix_tests PRIVATE quorvex_platform quorvex_core gtest_main)
  gtest_discover_tests(quorvex_posix_tests DISCOVERY_MODE PRE_TEST)
endif()
