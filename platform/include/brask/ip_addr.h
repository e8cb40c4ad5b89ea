// IPv4 addresses and UDP endpoints (address plus port) as the SNMP stack uses
// them for message destinations, targets, filters and the endpoint table.
#ifndef BRASK_IP_ADDR_H
#define BRASK_IP_ADDR_H

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "snmp/export.h"

namespace brask {

// An IPv4 address, or the invalid address. A default-constructed address is
// invalid (IsValid() false, value 0); every other constructor or assignment
// gives a valid one, except parsing a text that is not a dotted quad.
class SNMP_API IpAddr {
public:
    // The invalid address.
    IpAddr() = default;
    // From a host-order number: 0x7F000001 is 127.0.0.1. Always valid.
    IpAddr(std::uint32_t hostOrder);  // implicit: assignment from a number
    // From a socket-layer address (network byte order). Always valid.
    IpAddr(const in_addr& addr);  // implicit: assignment from in_addr
    // From dotted-decimal text: exactly four decimal parts 0-255, no blanks,
    // signs or leading zeros ("1.2.3.4", "0.0.0.0", "255.255.255.255").
    // Any other text gives the invalid address; nothing is thrown.
    explicit IpAddr(const std::string& dotted);
    explicit IpAddr(const char* dotted);

    IpAddr& operator=(std::uint32_t hostOrder);
    IpAddr& operator=(const in_addr& addr);

    // Equal when both are invalid, or both valid with the same value.
    bool operator==(const IpAddr& other) const;
    bool operator!=(const IpAddr& other) const { return !(*this == other); }
    // Strict weak order: the invalid address first, then by numeric value
    // (so 9.0.0.0 < 10.0.0.0).
    bool operator<(const IpAddr& other) const;
    // Address-wise AND (masking). Valid only when both operands are valid.
    IpAddr operator&(const IpAddr& other) const;

    bool IsValid() const { return valid_; }
    // The address in network byte order, as sockaddr_in::sin_addr.s_addr holds
    // it; 0 for the invalid address.
    std::uint32_t GetAddr() const;
    // The address as a host-order number (127.0.0.1 is 0x7F000001); 0 for the
    // invalid address.
    std::uint32_t Addr4() const { return host_; }
    // The address family: 0 for IPv4, the only family this class holds.
    int Version() const { return 0; }
    // Dotted-decimal text ("10.0.0.1"); the invalid address prints as "0.0.0.0".
    std::string ToString() const;

private:
    std::uint32_t host_ = 0;
    bool valid_ = false;
};

// An IPv4 address with a UDP port. The port is kept in host byte order:
// Port() 161 means UDP port 161; convert with htons() when filling a
// sockaddr_in and with ntohs() when reading one.
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

private:
    IpAddr addr_;
    unsigned short port_ = 0;
};

}  // namespace brask

#endif
