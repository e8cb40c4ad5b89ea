// The sender and receiver tasks of a dispatcher.
#include "snmp/transport/sock_processor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "snmp/dispatcher.h"
#include "snmp/dispatcher/msg_queue.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/transport/udp_transporter.h"
#include "snmp/transport/watches.h"

namespace snmp {

namespace {

constexpr int kTooBig = 14;
constexpr int kNoHandler = 23;
constexpr int kFirstUsmError = 200;
constexpr unsigned int kResponse = 0xA2;
constexpr unsigned int kV1Trap = 0xA4;
constexpr size_t kMaxWatchedSockets = 64;
// What the system charges a socket's buffer per datagram beyond its payload,
// rounded up.
constexpr size_t kDatagramOverhead = 1024;
// A burst read or a batched send takes at most this many datagrams, and at
// most kBurstBytes of slots: a poller's requests and answers go many at a
// time, and one system call for them all saves a poll, a read and a send per
// datagram.
constexpr size_t kMaxBurst = 32;
constexpr size_t kBurstBytes = 256 * 1024;
constexpr int kSelectTimeoutMs = 250;
constexpr unsigned int kIdleWaitMs = 50;

unsigned int EffectiveSize(unsigned int size) {
    const unsigned int max = Message::MaxMessageSize();
    return (size == 0 || size > max) ? max : size;
}

size_t BurstOf(unsigned int bufferSize) {
    return std::max<size_t>(1, std::min(kMaxBurst, kBurstBytes / bufferSize));
}

// The next entry after `from` (wrapping), or `from` itself, whose endpoint
// is of `family`; end() when the table has none. A socket of the other
// family cannot reach the destination at all.
EndpointTable::iterator NextOfFamily(EndpointTable& table, EndpointTable::iterator from,
                                     int family) {
    auto it = from;
    do {
        if (it->first.Addr().Version() == family) return it;
        if (++it == table.end()) it = table.begin();
    } while (it != from);
    return table.end();
}

}  // namespace

// ---- SockProcessor -------------------------------------------------------------------------

SockProcessor::SockProcessor(EndpointTable* endpoints, unsigned int bufferSize, MsgQueue* queue)
    : endpoints_(endpoints),
      watches_(StackInterface::Instance()->GetWatches()),
      queue_(queue),
      mutex_(brask::Mutex::Create(true)),
      semaphore_(brask::Semaphore::Create()),
      bufferSize_(EffectiveSize(bufferSize)),
      encodeBuffer_(Message::AllocEnc()) {}

SockProcessor::~SockProcessor() {
    delete thread_;
    Message::FreeEnc(encodeBuffer_);
    delete semaphore_;
    delete mutex_;
}

void SockProcessor::Start() {
    // A second loop on the same buffers would race with the first, and after
    // Stop a loop would return at once: later calls have nothing to do.
    if (thread_ != nullptr) return;
    thread_ = brask::Thread::Create(*this);
    thread_->Start();
}

void SockProcessor::Stop() {
    running_.store(false);
    Interrupt();
}

void SockProcessor::Interrupt() {
    semaphore_->Post();
}

void SockProcessor::Wake() {
    semaphore_->Post();
}

void SockProcessor::Join() {
    if (thread_ != nullptr) thread_->Wait();
}

void SockProcessor::Lock() {
    mutex_->Lock();
    changed_ = true;
    ++generation_;
    ++holds_;
    TableLocked();
}

void SockProcessor::Unlock() {
    --holds_;
    mutex_->Unlock();
}

// ---- MsgSender -----------------------------------------------------------------------------

MsgSender::MsgSender(EndpointTable* endpoints, unsigned int bufferSize, MsgQueue* queue)
    : SockProcessor(endpoints, bufferSize, queue), slots_(BurstOf(bufferSize_) * bufferSize_) {
    batch_.reserve(BurstOf(bufferSize_));
    const char* path = std::getenv("POLLER_REPORT_SNMP_STATS");
    if (path != nullptr) statsFile_ = std::fopen(path, "w");
}

MsgSender::~MsgSender() {
    Stop();
    Join();
    if (statsFile_ != nullptr) std::fclose(statsFile_);
    for (Message* answer : localAnswers_) delete answer;
}

namespace {

// The sender task the current thread is sending for, if any: the sender
// thread for its whole loop, another thread during SendDirect. A thread
// already sending (a host callback reached from inside a send) must not start
// a second, nested pass over the same buffers.
thread_local const MsgSender* sendingFor = nullptr;

// While a receiver thread delivers a burst of datagrams itself, the sends its
// callbacks ask of the same dispatcher's sender wait here, to go in one batch
// after the burst.
struct HeldSends {
    const MsgQueue* queue;
    MsgSender* sender;
};
thread_local HeldSends* held = nullptr;

}  // namespace

void MsgSender::Run() {
    sendingFor = this;
    mutex_->Lock();
    cursor_ = endpoints_->begin();
    looping_ = true;
    while (running_.load()) {
        DeliverLocalAnswers();
        Message* message = nullptr;
        queue_->NextToSend(&message);
        if (message == nullptr) {
            Flush();
            mutex_->Unlock();
            semaphore_->Wait();
            mutex_->Lock();
            DeliverLocalAnswers();
            queue_->NextToSend(&message);
        }
        if (message != nullptr) SendNext(message);
    }
    Flush();
    looping_ = false;
    mutex_->Unlock();
    sendingFor = nullptr;
}

bool MsgSender::SendDirect() {
    if (held != nullptr && held->queue == queue_) {
        held->sender = this;
        return true;
    }
    if (sendingFor == this || !running_.load()) return false;
    // The sender thread holds the mutex except while it sleeps on the
    // semaphore, so getting it without a wait means the thread is idle.
    if (!mutex_->TryLock()) return false;
    // The lock is re-entrant: a caller that holds the task through Lock gets
    // it again, and wants the task held, not sending.
    if (!looping_ || holds_ != 0) {
        mutex_->Unlock();
        return false;
    }
    sendingFor = this;
    direct_ = true;
    for (;;) {
        Message* message = nullptr;
        queue_->NextToSend(&message);
        if (message == nullptr) break;
        SendNext(message);
    }
    Flush();
    direct_ = false;
    sendingFor = nullptr;
    const bool answers = !localAnswers_.empty();
    mutex_->Unlock();
    if (answers) Wake();
    return true;
}

void MsgSender::DeliverLocalAnswers() {
    if (localAnswers_.empty()) return;
    std::vector<Message*> answers;
    answers.swap(localAnswers_);
    for (Message* answer : answers) {
        if (!queue_->Receive(answer)) delete answer;
    }
}

void MsgSender::SendNext(Message* message) {
    message->SetEnc(encodeBuffer_);
    if (endpoints_->empty()) {
        // No socket to send on (nothing added yet, or the last one was
        // removed): the message is given up like a lost datagram, and a
        // request waiting for it ends by the host's time-out.
        delete message;
        return;
    }
    if (changed_ || cursor_ == endpoints_->end()) {
        cursor_ = endpoints_->begin();
        changed_ = false;
    } else if (++cursor_ == endpoints_->end()) {
        cursor_ = endpoints_->begin();
    }
    // The turn skips sockets of the other family; with none of the
    // destination's family the message is given up like a lost datagram.
    const auto chosen = NextOfFamily(*endpoints_, cursor_, message->DstAddr().Version());
    if (chosen == endpoints_->end()) {
        delete message;
        return;
    }
    cursor_ = chosen;
    if (Stage(cursor_->second, message)) delete message;
}

bool MsgSender::Stage(int socket, Message* message) {
    if (!message->DstAddr().IsValid()) return true;
    try {
        AddToBatch(socket, *message);
    } catch (const Exception& e) {
        watches_.OnExcept(*message, e);
        if (e.Type() != kTooBig) return true;
        message->SetErrStat(1);
        message->SetType(kResponse);
        if (queue_->GetDispatcher()->GetType() == TypeClient) {
            message->SwapAddrs();
            // The answer leaves this thread: it must not keep using this
            // task's encode record.
            message->SetEnc(nullptr);
            // Sending for a host thread, which is inside one of its own calls
            // and may hold its own locks: the answer goes to the requestor
            // from the sender thread, as it would have without the direct send.
            if (direct_) {
                localAnswers_.push_back(message);
                return false;
            }
            return !queue_->Receive(message);
        }
        if (message->Version() == SnmpVersionV1) {
            message->ClearValues();
        } else {
            message->ClearVarBinds();
        }
        try {
            AddToBatch(socket, *message);
        } catch (const Exception&) {
            // The stripped answer does not fit either; it is given up.
        }
    } catch (const std::exception&) {
        // Out of memory and the like: the message is given up, the thread goes on.
    }
    return true;
}

void MsgSender::AddToBatch(int socket, Message& message) {
    if (socket != batchSocket_ || (batch_.size() + 1) * bufferSize_ > slots_.size()) Flush();
    unsigned char* slot = slots_.data() + batch_.size() * bufferSize_;
    unsigned int length = bufferSize_;
    if (!message.Encode(slot, length, false)) return;
    watches_.OnSend(message);
    Outgoing datagram;
    datagram.data = reinterpret_cast<const char*>(slot);
    datagram.length = static_cast<int>(length);
    datagram.toLength =
        brask::ToSockAddr(brask::IpEndpoint(message.DstAddr(), message.DstPort()), datagram.to);
    batch_.push_back(datagram);
    batchSocket_ = socket;
}

void MsgSender::Flush() {
    if (batch_.empty()) return;
    queue_->GetTransporter()->Send(batchSocket_, batch_.data(), static_cast<int>(batch_.size()));
    batch_.clear();
}

// ---- MsgReceiver ---------------------------------------------------------------------------

MsgReceiver::MsgReceiver(EndpointTable* endpoints, unsigned int bufferSize, MsgQueue* queue)
    : SockProcessor(endpoints, bufferSize, queue),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      dataQueue_("SNMP Message Receiver") {
    const size_t burst = BurstOf(bufferSize_);
    slotBytes_.resize(burst * bufferSize_);
    slots_.resize(burst);
    for (size_t i = 0; i < burst; ++i) {
        slots_[i].data = slotBytes_.data() + i * bufferSize_;
        slots_[i].capacity = static_cast<int>(bufferSize_);
    }
}

MsgReceiver::~MsgReceiver() {
    Stop();
    Join();
    dataQueue_.Stop();
    if (wakeFd_ != -1) ::close(wakeFd_);
}

void MsgReceiver::Interrupt() {
    SockProcessor::Interrupt();
    if (wakeFd_ == -1) return;
    const std::uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the descriptor
    // readable, which is all the loop needs.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof(one));
}

void MsgReceiver::Run() {
    dataQueue_.Start();
    mutex_->Lock();
    std::vector<pollfd> fds;
    fds.reserve(kMaxWatchedSockets + 1);
    std::vector<UdpDataItem> direct;
    direct.reserve(kMaxWatchedSockets);
    while (running_.load()) {
        // Slot 0 is the wake-up descriptor; the table's sockets follow in
        // table order, each once, at most kMaxWatchedSockets of them.
        fds.clear();
        fds.push_back(pollfd{wakeFd_, POLLIN, 0});
        for (const auto& entry : *endpoints_) {
            if (fds.size() > kMaxWatchedSockets) break;
            const int s = entry.second;
            const bool present =
                std::any_of(fds.begin() + 1, fds.end(), [s](const pollfd& p) { return p.fd == s; });
            if (!present) fds.push_back(pollfd{s, POLLIN, 0});
        }
        const unsigned long long generation = generation_;
        mutex_->Unlock();
        // Without a wake-up descriptor (poll() skips a negative one), Stop
        // and table changes are noticed only when the bounded wait ends.
        const int timeout = wakeFd_ != -1 ? -1 : (fds.size() > 1 ? kSelectTimeoutMs : kIdleWaitMs);
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        mutex_->Lock();
        if (ready <= 0) continue;
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof(count));
        }
        // A changed table may have closed a socket that poll() reported, or
        // given its number to a new one: the old readiness says nothing then.
        if (generation != generation_) continue;
        for (const auto& entry : *endpoints_) {
            const int s = entry.second;
            const auto it = std::find_if(fds.begin() + 1, fds.end(),
                                         [s](const pollfd& p) { return p.fd == s; });
            if (it != fds.end() && (it->revents & (POLLIN | POLLERR)) != 0) {
                ReceiveBurst(s, entry.first.Port(), &direct);
            }
        }
        if (direct.empty()) continue;
        // Nothing else waits to be processed: this thread decodes and delivers
        // the datagrams it just read, saving a thread hand-off per datagram
        // when traffic is light. Outside the mutex, as on the queue's thread,
        // since a host callback may change the endpoint table.
        mutex_->Unlock();
        ProcessDirect(direct);
        mutex_->Lock();
    }
    mutex_->Unlock();
    dataQueue_.Stop();
}

