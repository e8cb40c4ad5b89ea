// UDP transport over POSIX sockets, IPv4 and IPv6.
#include "snmp/transport/udp_transporter.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

#include "velport/debug_level.h"

namespace snmp {

namespace {

constexpr int kWantedBufferSize = 512000;
// The most datagrams one system call reads or sends.
constexpr int kMaxSlots = 64;
constexpr int kSmallestHalvedSize = 8192;

void LogLine(const std::string& line) {
    if (__Velmar_Debug_Level < 1) return;
    // One write per line, so that lines of concurrent threads do not mix.
    std::cout << (line + "\n") << std::flush;
}

bool ReadOption(int socket, int option, int& value, UDPTransporter::GetOptFn getopt) {
    int v = 0;
    socklen_t len = sizeof(v);
    if (getopt(socket, SOL_SOCKET, option, &v, &len) != 0) return false;
    value = v;
    return true;
}

}  // namespace

bool UDPTransporter::SetBufferSize(int socket, int option, int size, SetOptFn setopt) {
    for (;;) {
        if (setopt(socket, SOL_SOCKET, option, &size, sizeof(size)) == 0) return true;
        if (size <= kSmallestHalvedSize) return false;
        size /= 2;
    }
}

bool UDPTransporter::SetHostBufferSize(int socket, int option, unsigned int size) {
    const int value = static_cast<int>(size);
    // The forcing options ignore net.core.[rw]mem_max but need CAP_NET_ADMIN;
    // without it the plain option is capped at that limit by the kernel.
    const int force = option == SO_RCVBUF ? SO_RCVBUFFORCE : SO_SNDBUFFORCE;
    if (::setsockopt(socket, SOL_SOCKET, force, &value, sizeof(value)) == 0) return true;
    return ::setsockopt(socket, SOL_SOCKET, option, &value, sizeof(value)) == 0;
}

void UDPTransporter::AdjustBuffer(int socket, int option, const char* name, GetOptFn getopt,
                                  SetOptFn setopt) {
    const std::string n(name);
    int value = 0;
    if (ReadOption(socket, option, value, getopt)) {
        LogLine(n + " buffer was " + std::to_string(value) + " bytes");
    } else {
        value = 0;
        LogLine("cannot determine current " + n + " buffer size");
    }
    if (value < kWantedBufferSize && !SetBufferSize(socket, option, kWantedBufferSize, setopt)) {
        LogLine("cannot adjust " + n + " buffer size");
    }
    if (ReadOption(socket, option, value, getopt)) {
        LogLine(n + " buffer is now " + std::to_string(value) + " bytes");
    } else {
        LogLine("cannot determine current " + n + " buffer size");
    }
}

int UDPTransporter::Open(brask::IpEndpoint& local, bool reuseAddress) {
    const bool v6 = local.Addr().Version() == brask::IpAddr::kIPv6;
    const int s = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (s < 0) return -1;
    AdjustBuffer(s, SO_RCVBUF, "SNMP receive");
    AdjustBuffer(s, SO_SNDBUF, "SNMP send");
    if (reuseAddress) {
        const int on = 1;
        if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) {
            ::close(s);
            return -1;
        }
    }
    // Without it a wildcard IPv6 socket would also take IPv4 traffic (as
    // mapped addresses) and clash with an IPv4 endpoint on the same port.
    const int only = 1;
    if (v6 && ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof(only)) != 0) {
        ::close(s);
        return -1;
    }
    brask::SockAddr addr;
    const socklen_t length = brask::ToSockAddr(local, addr);
    if (::bind(s, &addr.any, length) != 0) {
        ::close(s);
        return -1;
    }
    if (local.Port() == 0) {
        brask::SockAddr bound;
        socklen_t len = sizeof(bound);
        std::memset(&bound, 0, sizeof(bound));
        if (::getsockname(s, &bound.any, &len) == 0) {
            local.SetPort(brask::FromSockAddr(bound).Port());
        }
    }
    return s;
}

int UDPTransporter::Send(int socket, const Outgoing* datagrams, int count) {
    mmsghdr headers[kMaxSlots];
    iovec iovs[kMaxSlots];
    int sent = 0;
    for (int at = 0; at < count;) {
        const int n = count - at < kMaxSlots ? count - at : kMaxSlots;
        std::memset(headers, 0, sizeof(mmsghdr) * static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            const Outgoing& d = datagrams[at + i];
            iovs[i].iov_base = const_cast<char*>(d.data);
            iovs[i].iov_len = static_cast<size_t>(d.length);
            headers[i].msg_hdr.msg_name = const_cast<sockaddr*>(&d.to.any);
            headers[i].msg_hdr.msg_namelen = d.toLength;
            headers[i].msg_hdr.msg_iov = &iovs[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int r = ::sendmmsg(socket, headers, static_cast<unsigned int>(n), 0);
        // The system stops at the first datagram it refuses and reports it
        // alone; as with one sendto per datagram, the others still go.
        if (r > 0) {
            sent += r;
            at += r;
        } else {
            ++at;
        }
    }
    return sent;
}

int UDPTransporter::Receive(int socket, Datagram* slots, int count) {
    // One system call for a burst: a poller's answers arrive many at a time.
    mmsghdr headers[kMaxSlots];
    iovec iovs[kMaxSlots];
    const int n = count < kMaxSlots ? count : kMaxSlots;
    if (n <= 0) return -1;
    std::memset(headers, 0, sizeof(mmsghdr) * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        iovs[i].iov_base = slots[i].data;
        iovs[i].iov_len = slots[i].capacity < 0 ? 0 : static_cast<size_t>(slots[i].capacity);
        headers[i].msg_hdr.msg_name = &slots[i].from;
        headers[i].msg_hdr.msg_namelen = sizeof(brask::SockAddr);
        headers[i].msg_hdr.msg_iov = &iovs[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    // Non-blocking: a readiness report can be stale when the table changed
    // while the receiver waited, and a blocked receiver would never stop.
    const int read =
        ::recvmmsg(socket, headers, static_cast<unsigned int>(n), MSG_DONTWAIT, nullptr);
    if (read <= 0) return -1;
    for (int i = 0; i < read; ++i) {
        // The system cuts an oversized datagram to the buffer; a cut datagram
        // must never be decoded, so it is dropped like a failed read.
        const bool cut = (headers[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        slots[i].length = cut ? -1 : static_cast<int>(headers[i].msg_len);
    }
    return read;
}

}  // namespace snmp
