// The Windows headers the IP Helper readers need, in the one order that compiles, for Windows 7
// and later (the oldest system the Qt 5 build serves).
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// Windows' headers must come in this order, so each stands alone against the formatter's sorting.
#include <winsock2.h>

#include <ws2ipdef.h>

#include <iphlpapi.h>

#include <netioapi.h>
