// Process-wide SNMP protocol counters (the SNMP group, SNMPv3 message
// processing and USM statistics), kept as an observer of all traffic.
#ifndef SNMP_SNMP_STATS_H
#define SNMP_SNMP_STATS_H

#include "snmp/export.h"
#include "snmp/watch.h"

namespace snmp {

// Instance identifiers (leading dot) of the counters that SNMPv3 Reports carry.
SNMP_API extern const char* const SNMP_UNKNOWNHANDLER;
SNMP_API extern const char* const USM_UNSUPPORTEDLEVEL;
SNMP_API extern const char* const USM_TIMEWINDOW;
SNMP_API extern const char* const USM_UNKNOWNUSER;
SNMP_API extern const char* const USM_UNKNOWNENGINE;
SNMP_API extern const char* const USM_WRONGDIGEST;
SNMP_API extern const char* const USM_DECRYPT;

// Registered as a watch by StackInterface::Init; its event operations run
// under the watch list's lock, so the counters need none of their own. The
// getters read without a lock. Counters wrap modulo 2^32.
class SNMP_API SnmpStats : public Watch {
public:
    // The singleton, created with every counter at 0 on first use. Not locked:
    // the first call must not race with another.
    static SnmpStats* Instance();
    // Deletes the singleton if there is one; the next Instance() starts at 0.
    static void Destroy();

    SnmpStats(const SnmpStats& other) = default;
    SnmpStats& operator=(const SnmpStats& other) = default;
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

    unsigned int InPkts() const { return inPkts_; }
    unsigned int OutPkts() const { return outPkts_; }
    unsigned int InBadVers() const { return inBadVers_; }
    unsigned int InBadCommStrs() const { return inBadCommStrs_; }
    unsigned int InBadCommUses() const { return inBadCommUses_; }
    unsigned int InAsnParseErrs() const { return inAsnParseErrs_; }
    unsigned int InTooBigs() const { return inTooBigs_; }
    unsigned int InNoSuchNames() const { return inNoSuchNames_; }
    unsigned int InBadValues() const { return inBadValues_; }
    unsigned int InReadOnlys() const { return inReadOnlys_; }
    unsigned int InGenErrs() const { return inGenErrs_; }
    unsigned int InTotalReqVars() const { return inTotalReqVars_; }
    unsigned int InTotalSetVars() const { return inTotalSetVars_; }
    unsigned int InGets() const { return inGets_; }
    unsigned int InGetNexts() const { return inGetNexts_; }
    unsigned int InSets() const { return inSets_; }
    unsigned int InGetResponses() const { return inGetResponses_; }
    unsigned int InTraps() const { return inTraps_; }
    unsigned int OutTooBigs() const { return outTooBigs_; }
    unsigned int OutNoSuchNames() const { return outNoSuchNames_; }
    unsigned int OutBadValues() const { return outBadValues_; }
    unsigned int OutReadOnlys() const { return outReadOnlys_; }
    unsigned int OutGenErrs() const { return outGenErrs_; }
    unsigned int OutGets() const { return outGets_; }
    unsigned int OutGetNexts() const { return outGetNexts_; }
    unsigned int OutSets() const { return outSets_; }
    unsigned int OutGetResponses() const { return outGetResponses_; }
    unsigned int OutTraps() const { return outTraps_; }
    unsigned int SilentDrops() const { return silentDrops_; }
    unsigned int ProxyDrops() const { return proxyDrops_; }
    unsigned int UnknownSecLevel() const { return unknownSecLevel_; }
    unsigned int InvalidMessges() const { return invalidMessges_; }
    unsigned int UnknownHandler() const { return unknownHandler_; }
    unsigned int UnsupportedSecLevel() const { return unsupportedSecLevel_; }
    unsigned int NotInTimeWindow() const { return notInTimeWindow_; }
    unsigned int UnknownUser() const { return unknownUser_; }
    unsigned int UnknownEngineId() const { return unknownEngineId_; }
    unsigned int WrongDigest() const { return wrongDigest_; }
    unsigned int DecryptErrors() const { return decryptErrors_; }

    static SnmpStats* _instance;

private:
    SnmpStats() = default;

    unsigned int inPkts_ = 0;
    unsigned int outPkts_ = 0;
    unsigned int inBadVers_ = 0;
    unsigned int inBadCommStrs_ = 0;
    unsigned int inBadCommUses_ = 0;
    unsigned int inAsnParseErrs_ = 0;
    unsigned int inTooBigs_ = 0;
    unsigned int inNoSuchNames_ = 0;
    unsigned int inBadValues_ = 0;
    unsigned int inReadOnlys_ = 0;
    unsigned int inGenErrs_ = 0;
    unsigned int inTotalReqVars_ = 0;
    unsigned int inTotalSetVars_ = 0;
    unsigned int inGets_ = 0;
    unsigned int inGetNexts_ = 0;
    unsigned int inSets_ = 0;
    unsigned int inGetResponses_ = 0;
    unsigned int inTraps_ = 0;
    unsigned int outTooBigs_ = 0;
    unsigned int outNoSuchNames_ = 0;
    unsigned int outBadValues_ = 0;
    unsigned int outReadOnlys_ = 0;
    unsigned int outGenErrs_ = 0;
    unsigned int outGets_ = 0;
    unsigned int outGetNexts_ = 0;
    unsigned int outSets_ = 0;
    unsigned int outGetResponses_ = 0;
    unsigned int outTraps_ = 0;
    unsigned int silentDrops_ = 0;
    unsigned int proxyDrops_ = 0;
    unsigned int unknownSecLevel_ = 0;
    unsigned int invalidMessges_ = 0;
    unsigned int unknownHandler_ = 0;
    unsigned int unsupportedSecLevel_ = 0;
    unsigned int notInTimeWindow_ = 0;
    unsigned int unknownUser_ = 0;
    unsigned int unknownEngineId_ = 0;
    unsigned int wrongDigest_ = 0;
    unsigned int decryptErrors_ = 0;
};

}  // namespace snmp

#endif
