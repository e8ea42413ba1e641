#pragma once
// The system's resolver and socket address declarations for the portable
// socket code: Winsock on Windows, BSD sockets elsewhere. The calls used
// through this header have the same names and meaning on both. Only platform/
// includes this.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif
