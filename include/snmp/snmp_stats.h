// Process-wide SNMP protocol counters (the SNMP group, SNMPv3 message
// processing and USM statistics), kept as an observer of all traffic.
#ifndef SNMP_SNMP_STATS_H
#define SNMP_SNMP_STATS_H

#include <atomic>

#include "snmp/export.h"
#include "snmp/watch.h"

namespace snmp {

class MsgReceiver;

// Instance identifiers (leading dot) of the counters that SNMPv3 Reports carry.
SNMP_API extern const char* const SNMP_UNKNOWNHANDLER;
SNMP_API extern const char* const USM_UNSUPPORTEDLEVEL;
SNMP_API extern const char* const USM_TIMEWINDOW;
SNMP_API extern const char* const USM_UNKNOWNUSER;
SNMP_API extern const char* const USM_UNKNOWNENGINE;
SNMP_API extern const char* const USM_WRONGDIGEST;
SNMP_API extern const char* const USM_DECRYPT;

// Registered as a watch by StackInterface::Init; its event operations run
// under the watch list's lock. Any thread may read the counters at any time.
// Counters wrap modulo 2^32.
class SNMP_API SnmpStats : public Watch {
public:
    // The singleton, created with every counter at 0 on first use; safe to
    // call from several threads.
    static SnmpStats* Instance();
    // Deletes the singleton if there is one; the next Instance() starts at 0.
    // No dispatcher may exist any more.
    static void Destroy();

    // Copy every counter's current value.
    SnmpStats(const SnmpStats& other);
    SnmpStats& operator=(const SnmpStats& other);
    ~SnmpStats() override;

    // InPkts + 1.
    void OnReceive(const Message& msg) override;
    // The In* PDU, error-status and binding counters by the message's type.
    void OnDecode(const Message& msg) override;
    // OutPkts + 1 and the Out* PDU and error-status counters.
    void OnSend(const Message& msg) override;
    // The failure counter of the exception's type (nothing for types that
    // have none).
    void OnExcept(const Message& msg, const Exception& e) override;

    // The USM counter for an exception type: 23 unknown PDU handlers,
    // 200 unknown engine ids, 201 unknown user names, 202 unsupported security
    // levels, 203 wrong digests, 204 not in time window, 205 decryption errors.
    // 0 for every other type.
    unsigned int USMStat(int type) const;

    // The counters, each read atomically.
    unsigned int InPkts() const;
    unsigned int OutPkts() const;
    unsigned int InBadVers() const;
    unsigned int InBadCommStrs() const;
    unsigned int InBadCommUses() const;
    unsigned int InAsnParseErrs() const;
    unsigned int InTooBigs() const;
    unsigned int InNoSuchNames() const;
    unsigned int InBadValues() const;
    unsigned int InReadOnlys() const;
    unsigned int InGenErrs() const;
    unsigned int InTotalReqVars() const;
    unsigned int InTotalSetVars() const;
    unsigned int InGets() const;
    unsigned int InGetNexts() const;
    unsigned int InSets() const;
    unsigned int InGetResponses() const;
    unsigned int InTraps() const;
    unsigned int OutTooBigs() const;
    unsigned int OutNoSuchNames() const;
    unsigned int OutBadValues() const;
    unsigned int OutReadOnlys() const;
    unsigned int OutGenErrs() const;
    unsigned int OutGets() const;
    unsigned int OutGetNexts() const;
    unsigned int OutSets() const;
    unsigned int OutGetResponses() const;
    unsigned int OutTraps() const;
    unsigned int SilentDrops() const;
    unsigned int ProxyDrops() const;
    unsigned int UnknownSecLevel() const;
    unsigned int InvalidMessges() const;
    unsigned int UnknownHandler() const;
    unsigned int UnsupportedSecLevel() const;
    unsigned int NotInTimeWindow() const;
    unsigned int UnknownUser() const;
    unsigned int UnknownEngineId() const;
    unsigned int WrongDigest() const;
    unsigned int DecryptErrors() const;

    // Received datagrams dropped unread because a dispatcher's queue of
    // datagrams waiting to be decoded was full (see
    // StackInterface::SetReceiveQueueLimit). Not an SNMP MIB object.
    unsigned int ReceiveQueueDrops() const;

    static SnmpStats* _instance;

private:
    friend class MsgReceiver;  // counts the datagrams its queue drops
    SnmpStats();

    enum Counter {
        kInPkts,
        kOutPkts,
        kInBadVers,
        kInBadCommStrs,
        kInBadCommUses,
        kInAsnParseErrs,
        kInTooBigs,
        kInNoSuchNames,
        kInBadValues,
        kInReadOnlys,
        kInGenErrs,
        kInTotalReqVars,
        kInTotalSetVars,
        kInGets,
        kInGetNexts,
        kInSets,
        kInGetResponses,
        kInTraps,
        kOutTooBigs,
        kOutNoSuchNames,
        kOutBadValues,
        kOutReadOnlys,
        kOutGenErrs,
        kOutGets,
        kOutGetNexts,
        kOutSets,
        kOutGetResponses,
        kOutTraps,
        kSilentDrops,
        kProxyDrops,
        kUnknownSecLevel,
        kInvalidMessges,
        kUnknownHandler,
        kUnsupportedSecLevel,
        kNotInTimeWindow,
        kUnknownUser,
        kUnknownEngineId,
        kWrongDigest,
        kDecryptErrors,
        kReceiveQueueDrops,
        kCounterCount
    };
    unsigned int Get(Counter c) const { return counters_[c].load(std::memory_order_relaxed); }
    void Add(Counter c, unsigned int n = 1) {
        counters_[c].fetch_add(n, std::memory_order_relaxed);
    }

    // Atomic so that the host and the dispatchers may read them while the
    // socket tasks count.
    std::atomic<unsigned int> counters_[kCounterCount];
};

}  // namespace snmp

#endif
