// The locked list of registered observers that the socket tasks notify; it
// fans every event out to each observer in ascending address order.
#ifndef SNMP_TRANSPORT_WATCHES_H
#define SNMP_TRANSPORT_WATCHES_H

#include <mutex>
#include <set>

#include "snmp/watch.h"

namespace snmp {

class Watches : public Watch {
public:
    Watches() = default;
    Watches(const Watches&) = delete;
    Watches& operator=(const Watches&) = delete;
    ~Watches() override = default;

    // Registers an observer (not owned); no effect when already present.
    void Add(Watch* watch);
    // Forgets an observer; no effect when it is not registered.
    void Remove(Watch* watch);
    // Forgets every observer.
    void Clear();
    // Number of registered observers.
    size_t Size() const;

    // Each holds the lock for the whole fan-out, so at most one observer
    // callback runs at a time.
    void OnReceive(const Message& msg) override;
    void OnDecode(const Message& msg) override;
    void OnSend(const Message& msg) override;
    void OnExcept(const Message& msg, const Exception& e) override;

private:
    mutable std::mutex lock_;
    std::set<Watch*> set_;
};

}  // namespace snmp

#endif
