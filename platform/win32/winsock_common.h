// WinSock headers for the Win32 socket backends: they must come before the desktop's own headers.
#pragma once

#ifndef FD_SETSIZE
#define FD_SETSIZE 1024  // a server watches more than WinSock's default 64 sockets
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/win32_common.h"
