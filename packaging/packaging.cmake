# What `cmake --install` puts where, and the packages built from it: on
# Linux the program, its manual page and the administrators' notes, packed
# into a .deb by `cpack -G DEB`; on Windows a version resource in the
# program (the zip is assembled by scripts/build-windows.sh).
include(GNUInstallDirs)

install(TARGETS quorvex quorvex-sweep RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/QUORVEX.TXT DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(WIN32)
  # The version lives here, in the man page and in the .deb; the command line
  # has no switch for it.
  enable_language(RC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvex.rc.in ${CMAKE_BINARY_DIR}/quorvex.rc @ONLY)
  target_sources(quorvex PRIVATE ${CMAKE_BINARY_DIR}/quorvex.rc)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvex-sweep.rc.in ${CMAKE_BINARY_DIR}/quorvex-sweep.rc @ONLY)
  target_sources(quorvex-sweep PRIVATE ${CMAKE_BINARY_DIR}/quorvex-sweep.rc)
  return()
endif()

# Debian keeps manual pages and changelogs gzip-compressed; -n leaves the name
# and time out, so the same text gives the same bytes.
foreach(page quorvex quorvex-sweep)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${page}.1.in ${CMAKE_BINARY_DIR}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${page}.1.gz
                     COMMAND gzip -9 -n -k -f ${CMAKE_BINARY_DIR}/${page}.1
                     DEPENDS ${CMAKE_BINARY_DIR}/${page}.1)
  list(APPEND QUORVEX_MANUAL_PAGES ${CMAKE_BINARY_DIR}/${page}.1.gz)
endforeach()
add_custom_target(quorvex_manual ALL DEPENDS ${QUORVEX_MANUAL_PAGES})
install(FILES ${QUORVEX_MANUAL_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The changelog is written by hand, an entry a release; a version set in
# project() without its entry would ship notes of another release.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog QUORVEX_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT QUORVEX_CHANGELOG_TOP MATCHES "^quorvex \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with \"${QUORVEX_CHANGELOG_TOP}\": "
                      "add an entry for ${PROJECT_VERSION} at its top")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog ${CMAKE_BINARY_DIR}/changelog COPYONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
                   COMMAND gzip -9 -n -k -f ${CMAKE_BINARY_DIR}/changelog
                   DEPENDS ${CMAKE_BINARY_DIR}/changelog)
add_custom_target(quorvex_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A stripped install (cpack, `cmake --install --strip`) runs plain `strip`,
# which keeps the compiler's .comment and .note sections: nothing reads them,
# and Debian's own packages leave them out.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program quorvex quorvex-sweep)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                      RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR \"cannot strip the sections nobody reads from \${program}\")
      endif()
    endforeach()
  endif()")

set(QUORVEX_MAINTAINER "Quorvex maintainers <quorvex-maintainers@example.org>"
    CACHE STRING "Maintainer named in the .deb")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_CONTACT "${QUORVEX_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "checks a remote Windows host for domain migration readiness
Quorvex checks one remote Windows host from the command line: can it be
reached and administered from here, and is it ready to be moved into another
Active Directory domain? It resolves the host, optionally pings it, queries its
workstation and server information, its admin$ share and its remote registry
over SMB and DCE/RPC, prints one line per finding and reports what failed in
its exit code, for scripts that loop over many hosts.")
# dpkg-shlibdeps names the packages of every library the program links,
# Samba's client libraries (samba-libs) and Kerberos among them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Some of Samba's calls are private ones whose form may change with each
# Samba release, so the package stays with the release series it was built
# against.
execute_process(COMMAND dpkg-query -W -f=\${Version} samba-libs
                OUTPUT_VARIABLE QUORVEX_SAMBA_DEB_VERSION ERROR_QUIET)
if(QUORVEX_SAMBA_DEB_VERSION MATCHES "^([0-9]+:)?([0-9]+)\\.([0-9]+)\\.")
  math(EXPR QUORVEX_SAMBA_NEXT_MINOR "${CMAKE_MATCH_3} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "samba-libs (<< ${CMAKE_MATCH_1}${CMAKE_MATCH_2}.${QUORVEX_SAMBA_NEXT_MINOR}~)")
endif()
include(CPack)
