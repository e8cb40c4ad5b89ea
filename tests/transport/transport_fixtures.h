// Test doubles for the socket tasks: a routing object and a dispatcher that
// record what the tasks hand them, an observer that records events, and
// loopback socket helpers (127.0.0.1 only).
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
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "snmp/dispatcher.h"
#include "snmp/dispatcher/msg_queue.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/transport/udp_transporter.h"
#include "snmp/watch.h"

namespace snmp {
namespace testing_support {

// Generous: only a broken implementation ever waits this long.
constexpr auto kWait = std::chrono::seconds(10);

// A dispatcher of a given mode that records Cancel and SendReport calls.
class RecordingDispatcher : public Dispatcher {
public:
    explicit RecordingDispatcher(Type type) : type_(type) {}

    struct Call {
        std::string what;
        int value;
        int extra;
    };

    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> g(lock_);
        return calls_;
    }

    unsigned int QueueLimit() override { return 0; }
    bool SetQueueLimit(unsigned int) override { return true; }
    bool Start() override { return true; }
    void Stop() override {}
    void LockSockets() override {}
    void UnlockSockets() override {}
    void Clear() override {}
    Type GetType() override { return type_; }
    void Init(SockType) override {}
    TargetLookup* GetTargetLookup() override { return nullptr; }
    void SetServerRequestor(ServerRequestor*) override {}
    void SetTargetLookup(TargetLookup*) override {}
    bool AddEndpoint(brask::IpEndpoint&, bool) override { return false; }
    bool RemoveEndpoint(const brask::IpEndpoint&) override { return false; }
    bool HandleUnknownEngineId(Message*) override { return false; }
    bool HandleNotInTimeWindow(Message*) override { return false; }
    bool HandleRequest(Message*) override { return false; }
    bool SendRequest(Message*, int&, bool, Requestor*) override { return false; }
    bool Enqueue(Message*) override { return false; }
    bool SendReport(const Message& request, int errorType) override {
        std::lock_guard<std::mutex> g(lock_);
        calls_.push_back({"report", request.RequestId(), errorType});
        return true;
    }
    bool HandleResponse(Message*) override { return false; }
    bool NextOutgoing(Message**, bool) override { return false; }
    Message* Cancel(int requestId, bool discard) override {
        std::lock_guard<std::mutex> g(lock_);
        calls_.push_back({"cancel", requestId, discard ? 1 : 0});
        return nullptr;
    }
    Message* NextResponse() override { return nullptr; }

private:
    Type type_;
    std::mutex lock_;
    std::vector<Call> calls_;
};

// The routing object: feeds the sender from a list and keeps every message
// the tasks deliver.
class RecordingQueue : public MsgQueue {
public:
    explicit RecordingQueue(Type type) : dispatcher_(type) {
        CreateTransporter(Dispatcher::SockTypeUdp);
    }
    ~RecordingQueue() override {
        for (Message* m : outgoing_) delete m;
    }

    void CreateTransporter(Dispatcher::SockType) override {
        transporter_ = std::make_unique<UDPTransporter>();
    }
    Transporter* GetTransporter() override { return transporter_.get(); }
    Dispatcher* GetDispatcher() override { return &dispatcher_; }
    bool Receive(Message* msg) override {
        std::lock_guard<std::mutex> g(lock_);
        ++offered_;
        if (!accept_) {
            cv_.notify_all();
            return false;
        }
        received_.emplace_back(msg);
        cv_.notify_all();
        return true;
    }
    bool NextToSend(Message** out) override {
        std::lock_guard<std::mutex> g(lock_);
        if (outgoing_.empty()) {
            *out = nullptr;
            return false;
        }
        *out = outgoing_.front();
        outgoing_.pop_front();
        cv_.notify_all();
        return true;
    }

    void Push(Message* msg) {
        std::lock_guard<std::mutex> g(lock_);
        outgoing_.push_back(msg);
    }
    void SetAccept(bool accept) {
        std::lock_guard<std::mutex> g(lock_);
        accept_ = accept;
    }
    // Waits until `n` messages were offered to Receive.
    bool WaitOffered(size_t n) {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, kWait, [&] { return offered_ >= n; });
    }
    // Waits until a message with request id `id` was delivered.
    bool WaitRequestId(int id) {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, kWait, [&] {
            for (const auto& m : received_) {
                if (m->RequestId() == id) return true;
            }
            return false;
        });
    }
    // Waits until the sender has taken every pushed message.
    bool WaitOutgoingEmpty() {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, kWait, [&] { return outgoing_.empty(); });
    }
    size_t Offered() {
        std::lock_guard<std::mutex> g(lock_);
        return offered_;
    }
    // The delivered messages (owned by this object).
    std::vector<const Message*> Received() {
        std::lock_guard<std::mutex> g(lock_);
        std::vector<const Message*> v;
        for (const auto& m : received_) v.push_back(m.get());
        return v;
    }
    RecordingDispatcher& TestDispatcher() { return dispatcher_; }

