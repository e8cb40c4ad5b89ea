// Polling many targets through one manager: this library's Session against
// net-snmp's asynchronous session API doing the same (one net-snmp session
// per target), for bench/run. Each round sends one Get of the OIDs to every
// target and waits for all answers; the figure is answered Gets per CPU
// second of this process. At most WINDOW Gets are in flight at once, as a
// poller paces itself so that the agent's socket does not overflow.
//
//   zkbench_session ours|netsnmp HOST:PORT TARGETS OIDS ROUNDS WINDOW
#include <sys/resource.h>
#include <sys/select.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bench_support.h"
#include "snmp/init.h"
#include "snmp/session.h"
#ifdef ZK_HAVE_NETSNMP
#include "netsnmp_peer.h"
#endif

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// sysDescr .. sysLocation, then snmpInPkts, snmpOutPkts, snmpInBadVersions:
// instances both agents have.
std::vector<std::string> Names(int count) {
    std::vector<std::string> names;
    for (int i = 1; i <= 7; ++i) names.push_back("1.3.6.1.2.1.1." + std::to_string(i) + ".0");
    for (int i = 1; i <= 3; ++i) names.push_back("1.3.6.1.2.1.11." + std::to_string(i) + ".0");
    names.resize(static_cast<size_t>(count));
    return names;
}

// `allocs` counts the C allocator's calls over the rounds, all threads together.
void Print(long answered, long failed, double cpu, std::uint64_t allocs) {
    std::printf(
        "{\"tx\": %ld, \"failed\": %ld, \"cpu_s\": %.3f, \"tx_per_cpu_s\": %.1f, "
        "\"allocs_per_tx\": %.1f}\n",
        answered, failed, cpu, cpu > 0 ? static_cast<double>(answered) / cpu : 0.0,
        answered > 0 ? static_cast<double>(allocs) / static_cast<double>(answered) : 0.0);
}

int RunOurs(const std::string& host, unsigned short port, int targets, int oidCount, int rounds,
            size_t window) {
    snmp::Session session;
    if (!session.Ready()) return 1;
    std::vector<snmp::Session::TargetId> ids;
    for (int i = 0; i < targets; ++i) {
        snmp::SessionTarget t;
        t.target = snmp::Target(brask::IpAddr(host), port);
        t.target.SetVersion(snmp::SnmpVersionV2c);
        t.target.SetCommunity("public");
        t.timeoutMs = 5000;
        t.retries = 1;
        ids.push_back(session.AddTarget(t));
    }
    std::vector<snmp::ObjectId> oids;
    for (const std::string& n : Names(oidCount)) {
        oids.emplace_back();
        oids.back().Set(n);
    }
    long answered = 0;
    long failed = 0;
    const double cpu0 = CpuSeconds();
    const std::uint64_t allocs0 = zkbench::HeapAllocations();
    for (int r = 0; r < rounds; ++r) {
        std::mutex mu;
        std::condition_variable done;
        size_t left = ids.size();
        size_t next = 0;
        // Each answer starts the next target's Get; the last thing it does is
        // count itself, since the round's state ends with the last answer.
        std::function<void(size_t)> issue = [&](size_t i) {
            session.AsyncGet(ids[i], oids, [&](const snmp::SessionResult& result) {
                size_t following = ids.size();
                {
                    std::lock_guard<std::mutex> guard(mu);
                    (result.Ok() && result.vbs.size() == oids.size() ? answered : failed) += 1;
                    if (next < ids.size()) following = next++;
                }
                if (following < ids.size()) issue(following);
                std::lock_guard<std::mutex> guard(mu);
                if (--left == 0) done.notify_one();
            });
        };
        {
            std::lock_guard<std::mutex> guard(mu);
            next = std::min(window, ids.size());
        }
        for (size_t w = 0; w < std::min(window, ids.size()); ++w) issue(w);
        std::unique_lock<std::mutex> lock(mu);
        done.wait(lock, [&] { return left == 0; });
    }
    Print(answered, failed, CpuSeconds() - cpu0, zkbench::HeapAllocations() - allocs0);
    return 0;
}

#ifdef ZK_HAVE_NETSNMP

struct NetSnmpPoll {
    long answered = 0;
    long failed = 0;
    long left = 0;
    size_t oids = 0;
    size_t next = 0;  // the next session of the round to send to
    std::vector<netsnmp_session*> sessions;
    std::vector<std::vector<oid>> names;
};

void SendNext(NetSnmpPoll& p);

