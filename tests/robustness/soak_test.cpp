// Soak test: managers and the zksnmp agent exchange mixed SNMPv1, SNMPv2c and
// SNMPv3 traffic over loopback while requests are cancelled, time out and are
// retried, client dispatchers are created and destroyed (some with requests
// in flight), and watches and host filters change underneath. The heap after
// the run must equal the heap after a warm-up run of the same traffic, and
// the agent must still answer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../tools/zksnmp/session.h"
#include "brask/ip_addr.h"
#include "robustness_support.h"
#include "snmp/dispatcher.h"
#include "snmp/init.h"
#include "snmp/stack_interface.h"
#include "snmp/target.h"
#include "snmp/watch.h"

namespace {

using Clock = std::chrono::steady_clock;

snmp::ObjectId Id(const char* text) {
    snmp::ObjectId oid;
    oid.Set(text);
    return oid;
}

snmp::VarBindList Names(std::initializer_list<const char*> oids) {
    snmp::VarBindList vbs;
    for (const char* o : oids) vbs.push_back(snmp::VarBind(Id(o), snmp::AsnValue(0x05)));
    return vbs;
}

// What one round of traffic did; failures are answers that should have come.
struct Tally {
    std::atomic<unsigned long long> answered{0}, cancelled{0}, timedOut{0}, dispatchers{0},
        sessions{0}, churns{0};
    std::mutex mutex;
    std::vector<std::string> failures;
    void Fail(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        if (failures.size() < 20) failures.push_back(what);
    }
};

// Short-lived manager sessions of every version and level, each its own
// client dispatcher (with SNMPv3 engine discovery), doing Get, GetNext,
// GetBulk and a Set.
void SessionTraffic(unsigned short port, Clock::time_point until, Tally& tally) {
    unsigned int n = 0;
    while (Clock::now() < until) {
        zksnmp::ClientOptions o;
        switch (n++ % 5) {
            case 0:
                o = robustness::CommunityClient(port, snmp::SnmpVersionV1, "private", 0.5, 8);
                break;
            case 1:
                o = robustness::CommunityClient(port, snmp::SnmpVersionV2c, "private", 0.5, 8);
                break;
            case 2:
                o = robustness::UserClient(port, "plain", 0.5, 8);
                break;
            case 3:
                o = robustness::UserClient(port, "shaauth", 0.5, 8);
                break;
            default:
                o = robustness::UserClient(port, "shades", 0.5, 8);
                break;
        }
        o.maxRepetitions = 15;
        zksnmp::ClientSession session(o);
        std::string error;
        if (!session.Open(error)) {
            tally.Fail("open: " + error);
            continue;
        }
        ++tally.sessions;
        snmp::VarBindList set;
        snmp::AsnValue location(0x04);
        // Always the same length, so that the MIB's size in memory is the same
        // after every round.
        location.SetString(snmp::OctetString("location-" + std::to_string(n % 10)));
        set.push_back(snmp::VarBind(Id("1.3.6.1.2.1.1.6.0"), location));
        const std::pair<unsigned int, snmp::VarBindList> requests[] = {
            {snmp::PduGetRequest, Names({"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0"})},
            {snmp::PduGetNextRequest, Names({"1.3.6.1.4.1.99999.2.1.1.2"})},
            {o.version == snmp::SnmpVersionV1 ? snmp::PduGetNextRequest : snmp::PduGetBulkRequest,
             Names({"1.3.6.1.4.1.99999.2.1.1"})},
            {snmp::PduSetRequest, set},
        };
        for (const auto& r : requests) {
            std::unique_ptr<snmp::Message> answer = session.Request(r.first, r.second, error);
            if (!answer) {
                tally.Fail("session v" + std::to_string(o.version) + " " + o.user.name + ": " +
                           error);
            } else if (answer->ErrStat() != 0 || answer->VarBinds().empty()) {
                tally.Fail("session v" + std::to_string(o.version) + " " + o.user.name +
                           ": error status " + std::to_string(answer->ErrStat()));
            } else {
                ++tally.answered;
            }
        }
        session.Close();
    }
}

// A host driving a client dispatcher by hand: answered requests, requests
// cancelled at once, requests to a silent port that time out and are retried
// at the agent, and dispatchers deleted with requests still in flight.
class RawManager : public snmp::Requestor {
public:
    RawManager(unsigned short agentPort, unsigned short silentPort)
        : agent_(brask::IpAddr(0x7F000001U), agentPort),
          silent_(brask::IpAddr(0x7F000001U), silentPort) {
        for (snmp::Target* t : {&agent_, &silent_}) {
            t->SetVersion(snmp::SnmpVersionV2c);
            t->SetCommunity("public");
        }
    }

