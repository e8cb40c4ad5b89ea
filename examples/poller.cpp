// An example poller on the library session: many targets spread over a few
// agents, one set of OIDs each, polled every few seconds through one
// session, one line printed per target and round.
//
//   poller [--targets N] [--interval S] [--rounds R] [--community C] HOST:PORT...
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "snmp/init.h"
#include "snmp/session.h"

namespace {

struct Options {
    unsigned int targets = 1000;
    unsigned int interval = 10;
    unsigned int rounds = 0;  // 0: until stopped
    std::string community = "public";
    std::vector<std::pair<std::string, unsigned short>> agents;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--targets" && hasValue) {
            o.targets = static_cast<unsigned int>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--interval" && hasValue) {
            o.interval = static_cast<unsigned int>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--rounds" && hasValue) {
            o.rounds = static_cast<unsigned int>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--community" && hasValue) {
            o.community = argv[++i];
        } else if (a.find(':') != std::string::npos && a[0] != '-') {
            const size_t colon = a.find(':');
            o.agents.emplace_back(a.substr(0, colon),
                                  static_cast<unsigned short>(std::atoi(a.c_str() + colon + 1)));
        } else {
            return false;
        }
    }
    return !o.agents.empty() && o.targets > 0;
}

std::string Line(const snmp::SessionResult& r) {
    if (!r.Ok()) return r.Describe();
    std::string line;
    for (const snmp::VarBind& vb : r.vbs) {
        std::string name;
        std::string value;
        vb.Objid().MakeStr(name);
        vb.Value().MakeStr(value);
        line += " " + name + "=" + value;
    }
    return "ok" + line;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::cerr << "usage: poller [--targets N] [--interval S] [--rounds R] [--community C] "
                     "HOST:PORT...\n";
        return 2;
    }
    snmp::Init();
    int rc = 0;
    {
        snmp::Session session;
        if (!session.Ready()) {
            std::cerr << "poller: " << session.Error() << std::endl;
            snmp::Shutdown();
            return 1;
        }
        std::vector<snmp::Session::TargetId> ids;
        std::vector<std::string> names;
        for (unsigned int i = 0; i < o.targets; ++i) {
            const auto& agent = o.agents[i % o.agents.size()];
            snmp::SessionTarget t;
            t.target = snmp::Target(brask::IpAddr(agent.first), agent.second);
            t.target.SetVersion(snmp::SnmpVersionV2c);
            t.target.SetCommunity(o.community);
            t.timeoutMs = 2000;
            t.retries = 1;
            ids.push_back(session.AddTarget(t));
            names.push_back(agent.first + ":" + std::to_string(agent.second));
        }
        std::vector<snmp::ObjectId> oids(3);
        oids[0].Set("1.3.6.1.2.1.1.3.0");  // sysUpTime
        oids[1].Set("1.3.6.1.2.1.1.5.0");  // sysName
        oids[2].Set("1.3.6.1.2.1.1.1.0");  // sysDescr
        for (unsigned int round = 1; o.rounds == 0 || round <= o.rounds; ++round) {
            const auto start = std::chrono::steady_clock::now();
            std::mutex mu;
            std::condition_variable done;
            std::vector<std::string> lines(ids.size());
            size_t left = ids.size();
            unsigned int failed = 0;
            for (size_t i = 0; i < ids.size(); ++i) {
                session.AsyncGet(ids[i], oids, [&, i](const snmp::SessionResult& r) {
                    std::lock_guard<std::mutex> guard(mu);
                    lines[i] = Line(r);
                    failed += r.Ok() ? 0 : 1;
                    if (--left == 0) done.notify_one();
                });
            }
            std::unique_lock<std::mutex> lock(mu);
            done.wait(lock, [&] { return left == 0; });
            for (size_t i = 0; i < ids.size(); ++i) {
                std::cout << "round " << round << " target " << i + 1 << " " << names[i] << " "
                          << lines[i] << '\n';
            }
            std::cout.flush();
            rc = failed == 0 ? 0 : 1;
            lock.unlock();
            if (o.rounds != 0 && round == o.rounds) break;
            std::this_thread::sleep_until(start + std::chrono::seconds(o.interval));
        }
    }
    snmp::Shutdown();
    return rc;
}
