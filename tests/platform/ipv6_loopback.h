// Whether this machine has IPv6 on loopback: the IPv6 tests skip, never
// fail, where ::1 cannot be bound.
#ifndef TESTS_PLATFORM_IPV6_LOOPBACK_H
#define TESTS_PLATFORM_IPV6_LOOPBACK_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ipv6_support {

constexpr const char kNoIpv6Loopback[] = "IPv6 is not available on loopback (::1); skipped";

inline bool HasIpv6Loopback() {
    const int s = ::socket(AF_INET6, SOCK_DGRAM, 0);
    if (s < 0) return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    const bool bound = ::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(s);
    return bound;
}

}  // namespace ipv6_support

#endif
