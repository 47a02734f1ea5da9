// Socket addresses of the relay, IPv4 and IPv6 alike: the one it listens on, as given on the
// command line, and its peers', as the log prints them and the per-address cap counts them.
#pragma once

#include "clients.h"

#include <cstddef>
#include <sys/socket.h>

namespace relay {

// The socket address of an IPv4 or IPv6 literal and a port; false when text is neither.
bool parseAddress(const char* text, int port, sockaddr_storage& out, socklen_t& length);

// "a.b.c.d:port" for IPv4 and for an IPv4-mapped IPv6 address (an IPv4 client of a dual-stack
// socket), "[v6]:port" for the rest of IPv6.
void formatAddress(const sockaddr_storage& a, char* out, std::size_t size);

// What the per-address cap counts a peer by (see AddressKey).
AddressKey addressKey(const sockaddr_storage& a);

} // namespace relay
