// The dispatcher's two socket tasks: MsgSender encodes queued messages and
// sends them over the endpoints of the destination's family in turn;
// MsgReceiver waits on all endpoints, reads what waits on them in bursts,
// queues every datagram and, on the queue's thread, decodes and delivers it.
#ifndef SNMP_TRANSPORT_SOCK_PROCESSOR_H
#define SNMP_TRANSPORT_SOCK_PROCESSOR_H

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "brask/ip_addr.h"
#include "brask/sync.h"
#include "brask/thread.h"
#include "snmp/transport/udp_data_queue.h"
#include "snmp/transport/udp_transporter.h"
#include "snmp/watch.h"

namespace snmp {

class Exception;
class Message;
class MsgQueue;
class Watches;
struct MsgEncBuf;

// The dispatcher's open sockets: local endpoint to socket handle. Owned by the
// dispatcher, changed only between Lock on the sender then the receiver and
// Unlock in the reverse order.
using EndpointTable = std::map<brask::IpEndpoint, int>;

class SockProcessor : public brask::Task {
public:
    // `endpoints` and `queue` are not owned and must outlive the task. A
    // `bufferSize` of 0 or above Message::MaxMessageSize() means the maximum.
    // Creates the stack singleton if there is none.
    SockProcessor(EndpointTable* endpoints, unsigned int bufferSize, MsgQueue* queue);
    ~SockProcessor() override;

    // First call: starts the thread running Run. Later calls do nothing.
    virtual void Start();
    // Ends the loop (a task does not restart) and wakes it.
    void Stop();
    // Wakes a loop sleeping on the semaphore.
    void Wake();
    // Waits until the thread has ended; returns at once when never started.
    void Join();
    // Takes the task's hold on the endpoint table (and marks it changed);
    // waits until the loop is blocked, and wakes a loop that waits on the
    // table's sockets so that it watches the changed table. Release with
    // Unlock.
    void Lock();
    void Unlock();

    unsigned int BufferSize() const { return bufferSize_; }
    bool Running() const { return running_.load(); }

protected:
    // Wakes the loop from its wait, whatever it waits on. The base posts the
    // semaphore.
    virtual void Interrupt();
    // Called by Lock with the mutex held, before the table changes.
    virtual void TableLocked() {}

    EndpointTable* endpoints_;
    Watches& watches_;
    MsgQueue* queue_;
    std::atomic<bool> running_{true};
    bool changed_ = false;               // guarded by mutex_
    unsigned long long generation_ = 0;  // guarded by mutex_; counts Lock calls
    int holds_ = 0;                      // guarded by mutex_; Lock calls not yet unlocked
    brask::Mutex* mutex_;
    brask::Semaphore* semaphore_;
    brask::Thread* thread_ = nullptr;
    unsigned int bufferSize_;
    MsgEncBuf* encodeBuffer_;
};

class MsgSender : public SockProcessor {
public:
    // Opens (empties) the file named by POLLER_REPORT_SNMP_STATS when set.
    MsgSender(EndpointTable* endpoints, unsigned int bufferSize, MsgQueue* queue);
    ~MsgSender() override;

    void Run() override;
    // While the sender thread sleeps, sends everything the queue holds on the
    // calling thread, as the sender thread would have (same sockets in turn,
    // same watches), and returns true. Returns false without sending when the
    // thread is busy, has not started its loop, or the calling thread is
    // already sending for this task: the caller must Wake it then. The
    // calling thread must not hold the dispatcher's lock. A client's local
    // tooBig answer is delivered from the sender thread, never from here.
    // Called by the same dispatcher's receiver thread while it delivers a
    // burst itself, it sends nothing yet and returns true: the receiver sends
    // for it once the burst is delivered, all in one batch.
    bool SendDirect();

private:
    // With mutex_ held: adds `message` to the batch of the next socket in
    // turn, and deletes it unless it went back to the dispatcher.
    void SendNext(Message* message);
    // Encodes `message` into the batch for `socket`. Returns true when the
    // caller is to delete the message, false when it went back to the
    // dispatcher.
    bool Stage(int socket, Message* message);
    // Encodes `message` into the next slot of the batch for `socket`, which
    // is sent first when it is full or for another socket. Raises what
    // Message::Encode raises.
    void AddToBatch(int socket, Message& message);
    // With mutex_ held: sends the batch. Called before every release of the
    // mutex, so that the batch's socket is still open when it goes.
    void Flush();
    // With mutex_ held, on the sender thread: hands the client's local
    // tooBig answers that SendDirect made to the dispatcher.
    void DeliverLocalAnswers();

