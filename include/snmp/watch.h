// Observers of the running stack: the Watch interface that sees every message
// received, decoded, sent or failed, and the host filter on source addresses.
#ifndef SNMP_WATCH_H
#define SNMP_WATCH_H

#include "brask/ip_addr.h"
#include "snmp/export.h"

namespace snmp {

class Message;
class Exception;

// Observer of the message traffic of every dispatcher in the process.
// Register with StackInterface::RegisterWatch; the object must stay alive until
// it is deregistered or the stack is shut down. Callbacks run on library
// threads, one at a time across the process; they must not register or
// deregister watches and must not block for long. None of them may throw.
class SNMP_API Watch {
public:
    Watch() = default;
    Watch(const Watch&) = default;
    Watch& operator=(const Watch&) = default;
    virtual ~Watch();

    // A datagram arrived; the message holds only its addresses, ports and
    // security context (not yet decoded).
    virtual void OnReceive(const Message& msg) = 0;
    // A received message was decoded, before it is delivered.
    virtual void OnDecode(const Message& msg) = 0;
    // A message was encoded and is about to be handed to the socket.
    virtual void OnSend(const Message& msg) = 0;
    // Decoding, delivering or encoding the message failed with `e`.
    virtual void OnExcept(const Message& msg, const Exception& e) = 0;
};

// An IPv4 or IPv6 address with a mask of the same family, used as a host
// filter on the sources of incoming datagrams (StackInterface::AddHost).
// A filter matches only addresses of its own family.
class SNMP_API Filter {
public:
    // Host filter: `addr` with the mask 255.255.255.255, or all ones for IPv6.
    explicit Filter(const brask::IpAddr& addr);
    // Network filter.
    Filter(const brask::IpAddr& addr, const brask::IpAddr& mask);
    Filter(const Filter&) = default;
    Filter& operator=(const Filter&) = default;
    ~Filter() = default;

    const brask::IpAddr& Addr() const { return addr_; }
    const brask::IpAddr& Mask() const { return mask_; }
    // True when other.Addr() falls in this filter's network: both addresses
    // ANDed with this filter's mask are equal. The mask of `other` is ignored.
    // False when this filter's address and mask, or other.Addr(), are not all
    // of one family.
    bool Match(const Filter& other) const;
    // Same address and same mask.
    bool operator==(const Filter& other) const;
    bool operator!=(const Filter& other) const { return !(*this == other); }

private:
    brask::IpAddr addr_;
    brask::IpAddr mask_;
};

}  // namespace snmp

#endif
