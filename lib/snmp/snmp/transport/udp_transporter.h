// The datagram transport of the socket tasks: Transporter is the abstraction,
// UDPTransporter the UDP implementation over POSIX sockets, IPv4 and IPv6.
#ifndef SNMP_TRANSPORT_UDP_TRANSPORTER_H
#define SNMP_TRANSPORT_UDP_TRANSPORTER_H

#include <netinet/in.h>
#include <sys/socket.h>

#include "brask/ip_addr.h"

namespace snmp {

// One slot of a read: the caller's buffer, and what the read put in it.
struct Datagram {
    char* data = nullptr;
    int capacity = 0;
    int length = -1;
    brask::SockAddr from{};
};

// One datagram of a batched send: its bytes and where it goes.
struct Outgoing {
    const char* data = nullptr;
    int length = 0;
    brask::SockAddr to{};
    socklen_t toLength = 0;
};

// Opens sockets for local endpoints, sends and reads datagrams in batches. Holds
// no state; the sockets it returns belong to the dispatcher's endpoint table.
class Transporter {
public:
    // Opens a socket bound to `local`, of the address's family; port 0 lets
    // the system choose and the chosen port is written back into `local`.
    // Returns the socket or -1.
    virtual int Open(brask::IpEndpoint& local, bool reuseAddress) = 0;
    // Sends `count` datagrams on `socket`, in order, with as few system calls
    // as the system allows. A datagram the system refuses is skipped and the
    // rest still go. Returns the number sent.
    virtual int Send(int socket, const Outgoing* datagrams, int count) = 0;
    // Reads the datagrams waiting on `socket`, at most `count`, without
    // blocking: each into the next slot's buffer, with its length and its
    // sender's address of either family. A datagram longer than its slot's
    // capacity is discarded and leaves the slot's length at -1. Returns the
    // number of slots used, or -1 when nothing could be read.
    virtual int Receive(int socket, Datagram* slots, int count) = 0;

protected:
    Transporter() = default;
    Transporter(const Transporter&) = default;
    Transporter& operator=(const Transporter&) = default;
    ~Transporter() = default;
};

class UDPTransporter : public Transporter {
public:
    // The socket-option calls the buffer sizing makes; replaceable so that the
    // refusal paths can be exercised.
    using SetOptFn = int (*)(int, int, int, const void*, socklen_t);
    using GetOptFn = int (*)(int, int, int, void*, socklen_t*);

    // The receive and send buffers are raised towards 512000 bytes (logged at
    // debug level 1); a refusal there does not fail Open. An IPv6 socket
    // takes IPv6 only, so that an IPv4 endpoint may share its port.
    int Open(brask::IpEndpoint& local, bool reuseAddress) override;
    int Send(int socket, const Outgoing* datagrams, int count) override;
    int Receive(int socket, Datagram* slots, int count) override;
    virtual ~UDPTransporter() = default;

    // Logs the buffer's size, raises it to 512000 bytes when below, and logs
    // the size it then has. `name` is "SNMP receive" or "SNMP send".
    static void AdjustBuffer(int socket, int option, const char* name,
                             GetOptFn getopt = ::getsockopt, SetOptFn setopt = ::setsockopt);
    // Sets the option to `size`, halving it after each refusal while it is
    // above 8192. True when some attempt succeeded.
    static bool SetBufferSize(int socket, int option, int size, SetOptFn setopt = ::setsockopt);
    // A host-set size for SO_SNDBUF or SO_RCVBUF: forced past the system's
    // limit when the process may, otherwise as large as the system allows.
    // False when the socket refused the size outright.
    static bool SetHostBufferSize(int socket, int option, unsigned int size);
};

}  // namespace snmp

#endif