bool MsgReceiver::TakeDirect(int socket, int length, bool more,
                             const std::vector<UdpDataItem>& direct) {
    // Only this thread adds records, so an idle queue stays idle until the
    // direct ones are processed, and arrival order holds.
    if (!direct.empty()) return true;
    // Only a client's responses: a server keeps reading into the queue while
    // its host is slow, so that an overrun is dropped and counted there
    // rather than unseen in the socket.
    if (queue_->GetDispatcher()->GetType() != TypeClient || !dataQueue_.Idle()) return false;
    // While this thread processes, the answers still on their way wait in the
    // socket. There is about one per outstanding request (retries aside):
    // when all of them, each the size of this one, fill at most half the
    // socket's buffer, nothing can be lost by waiting.
    const size_t outstanding = queue_->OutstandingRequests();
    const size_t each = static_cast<size_t>(length) + kDatagramOverhead;
    if (outstanding <= ReceiveBufferBytes(socket) / 2 / each) return true;
    // More datagrams already read or waiting mean a burst, which the queue's
    // thread absorbs while this one keeps reading.
    if (more) return false;
    int waiting = 0;
    return ::ioctl(socket, FIONREAD, &waiting) == 0 && waiting == 0;
}

size_t MsgReceiver::ReceiveBufferBytes(int socket) {
    if (bufferGeneration_ != generation_) {
        receiveBuffers_.clear();
        bufferGeneration_ = generation_;
    }
    for (const auto& known : receiveBuffers_) {
        if (known.first == socket) return known.second;
    }
    int bytes = 0;
    socklen_t size = sizeof(bytes);
    if (::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, &size) != 0 || bytes < 0) bytes = 0;
    receiveBuffers_.emplace_back(socket, static_cast<size_t>(bytes));
    return static_cast<size_t>(bytes);
}