    // Encoded datagrams not yet sent, in slots of bufferSize_ bytes, all for
    // batchSocket_; guarded by mutex_ and empty whenever it is free.
    std::vector<unsigned char> slots_;
    std::vector<Outgoing> batch_;
    int batchSocket_ = -1;
    FILE* statsFile_ = nullptr;
    EndpointTable::iterator cursor_;      // guarded by mutex_
    bool looping_ = false;                // guarded by mutex_; Run has placed cursor_
    bool direct_ = false;                 // guarded by mutex_; SendDirect is sending
    std::vector<Message*> localAnswers_;  // guarded by mutex_
};

class MsgReceiver : public SockProcessor, public IUdpDataConsumer {
public:
    MsgReceiver(EndpointTable* endpoints, unsigned int bufferSize, MsgQueue* queue);
    ~MsgReceiver() override;

    void Run() override;
    // Reads the datagrams waiting on `socket`, up to one burst, and queues a
    // copy of each. With `direct`, on a client, copies that would start an
    // idle queue go to `direct` instead, for the caller to process on its own
    // thread without the hand-off, when nothing more waits on the socket or
    // all the answers still due fit easily in the socket's buffer. Returns
    // the datagrams queued or kept; a datagram longer than the buffer is
    // never counted, nor one the full queue dropped.
    size_t ReceiveBurst(int socket, unsigned short localPort,
                        std::vector<UdpDataItem>* direct = nullptr);
    // Filters, decodes and delivers one queued datagram (queue thread).
    void OnUdpData(UdpDataItem& item) override;

    // Host filters; safe to call while datagrams are being processed.
    void AddHost(const Filter& filter);
    void RemoveHost(const Filter& filter);
    // True when a datagram from `address` passes the host filters; while
    // there are filters, 0.0.0.0 and :: never do.
    bool HostAccepted(const brask::IpAddr& address);

    // Bounds the queue of datagrams waiting to be decoded (0: no bound).
    void SetQueueLimit(size_t maxItems, size_t maxBytes) {
        dataQueue_.SetLimit(maxItems, maxBytes);
    }
    // Datagrams dropped because that queue was full.
    unsigned long long DroppedDatagrams() const { return dataQueue_.Dropped(); }
    CUdpDataQueue& DataQueue() { return dataQueue_; }

    // Whether a failure of an incoming message is answered with a Report.
    static bool ShouldReport(const Message& message, const Exception& e);

protected:
    // Makes the wake-up descriptor readable, ending the loop's poll().
    void Interrupt() override;
    // The loop waits on the table's sockets without the mutex: it must stop
    // watching the old set before a socket of it is closed or its number
    // reused, so a change wakes it.
    void TableLocked() override { Interrupt(); }

private:
    // Whether the datagram of `length` bytes just read from `socket` is
    // processed on this thread rather than queued; `more` when the same read
    // brought others after it.
    bool TakeDirect(int socket, int length, bool more, const std::vector<UdpDataItem>& direct);
    // The receive buffer of `socket` as the system reports it, read once per
    // endpoint table.
    size_t ReceiveBufferBytes(int socket);
    // Processes and frees records that ReceiveBurst kept for this thread,
    // then sends in one batch what their callbacks asked to send.
    void ProcessDirect(std::vector<UdpDataItem>& items);

    // An eventfd polled beside the sockets, so that Stop and changes to the
    // endpoint table end the wait at once; -1 if none could be made, and the
    // loop then falls back to a bounded wait.
    int wakeFd_ = -1;
    std::mutex filterLock_;  // guards the four filter fields
    std::vector<Filter> filters_;
    brask::IpAddr lastAddr_;
    bool lastAccepted_ = true;
    bool filtersChanged_ = false;
    CUdpDataQueue dataQueue_;
    // The slots of one burst read, each of the buffer's size, and their storage.
    std::vector<Datagram> slots_;
    std::vector<char> slotBytes_;
    // Guarded by mutex_: (socket, bytes) of ReceiveBufferBytes, for the table
    // of `bufferGeneration_`.
    std::vector<std::pair<int, size_t>> receiveBuffers_;
    unsigned long long bufferGeneration_ = 0;
};

}  // namespace snmp

#endif