    void Run(Clock::time_point until, Tally& tally) {
        unsigned int round = 0;
        while (Clock::now() < until) {
            snmp::Dispatcher* d =
                snmp::Dispatcher::Create(snmp::TypeClient, 0, 0, snmp::Dispatcher::SockTypeUdp);
            brask::IpEndpoint local(brask::IpAddr(0x7F000001U), 0);
            if (d == nullptr || !d->AddEndpoint(local, false) || !d->Start()) {
                tally.Fail("raw dispatcher did not start");
                delete d;
                return;
            }
            ++tally.dispatchers;
            for (int i = 0; i < 20 && Clock::now() < until; ++i, ++round) {
                // Answered.
                if (Exchange(d)) {
                    ++tally.answered;
                } else {
                    tally.Fail("raw request unanswered");
                }
                // Cancelled at once; its answer, if it comes, is dropped.
                d->Cancel(Send(d, agent_), true);
                ++tally.cancelled;
                // Timed out at a port that never answers, then retried.
                const int id = Send(d, silent_);
                if (Wait(id, std::chrono::milliseconds(10))) tally.Fail("silent port answered");
                d->Cancel(id, true);
                ++tally.timedOut;
                if (Exchange(d)) {
                    ++tally.answered;
                } else {
                    tally.Fail("retried raw request unanswered");
                }
            }
            // Deleted with requests still outstanding.
            Send(d, agent_);
            Send(d, silent_);
            if (round % 2 == 0) d->Stop();
            delete d;
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& r : responses_) delete r.second;
            responses_.clear();
        }
    }

    void OnResponse(snmp::Dispatcher*, snmp::Message* response) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& slot = responses_[response->RequestId()];
        delete slot;
        slot = response;
        cv_.notify_all();
    }

private:
    // A request to the agent, resent after a time-out as any host would: a
    // filter change can drop a datagram for the moment a receiver created
    // in between holds only the filter of another network.
    bool Exchange(snmp::Dispatcher* d) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            const int id = Send(d, agent_);
            if (Wait(id, std::chrono::milliseconds(1500))) return true;
            d->Cancel(id, true);
        }
        return false;
    }

    int Send(snmp::Dispatcher* d, snmp::Target& to) {
        auto* msg = new snmp::Message();
        msg->SetTarget(to);
        msg->SetType(snmp::PduGetRequest);
        msg->VarBinds() = Names({"1.3.6.1.2.1.1.5.0"});
        int id = 0;
        if (!d->SendRequest(msg, id, false, this)) {
            delete msg;
            return 0;
        }
        return id;
    }

    bool Wait(int id, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, limit, [&] { return responses_.count(id) != 0; })) return false;
        delete responses_[id];
        responses_.erase(id);
        return true;
    }

    snmp::Target agent_;
    snmp::Target silent_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<int, snmp::Message*> responses_;
};

class CountingWatch : public snmp::Watch {
public:
    void OnReceive(const snmp::Message&) override { ++events; }
    void OnDecode(const snmp::Message&) override { ++events; }
    void OnSend(const snmp::Message&) override { ++events; }
    void OnExcept(const snmp::Message&, const snmp::Exception&) override { ++events; }
    std::atomic<unsigned long long> events{0};
};