void MsgReceiver::ProcessDirect(std::vector<UdpDataItem>& items) {
    HeldSends sends{queue_, nullptr};
    held = &sends;
    for (UdpDataItem& item : items) {
        try {
            OnUdpData(item);
        } catch (...) {
            // As on the queue's thread: the datagram is given up, receiving goes on.
        }
        delete[] item.data;
    }
    held = nullptr;
    items.clear();
    // The dispatcher cannot end while its receiver thread is here, so its
    // sender is still there.
    if (sends.sender != nullptr && !sends.sender->SendDirect()) sends.sender->Wake();
}

size_t MsgReceiver::ReceiveBurst(int socket, unsigned short localPort,
                                 std::vector<UdpDataItem>* direct) {
    for (Datagram& slot : slots_) std::memset(&slot.from, 0, sizeof(slot.from));
    const int read =
        queue_->GetTransporter()->Receive(socket, slots_.data(), static_cast<int>(slots_.size()));
    size_t kept = 0;
    for (int i = 0; i < read; ++i) {
        const Datagram& slot = slots_[static_cast<size_t>(i)];
        if (slot.length < 0) continue;
        UdpDataItem item;
        item.data = new unsigned char[static_cast<size_t>(slot.length)];
        std::memcpy(item.data, slot.data, static_cast<size_t>(slot.length));
        item.length = slot.length;
        item.from = slot.from;
        item.localPort = localPort;
        item.consumer = this;
        if (direct != nullptr && TakeDirect(socket, slot.length, i + 1 < read, *direct)) {
            direct->push_back(item);
            ++kept;
        } else if (dataQueue_.AddItem(item)) {
            ++kept;
        } else {
            SnmpStats::Instance()->Add(SnmpStats::kReceiveQueueDrops);
        }
    }
    return kept;
}

