# Cross build of quorvex.exe: 64-bit Windows, mingw-w64 from Debian, run under
# Wine. Only the -posix compilers ship std::thread and <mutex>, which
# GoogleTest needs; once both variants are installed the plain names point at
# the other one, so name them exactly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no libgcc, libstdc++ or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine with a private prefix, never ~/.wine. No
# display: console programs need none, and a stray DISPLAY would make Wine
# open windows for dialogs.
set(QUORVEX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env -u DISPLAY
    WINEPREFIX=${QUORVEX_WINEPREFIX}
    WINEARCH=win64
    WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml="
    /usr/lib/wine/wine64)
