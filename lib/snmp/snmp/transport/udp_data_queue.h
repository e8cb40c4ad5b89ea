// The queue between the receiver thread and the thread that decodes: the
// receiver adds a copy of each datagram, the queue's own thread hands them, in
// arrival order and in batches, to their consumers.
#ifndef SNMP_TRANSPORT_UDP_DATA_QUEUE_H
#define SNMP_TRANSPORT_UDP_DATA_QUEUE_H

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <list>
#include <string>

#include "brask/ip_addr.h"
#include "velbase/vel_thread.h"

namespace snmp {

struct UdpDataItem;

// Whoever processes a queued datagram.
class IUdpDataConsumer {
public:
    // Runs on the queue's thread. The item's bytes are freed as soon as it
    // returns: copy what must be kept. Must not throw.
    virtual void OnUdpData(UdpDataItem& item) = 0;

protected:
    ~IUdpDataConsumer() = default;
};

// One received datagram.
struct UdpDataItem {
    // A copy of the datagram, allocated with new[] of exactly `length` bytes;
    // AddItem takes it over.
    unsigned char* data = nullptr;
    int length = 0;
    // The sender's address (IPv4 or IPv6) and port, in network byte order.
    brask::SockAddr from{};
    // The port of the local endpoint that received it, in host byte order.
    unsigned short localPort = 0;
    IUdpDataConsumer* consumer = nullptr;
};

class CUdpDataQueue {
public:
    // Defaults for the bound on what may wait in the queue: generous enough
    // for bursts, small enough that a stalled consumer cannot exhaust memory.
    static constexpr size_t kDefaultMaxItems = 65536;
    static constexpr size_t kDefaultMaxBytes = 64u * 1024u * 1024u;

    // `name` appears in every log line.
    explicit CUdpDataQueue(const std::string& name);
    CUdpDataQueue(const CUdpDataQueue&) = delete;
    CUdpDataQueue& operator=(const CUdpDataQueue&) = delete;
    // Stops the thread and frees every record still waiting, undelivered.
    virtual ~CUdpDataQueue();

    // Starts the thread unless it runs. Call from the owner's thread.
    void Start();
    // Ends the thread after its current batch and waits for it; records that
    // came in after the last batch stay queued. No effect when not running.
    void Stop();
    // Takes over `item.data` and queues the record. When the queue already
    // holds the maximum number of records or bytes, the record is dropped, its
    // bytes freed, the drop counted, and false returned.
    bool AddItem(UdpDataItem item);

    // Bounds the queue; 0 removes a bound. Applies to records added later.
    void SetLimit(size_t maxItems, size_t maxBytes);
    size_t MaxItems() const { return maxItems_.load(); }
    size_t MaxBytes() const { return maxBytes_.load(); }
    // Number of records dropped because the queue was full.
    unsigned long long Dropped() const { return dropped_.load(); }
    // Number of records waiting (not yet taken as a batch).
    size_t Pending();

    const std::string& Name() const { return name_; }

private:
    static unsigned int ThreadMain(void* argument);
    void UdpDataLoop();
    void ProcessUdpDataQueue(std::list<UdpDataItem>& batch);

    std::string name_;
    std::atomic<int> running_{0};
    CVelThread thread_;
    // Guarded by thread_'s mutex.
    std::list<UdpDataItem>* items_;
    size_t itemBytes_ = 0;
    std::atomic<size_t> maxItems_{kDefaultMaxItems};
    std::atomic<size_t> maxBytes_{kDefaultMaxBytes};
    std::atomic<unsigned long long> dropped_{0};
};

}  // namespace snmp

#endif
