// Shared pieces of the benchmark programs: a heap-allocation counter, the
// messages every figure measures, and SNMPv3 users and lookups for them.
#ifndef BENCH_BENCH_SUPPORT_H
#define BENCH_BENCH_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "snmp/message.h"
#include "snmp/octet_string.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"
#include "snmp/var_bind.h"

namespace zkbench {

// Calls to malloc, calloc, realloc and the aligned allocators made by this
// process since it started (operator new and OpenSSL both end up there).
std::uint64_t HeapAllocations();

using Bytes = std::vector<unsigned char>;

// The SNMPv3 user of every authPriv figure.
constexpr const char* kUser = "benchuser";
constexpr const char* kAuthPass = "benchauthpass";
constexpr const char* kPrivPass = "benchprivpass";
snmp::OctetString EngineId();  // the authoritative engine of the codec figures

// The names of `count` columns of ifTable rows: 1.3.6.1.2.1.2.2.1.<col>.<row>.
snmp::ObjectId IfTableOid(int index);

// `count` bindings with NULL values (a request).
snmp::VarBindList NullBindings(int count);

// `count` bindings of the types an agent answers with, cycling through
// Integer32, OCTET STRING, Counter32, Gauge32, TimeTicks, OBJECT IDENTIFIER,
// IpAddress and Counter64; `textLength` sets the OCTET STRING size.
snmp::VarBindList MixedBindings(int count, unsigned int textLength);

// An SNMPv2c message of `type` with `vbs` and community "public".
snmp::Message V2cMessage(snmp::PduType type, const snmp::VarBindList& vbs, int requestId);

// Encodes `msg` into a fresh byte vector.
Bytes Encode(const snmp::Message& msg);

// A target for kUser with HMAC-SHA-96 and CBC-DES, keys localised to
// `engineId` (when it is not empty), the given boots and time.
snmp::Target V3Target(const snmp::OctetString& engineId, unsigned int boots, unsigned int time,
                      snmp::USMAuthProtocol auth = snmp::USMAuthSHA1,
                      snmp::USMPrivProtocol priv = snmp::USMPrivDES);

// A lookup that answers every message with one target and keeps what the
// security processing learns about the peer.
class OneTargetLookup : public snmp::TargetLookup {
public:
    OneTargetLookup(snmp::Type type, const snmp::Target& target);
    snmp::Target* FindTarget(const snmp::Message& msg) override;
    void UpdateTarget(snmp::Target* target, const snmp::Message& msg) override;
    snmp::Target& Stored() { return target_; }

private:
    snmp::Target target_;
};

// An SNMPv3 authPriv message of `type` for kUser, bound to `lookup`.
snmp::Message V3Message(snmp::PduType type, const snmp::VarBindList& vbs, int requestId,
                        snmp::Target& target, snmp::TargetLookup& lookup);

}  // namespace zkbench

#endif
