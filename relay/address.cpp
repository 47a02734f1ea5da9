#include "address.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>

namespace relay {

namespace {

// The IPv4 address inside a, when it is IPv4 or IPv4-mapped IPv6; false otherwise.
bool ipv4Of(const sockaddr_storage& a, in_addr& v4, unsigned& port) {
    if (a.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(a);
        v4 = in.sin_addr;
        port = ntohs(in.sin_port);
        return true;
    }
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
    if (!IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) return false;
    std::memcpy(&v4, in6.sin6_addr.s6_addr + 12, sizeof v4);
    port = ntohs(in6.sin6_port);
    return true;
}

} // namespace

bool parseAddress(const char* text, int port, sockaddr_storage& out, socklen_t& length) {
    out = {};
    auto& in = reinterpret_cast<sockaddr_in&>(out);
    auto& in6 = reinterpret_cast<sockaddr_in6&>(out);
    if (inet_pton(AF_INET, text, &in.sin_addr) == 1) {
        in.sin_family = AF_INET;
        in.sin_port = htons(std::uint16_t(port));
        length = sizeof in;
        return true;
    }
    if (inet_pton(AF_INET6, text, &in6.sin6_addr) == 1) {
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(std::uint16_t(port));
        length = sizeof in6;
        return true;
    }
    return false;
}

void formatAddress(const sockaddr_storage& a, char* out, std::size_t size) {
    char host[INET6_ADDRSTRLEN] = "?";
    in_addr v4{};
    unsigned port = 0;
    if (ipv4Of(a, v4, port)) {
        inet_ntop(AF_INET, &v4, host, sizeof host);
        std::snprintf(out, size, "%s:%u", host, port);
        return;
    }
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
    inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
    std::snprintf(out, size, "[%s]:%u", host, unsigned(ntohs(in6.sin6_port)));
}

AddressKey addressKey(const sockaddr_storage& a) {
    in_addr v4{};
    unsigned port = 0;
    if (ipv4Of(a, v4, port)) return {0, 0xFFFF00000000ull | ntohl(v4.s_addr)};
    const std::uint8_t* bytes = reinterpret_cast<const sockaddr_in6&>(a).sin6_addr.s6_addr;
    AddressKey k;
    for (int i = 0; i < 8; ++i) k.high = k.high << 8 | bytes[i];
    return k;
}

} // namespace relay
