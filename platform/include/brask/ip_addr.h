// IPv4 and IPv6 addresses and UDP endpoints (address plus port) as the SNMP
// stack uses them for message destinations, targets, filters and the endpoint
// table, and their conversion to and from socket-layer addresses.
#ifndef BRASK_IP_ADDR_H
#define BRASK_IP_ADDR_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

#include "snmp/export.h"

namespace brask {

// An IPv4 or IPv6 address, or the invalid address. A default-constructed
// address is invalid (IsValid() false, IPv4 family, value 0); every other
// constructor or assignment gives a valid one, except parsing a text that is
// neither a dotted quad nor an IPv6 address.
class SNMP_API IpAddr {
public:
    // Values of Version().
    static constexpr int kIPv4 = 0;
    static constexpr int kIPv6 = 1;

    // The invalid address.
    IpAddr() = default;
    // From a host-order number: 0x7F000001 is 127.0.0.1. Always valid.
    IpAddr(std::uint32_t hostOrder);  // implicit: assignment from a number
    // From a socket-layer address (network byte order). Always valid.
    IpAddr(const in_addr& addr);   // implicit: assignment from in_addr
    IpAddr(const in6_addr& addr);  // implicit: assignment from in6_addr
    // From text: dotted decimal with exactly four decimal parts 0-255, no
    // blanks, signs or leading zeros ("1.2.3.4", "0.0.0.0"); or an IPv6
    // address in the colon form without brackets or zone ("::1", "fe80::1",
    // "::ffff:10.0.0.1"). Any other text gives the invalid address; nothing
    // is thrown.
    explicit IpAddr(const std::string& text);
    explicit IpAddr(const char* text);

    IpAddr& operator=(std::uint32_t hostOrder);
    IpAddr& operator=(const in_addr& addr);
    IpAddr& operator=(const in6_addr& addr);

    // The mask of the first `length` bits of the family (`kIPv4` or `kIPv6`);
    // a length beyond the family's width gives all ones.
    static IpAddr PrefixMask(int version, unsigned int length);

    // Equal when both are invalid, or both valid, of one family and one value.
    bool operator==(const IpAddr& other) const;
    bool operator!=(const IpAddr& other) const { return !(*this == other); }
    // Strict weak order: the invalid address first, then every IPv4 address
    // by numeric value (so 9.0.0.0 < 10.0.0.0), then every IPv6 address by
    // numeric value.
    bool operator<(const IpAddr& other) const;
    // Address-wise AND (masking). Valid only when both operands are valid and
    // of the same family.
    IpAddr operator&(const IpAddr& other) const;

    bool IsValid() const { return valid_; }
    // True for 0.0.0.0 and ::, the unspecified addresses.
    bool IsAny() const;
    // The IPv4 address in network byte order, as sockaddr_in::sin_addr.s_addr
    // holds it; 0 for the invalid address and for IPv6.
    std::uint32_t GetAddr() const;
    // The IPv4 address as a host-order number (127.0.0.1 is 0x7F000001); 0
    // for the invalid address and for IPv6.
    std::uint32_t Addr4() const { return version_ == kIPv4 ? host_ : 0; }
    // The IPv6 address as sockaddr_in6::sin6_addr holds it; :: unless IPv6.
    in6_addr Addr6() const;
    // The address family: kIPv4 (0) for IPv4 and the invalid address, kIPv6 (1).
    int Version() const { return version_; }
    // Dotted decimal ("10.0.0.1") or the shortest IPv6 form ("2001:db8::1");
    // the invalid address prints as "0.0.0.0".
    std::string ToString() const;

private:
    std::uint32_t host_ = 0;        // IPv4, host order
    std::uint8_t bytes6_[16] = {};  // IPv6, network order
    int version_ = kIPv4;
    bool valid_ = false;
};

// An address with a UDP port. The port is kept in host byte order: Port() 161
// means UDP port 161; the socket-address helpers below do the conversion.
class SNMP_API IpEndpoint {
public:
    // Invalid address, port 0.
    IpEndpoint() = default;
    IpEndpoint(const IpAddr& addr, unsigned short port) : addr_(addr), port_(port) {}

    const IpAddr& Addr() const { return addr_; }
    unsigned short Port() const { return port_; }
    void SetPort(unsigned short port) { port_ = port; }

    bool operator==(const IpEndpoint& other) const;
    bool operator!=(const IpEndpoint& other) const { return !(*this == other); }
    // Ordered by address (IpAddr::operator<), then by port.
    bool operator<(const IpEndpoint& other) const;

    // "10.0.0.1:161", or "[::1]:161" for IPv6.
    std::string ToString() const;

private:
    IpAddr addr_;
    unsigned short port_ = 0;
};

// A socket-layer address of either family.
union SockAddr {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};

// Fills `out` for `endpoint` (an IPv6 address gives AF_INET6, any other,
// the invalid address included, AF_INET) and returns its length.
SNMP_API socklen_t ToSockAddr(const IpEndpoint& endpoint, SockAddr& out);
// The address and port of an AF_INET or AF_INET6 socket address; the invalid
// address with port 0 for any other family.
SNMP_API IpEndpoint FromSockAddr(const SockAddr& addr);

}  // namespace brask

#endif
