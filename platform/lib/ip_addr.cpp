// IPv4 address and endpoint: parsing, printing, ordering and masking.
#include "brask/ip_addr.h"

#include <arpa/inet.h>

#include <tuple>

namespace brask {

IpAddr::IpAddr(std::uint32_t hostOrder) : host_(hostOrder), valid_(true) {}

IpAddr::IpAddr(const in_addr& addr) : host_(ntohl(addr.s_addr)), valid_(true) {}

IpAddr::IpAddr(const std::string& dotted) : IpAddr(dotted.c_str()) {}

IpAddr::IpAddr(const char* dotted) {
    // inet_pton is the strict parser: four decimal parts, no blanks, no
    // leading zeros (inet_aton would read "010" as octal and "1.2.3" as valid).
    in_addr parsed{};
    if (dotted != nullptr && inet_pton(AF_INET, dotted, &parsed) == 1) {
        host_ = ntohl(parsed.s_addr);
        valid_ = true;
    }
}

IpAddr& IpAddr::operator=(std::uint32_t hostOrder) {
    host_ = hostOrder;
    valid_ = true;
    return *this;
}

IpAddr& IpAddr::operator=(const in_addr& addr) {
    host_ = ntohl(addr.s_addr);
    valid_ = true;
    return *this;
}

bool IpAddr::operator==(const IpAddr& other) const {
    return valid_ == other.valid_ && host_ == other.host_;
}

bool IpAddr::operator<(const IpAddr& other) const {
    return std::tie(valid_, host_) < std::tie(other.valid_, other.host_);
}

IpAddr IpAddr::operator&(const IpAddr& other) const {
    if (!valid_ || !other.valid_) {
        return IpAddr();
    }
    return IpAddr(host_ & other.host_);
}

std::uint32_t IpAddr::GetAddr() const {
    return htonl(host_);
}

std::string IpAddr::ToString() const {
    in_addr addr{};
    addr.s_addr = htonl(host_);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

bool IpEndpoint::operator==(const IpEndpoint& other) const {
    return addr_ == other.addr_ && port_ == other.port_;
}

bool IpEndpoint::operator<(const IpEndpoint& other) const {
    if (addr_ < other.addr_) {
        return true;
    }
    if (other.addr_ < addr_) {
        return false;
    }
    return port_ < other.port_;
}

}  // namespace brask
