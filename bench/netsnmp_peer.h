// net-snmp as a peer of the benchmarks, through its public library API only:
// a session for building and parsing SNMPv2c and SNMPv3 messages in memory.
#ifndef BENCH_NETSNMP_PEER_H
#define BENCH_NETSNMP_PEER_H

#ifdef ZK_HAVE_NETSNMP

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <string>
#include <vector>

#include "snmp/octet_string.h"
#include "snmp/var_bind.h"

namespace zkbench {

// Starts net-snmp once per process, without reading configuration files.
void NetSnmpInit();

// An in-memory net-snmp session: SNMPv2c with community "public", or SNMPv3
// authPriv (HMAC-SHA-96, CBC-DES) for kUser at `engineId`.
class NetSnmpCodec {
public:
    NetSnmpCodec();  // SNMPv2c
    explicit NetSnmpCodec(const snmp::OctetString& engineId);
    ~NetSnmpCodec();
    NetSnmpCodec(const NetSnmpCodec&) = delete;
    NetSnmpCodec& operator=(const NetSnmpCodec&) = delete;

    // A PDU of `command` with the names of `vbs` and NULL values.
    netsnmp_pdu* NullPdu(int command, const snmp::VarBindList& vbs) const;
    // Builds `pdu` (not freed) into `out`; false when net-snmp refuses.
    bool Build(netsnmp_pdu* pdu, std::vector<unsigned char>& out);
    // Parses a datagram (net-snmp changes it in place) into a new PDU (free it with snmp_free_pdu),
    // or null.
    netsnmp_pdu* Parse(unsigned char* data, size_t size);

private:
    netsnmp_session session_{};
    void* opened_ = nullptr;  // the session_list of an opened SNMPv3 session
    netsnmp_session* live_ = nullptr;
    std::vector<unsigned char> buffer_;
};

}  // namespace zkbench

#endif
#endif
