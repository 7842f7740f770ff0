#pragma once

// The IPv4 address type (in_addr, s_addr) and the byte-order calls
// (htonl, ntohl, htons, ntohs) from the platform's own socket headers, so
// that the protocol rules name one type on every platform. On Windows they
// come from Winsock (ws2_32, which korvane_base links).
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif
