// `zksnmp demo`: an agent and a notification receiver on 127.0.0.1, polled by
// this same process over SNMPv1, SNMPv2c and SNMPv3 at every security level
// and protocol pair, each SNMPv3 user starting from an unknown engine.
#include "demo.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>

#include "commands.h"
#include "protocols.h"
#include "server.h"
#include "session.h"
#include "snmp/init.h"
#include "snmp/snmp_stats.h"
#include "value_text.h"

namespace zksnmp {
namespace {

struct Security {
    std::string label;
    snmp::SnmpVersion version;
    UserSpec user;  // SNMPv3 only
};

std::vector<Security> Matrix() {
    std::vector<Security> m;
    m.push_back({"v1 community", snmp::SnmpVersionV1, {}});
    m.push_back({"v2c community", snmp::SnmpVersionV2c, {}});
    UserSpec none;
    none.name = "demo-none";
    m.push_back({"v3 noAuthNoPriv", snmp::SnmpVersionV3, none});
    // Every authentication protocol, alone and with every privacy protocol.
    for (int a = snmp::USMAuthMD5; a <= snmp::USMAuthSHA512; ++a) {
        for (int p = snmp::USMPrivNone; p <= snmp::USMPrivAES256C; ++p) {
            const auto auth = static_cast<snmp::USMAuthProtocol>(a);
            const auto priv = static_cast<snmp::USMPrivProtocol>(p);
            UserSpec u;
            u.name = "demo-" + AuthProtocolName(auth) +
                     (priv == snmp::USMPrivNone ? "" : "-" + PrivProtocolName(priv));
            u.auth = auth;
            u.authPass = "demo-auth-" + AuthProtocolName(auth);
            u.priv = priv;
            u.privPass = priv == snmp::USMPrivNone ? "" : "demo-priv-" + PrivProtocolName(priv);
            const std::string level = priv == snmp::USMPrivNone ? "authNoPriv" : "authPriv";
            m.push_back({"v3 " + level + " " + AuthProtocolName(auth) +
                             (priv == snmp::USMPrivNone ? "" : "/" + PrivProtocolName(priv)),
                         snmp::SnmpVersionV3, u});
        }
    }
    return m;
}

ClientOptions OptionsFor(const Security& s, unsigned short port, bool write) {
    ClientOptions o;
    o.version = s.version;
    o.community = write ? "private" : "public";
    o.user = s.user;
    o.level = LevelOf(s.user);
    o.timeout = 2.0;
    o.retries = 2;
    o.addr = 0x7F000001;
    o.port = port;
    o.host = "127.0.0.1:" + std::to_string(port);
    return o;
}

class Table {
public:
    void Row(const std::string& op, const std::string& sec, bool ok, const std::string& result,
             double ms) {
        char line[200];
        std::snprintf(line, sizeof line, "%-10s %-30s %-4s %-34s %8.2f", op.c_str(), sec.c_str(),
                      ok ? "ok" : "FAIL", result.c_str(), ms);
        std::cout << line << std::endl;
        failures_ += ok ? 0 : 1;
    }
    int Failures() const { return failures_; }

private:
    int failures_ = 0;
};

// Counts what the receiver prints, so that a trap can be checked for arrival.
class Arrivals {
public:
    void Add() {
        std::lock_guard<std::mutex> guard(mutex_);
        ++count_;
        cv_.notify_all();
    }
    unsigned int Count() {
        std::lock_guard<std::mutex> guard(mutex_);
        return count_;
    }
    bool WaitBeyond(unsigned int seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(3), [&] { return count_ > seen; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    unsigned int count_ = 0;
};

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Destroying a dispatcher empties the process-wide observer list (the
// statistics included) until the next one starts, so every session of the
// demo lives until the end: `keep` holds them.
ClientSession& NewSession(std::vector<std::unique_ptr<ClientSession>>& keep,
                          const ClientOptions& options,
                          const snmp::OctetString& localEngineId = snmp::OctetString()) {
    keep.push_back(std::make_unique<ClientSession>(options, localEngineId));
    return *keep.back();
}

void Poll(const Security& sec, unsigned short agentPort, unsigned short listenPort,
          Arrivals& arrivals, Table& table, std::vector<std::unique_ptr<ClientSession>>& keep) {
    std::string error;
    // Reads, walks and bulk walks share one session: the first SNMPv3 request
    // discovers the agent's engine, the later ones reuse what it learnt.
    ClientOptions options = OptionsFor(sec, agentPort, true);
    ClientSession& session = NewSession(keep, options);
    if (!session.Open(error)) {
        table.Row("open", sec.label, false, error, 0);
        return;
    }
    snmp::VarBindList vbs;
    snmp::ObjectId oid;
    for (const char* name : {"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0"}) {
        oid.Set(name);
        vbs.push_back(snmp::VarBind(oid, snmp::AsnValue()));
    }
    double ms = 0;
    auto response = session.Request(snmp::PduGetRequest, vbs, error, &ms);
    const bool got = response && response->ErrStat() == 0 && response->VarBinds().size() == 2;
    table.Row(
        "get", sec.label, got,
        got ? "2 bindings" + std::string(sec.version == snmp::SnmpVersionV3 ? " (discovered)" : "")
            : (response ? "error " + ErrorStatusName(response->ErrStat()) : error),
        ms);

    for (bool bulk : {false, true}) {
        if (bulk && sec.version == snmp::SnmpVersionV1) {
            continue;
        }
        ClientOptions walkOptions = options;
        walkOptions.bulk = bulk;
        ClientSession& walker = NewSession(keep, walkOptions);
        unsigned int count = 0;
        unsigned int requests = 0;
        const auto start = std::chrono::steady_clock::now();
        snmp::ObjectId root = bulk ? AgentMib::kTableEntry : snmp::ObjectId();
        if (!bulk) {
            root.Set("1.3.6.1.2.1.1");
        }
        const bool ok = walker.Open(error) &&
                        Walk(
                            walker, root, [&count](const snmp::VarBind&) { ++count; }, error,
                            &requests) == WalkEnd::Done &&
                        count > 0;
        table.Row(
            bulk ? "bulkwalk" : "walk", sec.label, ok,
            ok ? std::to_string(count) + " bindings, " + std::to_string(requests) + " requests"
               : error,
            Since(start));
    }

    snmp::VarBindList set;
    oid.Set("1.3.6.1.2.1.1.4.0");
    snmp::AsnValue contact(0x04);
    contact.SetString(snmp::OctetString("demo contact via " + sec.label));
    set.push_back(snmp::VarBind(oid, contact));
    response = session.Request(snmp::PduSetRequest, set, error, &ms);
    bool setOk = response && response->ErrStat() == 0;
    if (setOk) {
        // Read it back: an answer without error alone does not show the write.
        snmp::VarBindList readBack;
        readBack.push_back(snmp::VarBind(oid, snmp::AsnValue()));
        auto check = session.Request(snmp::PduGetRequest, readBack, error);
        setOk = check && check->VarBinds().size() == 1 &&
                check->VarBinds().front().Value().Type() == 0x04 &&
                check->VarBinds().front().Value().String() == contact.String();
        if (!setOk && check) {
            error = "read back " + FormatBinding(check->VarBinds().front());
        }
    } else if (response) {
        error = "error " + ErrorStatusName(response->ErrStat());
    }
    table.Row("set", sec.label, setOk, setOk ? "sysContact.0 written and read back" : error, ms);

    // Notifications go to the receiver; an SNMPv3 trap comes from this
    // side's own engine, an inform is sent to the receiver's engine.
    ClientOptions notifyOptions = OptionsFor(sec, listenPort, false);
    ClientSession& notifier = NewSession(keep, notifyOptions, NewEngineId());
    if (!notifier.Open(error)) {
        table.Row("trap", sec.label, false, error, 0);
        return;
    }
    auto trap = std::make_unique<snmp::Message>();
    snmp::ObjectId trapOid;
    trapOid.Set("1.3.6.1.6.3.1.1.5.1");
    if (sec.version == snmp::SnmpVersionV1) {
        snmp::ObjectId enterprise;
        enterprise.Set("1.3.6.1.4.1.99999");
        trap->Init(snmp::PduV1Trap, enterprise, 0x7F000001, 0, 0, snmp::UpTime(),
                   snmp::VarBindList());
    } else {
        trap->Init(sec.version, snmp::PduV2Trap, trapOid, snmp::UpTime(), snmp::VarBindList());
    }
    const unsigned int before = arrivals.Count();
    auto start = std::chrono::steady_clock::now();
    const bool sent = notifier.SendTrap(std::move(trap), error);
    const bool arrived = sent && arrivals.WaitBeyond(before);
    table.Row("trap", sec.label, arrived,
              arrived ? "received by the listener" : (sent ? "not received" : error), Since(start));
    if (sec.version == snmp::SnmpVersionV1) {
        return;
    }
    // The receiver is the authoritative engine of an inform: this session
    // discovers it, as a manager discovers an agent.
    ClientSession& informer = NewSession(keep, notifyOptions);
    if (!informer.Open(error)) {
        table.Row("inform", sec.label, false, error, 0);
        return;
    }
    snmp::Message shape;
    shape.Init(sec.version, snmp::PduInformRequest, trapOid, snmp::UpTime(), snmp::VarBindList());
    response = informer.Request(snmp::PduInformRequest, shape.VarBinds(), error, &ms);
    const bool acked = response && response->ErrStat() == 0;
    table.Row("inform", sec.label, acked, acked ? "acknowledged" : error, ms);
}

void PrintStatistics() {
    const snmp::SnmpStats* s = snmp::SnmpStats::Instance();
    struct Line {
        const char* name;
        unsigned int value;
    };
    const Line lines[] = {
        {"snmpInPkts", s->InPkts()},
        {"snmpOutPkts", s->OutPkts()},
        {"snmpInGetRequests", s->InGets()},
        {"snmpInGetNexts", s->InGetNexts()},
        {"snmpInSetRequests", s->InSets()},
        {"snmpInGetResponses", s->InGetResponses()},
        {"snmpInTraps", s->InTraps()},
        {"snmpOutGetRequests", s->OutGets()},
        {"snmpOutGetNexts", s->OutGetNexts()},
        {"snmpOutSetRequests", s->OutSets()},
        {"snmpOutGetResponses", s->OutGetResponses()},
        {"snmpOutTraps", s->OutTraps()},
        {"snmpInBadVersions", s->InBadVers()},
        {"snmpInASNParseErrs", s->InAsnParseErrs()},
        {"usmStatsUnknownEngineIDs", s->UnknownEngineId()},
        {"usmStatsNotInTimeWindows", s->NotInTimeWindow()},
        {"usmStatsUnknownUserNames", s->UnknownUser()},
        {"usmStatsWrongDigests", s->WrongDigest()},
        {"usmStatsDecryptionErrors", s->DecryptErrors()},
        {"usmStatsUnsupportedSecLevels", s->UnsupportedSecLevel()},
    };
    std::cout << "\nStatistics (both sides of this process):" << std::endl;
    for (const auto& l : lines) {
        char line[96];
        std::snprintf(line, sizeof line, "  %-30s %u", l.name, l.value);
        std::cout << line << std::endl;
    }
}

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
    if (!args.empty()) {
        if (args[0] == "-h" || args[0] == "--help") {
            std::cout
                << "usage: zksnmp demo\n"
                   "Starts an agent and a notification receiver on 127.0.0.1 (free ports) and\n"
                   "exercises them over SNMPv1, SNMPv2c and SNMPv3 at every security level\n"
                   "and with every pair of authentication and privacy protocols.\n";
            return 0;
        }
        std::cerr << "zksnmp demo: takes no arguments" << std::endl;
        return 1;
    }
    const std::vector<Security> matrix = Matrix();
    ServerOptions server;
    server.addr = 0x7F000001;
    server.port = 0;
    server.listen = "127.0.0.1:0";
    server.roCommunities = {"public"};
    server.rwCommunities = {"private"};
    for (const auto& s : matrix) {
        if (s.version == snmp::SnmpVersionV3) {
            server.users.push_back(s.user);
            server.rwUsers.insert(s.user.name);
        }
    }
    std::string error;
    AgentServer agent(server);
    if (!agent.Start(error)) {
        std::cerr << "zksnmp demo: agent: " << error << std::endl;
        return 1;
    }
    Arrivals arrivals;
    NotificationListener listener(server, [&arrivals](const std::string&) { arrivals.Add(); });
    if (!listener.Start(error)) {
        std::cerr << "zksnmp demo: listener: " << error << std::endl;
        return 1;
    }
    std::cout << "agent on 127.0.0.1:" << agent.Port() << " (engine-id "
              << HexText(agent.EngineId(), false) << "), listener on 127.0.0.1:" << listener.Port()
              << "\n\n";
    char head[200];
    std::snprintf(head, sizeof head, "%-10s %-30s %-4s %-34s %8s", "OPERATION", "VERSION/SECURITY",
                  "", "RESULT", "RTT ms");
    std::cout << head << std::endl;
    Table table;
    std::vector<std::unique_ptr<ClientSession>> sessions;
    for (const auto& s : matrix) {
        Poll(s, agent.Port(), listener.Port(), arrivals, table, sessions);
    }
    PrintStatistics();
    sessions.clear();
    listener.Stop();
    agent.Stop();
    if (table.Failures() != 0) {
        std::cout << "\n" << table.Failures() << " operation(s) failed" << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace zksnmp
