// The process-wide stack singleton: the observer list every socket task
// notifies and the registry of receivers that host filters apply to.
#ifndef SNMP_STACK_INTERFACE_H
#define SNMP_STACK_INTERFACE_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "snmp/export.h"

namespace snmp {

class MsgReceiver;
class Watch;
class Watches;
class Filter;

class SNMP_API StackInterface {
public:
    // The singleton, created on first use; safe to call from several threads.
    // Never fails.
    static StackInterface* Instance();
    // Deletes the singleton if there is one; the next Instance() builds a fresh
    // one. Every dispatcher must have been destroyed before.
    static void Destroy();

    // Copies share the observer list with the original.
    StackInterface(const StackInterface& other);
    StackInterface& operator=(const StackInterface& other);

    // First call after creation or after Shutdown registers the statistics
    // singleton as a watch; later calls do nothing.
    void Init();
    // Forgets every watch (the statistics watch and the host's) and every
    // registered receiver; the next Init registers the statistics watch again.
    // Dispatchers call Init when they start and Shutdown only when the last
    // started dispatcher of the process is deleted.
    void Shutdown();

    // Adds a receiver (not owned) to those that host filters apply to.
    void RegisterReceiver(MsgReceiver* receiver);
    // Removes a receiver; does nothing when it is not registered.
    void DeregisterReceiver(MsgReceiver* receiver);
    // Adds / removes an observer (not owned); a pointer is held at most once.
    void RegisterWatch(Watch* watch);
    void DeregisterWatch(Watch* watch);
    // The observer list the socket tasks notify.
    Watches& GetWatches();

    // Appends a copy of `filter` to the host filters of every registered
    // receiver; once a receiver has filters, a datagram that starts like an
    // SNMP message (a BER SEQUENCE) is dropped silently unless its source
    // matches one of them. Other datagrams are not filtered: they reach the
    // decoder, which rejects them. Receivers registered later start without
    // filters; a deleted dispatcher's receiver leaves the registry, and
    // deleting the last started dispatcher forgets every registration.
    void AddHost(Filter& filter);
    // Removes every host filter equal to `filter` from every registered receiver.
    void RemoveHost(Filter& filter);

    // Bounds the queue of received datagrams that wait to be decoded, per
    // receiver: at most `maxItems` datagrams and `maxBytes` bytes (0: no
    // bound). Applies to the registered receivers and to those registered
    // later; until called, each receiver allows 65536 datagrams and 64 MiB.
    // Datagrams that do not fit are dropped and counted (here and in
    // SnmpStats::ReceiveQueueDrops).
    void SetReceiveQueueLimit(size_t maxItems, size_t maxBytes);
    // Datagrams dropped so far because a registered receiver's queue was full
    // (summed over the registered receivers).
    unsigned long long ReceiveQueueDrops();

    static StackInterface* _instance;

private:
    StackInterface();
    ~StackInterface();

    bool idle_ = true;
    bool queueLimitSet_ = false;
    size_t queueMaxItems_ = 0;
    size_t queueMaxBytes_ = 0;
    std::vector<MsgReceiver*> receivers_;
    std::shared_ptr<Watches> watches_;
    // Guards idle_ and receivers_ against dispatchers created and destroyed
    // on other threads.
    std::unique_ptr<std::mutex> lock_;
};

}  // namespace snmp

#endif
