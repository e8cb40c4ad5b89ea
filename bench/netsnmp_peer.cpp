// net-snmp as a peer of the benchmarks: in-memory building and parsing of
// messages with net-snmp's public library API.
#include "netsnmp_peer.h"

#ifdef ZK_HAVE_NETSNMP

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "bench_support.h"

namespace zkbench {

void NetSnmpInit() {
    static const bool done = [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        snmp_disable_log();
        // No MIB files: the figures use numeric names only.
        setenv("MIBDIRS", "/nonexistent", 1);
        setenv("MIBS", "", 1);
        init_snmp("zkbench");
        return true;
    }();
    (void)done;
}

NetSnmpCodec::NetSnmpCodec() : buffer_(65536) {
    NetSnmpInit();
    snmp_sess_init(&session_);
    session_.version = SNMP_VERSION_2c;
    static char community[] = "public";
    session_.community = reinterpret_cast<u_char*>(community);
    session_.community_len = std::strlen(community);
    live_ = &session_;
}

NetSnmpCodec::NetSnmpCodec(const snmp::OctetString& engineId) : buffer_(65536) {
    NetSnmpInit();
    snmp_sess_init(&session_);
    session_.version = SNMP_VERSION_3;
    static char peer[] = "udp:127.0.0.1:9";
    session_.peername = peer;
    static char user[64];
    std::strncpy(user, kUser, sizeof user - 1);
    session_.securityName = user;
    session_.securityNameLen = std::strlen(user);
    session_.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
    session_.securityAuthProto = usmHMACSHA1AuthProtocol;
    session_.securityAuthProtoLen = OID_LENGTH(usmHMACSHA1AuthProtocol);
    session_.securityPrivProto = usmDESPrivProtocol;
    session_.securityPrivProtoLen = OID_LENGTH(usmDESPrivProtocol);
    session_.securityAuthKeyLen = USM_AUTH_KU_LEN;
    session_.securityPrivKeyLen = USM_PRIV_KU_LEN;
    if (generate_Ku(session_.securityAuthProto, session_.securityAuthProtoLen,
                    reinterpret_cast<const u_char*>(kAuthPass), std::strlen(kAuthPass),
                    session_.securityAuthKey, &session_.securityAuthKeyLen) != SNMPERR_SUCCESS ||
        generate_Ku(session_.securityAuthProto, session_.securityAuthProtoLen,
                    reinterpret_cast<const u_char*>(kPrivPass), std::strlen(kPrivPass),
                    session_.securityPrivKey, &session_.securityPrivKeyLen) != SNMPERR_SUCCESS) {
        throw std::runtime_error("net-snmp: generate_Ku failed");
    }
    static std::vector<unsigned char> engine;
    engine.assign(engineId.Data(), engineId.Data() + engineId.Size());
    session_.securityEngineID = engine.data();
    session_.securityEngineIDLen = engine.size();
    session_.contextEngineID = engine.data();
    session_.contextEngineIDLen = engine.size();
    opened_ = snmp_sess_open(&session_);
    if (opened_ == nullptr) throw std::runtime_error("net-snmp: snmp_sess_open failed");
    live_ = snmp_sess_session(opened_);
}

NetSnmpCodec::~NetSnmpCodec() {
    if (opened_ != nullptr) snmp_sess_close(opened_);
}

netsnmp_pdu* NetSnmpCodec::NullPdu(int command, const snmp::VarBindList& vbs) const {
    netsnmp_pdu* pdu = snmp_pdu_create(command);
    // What net-snmp's send path fills in from the session before it builds.
    const netsnmp_session& s = *live_;
    pdu->version = s.version;
    if (s.version == SNMP_VERSION_3) {
        pdu->securityModel = SNMP_SEC_MODEL_USM;
        pdu->securityLevel = s.securityLevel;
        pdu->securityName = static_cast<char*>(netsnmp_memdup(s.securityName, s.securityNameLen));
        pdu->securityNameLen = s.securityNameLen;
        pdu->securityEngineID =
            static_cast<u_char*>(netsnmp_memdup(s.securityEngineID, s.securityEngineIDLen));
        pdu->securityEngineIDLen = s.securityEngineIDLen;
        pdu->contextEngineID =
            static_cast<u_char*>(netsnmp_memdup(s.contextEngineID, s.contextEngineIDLen));
        pdu->contextEngineIDLen = s.contextEngineIDLen;
        pdu->contextName = static_cast<char*>(netsnmp_memdup("", 1));
        pdu->contextNameLen = 0;
        pdu->msgMaxSize = 1400;
    } else {
        pdu->community = static_cast<u_char*>(netsnmp_memdup(s.community, s.community_len));
        pdu->community_len = s.community_len;
    }
    for (const snmp::VarBind& vb : vbs) {
        std::vector<oid> name(vb.Objid().Id(), vb.Objid().Id() + vb.Objid().Length());
        snmp_add_null_var(pdu, name.data(), name.size());
    }
    return pdu;
}

bool NetSnmpCodec::Build(netsnmp_pdu* pdu, std::vector<unsigned char>& out) {
    u_char* pkt = buffer_.data();
    size_t pktLen = buffer_.size();
    size_t offset = 0;
    if (snmp_build(&pkt, &pktLen, &offset, live_, pdu) != SNMPERR_SUCCESS) return false;
    // The reverse encoder leaves the message at the end of the buffer.
    const u_char* start = offset != 0 ? pkt + pktLen - offset : pkt;
    const size_t size = offset != 0 ? offset : pktLen;
    out.assign(start, start + size);
    return true;
}

netsnmp_pdu* NetSnmpCodec::Parse(unsigned char* data, size_t size) {
    netsnmp_pdu* pdu = static_cast<netsnmp_pdu*>(std::calloc(1, sizeof(netsnmp_pdu)));
    if (snmp_parse(static_cast<struct session_list*>(opened_), live_, pdu, data, size) !=
        SNMP_ERR_NOERROR) {
        snmp_free_pdu(pdu);
        return nullptr;
    }
    return pdu;
}

}  // namespace zkbench

#endif
