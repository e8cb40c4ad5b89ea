// Observer fan-out for the socket tasks.
#include "snmp/transport/watches.h"

namespace snmp {

Watch::~Watch() = default;

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
