// `zksnmp demo`: an agent and a notification receiver on 127.0.0.1, polled by
// this same process over SNMPv1, SNMPv2c and SNMPv3 at every security level
// and protocol pair, each SNMPv3 user starting from an unknown engine; then
// a second pair on ::1, polled once per version.
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
#include "snmp/session.h"
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

// One target of a row's session: the agent or the receiver, reached with
// the row's version and security.
snmp::SessionTarget TargetFor(const Security& s, const brask::IpAddr& addr, unsigned short port,
                              const std::string& community, unsigned int maxRepetitions) {
    snmp::SessionTarget t;
    t.target = snmp::Target(addr, port);
    t.target.SetVersion(s.version);
    t.target.SetCommunity(community);
    if (s.version == snmp::SnmpVersionV3) {
        t.target.SetSecAttributes(MakeAttributes(s.user));
        t.target.SetSecLevel(LevelOf(s.user));
    }
    t.timeoutMs = 2000;
    t.retries = 2;
    t.maxRepetitions = maxRepetitions;
    return t;
}

class Table {
public:
    void Row(const std::string& op, const std::string& sec, bool ok, const std::string& result,
             double ms) {
        char line[200];
        std::snprintf(line, sizeof line, "%-10s %-36s %-4s %-34s %8.2f", op.c_str(), sec.c_str(),
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

std::string Failure(const snmp::SessionResult& r) {
    return r.status == snmp::SessionStatus::Report ? ReportText(r.reportOid) : r.Describe();
}

// One row of the matrix on a session of its own, freed when the row is done:
// the first SNMPv3 request discovers the agent's engine, the later ones reuse
// what the session learnt.
void Poll(const Security& sec, const brask::IpAddr& addr, unsigned short agentPort,
          unsigned short listenPort, Arrivals& arrivals, Table& table) {
    snmp::Session::Options options;
    // The session's socket is of the agent's family.
    if (addr.Version() == brask::IpAddr::kIPv6) options.localAddr = brask::IpAddr("::");
    snmp::Session session(options);
    if (!session.Ready()) {
        table.Row("open", sec.label, false, session.Error(), 0);
        return;
    }
    const auto agent = session.AddTarget(TargetFor(sec, addr, agentPort, "private", 0));
    const auto bulkAgent = session.AddTarget(TargetFor(sec, addr, agentPort, "private", 10));
    // An SNMPv3 trap comes from this side's own engine; the receiver is the
    // authoritative engine of an inform, which the session discovers.
    const auto trapReceiver = session.AddTarget(TargetFor(sec, addr, listenPort, "public", 0));
    const auto informReceiver = session.AddTarget(TargetFor(sec, addr, listenPort, "public", 0));

    snmp::ObjectId descr;
    descr.Set("1.3.6.1.2.1.1.1.0");
    snmp::ObjectId upTime;
    upTime.Set("1.3.6.1.2.1.1.3.0");
    auto start = std::chrono::steady_clock::now();
    snmp::SessionResult r = session.Get(agent, {descr, upTime});
    const bool got = r.Ok() && r.vbs.size() == 2;
    table.Row(
        "get", sec.label, got,
        got ? "2 bindings" + std::string(sec.version == snmp::SnmpVersionV3 ? " (discovered)" : "")
            : Failure(r),
        Since(start));

    for (bool bulk : {false, true}) {
        if (bulk && sec.version == snmp::SnmpVersionV1) {
            continue;
        }
        snmp::ObjectId root = bulk ? AgentMib::kTableEntry : snmp::ObjectId();
        if (!bulk) {
            root.Set("1.3.6.1.2.1.1");
        }
        start = std::chrono::steady_clock::now();
        r = session.Walk(bulk ? bulkAgent : agent, root);
        const bool ok = r.Ok() && !r.vbs.empty();
        table.Row(bulk ? "bulkwalk" : "walk", sec.label, ok,
                  ok ? std::to_string(r.vbs.size()) + " bindings" : Failure(r), Since(start));
    }

    snmp::ObjectId contactOid;
    contactOid.Set("1.3.6.1.2.1.1.4.0");
    snmp::AsnValue contact(0x04);
    contact.SetString(snmp::OctetString("demo contact via " + sec.label));
    snmp::VarBindList set;
    set.push_back(snmp::VarBind(contactOid, contact));
    start = std::chrono::steady_clock::now();
    r = session.Set(agent, set);
    const double setMs = Since(start);
    bool setOk = r.Ok();
    std::string why = Failure(r);
    if (setOk) {
        // Read it back: an answer without error alone does not show the write.
        const snmp::SessionResult check = session.Get(agent, {contactOid});
        setOk = check.Ok() && check.vbs.size() == 1 && check.vbs.front().Value().Type() == 0x04 &&
                check.vbs.front().Value().String() == contact.String();
        why = check.Ok() && !check.vbs.empty() ? "read back " + FormatBinding(check.vbs.front())
                                               : Failure(check);
    }
    table.Row("set", sec.label, setOk, setOk ? "sysContact.0 written and read back" : why, setMs);

    snmp::ObjectId trapOid;
    trapOid.Set("1.3.6.1.6.3.1.1.5.1");
    const unsigned int before = arrivals.Count();
    start = std::chrono::steady_clock::now();
    if (sec.version == snmp::SnmpVersionV1) {
        snmp::ObjectId enterprise;
        enterprise.Set("1.3.6.1.4.1.99999");
        snmp::Message trap;
        trap.Init(snmp::PduV1Trap, enterprise, 0x7F000001, 0, 0, snmp::UpTime(),
                  snmp::VarBindList());
        r = session.Trap(trapReceiver, trap);
    } else {
        r = session.Trap(trapReceiver, trapOid, snmp::UpTime(), snmp::VarBindList());
    }
    const bool arrived = r.Ok() && arrivals.WaitBeyond(before);
    table.Row("trap", sec.label, arrived,
              arrived ? "received by the listener" : (r.Ok() ? "not received" : Failure(r)),
              Since(start));
    if (sec.version == snmp::SnmpVersionV1) {
        return;
    }
    start = std::chrono::steady_clock::now();
    r = session.Inform(informReceiver, trapOid, snmp::UpTime(), snmp::VarBindList());
    table.Row("inform", sec.label, r.Ok(), r.Ok() ? "acknowledged" : Failure(r), Since(start));
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
                   "and with every pair of authentication and privacy protocols; then a second\n"
                   "pair on ::1 (when loopback has IPv6), polled once per version.\n";
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
    std::snprintf(head, sizeof head, "%-10s %-36s %-4s %-34s %8s", "OPERATION", "VERSION/SECURITY",
                  "", "RESULT", "RTT ms");
    std::cout << head << std::endl;
    Table table;
    for (const auto& s : matrix) {
        Poll(s, server.addr, agent.Port(), listener.Port(), arrivals, table);
    }

    // The same operations over ::1, once per version; a machine without IPv6
    // on loopback skips them and says so.
    ServerOptions server6 = server;
    server6.addr = brask::IpAddr("::1");
    server6.listen = "[::1]:0";
    AgentServer agent6(server6);
    NotificationListener listener6(server6, [&arrivals](const std::string&) { arrivals.Add(); });
    if (!agent6.Start(error) || !listener6.Start(error)) {
        std::cout << "\nIPv6 rows skipped: " << error << std::endl;
    } else {
        std::cout << "\nagent on [::1]:" << agent6.Port()
                  << ", listener on [::1]:" << listener6.Port() << std::endl;
        const Security* lastOf[3] = {nullptr, nullptr, nullptr};
        for (const auto& s : matrix)
            lastOf[s.version == snmp::SnmpVersionV1    ? 0
                   : s.version == snmp::SnmpVersionV2c ? 1
                                                       : 2] = &s;
        for (const Security* s : lastOf) {
            Security over6 = *s;
            over6.label = "[::1] " + over6.label;
            Poll(over6, server6.addr, agent6.Port(), listener6.Port(), arrivals, table);
        }
        listener6.Stop();
        agent6.Stop();
    }
    PrintStatistics();
    listener.Stop();
    agent.Stop();
    if (table.Failures() != 0) {
        std::cout << "\n" << table.Failures() << " operation(s) failed" << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace zksnmp
