# The Linux backend: every source in this folder, the SMB client's included.
file(GLOB QUORVEX_POSIX_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cc)
add_library(quorvex_platform STATIC ${QUORVEX_POSIX_SOURCES})
target_link_libraries(quorvex_platform PUBLIC quorvex_core)

# The SMB client adds its include paths and libraries here.
include(${CMAKE_CURRENT_LIST_DIR}/smb.cmake OPTIONAL)
