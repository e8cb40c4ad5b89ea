// zksnmp's manager side on the library session.
#include "session.h"

#include <chrono>

#include "brask/ip_addr.h"
#include "snmp/snmp_stats.h"

namespace zksnmp {

namespace {

// A notification's bindings as the session takes them: sysUpTime.0 and
// snmpTrapOID.0 lead, the rest go along.
struct Notification {
    unsigned int upTime = 0;
    snmp::ObjectId trapOid;
    snmp::VarBindList extra;
};

Notification SplitNotification(const snmp::VarBindList& vbs) {
    Notification n;
    auto it = vbs.begin();
    if (vbs.size() > 1) {
        n.upTime = it->Value().Ticks();
        n.trapOid = std::next(it)->Value().Objid();
    }
    if (vbs.size() > 2) {
        n.extra.assign(std::next(it, 2), vbs.end());
    }
    return n;
}

}  // namespace

std::string ReportText(const snmp::ObjectId& counter) {
    std::string oid;
    counter.MakeStr(oid);
    struct Known {
        const char* const* oid;
        const char* text;
    };
    static const Known kKnown[] = {
        {&snmp::USM_UNKNOWNUSER, "Unknown user name"},
        {&snmp::USM_WRONGDIGEST, "Authentication failure (incorrect password, community or key)"},
        {&snmp::USM_UNSUPPORTEDLEVEL, "Unsupported security level"},
        {&snmp::USM_DECRYPT, "Decryption error"},
        {&snmp::USM_TIMEWINDOW, "Time synchronisation failed (not in time window)"},
        {&snmp::USM_UNKNOWNENGINE, "Unknown engine ID"},
        {&snmp::SNMP_UNKNOWNHANDLER, "Unknown PDU handler"},
    };
    for (const auto& k : kKnown) {
        if (oid == *k.oid) {
            return k.text;
        }
    }
    return "Report " + oid;
}

std::string ReportText(const snmp::Message& report) {
    if (report.VarBinds().empty()) {
        return "Report without bindings";
    }
    return ReportText(report.VarBinds().front().Objid());
}

ClientSession::ClientSession(const ClientOptions& options, const snmp::OctetString& localEngineId)
    : options_(options), localEngineId_(localEngineId) {}

ClientSession::~ClientSession() {
    Close();
}

bool ClientSession::Open(std::string& error) {
    snmp::Session::Options local;
    // No address given: the wildcard of the agent's family.
    local.localAddr = options_.localAddr != 0 ? brask::IpAddr(options_.localAddr)
                                              : LocalEndpointFor(options_.addr).Addr();
    local.localEngineId = localEngineId_;
    session_ = std::make_unique<snmp::Session>(local);
    if (!session_->Ready()) {
        error = session_->Error();
        return false;
    }
    snmp::SessionTarget t;
    t.target = snmp::Target(brask::IpAddr(options_.addr), options_.port);
    t.target.SetVersion(options_.version);
    t.target.SetCommunity(options_.community);
    if (options_.version == snmp::SnmpVersionV3) {
        t.target.SetSecAttributes(MakeAttributes(options_.user));
        t.target.SetSecLevel(options_.level);
        t.target.SetContextName(options_.context);
        if (!options_.engineId.Empty()) {
            t.target.SetEngineId(options_.engineId);
            t.target.SetEngineBoots(1);
        }
    }
    t.timeoutMs = static_cast<unsigned int>(options_.timeout * 1000.0 + 0.5);
    t.retries = options_.retries < 0 ? 0 : static_cast<unsigned int>(options_.retries);
    t.maxRepetitions = options_.bulk ? static_cast<unsigned int>(options_.maxRepetitions) : 0;
    target_ = session_->AddTarget(t);
    if (target_ < 0) {
        error = "cannot serve the target";
        return false;
    }
    return true;
}

void ClientSession::Close() {
    session_.reset();
}

snmp::Target ClientSession::Peer() {
    snmp::SessionTarget t;
    if (session_ && session_->GetTarget(target_, t)) {
        return t.target;
    }
    return snmp::Target();
}

std::string ClientSession::FailureText(const snmp::SessionResult& r) const {
    switch (r.status) {
        case snmp::SessionStatus::Timeout:
            return "Timeout: No Response from " + options_.host;
        case snmp::SessionStatus::Report:
            return ReportText(r.reportOid);
        case snmp::SessionStatus::NotIncreasing:
            return "OID not increasing: " + r.detail;
        default:
            return r.Describe();
    }
}

bool ClientSession::Run(
    const std::function<snmp::SessionResult(snmp::Session&, snmp::Session::TargetId)>& op,
    snmp::SessionResult& result, std::string& error) {
    if (!session_) {
        error = "the session is not open";
        return false;
    }
    result = op(*session_, target_);
    if (result.status != snmp::SessionStatus::Ok) {
        error = FailureText(result);
        return false;
    }
    return true;
}

std::unique_ptr<snmp::Message> ClientSession::Request(unsigned int pduType,
                                                      const snmp::VarBindList& vbs,
                                                      std::string& error, double* rttMs) {
    std::vector<snmp::ObjectId> oids;
    for (const snmp::VarBind& vb : vbs) {
        oids.push_back(vb.Objid());
    }
    const ClientOptions& o = options_;
    const auto start = std::chrono::steady_clock::now();
    snmp::SessionResult r;
    const bool ok = Run(
        [&](snmp::Session& s, snmp::Session::TargetId id) {
            switch (pduType) {
                case snmp::PduGetNextRequest:
                    return s.GetNext(id, oids);
                case snmp::PduGetBulkRequest:
                    return s.GetBulk(id, oids, o.nonRepeaters, o.maxRepetitions);
                case snmp::PduSetRequest:
                    return s.Set(id, vbs);
                case snmp::PduInformRequest: {
                    const Notification n = SplitNotification(vbs);
                    return s.Inform(id, n.trapOid, n.upTime, n.extra);
                }
                default:
                    return s.Get(id, oids);
            }
        },
        r, error);
    if (!ok) {
        return nullptr;
    }
    if (rttMs != nullptr) {
        *rttMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
    }
    auto response = std::make_unique<snmp::Message>();
    response->SetVersion(o.version);
    response->SetType(snmp::PduResponse);
    response->SetError(r.errorStatus, r.errorIndex);
    response->VarBinds() = r.vbs;
    return response;
}

bool ClientSession::SendTrap(std::unique_ptr<snmp::Message> trap, std::string& error) {
    snmp::SessionResult r;
    return Run(
        [&](snmp::Session& s, snmp::Session::TargetId id) {
            if (trap->Type() == snmp::PduV1Trap) {
                return s.Trap(id, *trap);
            }
            const Notification n = SplitNotification(trap->VarBinds());
            return s.Trap(id, n.trapOid, n.upTime, n.extra);
        },
        r, error);
}

}  // namespace zksnmp
