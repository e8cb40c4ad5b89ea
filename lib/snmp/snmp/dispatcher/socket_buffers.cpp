// Host-set system buffer sizes of a dispatcher's sockets.
#include "snmp/socket_buffers.h"

#include "snmp/dispatcher/dispatcher_imp.h"

namespace snmp {

namespace {

// Far beyond any sensible datagram backlog; larger values would overflow the
// kernel's signed option and its doubling.
constexpr unsigned int kMaxBufferBytes = 1u << 30;

}  // namespace

bool SetSocketBufferSizes(Dispatcher& dispatcher, unsigned int sendBytes,
                          unsigned int receiveBytes) {
    auto* imp = dynamic_cast<DispatcherImp*>(&dispatcher);
    if (imp == nullptr || sendBytes > kMaxBufferBytes || receiveBytes > kMaxBufferBytes) {
        return false;
    }
    return imp->SetSocketBuffers(sendBytes, receiveBytes);
}

bool SocketBufferSizes(Dispatcher& dispatcher, const brask::IpEndpoint& local,
                       unsigned int& sendBytes, unsigned int& receiveBytes) {
    auto* imp = dynamic_cast<DispatcherImp*>(&dispatcher);
    return imp != nullptr && imp->SocketBuffers(local, sendBytes, receiveBytes);
}

}  // namespace snmp
