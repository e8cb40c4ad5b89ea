// Test doubles of the transport tests: a recording stand-in for everything the socket tasks
// talk to, a debug-level guard, loopback socket helpers and a request builder.
#ifndef TESTS_TRANSPORT_TRANSPORT_FIXTURES_H
#define TESTS_TRANSPORT_TRANSPORT_FIXTURES_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dispatcher/dispatcher_test_support.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/dispatcher/msg_queue.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/transport/udp_transporter.h"
#include "snmp/watch.h"
#include "test_util.h"
#include "velport/debug_level.h"

namespace snmp {
namespace testing_support {

// Generous: only a broken implementation ever waits this long.
constexpr int kWaitMs = 10000;

using dispatcher_test::Locked;

// Sets the process debug level for one scope.
class DebugLevel {
public:
    explicit DebugLevel(int level) : saved_(__Velmar_Debug_Level) { __Velmar_Debug_Level = level; }
    ~DebugLevel() { __Velmar_Debug_Level = saved_; }

private:
    int saved_;
};

// The routing object, dispatcher and watch of the socket tasks in one (an
// unstarted dispatcher underneath for the calls the tasks do not make). It
// feeds the sender from a list, keeps the messages delivered to it (or
// refuses them after SetAccept(false)), and logs in order the watch events
// ("receive", "decode", "send", "except <type>") and the dispatcher calls
// ("cancel <id> <discard>", "report <id> <error>").
class Recorder : public MsgQueue, public DispatcherImp, public Watch {
public:
    explicit Recorder(Type type) : DispatcherImp(type, 0, 0) {}
    ~Recorder() override {
        for (Message* m : outgoing_) delete m;
    }

    void CreateTransporter(Dispatcher::SockType) override {}
    Transporter* GetTransporter() override { return &transporter_; }
    Dispatcher* GetDispatcher() override { return this; }
    bool Receive(Message* msg) override {
        std::lock_guard<std::mutex> g(lock_);
        ++offered_;
        if (accept_) delivered.OnResponse(this, msg);
        cv_.notify_all();
        return accept_;
    }
    bool NextToSend(Message** out) override {
        std::lock_guard<std::mutex> g(lock_);
        *out = outgoing_.empty() ? nullptr : outgoing_.front();
        if (*out != nullptr) outgoing_.pop_front();
        cv_.notify_all();
        return *out != nullptr;
    }

    bool SendReport(const Message& request, int errorType) override {
        Add("report " + std::to_string(request.RequestId()) + " " + std::to_string(errorType));
        return true;
    }
    Message* Cancel(int requestId, bool discard) override {
        Add("cancel " + std::to_string(requestId) + " " + std::to_string(discard));
        return nullptr;
    }

    void OnReceive(const Message& m) override {
        Add("receive", "pdu " + std::to_string(m.Type()) + " from " + std::to_string(m.SrcPort()) +
                           " to " + std::to_string(m.DstPort()));
    }
    void OnDecode(const Message&) override { Add("decode"); }
    void OnSend(const Message&) override { Add("send"); }
    void OnExcept(const Message&, const Exception& e) override {
        Add("except " + std::to_string(e.Type()));
    }

    void Push(Message* msg) {
        Locked(lock_, [&] { outgoing_.push_back(msg); });
    }
    void SetAccept(bool accept) {
        Locked(lock_, [&] { accept_ = accept; });
    }
    bool WaitLog(size_t n) {
        return Wait([&] { return log_.size() >= n; });
    }
    bool WaitOffered(size_t n) {
        return Wait([&] { return offered_ >= n; });
    }
    bool WaitOutgoingEmpty() {
        return Wait([&] { return outgoing_.empty(); });
    }
    std::vector<std::string> Log() {
        return Locked(lock_, [&] { return log_; });
    }
    // What the first received message held when it was announced.
    std::string FirstReceive() {
        return Locked(lock_, [&] { return firstReceive_; });
    }
    // The delivered messages.
    dispatcher_test::Collector delivered;

private:
    void Add(const std::string& entry, const std::string& receiveDetail = "") {
        std::lock_guard<std::mutex> g(lock_);
        if (firstReceive_.empty()) firstReceive_ = receiveDetail;
        log_.push_back(entry);
        cv_.notify_all();
    }
    bool Wait(const std::function<bool()>& done) {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, std::chrono::milliseconds(kWaitMs), done);
    }
    UDPTransporter transporter_;
    std::mutex lock_;
    std::condition_variable cv_;
    std::deque<Message*> outgoing_;
    std::vector<std::string> log_;
    std::string firstReceive_;
    size_t offered_ = 0;
    bool accept_ = true;
};

// Waits until `fd` is readable.
inline bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, kWaitMs) == 1;
}

// A plain UDP socket on 127.0.0.1 (or ::1) with a system-chosen port, opened
// and used through the transport; it sends to its own loopback address.
class Peer {
public:
    explicit Peer(const char* loopback = "127.0.0.1")
        : local_(brask::IpAddr(loopback), 0), fd_(transport_.Open(local_, false)) {}
    ~Peer() { ::close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    unsigned short Port() const { return local_.Port(); }
    bool SendTo(unsigned short port, const std::vector<unsigned char>& bytes) {
        Outgoing datagram;
        datagram.data = reinterpret_cast<const char*>(bytes.data());
        datagram.length = static_cast<int>(bytes.size());
        datagram.toLength = brask::ToSockAddr(brask::IpEndpoint(local_.Addr(), port), datagram.to);
        return transport_.Send(fd_, &datagram, 1) == 1;
    }
    // Waits for one datagram; false when none came in time.
    bool Recv(std::vector<unsigned char>& out, unsigned short* fromPort = nullptr) {
        out.resize(65535);
        Datagram slot;
        slot.data = reinterpret_cast<char*>(out.data());
        slot.capacity = 65535;
        const int n = Readable(fd_) ? transport_.Receive(fd_, &slot, 1) : -1;
        out.resize(n == 1 && slot.length >= 0 ? static_cast<size_t>(slot.length) : 0);
        if (fromPort != nullptr) *fromPort = brask::FromSockAddr(slot.from).Port();
        return n == 1 && slot.length >= 0;
    }

private:
    UDPTransporter transport_;
    brask::IpEndpoint local_;
    int fd_;
};

// A Get of sysDescr.0 to 127.0.0.1:`port`.
inline Message* MakeRequest(unsigned short port, int requestId) {
    return dispatcher_test::NewRequest(SnmpVersionV2c, PduGetRequest, port, {"1.3.6.1.2.1.1.1.0"},
                                       requestId);
}

}  // namespace testing_support
}  // namespace snmp

#endif
