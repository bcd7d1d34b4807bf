# Samba's client libraries behind the SMB services of the Linux backend.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUORVEX_SAMBA REQUIRED IMPORTED_TARGET
  dcerpc ndr ndr_standard samba-credentials samba-hostconfig samba-util talloc tevent)
# The system's Kerberos, to judge the user's ticket before Samba is handed it.
pkg_check_modules(QUORVEX_KRB5 REQUIRED IMPORTED_TARGET krb5)
# Not covered by any .pc file: NTSTATUS texts (libsamba-errors).
find_library(QUORVEX_SAMBA_ERRORS samba-errors REQUIRED)
# Imported include directories count as system ones, so the warnings of
# Samba's own headers do not fail a -Werror build.
target_link_libraries(quorvex_platform PUBLIC PkgConfig::QUORVEX_SAMBA PkgConfig::QUORVEX_KRB5
  ${QUORVEX_SAMBA_ERRORS})
