// `zksnmp demo`: an agent and a notification receiver on 127.0.0.1, polled by
// this same process over SNMPv1, SNMPv2c and SNMPv3 at every security level
// and protocol pair, each SNMPv3 user starting from an unknown engine; then a
// second pair on ::1, polled once per version.
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

ClientOptions OptionsFor(const Security& s, const brask::IpAddr& host, unsigned short port,
                         bool write) {
    ClientOptions o;
    o.version = s.version;
    o.community = write ? "private" : "public";
    o.user = s.user;
    o.level = LevelOf(s.user);
    o.timeout = 2.0;
    o.retries = 2;
    o.addr = host;
    o.port = port;
    o.host = brask::IpEndpoint(host, port).ToString();
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

void Poll(const Security& sec, const brask::IpAddr& host, unsigned short agentPort,
          unsigned short listenPort, Arrivals& arrivals, Table& table,
          std::vector<std::unique_ptr<ClientSession>>& keep) {
    std::string error;
    // Reads, walks and bulk walks share one session: the first SNMPv3 request
    // discovers the agent's engine, the later ones reuse what it learnt.
    ClientOptions options = OptionsFor(sec, host, agentPort, true);
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
    ClientOptions notifyOptions = OptionsFor(sec, host, listenPort, false);
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
        unsigned int agentAddr = 0;
        ParseTrapAgentAddr("", host, agentAddr, error);
        trap->Init(snmp::PduV1Trap, enterprise, agentAddr, 0, 0, snmp::UpTime(),
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

// The agent and receiver of one loopback address, and what the receiver saw.
struct Servers {
    explicit Servers(const ServerOptions& options)
        : agent(options), listener(options, [this](const std::string&) { arrivals.Add(); }) {}
    Arrivals arrivals;
    AgentServer agent;
    NotificationListener listener;
};

ServerOptions ServersOn(const std::vector<Security>& matrix, const brask::IpAddr& host) {
    ServerOptions server;
    server.addr = host;
    server.port = 0;
    server.listen = brask::IpEndpoint(host, 0).ToString();
    server.roCommunities = {"public"};
    server.rwCommunities = {"private"};
    for (const auto& s : matrix) {
        if (s.version == snmp::SnmpVersionV3) {
            server.users.push_back(s.user);
        }
    }
    return server;
}

// The IPv6 rows: each version once, SNMPv3 with SHA and AES.
std::vector<Security> Ipv6Rows(const std::vector<Security>& matrix) {
    std::vector<Security> rows;
    for (const auto& s : matrix) {
        if (s.version != snmp::SnmpVersionV3 ||
            (s.user.auth == snmp::USMAuthSHA1 && s.user.priv == snmp::USMPrivAES128)) {
            rows.push_back(s);
            rows.back().label += " [::1]";
        }
    }
    return rows;
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
                   "and with every pair of authentication and privacy protocols; then a pair\n"
                   "on ::1, exercised once per version.\n";
            return 0;
        }
        std::cerr << "zksnmp demo: takes no arguments" << std::endl;
        return 1;
    }
    const std::vector<Security> matrix = Matrix();
    std::string error;
    const brask::IpAddr v4("127.0.0.1"), v6("::1");
    Servers four(ServersOn(matrix, v4));
    if (!four.agent.Start(error)) {
        std::cerr << "zksnmp demo: agent: " << error << std::endl;
        return 1;
    }
    if (!four.listener.Start(error)) {
        std::cerr << "zksnmp demo: listener: " << error << std::endl;
        return 1;
    }
    // A machine without IPv6 on loopback runs the IPv4 rows alone.
    Servers six(ServersOn(matrix, v6));
    const bool ipv6 = six.agent.Start(error) && six.listener.Start(error);
    std::cout << "agent on 127.0.0.1:" << four.agent.Port() << " (engine-id "
              << HexText(four.agent.EngineId(), false)
              << "), listener on 127.0.0.1:" << four.listener.Port() << "\n";
    if (ipv6) {
        std::cout << "agent on [::1]:" << six.agent.Port()
                  << ", listener on [::1]:" << six.listener.Port() << "\n\n";
    } else {
        std::cout << "IPv6 rows skipped: no IPv6 on loopback (::1): " << error << "\n\n";
    }
    char head[200];
    std::snprintf(head, sizeof head, "%-10s %-30s %-4s %-34s %8s", "OPERATION", "VERSION/SECURITY",
                  "", "RESULT", "RTT ms");
    std::cout << head << std::endl;
    Table table;
    std::vector<std::unique_ptr<ClientSession>> sessions;
    for (const auto& s : matrix) {
        Poll(s, v4, four.agent.Port(), four.listener.Port(), four.arrivals, table, sessions);
    }
    if (ipv6) {
        for (const auto& s : Ipv6Rows(matrix)) {
            Poll(s, v6, six.agent.Port(), six.listener.Port(), six.arrivals, table, sessions);
        }
    }
    PrintStatistics();
    sessions.clear();
    six.listener.Stop();
    six.agent.Stop();
    four.listener.Stop();
    four.agent.Stop();
    if (table.Failures() != 0) {
        std::cout << "\n" << table.Failures() << " operation(s) failed" << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace zksnmp