// Watches registered and removed, host filters added and removed, on every
// receiver that exists. Each step allows loopback again before it adds a
// filter for another network, so traffic is blocked at most for the moment a
// receiver created in between holds only the other filter.
void Churn(Clock::time_point until, Tally& tally) {
    snmp::StackInterface* stack = snmp::StackInterface::Instance();
    snmp::Filter loopback(brask::IpAddr(0x7F000000U), brask::IpAddr(0xFF000000U));
    CountingWatch watches[3];
    unsigned int n = 0;
    while (Clock::now() < until) {
        CountingWatch& w = watches[n % 3];
        stack->RegisterWatch(&w);
        snmp::Filter other(brask::IpAddr(0xC0000200U | (n % 250)));  // 192.0.2.x
        stack->AddHost(loopback);
        stack->AddHost(other);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stack->RemoveHost(other);
        stack->RemoveHost(loopback);
        stack->DeregisterWatch(&w);
        ++n;
        ++tally.churns;
    }
}

// One round of all traffic for `seconds`; returns when every thread is done
// and every dispatcher of the managers is gone.
void Round(unsigned short port, unsigned short silentPort, double seconds, Tally& tally) {
    const auto until = Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    RawManager raw(port, silentPort);
    std::vector<std::thread> threads;
    threads.emplace_back([&] { SessionTraffic(port, until, tally); });
    threads.emplace_back([&] { SessionTraffic(port, until, tally); });
    threads.emplace_back([&] { raw.Run(until, tally); });
    threads.emplace_back([&] { Churn(until, tally); });
    for (auto& t : threads) t.join();
}

TEST(SoakTest, MixedTrafficWithCancelsRetriesAndChurnLeavesHeapAsAfterWarmUp) {
    const double seconds = robustness::RunSeconds("ZK_SOAK_SECONDS", 20);
    ASSERT_TRUE(snmp::Init());
    {
        zksnmp::AgentServer agent(robustness::AgentOptions());
        std::string error;
        ASSERT_TRUE(agent.Start(error)) << error;
        // A port that is bound but never read: requests to it time out.
        const int silent = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        socklen_t length = sizeof addr;
        ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &length), 0);
        const unsigned short silentPort = ntohs(addr.sin_port);

        Tally warm;
        Round(agent.Port(), silentPort, 3, warm);
        const size_t heapWarm = robustness::LiveHeapBytes();

        Tally soak;
        const auto start = Clock::now();
        Round(agent.Port(), silentPort, seconds, soak);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const size_t heapEnd = robustness::LiveHeapBytes();

        for (Tally* t : {&warm, &soak}) {
            EXPECT_TRUE(t->failures.empty())
                << t->failures.size() << " failures, first: " << t->failures.front();
            EXPECT_GT(t->answered, 0u);
            EXPECT_GT(t->cancelled, 0u);
            EXPECT_GT(t->timedOut, 0u);
            EXPECT_GT(t->dispatchers, 0u);
            EXPECT_GT(t->churns, 0u);
        }
        // Every manager and its dispatcher is gone again, so the heap holds
        // what it held after the warm-up; the slack covers allocator and
        // library caches, far less than any per-request leak over a run.
        const long long growth = static_cast<long long>(heapEnd) - static_cast<long long>(heapWarm);
        EXPECT_LT(growth, 64 * 1024) << "heap grew by " << growth << " bytes";

        // The agent still answers.
        zksnmp::ClientSession check(
            robustness::CommunityClient(agent.Port(), snmp::SnmpVersionV2c, "public", 1.0, 5));
        ASSERT_TRUE(check.Open(error)) << error;
        EXPECT_NE(check.Request(snmp::PduGetRequest, Names({"1.3.6.1.2.1.1.5.0"}), error), nullptr)
            << error;
        check.Close();

        std::printf(
            "soak: %.1f s, %llu answered, %llu cancelled, %llu timed out, %llu sessions, "
            "%llu raw dispatchers, %llu watch/filter changes\n",
            elapsed, soak.answered.load(), soak.cancelled.load(), soak.timedOut.load(),
            soak.sessions.load(), soak.dispatchers.load(), soak.churns.load());
        std::printf("soak: heap after warm-up %zu bytes, at the end %zu bytes (%+lld)\n", heapWarm,
                    heapEnd, growth);
        close(silent);
        agent.Stop();
    }
    snmp::Shutdown();
}

}  // namespace
