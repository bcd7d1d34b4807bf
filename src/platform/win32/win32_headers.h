// The one place the backend pulls in the Windows headers, in the order they
// need: winsock2 before windows.h, and without the min/max macros that would
// break <algorithm>.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <lm.h>
// clang-format on
