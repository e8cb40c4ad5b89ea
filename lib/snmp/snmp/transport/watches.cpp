// Observer fan-out for the socket tasks, and the host filter value class.
#include "snmp/transport/watches.h"

#include "snmp/prefix_filter.h"

namespace snmp {

Watch::~Watch() = default;

// All ones of the address's family (255.255.255.255 for IPv4), built from
// numbers so that filters made during static initialisation elsewhere do not
// depend on the order of initialisation.
Filter::Filter(const brask::IpAddr& addr)
    : addr_(addr), mask_(brask::IpAddr::PrefixMask(addr.Version(), 128)) {}

Filter::Filter(const brask::IpAddr& addr, const brask::IpAddr& mask) : addr_(addr), mask_(mask) {}

bool Filter::Match(const Filter& other) const {
    // Masking across families gives the invalid address on both sides, which
    // would compare equal: a filter only ever matches its own family.
    const int family = addr_.Version();
    if (mask_.Version() != family || other.Addr().Version() != family) return false;
    return (other.Addr() & mask_) == (addr_ & mask_);
}

Filter PrefixFilter(const brask::IpAddr& network, unsigned int length) {
    return Filter(network, brask::IpAddr::PrefixMask(network.Version(), length));
}

bool Filter::operator==(const Filter& other) const {
    return addr_ == other.addr_ && mask_ == other.mask_;
}

void Watches::Add(Watch* watch) {
    std::lock_guard<std::mutex> guard(lock_);
    set_.insert(watch);
}

void Watches::Remove(Watch* watch) {
    std::lock_guard<std::mutex> guard(lock_);
    set_.erase(watch);
}

void Watches::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    set_.clear();
}

size_t Watches::Size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return set_.size();
}

void Watches::OnReceive(const Message& msg) {
    std::lock_guard<std::mutex> guard(lock_);
    for (Watch* w : set_) w->OnReceive(msg);
}

void Watches::OnDecode(const Message& msg) {
    std::lock_guard<std::mutex> guard(lock_);
    for (Watch* w : set_) w->OnDecode(msg);
}

void Watches::OnSend(const Message& msg) {
    std::lock_guard<std::mutex> guard(lock_);
    for (Watch* w : set_) w->OnSend(msg);
}

void Watches::OnExcept(const Message& msg, const Exception& e) {
    std::lock_guard<std::mutex> guard(lock_);
    for (Watch* w : set_) w->OnExcept(msg, e);
}

}  // namespace snmp