void MsgReceiver::AddHost(const Filter& filter) {
    std::lock_guard<std::mutex> guard(filterLock_);
    filters_.push_back(filter);
    filtersChanged_ = true;
}

void MsgReceiver::RemoveHost(const Filter& filter) {
    std::lock_guard<std::mutex> guard(filterLock_);
    filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
    filtersChanged_ = true;
}

bool MsgReceiver::HostAccepted(const brask::IpAddr& address) {
    std::lock_guard<std::mutex> guard(filterLock_);
    bool accepted;
    if (filters_.empty()) {
        accepted = true;
    } else if (address == lastAddr_ && !filtersChanged_) {
        accepted = lastAccepted_;
    } else if (address.IsAny()) {
        accepted = false;
    } else {
        const Filter host(address);
        accepted = std::any_of(filters_.begin(), filters_.end(),
                               [&host](const Filter& f) { return f.Match(host); });
        lastAddr_ = address;
        lastAccepted_ = accepted;
    }
    filtersChanged_ = false;
    return accepted;
}

bool MsgReceiver::ShouldReport(const Message& message, const Exception& e) {
    if (message.Version() != SnmpVersionV3 || !message.Reportable()) return false;
    if (e.Type() == kNoHandler) return message.Type() != kResponse && message.Type() != kV1Trap;
    return e.Type() >= kFirstUsmError;
}

