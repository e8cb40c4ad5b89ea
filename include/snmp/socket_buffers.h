// Host-set sizes of the system send and receive buffers of a dispatcher's
// sockets, for hosts that keep thousands of requests in flight or take bursts
// that the library's default (512000 bytes asked for) cannot hold.
#ifndef SNMP_SOCKET_BUFFERS_H
#define SNMP_SOCKET_BUFFERS_H

#include "snmp/export.h"

namespace brask {
class IpEndpoint;
}

namespace snmp {

class Dispatcher;

// Asks for system buffers of `sendBytes` and `receiveBytes` on every socket
// `dispatcher` has open and on every socket it opens later (AddEndpoint). A
// size of 0 leaves that direction at the library's default, which is applied
// (and logged) as before; a host size is applied after it. A size above the
// system's limit for ordinary processes (net.core.wmem_max / rmem_max) is
// forced when the process may do so (CAP_NET_ADMIN) and otherwise set as large
// as the system allows.
// Returns false, changing nothing, when `dispatcher` was not made by
// Dispatcher::Create or a size is above 1 GiB; returns false too when an open
// socket could not be given a size, which later sockets are still asked for.
// May be called from any host thread, before or after Start.
SNMP_API bool SetSocketBufferSizes(Dispatcher& dispatcher, unsigned int sendBytes,
                                   unsigned int receiveBytes);

// The sizes the system reports for the socket of the open endpoint `local`
// (on Linux, twice the size set: the kernel counts its bookkeeping in).
// Returns false, leaving both outputs as they were, when the dispatcher has
// no such endpoint or was not made by Dispatcher::Create.
SNMP_API bool SocketBufferSizes(Dispatcher& dispatcher, const brask::IpEndpoint& local,
                                unsigned int& sendBytes, unsigned int& receiveBytes);

}  // namespace snmp

#endif
