// The dispatcher: lifecycle and endpoints, the client request engine (ids,
// queueing, response matching, SNMPv3 discovery) and the server side
// (handing requests to the host, sending answers and Reports in id order).
#include "snmp/dispatcher/dispatcher_imp.h"

#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <random>

#include "snmp/asn_value.h"
#include "snmp/dispatcher/client.h"
#include "snmp/dispatcher/server.h"
#include "snmp/message.h"
#include "snmp/object_id.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/transport/sock_processor.h"
#include "snmp/transport/udp_transporter.h"
#include "snmp/var_bind.h"

namespace snmp {

namespace {

// Request ids start at a random point in 1..32768, so that two dispatchers
// (or a restarted host) are unlikely to reuse each other's ids.
int RandomFirstRequestId() {
    std::random_device device;
    std::uniform_int_distribution<int> pick(1, 32768);
    return pick(device);
}

// The counter object a Report names for a failure type, and the level the
// Report is sent at (0: the failed request's own level). Wrong-digest and
// decryption-error Reports go out unauthenticated: they are meant for a
// manager whose key is wrong, and that manager could neither verify nor
// decrypt a Report protected with the right one.
struct ReportKind {
    int errorType;
    const char* oid;
    int level;
};

const ReportKind* FindReportKind(int errorType) {
    static const ReportKind kinds[] = {
        {23, SNMP_UNKNOWNHANDLER, 0},   {200, USM_UNKNOWNENGINE, 1}, {201, USM_UNKNOWNUSER, 1},
        {202, USM_UNSUPPORTEDLEVEL, 1}, {203, USM_WRONGDIGEST, 1},   {204, USM_TIMEWINDOW, 2},
        {205, USM_DECRYPT, 1},
    };
    for (const ReportKind& kind : kinds) {
        if (kind.errorType == errorType) {
            return &kind;
        }
    }
    return nullptr;
}

// The process-wide watch list and receiver registry belong to every running
// dispatcher at once. Emptying them when one dispatcher goes would silence
// the statistics and the host's observers of all the others, so only the last
// started dispatcher to go empties them; each one takes back its own receiver.
std::mutex& StackUseLock() {
    static std::mutex lock;
    return lock;
}
// 0 leaves a direction at the default the transporter gave it.
bool ApplySocketBuffers(int socket, unsigned int sendBytes, unsigned int receiveBytes) {
    bool ok = true;
    if (sendBytes != 0) {
        ok = UDPTransporter::SetHostBufferSize(socket, SO_SNDBUF, sendBytes) && ok;
    }
    if (receiveBytes != 0) {
        ok = UDPTransporter::SetHostBufferSize(socket, SO_RCVBUF, receiveBytes) && ok;
    }
    return ok;
}

int startedDispatchers = 0;  // guarded by StackUseLock()

void JoinStack() {
    std::lock_guard<std::mutex> guard(StackUseLock());
    ++startedDispatchers;
    StackInterface::Instance()->Init();
}

void LeaveStack(MsgReceiver* receiver, bool started) {
    std::lock_guard<std::mutex> guard(StackUseLock());
    StackInterface* stack = StackInterface::Instance();
    if (receiver != nullptr) {
        stack->DeregisterReceiver(receiver);
    }
    if (started && --startedDispatchers == 0) {
        stack->Shutdown();
    }
}

bool IsTrap(const Message& m) {
    return m.Type() == PduV1Trap || m.Type() == PduV2Trap;
}

}  // namespace

DispatcherImp::DispatcherImp(Type type, unsigned int sendBufferSize, unsigned int receiveBufferSize)
    : lock_(brask::Mutex::Create(true)),
      nextRequestId_(RandomFirstRequestId()),
      drained_(brask::Event::Create(brask::Event::kAutoReset)),
      type_(type),
      sendBufferSize_(sendBufferSize),
      receiveBufferSize_(receiveBufferSize) {
    if (type == TypeClient) {
        msgQueue_ = std::make_unique<Client>(this);
    } else {
        msgQueue_ = std::make_unique<Server>(this);
    }
}

DispatcherImp::~DispatcherImp() {
    // A host that skipped Stop would otherwise wait forever for the threads.
    // No drain here: nobody is left to answer.
    {
        Guard guard(*this);
        if (running_) {
            running_ = false;
            if (receiver_) {
                receiver_->Stop();
            }
            if (sender_) {
                sender_->Stop();
            }
        }
    }
    if (sender_) {
        sender_->Join();
    }
    if (receiver_) {
        receiver_->Join();
    }
    LeaveStack(receiver_.get(), started_);
    sender_.reset();
    receiver_.reset();
    msgQueue_.reset();
    Clear();
    for (const auto& entry : endpoints_) {
        ::close(entry.second);
    }
    endpoints_.clear();
}

unsigned int DispatcherImp::QueueLimit() {
    return queueLimit_.load();
}

bool DispatcherImp::SetQueueLimit(unsigned int limit) {
    queueLimit_.store(limit);
    return true;
}

Type DispatcherImp::GetType() {
    return type_;
}

TargetLookup* DispatcherImp::GetTargetLookup() {
    return targetLookup_.load();
}

void DispatcherImp::SetTargetLookup(TargetLookup* lookup) {
    targetLookup_.store(lookup);
}

void DispatcherImp::SetServerRequestor(ServerRequestor* requestor) {
    serverRequestor_.store(requestor);
}

void DispatcherImp::Init(SockType sockType) {
    if (sender_ || receiver_) {
        return;
    }
    msgQueue_->CreateTransporter(sockType);
    if (msgQueue_->GetTransporter() == nullptr) {
        return;
    }
    sender_ = std::make_unique<MsgSender>(&endpoints_, sendBufferSize_, msgQueue_.get());
    receiver_ = std::make_unique<MsgReceiver>(&endpoints_, receiveBufferSize_, msgQueue_.get());
    StackInterface::Instance()->RegisterReceiver(receiver_.get());
}

bool DispatcherImp::Start() {
    {
        Guard guard(*this);
        if (started_) {
            return false;
        }
        started_ = true;
        running_ = true;
    }
    JoinStack();
    if (sender_) {
        sender_->Start();
    }
    if (receiver_) {
        receiver_->Start();
    }
    return true;
}

void DispatcherImp::Stop() {
    lock_->Lock();
    if (!running_) {
        lock_->Unlock();
        return;
    }
    running_ = false;
    if (receiver_) {
        receiver_->Stop();
    }
    if (sender_) {
        if (type_ == TypeServer) {
            // Every wake makes the sender ask for the next answer; the one after the
            // last record finds the table empty and signals. Answers and
            // cancellations that come later signal as well.
            draining_ = true;
            for (size_t i = 0; i <= outstanding_.size(); ++i) {
                sender_->Wake();
            }
            lock_->Unlock();
            drained_->Wait();
            lock_->Lock();
            draining_ = false;
        }
        sender_->Stop();
    }
    lock_->Unlock();
}

bool DispatcherImp::IsRunning() {
    Guard guard(*this);
    return running_;
}

void DispatcherImp::LockSockets() {
    if (sender_) {
        sender_->Lock();
    }
    if (receiver_) {
        receiver_->Lock();
    }
}

void DispatcherImp::UnlockSockets() {
    if (receiver_) {
        receiver_->Unlock();
    }
    if (sender_) {
        sender_->Unlock();
    }
}

bool DispatcherImp::AddEndpoint(brask::IpEndpoint& local, bool reuseAddress) {
    if (endpoints_.count(local) != 0) {
        return false;
    }
    Transporter* transporter = msgQueue_->GetTransporter();
    if (transporter == nullptr) {
        return false;
    }
    int socket = transporter->Open(local, reuseAddress);
    if (socket == -1) {
        return false;
    }
    ApplySocketBuffers(socket, socketSendBytes_.load(), socketReceiveBytes_.load());
    const bool running = IsRunning();
    if (running) {
        LockSockets();
    }
    const bool inserted = endpoints_.emplace(local, socket).second;
    if (running) {
        UnlockSockets();
    }
    if (!inserted) {
        // A system-chosen port that names an endpoint already open.
        ::close(socket);
    }
    return inserted;
}

bool DispatcherImp::RemoveEndpoint(const brask::IpEndpoint& local) {
    auto it = endpoints_.find(local);
    if (it == endpoints_.end()) {
        return false;
    }
    const bool running = IsRunning();
    if (running) {
        LockSockets();
    }
    ::close(it->second);
    endpoints_.erase(it);
    if (running) {
        UnlockSockets();
    }
    return true;
}

bool DispatcherImp::SetSocketBuffers(unsigned int sendBytes, unsigned int receiveBytes) {
    socketSendBytes_.store(sendBytes);
    socketReceiveBytes_.store(receiveBytes);
    // The table changes only on host calls, which the host does not make
    // concurrently with this one; the tasks only read it. Locking the tasks
    // still matters: the receiver keeps the buffer sizes it has read for
    // the table as it last saw it locked.
    const bool running = IsRunning();
    if (running) {
        LockSockets();
    }
    bool ok = true;
    for (const auto& entry : endpoints_) {
        ok = ApplySocketBuffers(entry.second, sendBytes, receiveBytes) && ok;
    }
    if (running) {
        UnlockSockets();
    }
    return ok;
}

bool DispatcherImp::SocketBuffers(const brask::IpEndpoint& local, unsigned int& sendBytes,
                                  unsigned int& receiveBytes) {
    const auto it = endpoints_.find(local);
    if (it == endpoints_.end()) {
        return false;
    }
    int send = 0;
    int receive = 0;
    socklen_t length = sizeof(send);
    if (::getsockopt(it->second, SOL_SOCKET, SO_SNDBUF, &send, &length) != 0) {
        return false;
    }
    length = sizeof(receive);
    if (::getsockopt(it->second, SOL_SOCKET, SO_RCVBUF, &receive, &length) != 0) {
        return false;
    }
    sendBytes = static_cast<unsigned int>(send);
    receiveBytes = static_cast<unsigned int>(receive);
    return true;
}

void DispatcherImp::Clear() {
    Guard guard(*this);
    for (Message* m : sendQueue_) {
        delete m;
    }
    sendQueue_.clear();
    for (auto& entry : outstanding_) {
        delete entry.second.response;
        entry.second.response = nullptr;
    }
    for (auto& entry : v3Requests_) {
        delete entry.second;
    }
    v3Requests_.clear();
}

int DispatcherImp::PeekNextRequestId() {
    Guard guard(*this);
    return nextRequestId_;
}

void DispatcherImp::SetNextRequestId(int id) {
    Guard guard(*this);
    nextRequestId_ = id > 0 ? id : 1;
}

size_t DispatcherImp::SendQueueSize() {
    Guard guard(*this);
    return sendQueue_.size();
}

size_t DispatcherImp::OutstandingCount() {
    Guard guard(*this);
    return outstanding_.size();
}

size_t DispatcherImp::KeptV3RequestCount() {
    Guard guard(*this);
    return v3Requests_.size();
}

// ---- Helpers, all with lock_ held ----------------------------------------

bool DispatcherImp::AcceptingLocked() const {
    if (!running_) {
        return false;
    }
    const unsigned int limit = queueLimit_.load();
    return limit == 0 || sendQueue_.size() <= limit;
}

void DispatcherImp::AssignRequestId(Message* m) {
    m->SetRequestId(nextRequestId_);
    // Ids run up to the largest int and continue at 1; 0 and negative ids are
    // never given out.
    nextRequestId_ = nextRequestId_ == 2147483647 ? 1 : nextRequestId_ + 1;
}

void DispatcherImp::KeepV3Request(int id, Message* msg) {
    auto it = v3Requests_.find(id);
    if (it != v3Requests_.end()) {
        delete it->second;
        it->second = msg;
    } else {
        v3Requests_.emplace(id, msg);
    }
}

void DispatcherImp::DropV3Request(int id) {
    auto it = v3Requests_.find(id);
    if (it != v3Requests_.end()) {
        delete it->second;
        v3Requests_.erase(it);
    }
}

void DispatcherImp::PutRecord(int id, Requestor* requestor) {
    RequestRecord& record = outstanding_[id];
    delete record.response;
    record.response = nullptr;
    record.requestor = requestor;
}

void DispatcherImp::SignalIfDrainedLocked() {
    if (draining_ && outstanding_.empty()) {
        drained_->Signal();
    }
}

void DispatcherImp::WakeSender() {
    wakePending_ = true;
}

void DispatcherImp::WakeSenderNow() {
    // An idle sender thread would only wake to send what this thread can send
    // itself; a busy one finds the message on its next pass after the post.
    if (sender_ && !sender_->SendDirect()) {
        sender_->Wake();
    }
}

// ---- Client request engine -------------------------------------------------

bool DispatcherImp::SendRequest(Message* msg, int& requestId, bool discover, Requestor* requestor) {
    Guard guard(*this);
    if (msg == nullptr || !AcceptingLocked()) {
        return false;
    }
    const bool v3 = msg->Version() == SnmpVersionV3;
    if (v3) {
        msg->InitSecurity(targetLookup_.load());
        if (discover) {
            return Discover(msg, requestId, requestor);
        }
    }
    if (msg->RequestId() == 0) {
        AssignRequestId(msg);
    }
    // The message's own id is the key: it is the id its answer will carry.
    requestId = msg->RequestId();
    if (v3) {
        KeepV3Request(requestId, new Message(*msg));
    }
    PutRecord(requestId, requestor);
    sendQueue_.push_back(msg);
    WakeSender();
    return true;
}

bool DispatcherImp::Discover(Message* msg, int& requestId, Requestor* requestor) {
    Guard guard(*this);
    // The probe keeps the request's PDU and bindings but goes out at
    // noAuthNoPriv, so that an unknown engine answers with its engine id.
    auto* probe = new Message(*msg);
    probe->InitSecurity(targetLookup_.load());
    probe->SetReportable(true);
    probe->SetSecurityModel(SecModelUSM);
    probe->SetSecurityLevel(SecLevelNoAuthNoPriv);
    if (msg->RequestId() == 0) {
        AssignRequestId(probe);
        requestId = probe->MsgId();
    } else {
        requestId = msg->RequestId();
    }
    msg->SetRequestId(requestId);
    KeepV3Request(requestId, msg);
    PutRecord(requestId, requestor);
    sendQueue_.push_back(probe);
    WakeSender();
    return true;
}

bool DispatcherImp::Enqueue(Message* msg) {
    Guard guard(*this);
    if (msg == nullptr || !AcceptingLocked()) {
        return false;
    }
    sendQueue_.push_back(msg);
    WakeSender();
    return true;
}

bool DispatcherImp::NextOutgoing(Message** out, bool forget) {
    *out = nullptr;
    Guard guard(*this);
    while (!sendQueue_.empty()) {
        Message* m = sendQueue_.front();
        sendQueue_.pop_front();
        if (IsTrap(*m) || outstanding_.count(m->RequestId()) != 0) {
            *out = m;
            break;
        }
        // Answered, cancelled, or never recorded: no longer wanted.
        delete m;
    }
    if (*out == nullptr) {
        return false;
    }
    if (forget) {
        Cancel((*out)->RequestId(), true);
    }
    return true;
}

bool DispatcherImp::HandleResponse(Message* msg) {
    if (msg == nullptr) {
        return false;
    }
    Requestor* requestor = nullptr;
    {
        Guard guard(*this);
        const int id = msg->RequestId();
        auto it = outstanding_.find(id);
        if (it == outstanding_.end()) {
            return false;
        }
        // Whatever the answer's version, the request is over: nothing is left to
        // resend for it.
        DropV3Request(id);
        if (it->second.requestor == nullptr) {
            delete it->second.response;
            it->second.response = msg;
            WakeSender();
            return true;
        }
        requestor = it->second.requestor;
        outstanding_.erase(it);
    }
    // Outside the lock: the requestor may send or cancel from the callback.
    requestor->OnResponse(this, msg);
    return true;
}

bool DispatcherImp::HandleUnknownEngineId(Message* report) {
    if (type_ == TypeServer) {
        delete report;
        return true;
    }
    {
        Guard guard(*this);
        auto it = v3Requests_.find(report->MsgId());
        if (it != v3Requests_.end()) {
            // The next step only has to learn the engine's boots and time, which
            // an authenticated message does; the agent refuses it for its clock
            // anyway, so nothing is encrypted for that exchange.
            auto* copy = new Message(*it->second);
            if (copy->SecurityLevel() == SecLevelAuthPriv) {
                copy->SetSecurityLevel(SecLevelAuthNoPriv);
            }
            sendQueue_.push_back(copy);
            WakeSender();
        }
    }
    delete report;
    return true;
}

bool DispatcherImp::HandleNotInTimeWindow(Message* report) {
    {
        Guard guard(*this);
        auto it = v3Requests_.find(report->MsgId());
        if (it != v3Requests_.end()) {
            sendQueue_.push_back(new Message(*it->second));
            WakeSender();
        }
    }
    delete report;
    return true;
}

Message* DispatcherImp::Cancel(int requestId, bool discard) {
    Guard guard(*this);
    Message* result = nullptr;
    auto it = outstanding_.find(requestId);
    if (it != outstanding_.end()) {
        result = it->second.response;
        outstanding_.erase(it);
        SignalIfDrainedLocked();
    }
    // Without its record a kept request could only be resent for reports
    // that nobody waits for any more.
    DropV3Request(requestId);
    if (discard) {
        delete result;
        result = nullptr;
    }
    return result;
}

// ---- Server side -------------------------------------------------------------

bool DispatcherImp::HandleRequest(Message* msg) {
    Guard guard(*this);
    if (msg == nullptr || !AcceptingLocked()) {
        return false;
    }
    const int id = msg->RequestId();
    if (outstanding_.count(id) != 0) {
        // A retransmission of a message the host is still handling.
        return false;
    }
    outstanding_.emplace(id, RequestRecord());
    if (ServerRequestor* requestor = serverRequestor_.load()) {
        // With the lock held; the host may answer from inside the call.
        requestor->OnRequest(this, msg);
    } else {
        sendQueue_.push_back(msg);
        WakeSender();
    }
    return true;
}

Message* DispatcherImp::NextResponse() {
    Guard guard(*this);
    Message* result = nullptr;
    for (auto it = outstanding_.begin(); it != outstanding_.end(); ++it) {
        if (it->second.response != nullptr) {
            result = it->second.response;
            outstanding_.erase(it);
            break;
        }
    }
    SignalIfDrainedLocked();
    return result;
}

bool DispatcherImp::SendReport(const Message& request, int errorType) {
    if (type_ != TypeServer) {
        // A client never sends Reports; a record for one would only pile up.
        // The failed message ends its request as any other failure does.
        Cancel(request.RequestId(), true);
        return true;
    }
    Guard guard(*this);
    if (!running_) {
        // Stopping or stopped: incoming messages are refused, their Reports too.
        return true;
    }
    const ReportKind* kind = FindReportKind(errorType);

    auto* report = new Message();
    report->SetDstAddr(request.SrcAddr());
    report->SetDstPort(request.SrcPort());
    report->SetVersion(SnmpVersionV3);
    report->SetType(PduReport);
    report->SetRequestId(request.RequestId());
    report->InitSecurity(targetLookup_.load());
    if (request.SecAttributes() != nullptr) {
        report->SetUserName(request.UserName());
        report->SetEngineId(request.EngineId());
    }
    report->SetReportable(false);
    if (kind != nullptr && kind->level != 0) {
        report->SetSecurityLevel(static_cast<v3SecurityLevel>(kind->level));
    } else {
        report->SetSecurityLevel(request.SecurityLevel());
    }

    ObjectId name;
    if (kind != nullptr) {
        name.Set(kind->oid);
    }
    AsnValue count(0x02);
    count.SetInteger(static_cast<int>(SnmpStats::Instance()->USMStat(errorType)));
    report->AddVarBind(VarBind(name, count));

    const int id = request.RequestId();
    PutRecord(id, nullptr);
    outstanding_[id].response = report;
    WakeSender();
    return true;
}

}  // namespace snmp