void MsgReceiver::OnUdpData(UdpDataItem& item) {
    const brask::IpEndpoint source = brask::FromSockAddr(item.from);
    const brask::IpAddr& address = source.Addr();
    if (item.length > 0 && item.data[0] == 0x30 && !HostAccepted(address)) return;

    Dispatcher* dispatcher = queue_->GetDispatcher();
    Message* message = new Message();
    message->SetEnc(encodeBuffer_);
    message->SetSrcAddr(address);
    message->SetSrcPort(source.Port());
    message->SetDstPort(item.localPort);
    message->InitSecurity(dispatcher->GetTargetLookup());
    watches_.OnReceive(*message);
    try {
        message->Decode(item.data, static_cast<unsigned int>(item.length));
        watches_.OnDecode(*message);
        // From here on the message may live on in the host: it must not share
        // this task's encode record, which the next datagram reuses.
        message->SetEnc(nullptr);
        if (!queue_->Receive(message)) delete message;
    } catch (const Exception& e) {
        watches_.OnExcept(*message, e);
        message->SetEnc(nullptr);
        if (ShouldReport(*message, e)) {
            dispatcher->SendReport(*message, e.Type());
        } else {
            delete dispatcher->Cancel(message->RequestId(), true);
        }
        delete message;
    }
}

}  // namespace snmp