private:
    RecordingDispatcher dispatcher_;
    std::unique_ptr<UDPTransporter> transporter_;
    std::mutex lock_;
    std::condition_variable cv_;
    std::deque<Message*> outgoing_;
    std::vector<std::unique_ptr<Message>> received_;
    size_t offered_ = 0;
    bool accept_ = true;
};

// Records every event with the fields a test looks at.
class RecordingWatch : public Watch {
public:
    struct Event {
        std::string what;  // "receive", "decode", "send", "except"
        int excType;
        unsigned int pduType;
        int errStat;
        unsigned short srcPort;
        unsigned short dstPort;
        size_t bindings;
    };

    void OnReceive(const Message& m) override { Add("receive", -1, m); }
    void OnDecode(const Message& m) override { Add("decode", -1, m); }
    void OnSend(const Message& m) override { Add("send", -1, m); }
    void OnExcept(const Message& m, const Exception& e) override { Add("except", e.Type(), m); }

    std::vector<Event> Events() {
        std::lock_guard<std::mutex> g(lock_);
        return events_;
    }
    std::vector<std::string> Names() {
        std::lock_guard<std::mutex> g(lock_);
        std::vector<std::string> v;
        for (const auto& e : events_) v.push_back(e.what);
        return v;
    }
    bool WaitEvents(size_t n) {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, kWait, [&] { return events_.size() >= n; });
    }

private:
    void Add(const char* what, int type, const Message& m) {
        std::lock_guard<std::mutex> g(lock_);
        events_.push_back(
            {what, type, m.Type(), m.ErrStat(), m.SrcPort(), m.DstPort(), m.VarBinds().size()});
        cv_.notify_all();
    }
    std::mutex lock_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

// A plain UDP socket on 127.0.0.1 with a system-chosen port.
class Peer {
public:
    Peer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        socklen_t len = sizeof(a);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() { ::close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    unsigned short Port() const { return port_; }
    int Fd() const { return fd_; }

    bool SendTo(unsigned short port, const std::vector<unsigned char>& bytes) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a),
                        sizeof(a)) == static_cast<ssize_t>(bytes.size());
    }
    // Waits for one datagram; false when none came in time.
    bool Recv(std::vector<unsigned char>& out, unsigned short* fromPort = nullptr) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1,
                   static_cast<int>(
                       std::chrono::duration_cast<std::chrono::milliseconds>(kWait).count())) != 1)
            return false;
        out.resize(65536);
        sockaddr_in a{};
        socklen_t len = sizeof(a);
        const ssize_t n =
            ::recvfrom(fd_, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&a), &len);
        if (n < 0) return false;
        out.resize(static_cast<size_t>(n));
        if (fromPort != nullptr) *fromPort = ntohs(a.sin_port);
        return true;
    }

private:
    int fd_ = -1;
    unsigned short port_ = 0;
};

inline VarBind NullBinding(const char* oid) {
    ObjectId id;
    id.Set(oid);
    return VarBind(id, AsnValue(0x05));
}

// An SNMPv2c (or v1) message to 127.0.0.1:`port`.
inline Message* MakeRequest(unsigned short port, unsigned int type, int requestId,
                            SnmpVersion version = SnmpVersionV2c) {
    auto* m = new Message();
    m->SetVersion(version);
    m->SetCommunity("public");
    m->SetType(type);
    m->SetRequestId(requestId);
    m->SetDstAddr(brask::IpAddr("127.0.0.1"));
    m->SetDstPort(port);
    m->AddVarBind(NullBinding("1.3.6.1.2.1.1.1.0"));
    return m;
}

// The wire form of a message.
inline std::vector<unsigned char> Encoded(const Message& m) {
    std::vector<unsigned char> buf(Message::MaxMessageSize());
    unsigned int size = static_cast<unsigned int>(buf.size());
    m.Encode(buf.data(), size, false);
    buf.resize(size);
    return buf;
}

}  // namespace testing_support
}  // namespace snmp

#endif
