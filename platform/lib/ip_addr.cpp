// IPv4 and IPv6 address and endpoint: parsing, printing, ordering, masking
// and the socket-address conversions.
#include "brask/ip_addr.h"

#include <arpa/inet.h>

#include <cstring>

namespace brask {

IpAddr::IpAddr(std::uint32_t hostOrder) : host_(hostOrder), valid_(true) {}

IpAddr::IpAddr(const in_addr& addr) : host_(ntohl(addr.s_addr)), valid_(true) {}

IpAddr::IpAddr(const in6_addr& addr) : version_(kIPv6), valid_(true) {
    std::memcpy(bytes6_, &addr, sizeof bytes6_);
}

IpAddr::IpAddr(const std::string& text) : IpAddr(text.c_str()) {}

IpAddr::IpAddr(const char* text) {
    // inet_pton is the strict parser: four decimal parts, no blanks, no
    // leading zeros (inet_aton would read "010" as octal and "1.2.3" as
    // valid); for IPv6 it takes no brackets, zones or blanks.
    if (text == nullptr) return;
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, text, &v4) == 1) {
        *this = v4;
    } else if (inet_pton(AF_INET6, text, &v6) == 1) {
        *this = v6;
    }
}

IpAddr& IpAddr::operator=(std::uint32_t hostOrder) {
    return *this = IpAddr(hostOrder);
}

IpAddr& IpAddr::operator=(const in_addr& addr) {
    return *this = IpAddr(addr);
}

IpAddr& IpAddr::operator=(const in6_addr& addr) {
    return *this = IpAddr(addr);
}

IpAddr IpAddr::PrefixMask(int version, unsigned int length) {
    if (version != kIPv6) {
        return IpAddr(length >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> length));
    }
    in6_addr mask{};
    for (unsigned int i = 0; i < 16 && length > 0; ++i) {
        const unsigned int bits = length >= 8 ? 8 : length;
        mask.s6_addr[i] = static_cast<std::uint8_t>(0xFF00u >> bits);
        length -= bits;
    }
    return IpAddr(mask);
}

bool IpAddr::operator==(const IpAddr& other) const {
    return valid_ == other.valid_ && version_ == other.version_ && host_ == other.host_ &&
           std::memcmp(bytes6_, other.bytes6_, sizeof bytes6_) == 0;
}

bool IpAddr::operator<(const IpAddr& other) const {
    if (valid_ != other.valid_) return other.valid_;
    if (version_ != other.version_) return version_ < other.version_;
    if (version_ == kIPv6) return std::memcmp(bytes6_, other.bytes6_, sizeof bytes6_) < 0;
    return host_ < other.host_;
}

IpAddr IpAddr::operator&(const IpAddr& other) const {
    if (!valid_ || !other.valid_ || version_ != other.version_) {
        return IpAddr();
    }
    if (version_ == kIPv4) {
        return IpAddr(host_ & other.host_);
    }
    in6_addr masked{};
    for (size_t i = 0; i < sizeof bytes6_; ++i) {
        masked.s6_addr[i] = bytes6_[i] & other.bytes6_[i];
    }
    return IpAddr(masked);
}

bool IpAddr::IsAny() const {
    static const std::uint8_t zero[16] = {};
    return valid_ && host_ == 0 && std::memcmp(bytes6_, zero, sizeof zero) == 0;
}

std::uint32_t IpAddr::GetAddr() const {
    return htonl(Addr4());
}

in6_addr IpAddr::Addr6() const {
    in6_addr out{};
    std::memcpy(&out, bytes6_, sizeof bytes6_);
    return out;
}

std::string IpAddr::ToString() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (version_ == kIPv6) {
        const in6_addr addr = Addr6();
        inet_ntop(AF_INET6, &addr, text, sizeof text);
    } else {
        in_addr addr{};
        addr.s_addr = htonl(host_);
        inet_ntop(AF_INET, &addr, text, sizeof text);
    }
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

std::string IpEndpoint::ToString() const {
    const std::string port = ":" + std::to_string(port_);
    if (addr_.Version() == IpAddr::kIPv6) {
        return "[" + addr_.ToString() + "]" + port;
    }
    return addr_.ToString() + port;
}

socklen_t ToSockAddr(const IpEndpoint& endpoint, SockAddr& out) {
    std::memset(&out, 0, sizeof out);
    if (endpoint.Addr().Version() == IpAddr::kIPv6) {
        out.v6.sin6_family = AF_INET6;
        out.v6.sin6_port = htons(endpoint.Port());
        out.v6.sin6_addr = endpoint.Addr().Addr6();
        return sizeof out.v6;
    }
    out.v4.sin_family = AF_INET;
    out.v4.sin_port = htons(endpoint.Port());
    out.v4.sin_addr.s_addr = endpoint.Addr().GetAddr();
    return sizeof out.v4;
}

IpEndpoint FromSockAddr(const SockAddr& addr) {
    if (addr.any.sa_family == AF_INET6) {
        return IpEndpoint(IpAddr(addr.v6.sin6_addr), ntohs(addr.v6.sin6_port));
    }
    if (addr.any.sa_family == AF_INET) {
        return IpEndpoint(IpAddr(addr.v4.sin_addr), ntohs(addr.v4.sin_port));
    }
    return IpEndpoint();
}

}  // namespace brask
