// Received-datagram queue with its processing thread.
#include "snmp/transport/udp_data_queue.h"

#include <cstring>

#include <iostream>

#include "velport/debug_level.h"

namespace snmp {

namespace {

// The per-datagram lines are built only when the level asks for them: the
// texts would otherwise cost three strings on every datagram.
bool Logging(int level) {
    return __Velmar_Debug_Level >= level;
}

void LogLine(int level, const std::string& line) {
    if (!Logging(level)) return;
    std::cout << (line + "\n") << std::flush;
}

}  // namespace

CUdpDataQueue::CUdpDataQueue(const std::string& name) : name_(name) {}

CUdpDataQueue::~CUdpDataQueue() {
    Stop();
    for (auto& source : sources_) {
        for (UdpDataItem& item : source.second.items) delete[] item.data;
    }
}

void CUdpDataQueue::Start() {
    if (running_.load() != 0) return;
    running_.store(1);
    thread_.VTCreateThread(&CUdpDataQueue::ThreadMain, this, 1);
}

void CUdpDataQueue::Stop() {
    if (running_.load() == 0) return;
    running_.store(0);
    thread_.VTSignal();
    thread_.VTJoinThread();
}

void CUdpDataQueue::SetLimit(size_t maxItems, size_t maxBytes) {
    maxItems_.store(maxItems);
    maxBytes_.store(maxBytes);
}

size_t CUdpDataQueue::Pending() {
    thread_.VTLock();
    const size_t n = items_;
    thread_.VTUnLock();
    return n;
}

bool CUdpDataQueue::Idle() {
    if (__Velmar_Debug_Level >= 4 || running_.load() == 0) return false;
    thread_.VTLock();
    const bool idle = items_ == 0 && !processing_;
    thread_.VTUnLock();
    return idle;
}

void CUdpDataQueue::DropNewest(const SourceKey& victim) {
    // The source stays in the table even when this empties it: its turn
    // comes and removes it, so that an address is never in turns_ twice.
    Source& source = sources_[victim];
    UdpDataItem& item = source.items.back();
    const size_t bytes = item.length > 0 ? static_cast<size_t>(item.length) : 0;
    delete[] item.data;
    source.items.pop_back();
    source.bytes -= bytes;
    --items_;
    itemBytes_ -= bytes;
    dropped_.fetch_add(1);
}

CUdpDataQueue::SourceKey CUdpDataQueue::KeyOf(const brask::SockAddr& from) {
    unsigned char bytes[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (from.any.sa_family == AF_INET6) {
        std::memcpy(bytes, from.v6.sin6_addr.s6_addr, sizeof bytes);
    } else {
        std::memcpy(bytes + 12, &from.v4.sin_addr.s_addr, 4);
    }
    SourceKey key;
    std::memcpy(&key.high, bytes, 8);
    std::memcpy(&key.low, bytes + 8, 8);
    return key;
}

bool CUdpDataQueue::AddItem(UdpDataItem item) {
    const size_t bytes = item.length > 0 ? static_cast<size_t>(item.length) : 0;
    const SourceKey address = KeyOf(item.from);
    thread_.VTLock();
    if (Logging(4))
        LogLine(4, "[CUdpDataQueue::AddItem] " + name_ + " - " + std::to_string(items_) +
                       " items in queue");
    const size_t maxItems = maxItems_.load();
    const size_t maxBytes = maxBytes_.load();
    bool dropped = false;
    if ((maxItems != 0 && items_ >= maxItems) || (maxBytes != 0 && itemBytes_ + bytes > maxBytes)) {
        auto own = sources_.find(address);
        const size_t ownItems = own == sources_.end() ? 0 : own->second.items.size();
        auto largest = sources_.find(largest_);
        if (largest == sources_.end()) {
            // The last one found has been served out: look again, once.
            for (auto it = sources_.begin(); it != sources_.end(); ++it) {
                if (largest == sources_.end() ||
                    it->second.items.size() > largest->second.items.size()) {
                    largest = it;
                }
            }
            if (largest != sources_.end()) largest_ = largest->first;
        }
        const bool evict =
            largest != sources_.end() && largest->first != address &&
            largest->second.items.size() > ownItems &&
            (maxBytes == 0 ||
             itemBytes_ - static_cast<size_t>(largest->second.items.back().length) + bytes <=
                 maxBytes);
        if (!evict) {
            thread_.VTUnLock();
            delete[] item.data;
            dropped_.fetch_add(1);
            return false;
        }
        DropNewest(largest->first);
        dropped = true;
    }
    // Built in place: a deque moved into the table would allocate twice more.
    auto inserted = sources_.try_emplace(address);
    Source& source = inserted.first->second;
    if (inserted.second) turns_.push_back(address);
    source.items.push_back(item);
    source.bytes += bytes;
    ++items_;
    itemBytes_ += bytes;
    auto largest = sources_.find(largest_);
    if (largest == sources_.end() || source.items.size() > largest->second.items.size()) {
        largest_ = address;
    }
    thread_.VTUnLock();
    // Signalled after the unlock, so that the woken thread does not at once
    // block on the mutex this thread still holds.
    thread_.VTSignal();
    if (Logging(4)) LogLine(4, "[CUdpDataQueue::AddItem] " + name_ + " - signalled thread");
    return !dropped;
}

void CUdpDataQueue::TakeBatch() {
    // One round: every address that has records gets its turn once.
    for (size_t n = turns_.size(); n != 0; --n) {
        const SourceKey address = turns_.front();
        turns_.pop_front();
        Source& source = sources_[address];
        for (size_t i = 0; i < kTurn && !source.items.empty(); ++i) {
            UdpDataItem& item = source.items.front();
            const size_t bytes = item.length > 0 ? static_cast<size_t>(item.length) : 0;
            source.bytes -= bytes;
            itemBytes_ -= bytes;
            --items_;
            batch_.push_back(item);
            source.items.pop_front();
        }
        if (source.items.empty()) {
            sources_.erase(address);
        } else {
            turns_.push_back(address);
        }
    }
}

unsigned int CUdpDataQueue::ThreadMain(void* argument) {
    static_cast<CUdpDataQueue*>(argument)->UdpDataLoop();
    return 0;
}

void CUdpDataQueue::UdpDataLoop() {
    LogLine(1, "[CUdpDataQueue::UdpDataLoop] " + name_ + " - entering processing loop");
    thread_.VTLock();
    for (;;) {
        if (running_.load() == 0) {
            thread_.VTUnLock();
            return;
        }
        if (items_ != 0) {
            TakeBatch();
            processing_ = true;
            thread_.VTUnLock();
            ProcessUdpDataQueue(batch_);
            thread_.VTLock();
            processing_ = false;
            // Records added during the batch are taken at once; the signal they
            // left only makes the next wait return immediately.
            continue;
        }
        // Every AddItem and Stop signals, and a signal is never lost, so the
        // thread sleeps until there is work instead of polling the list.
        thread_.VTConditionWaitNoLock();
    }
}

void CUdpDataQueue::ProcessUdpDataQueue(std::vector<UdpDataItem>& batch) {
    if (Logging(4))
        LogLine(4, "[CUdpDataQueue::ProcessUdpDataQueue] " + name_ + " - " +
                       std::to_string(batch.size()) + " items in queue");
    for (UdpDataItem& item : batch) {
        // An escaping exception would end the thread and with it all further
        // receiving; the record is given up instead.
        try {
            item.consumer->OnUdpData(item);
        } catch (...) {
        }
        delete[] item.data;
        item.data = nullptr;
    }
    batch.clear();
}

}  // namespace snmp
