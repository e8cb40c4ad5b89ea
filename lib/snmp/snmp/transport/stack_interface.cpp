// The process-wide stack singleton.
#include "snmp/stack_interface.h"

#include <algorithm>

#include "snmp/snmp_stats.h"
#include "snmp/transport/sock_processor.h"
#include "snmp/transport/watches.h"

namespace snmp {

StackInterface* StackInterface::_instance = nullptr;

namespace {
// Dispatchers may be created on several host threads at once, and each one
// reaches for the singleton. Never destroyed, so that it outlives every use.
std::mutex& SingletonLock() {
    static auto* lock = new std::mutex();
    return *lock;
}
}  // namespace

StackInterface* StackInterface::Instance() {
    std::lock_guard<std::mutex> guard(SingletonLock());
    if (_instance == nullptr) _instance = new StackInterface();
    return _instance;
}

void StackInterface::Destroy() {
    std::lock_guard<std::mutex> guard(SingletonLock());
    delete _instance;
    _instance = nullptr;
}

StackInterface::StackInterface()
    : watches_(std::make_shared<Watches>()), lock_(std::make_unique<std::mutex>()) {}

StackInterface::~StackInterface() = default;

StackInterface::StackInterface(const StackInterface& other)
    : watches_(other.watches_), lock_(std::make_unique<std::mutex>()) {
    std::lock_guard<std::mutex> guard(*other.lock_);
    idle_ = other.idle_;
    queueLimitSet_ = other.queueLimitSet_;
    queueMaxItems_ = other.queueMaxItems_;
    queueMaxBytes_ = other.queueMaxBytes_;
    receivers_ = other.receivers_;
}

StackInterface& StackInterface::operator=(const StackInterface& other) {
    if (this == &other) return *this;
    std::scoped_lock guard(*lock_, *other.lock_);
    idle_ = other.idle_;
    queueLimitSet_ = other.queueLimitSet_;
    queueMaxItems_ = other.queueMaxItems_;
    queueMaxBytes_ = other.queueMaxBytes_;
    receivers_ = other.receivers_;
    watches_ = other.watches_;
    return *this;
}

void StackInterface::Init() {
    std::lock_guard<std::mutex> guard(*lock_);
    if (!idle_) return;
    watches_->Add(SnmpStats::Instance());
    idle_ = false;
}

void StackInterface::Shutdown() {
    std::lock_guard<std::mutex> guard(*lock_);
    watches_->Clear();
    receivers_.clear();
    idle_ = true;
}

void StackInterface::RegisterReceiver(MsgReceiver* receiver) {
    std::lock_guard<std::mutex> guard(*lock_);
    if (queueLimitSet_) receiver->SetQueueLimit(queueMaxItems_, queueMaxBytes_);
    receivers_.push_back(receiver);
}

void StackInterface::DeregisterReceiver(MsgReceiver* receiver) {
    std::lock_guard<std::mutex> guard(*lock_);
    receivers_.erase(std::remove(receivers_.begin(), receivers_.end(), receiver), receivers_.end());
}

void StackInterface::RegisterWatch(Watch* watch) {
    watches_->Add(watch);
}

void StackInterface::DeregisterWatch(Watch* watch) {
    watches_->Remove(watch);
}

Watches& StackInterface::GetWatches() {
    return *watches_;
}

void StackInterface::AddHost(Filter& filter) {
    std::lock_guard<std::mutex> guard(*lock_);
    for (MsgReceiver* r : receivers_) r->AddHost(filter);
}

void StackInterface::RemoveHost(Filter& filter) {
    std::lock_guard<std::mutex> guard(*lock_);
    for (MsgReceiver* r : receivers_) r->RemoveHost(filter);
}

void StackInterface::SetReceiveQueueLimit(size_t maxItems, size_t maxBytes) {
    std::lock_guard<std::mutex> guard(*lock_);
    queueLimitSet_ = true;
    queueMaxItems_ = maxItems;
    queueMaxBytes_ = maxBytes;
    for (MsgReceiver* r : receivers_) r->SetQueueLimit(maxItems, maxBytes);
}

unsigned long long StackInterface::ReceiveQueueDrops() {
    std::lock_guard<std::mutex> guard(*lock_);
    unsigned long long total = 0;
    for (MsgReceiver* r : receivers_) total += r->DroppedDatagrams();
    return total;
}

}  // namespace snmp
