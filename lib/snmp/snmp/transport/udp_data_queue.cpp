// Received-datagram queue with its processing thread.
#include "snmp/transport/udp_data_queue.h"

#include <iostream>

#include "velport/debug_level.h"

namespace snmp {

namespace {

void LogLine(int level, const std::string& line) {
    if (__Velmar_Debug_Level < level) return;
    std::cout << (line + "\n") << std::flush;
}

void FreeItems(std::list<UdpDataItem>& items) {
    for (UdpDataItem& item : items) delete[] item.data;
    items.clear();
}

}  // namespace

CUdpDataQueue::CUdpDataQueue(const std::string& name)
    : name_(name), items_(new std::list<UdpDataItem>()) {}

CUdpDataQueue::~CUdpDataQueue() {
    Stop();
    FreeItems(*items_);
    delete items_;
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
    const size_t n = items_->size();
    thread_.VTUnLock();
    return n;
}

bool CUdpDataQueue::AddItem(UdpDataItem item) {
    const size_t bytes = item.length > 0 ? static_cast<size_t>(item.length) : 0;
    thread_.VTLock();
    LogLine(4, "[CUdpDataQueue::AddItem] " + name_ + " - " + std::to_string(items_->size()) +
                   " items in queue");
    const size_t maxItems = maxItems_.load();
    const size_t maxBytes = maxBytes_.load();
    if ((maxItems != 0 && items_->size() >= maxItems) ||
        (maxBytes != 0 && itemBytes_ + bytes > maxBytes)) {
        thread_.VTUnLock();
        delete[] item.data;
        dropped_.fetch_add(1);
        return false;
    }
    items_->push_back(item);
    itemBytes_ += bytes;
    thread_.VTSignal();
    LogLine(4, "[CUdpDataQueue::AddItem] " + name_ + " - signalled thread");
    thread_.VTUnLock();
    return true;
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
        if (!items_->empty()) {
            std::list<UdpDataItem>* batch = items_;
            items_ = new std::list<UdpDataItem>();
            itemBytes_ = 0;
            thread_.VTUnLock();
            ProcessUdpDataQueue(*batch);
            delete batch;
            thread_.VTLock();
            // Records added during the batch are taken at once; the signal they
            // left only makes the next wait return immediately.
            continue;
        }
        // Every AddItem and Stop signals, and a signal is never lost, so the
        // thread sleeps until there is work instead of polling the list.
        thread_.VTConditionWaitNoLock();
    }
}

void CUdpDataQueue::ProcessUdpDataQueue(std::list<UdpDataItem>& batch) {
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