int Answered(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic) {
    auto* p = static_cast<NetSnmpPoll*>(magic);
    size_t count = 0;
    if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE && pdu->errstat == SNMP_ERR_NOERROR) {
        for (netsnmp_variable_list* v = pdu->variables; v != nullptr; v = v->next_variable) ++count;
    }
    (count == p->oids ? p->answered : p->failed) += 1;
    --p->left;
    SendNext(*p);
    return 1;
}

void SendNext(NetSnmpPoll& p) {
    if (p.next == p.sessions.size()) return;
    netsnmp_session* s = p.sessions[p.next++];
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
    for (const auto& arcs : p.names) snmp_add_null_var(pdu, arcs.data(), arcs.size());
    if (snmp_async_send(s, pdu, Answered, &p) == 0) {
        snmp_free_pdu(pdu);
        ++p.failed;
        --p.left;
    }
}

int RunNetSnmp(const std::string& host, unsigned short port, int targets, int oidCount, int rounds,
               size_t window) {
    zkbench::NetSnmpInit();
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    NetSnmpPoll poll;
    std::string peername = "udp:" + host + ":" + std::to_string(port);
    static char community[] = "public";
    std::vector<netsnmp_session*>& sessions = poll.sessions;
    for (int i = 0; i < targets; ++i) {
        netsnmp_session s;
        snmp_sess_init(&s);
        s.peername = peername.data();
        s.version = SNMP_VERSION_2c;
        s.community = reinterpret_cast<u_char*>(community);
        s.community_len = sizeof community - 1;
        s.retries = 1;
        s.timeout = 5 * 1000000L;
        s.callback = Answered;
        s.callback_magic = &poll;
        netsnmp_session* open = snmp_open(&s);
        if (open == nullptr) {
            std::fprintf(stderr, "net-snmp session %d cannot be opened\n", i);
            return 1;
        }
        sessions.push_back(open);
    }
    std::vector<std::vector<oid>>& names = poll.names;
    for (const std::string& n : Names(oidCount)) {
        std::vector<oid> arcs;
        for (size_t at = 0; at < n.size();) {
            const size_t dot = n.find('.', at);
            arcs.push_back(std::strtoul(n.substr(at, dot - at).c_str(), nullptr, 10));
            at = dot == std::string::npos ? n.size() : dot + 1;
        }
        names.push_back(arcs);
    }
    poll.oids = names.size();
    const double cpu0 = CpuSeconds();
    const std::uint64_t allocs0 = zkbench::HeapAllocations();
    for (int r = 0; r < rounds; ++r) {
        poll.next = 0;
        poll.left = static_cast<long>(sessions.size());
        for (size_t w = 0; w < window; ++w) SendNext(poll);
        // The usual loop of the asynchronous API: select over every session.
        while (poll.left > 0) {
            int fds = 0;
            int block = 1;
            fd_set readers;
            FD_ZERO(&readers);
            timeval timeout{};
            snmp_select_info(&fds, &readers, &timeout, &block);
            const int n = select(fds, &readers, nullptr, nullptr, block ? nullptr : &timeout);
            if (n > 0) {
                snmp_read(&readers);
            } else if (n == 0) {
                snmp_timeout();
            }
        }
    }
    Print(poll.answered, poll.failed, CpuSeconds() - cpu0, zkbench::HeapAllocations() - allocs0);
    for (netsnmp_session* s : sessions) snmp_close(s);
    return 0;
}

#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr,
                     "usage: zkbench_session ours|netsnmp HOST:PORT TARGETS OIDS ROUNDS WINDOW\n");
        return 2;
    }
    const std::string who = argv[1];
    const std::string peer = argv[2];
    const size_t colon = peer.find(':');
    const std::string host = peer.substr(0, colon);
    const auto port = static_cast<unsigned short>(std::atoi(peer.c_str() + colon + 1));
    const int targets = std::atoi(argv[3]);
    const int oids = std::atoi(argv[4]);
    const int rounds = std::atoi(argv[5]);
    const auto window = static_cast<size_t>(std::atoi(argv[6]));
    int rc = 2;
    if (who == "ours") {
        snmp::Init();
        rc = RunOurs(host, port, targets, oids, rounds, window);
        snmp::Shutdown();
    } else if (who == "netsnmp") {
#ifdef ZK_HAVE_NETSNMP
        rc = RunNetSnmp(host, port, targets, oids, rounds, window);
#else
        std::fprintf(stderr, "net-snmp (libsnmp-dev) not found: skipped\n");
        rc = 3;
#endif
    }
    std::fflush(stdout);
    return rc;
}
