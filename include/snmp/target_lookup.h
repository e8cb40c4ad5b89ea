// The host's store of SNMPv3 peers and users as the security processing of
// messages sees it: the host derives from TargetLookup, finds the Target for a
// message and may keep the engine data and keys the library learns.
#ifndef SNMP_TARGET_LOOKUP_H
#define SNMP_TARGET_LOOKUP_H

#include "snmp/dispatcher.h"
#include "snmp/export.h"

namespace brask {
class Mutex;
}

namespace snmp {

class Message;
class Target;

// The library calls a lookup like this for every SNMPv3 message it encodes or
// decodes: Lock(); t = FindTarget(msg); copy what the message needs of *t (its
// engine data, keys, user name and protocols; all of *t when an UpdateTarget
// call will follow) and, for an outgoing message, empty the unknown-user name
// of t's attributes; Unlock(). No target: the message fails with Exception
// type 201. All further work, including every UpdateTarget call, is done on
// the copies without the lock held.
class SNMP_API TargetLookup {
public:
    // Stores `type` (TypeClient: this side is the non-authoritative engine;
    // TypeServer: the authoritative one) and creates a re-entrant mutex.
    explicit TargetLookup(Type type);
    // A copy has the same type and a mutex of its own.
    TargetLookup(const TargetLookup& other);
    // Takes the other's type; keeps its own mutex.
    TargetLookup& operator=(const TargetLookup& other);
    virtual ~TargetLookup();

    // Called with the lock held: the stored target for the peer and user of
    // `msg`, or null when none is known. The library copies from it before it
    // releases the lock and never keeps the pointer.
    virtual Target* FindTarget(const Message& msg) = 0;

    // Called without the lock, with a changed copy of the target found for
    // `msg`, when the security processing has learnt a peer's engine id (and
    // localised the keys to it), adopted newer engine boots and time from an
    // authenticated message, or prepared an authenticated outgoing message
    // for a user with a key change under way. The copy is destroyed after the
    // call: an override copies what it wants to keep into its own store,
    // taking Lock()/Unlock() itself. The base version keeps nothing.
    virtual void UpdateTarget(Target* target, const Message& msg);

    Type GetType() const { return type_; }

    // The lock that serialises the library's lookups with the host's own use
    // of its store. Re-entrant for the holding thread. Virtual so that a host
    // may put its own lock in its place; an override must still lock.
    virtual void Lock();
    virtual void Unlock();

private:
    Type type_;
    brask::Mutex* mutex_;
};

}  // namespace snmp

#endif
