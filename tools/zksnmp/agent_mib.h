// The MIB that `zksnmp agent` serves and the SNMP request semantics over it:
// Get, GetNext, GetBulk and Set with the error rules of SNMPv1 and SNMPv2c/v3,
// independent of the network so that it can be tested on its own.
#ifndef ZKSNMP_AGENT_MIB_H
#define ZKSNMP_AGENT_MIB_H

#include <functional>
#include <istream>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "snmp/asn_value.h"
#include "snmp/message.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"
#include "snmp/var_bind.h"

namespace zksnmp {

// SNMP error-status values used by the agent.
enum ErrorStatus {
    kNoError = 0,
    kTooBig = 1,
    kNoSuchName = 2,
    kBadValue = 3,
    kGenErr = 5,
    kNoAccess = 6,
    kWrongType = 7,
    kWrongLength = 8,
    kNoCreation = 11,
    kNotWritable = 17,
    kAuthorizationError = 16,
};

// The answer to one request: error-status, error-index and the bindings of
// the Response.
struct MibAnswer {
    int errorStatus = kNoError;
    int errorIndex = 0;
    snmp::VarBindList vbs;
};

// The subtrees a community or user may reach; with none, the whole MIB.
class MibView {
public:
    void Add(const snmp::ObjectId& subtree) { subtrees_.insert(subtree); }
    bool All() const { return subtrees_.empty(); }
    bool Contains(const snmp::ObjectId& oid) const;
    // The root of the first subtree after `oid`, which no subtree contains;
    // null when there is none.
    const snmp::ObjectId* NextRoot(const snmp::ObjectId& oid) const;

private:
    std::set<snmp::ObjectId> subtrees_;
};

// Octets one binding takes inside the variable-bindings SEQUENCE.
unsigned int EncodedSize(const snmp::VarBind& vb);

// An ordered store of MIB instances. Thread-safe: every public operation takes
// the store's own lock.
class AgentMib {
public:
    using Getter = std::function<snmp::AsnValue()>;

    // A fixed value. A writable instance accepts Sets of the same type whose
    // byte-string content is at most `maxSize` octets. Replaces an instance of
    // the same name.
    void Add(const snmp::ObjectId& oid, const snmp::AsnValue& value, bool writable = false,
             unsigned int maxSize = 255);
    // A read-only value computed each time it is read.
    void AddComputed(const snmp::ObjectId& oid, Getter getter);

    // The system group: sysDescr, sysObjectID, sysUpTime (from `upTime`),
    // sysContact, sysName and sysLocation (writable, up to 255 octets),
    // sysServices and sysORLastChange.
    void AddSystemGroup(const std::string& descr, const std::string& name,
                        std::function<unsigned int()> upTime);
    // The SNMP group (RFC 3418), the MPD and the USM statistics counters of
    // the library (its SnmpStats singleton), and the snmpEngine group.
    void AddStatistics(const snmp::OctetString& engineId, unsigned int boots,
                       std::function<unsigned int()> engineTime);
    // A table of `rows` rows under kTableEntry with one column per value type
    // (INTEGER index, STRING, Counter32, Gauge32, TimeTicks, IpAddress, OID,
    // Counter64, binary OCTET STRING), each value derived from the row
    // number, and the row count as the scalar kTableRows.
    void AddTable(unsigned int rows);
    // Instances from `OID TYPE VALUE` lines (or walk output). False with the
    // line number and reason in `error`; instances read before stay.
    bool LoadDump(std::istream& in, std::string& error);

    // Answers a Get (0xA0), GetNext (0xA1), GetBulk (0xA5) or Set (0xA3)
    // request. `mayWrite` tells whether the requester may set; `room` is the
    // room for the response's bindings (EncodedSize summed). Outside `view`
    // an instance does not exist for reading and may not be set (noAccess):
    // GetNext and GetBulk step over it. SNMPv1 gets
    // noSuchName / badValue errors and never sees Counter64 values; SNMPv2c and
    // SNMPv3 get exception values and the SNMPv2 error codes. A Set applies
    // every binding or none.
    MibAnswer Process(snmp::SnmpVersion version, unsigned int pduType,
                      const snmp::VarBindList& request, int nonRepeaters, int maxRepetitions,
                      bool mayWrite, unsigned int room, const MibView& view = MibView());

    // The current value of an instance; false when there is none.
    bool Lookup(const snmp::ObjectId& oid, snmp::AsnValue& value);
    size_t Size();

    static const snmp::ObjectId kTableEntry;
    static const snmp::ObjectId kTableRows;

private:
    struct Entry {
        snmp::AsnValue value;
        Getter getter;
        bool writable = false;
        unsigned int maxSize = 0;
    };
    using Map = std::map<snmp::ObjectId, Entry>;

    snmp::AsnValue ValueOf(const Entry& e) const;
    // The first usable instance in `view` after `oid`, or end().
    Map::const_iterator NextAfter(const snmp::ObjectId& oid, bool v1, const MibView& view) const;
    snmp::VarBind GetOne(const snmp::ObjectId& oid, bool v1, const MibView& view,
                         bool& missing) const;
    snmp::VarBind GetNextOne(const snmp::ObjectId& oid, bool v1, const MibView& view,
                             bool& missing) const;
    MibAnswer Bulk(const snmp::VarBindList& request, int nonRepeaters, int maxRepetitions,
                   unsigned int room, const MibView& view) const;
    MibAnswer Set(bool v1, const snmp::VarBindList& request, bool mayWrite, const MibView& view);
    void AddLocked(const snmp::ObjectId& oid, Entry entry);

    std::mutex lock_;
    Map entries_;
    // The object (parent) identifiers of the instances: a name below one of
    // them is a missing instance, any other a missing object.
    std::set<snmp::ObjectId> objects_;
};

}  // namespace zksnmp

#endif
