// The queue between the receiver thread and the thread that decodes: the
// receiver adds a copy of each datagram, the queue's own thread hands them, in
// batches, to their consumers. Each sender address has a queue of its own,
// served in turn, so that one address that floods cannot starve the others.
#ifndef SNMP_TRANSPORT_UDP_DATA_QUEUE_H
#define SNMP_TRANSPORT_UDP_DATA_QUEUE_H

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

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
    // Takes over `item.data` and queues the record. Each batch takes up to
    // kTurn records of every sender address in turn, each address's records
    // in arrival order. When the queue already holds the maximum number of
    // records or bytes, one record is dropped, its bytes freed and the drop
    // counted, and false is returned: the newest record of the address that
    // holds the most, when that is another address holding more than this
    // one's and dropping it makes room, else this record.
    bool AddItem(UdpDataItem item);
    // Records of one address in a batch while others wait.
    static constexpr size_t kTurn = 8;

    // Bounds the queue; 0 removes a bound. Applies to records added later.
    void SetLimit(size_t maxItems, size_t maxBytes);
    size_t MaxItems() const { return maxItems_.load(); }
    size_t MaxBytes() const { return maxBytes_.load(); }
    // Number of records dropped because the queue was full.
    unsigned long long Dropped() const { return dropped_.load(); }
    // Number of records waiting (not yet taken as a batch).
    size_t Pending();
    // True while the thread runs, holds no record and is not processing a
    // batch: a record the single adder processes itself instead of adding
    // then keeps its place in arrival order. Always false at debug level 4
    // and above, where every record must pass AddItem's log lines.
    bool Idle();

    const std::string& Name() const { return name_; }

private:
    // A sender's whole address: IPv6 as it is, IPv4 as its IPv4-mapped form,
    // so that no two senders ever share a turn.
    struct SourceKey {
        uint64_t high = 0;
        uint64_t low = 0;
        bool operator==(const SourceKey& other) const {
            return high == other.high && low == other.low;
        }
        bool operator!=(const SourceKey& other) const { return !(*this == other); }
    };
    struct SourceKeyHash {
        size_t operator()(const SourceKey& key) const {
            return std::hash<uint64_t>()(key.high * 0x9E3779B97F4A7C15ULL ^ key.low);
        }
    };
    static SourceKey KeyOf(const brask::SockAddr& from);

    // The records waiting from one sender address.
    struct Source {
        std::deque<UdpDataItem> items;
        size_t bytes = 0;
    };

    static unsigned int ThreadMain(void* argument);
    void UdpDataLoop();
    // Moves the next batch into batch_; the lock is held.
    void TakeBatch();
    void ProcessUdpDataQueue(std::vector<UdpDataItem>& batch);
    // Drops the newest record of `victim` to make room; the lock is held.
    void DropNewest(const SourceKey& victim);

    std::string name_;
    std::atomic<int> running_{0};
    CVelThread thread_;
    // Guarded by thread_'s mutex: the sources with records waiting, keyed by
    // address, the order in which they are served, the
    // totals, and the address that held the most records when last looked
    // (it may since hold fewer: it is a candidate, checked before use).
    std::unordered_map<SourceKey, Source, SourceKeyHash> sources_;
    std::deque<SourceKey> turns_;
    size_t items_ = 0;
    size_t itemBytes_ = 0;
    bool processing_ = false;  // a batch is being handed to its consumers
    SourceKey largest_;
    // The queue's thread's batch, kept to reuse its storage.
    std::vector<UdpDataItem> batch_;
    std::atomic<size_t> maxItems_{kDefaultMaxItems};
    std::atomic<size_t> maxBytes_{kDefaultMaxBytes};
    std::atomic<unsigned long long> dropped_{0};
};

}  // namespace snmp

#endif
