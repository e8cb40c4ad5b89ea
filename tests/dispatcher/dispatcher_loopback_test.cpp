// A client-mode and a server-mode dispatcher talking over 127.0.0.1: every version,
// notifications, discovery, Reports, tooBig, answer order, the draining stop and load.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dispatcher/dispatcher_test_support.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/snmp_stats.h"
#include "snmp/socket_buffers.h"
#include "snmp/stack_interface.h"
#include "snmp/transport/udp_transporter.h"
#include "snmp/watch.h"

namespace snmp {
namespace {

using namespace dispatcher_test;
using zktest::StringBind;

const char kSysDescr[] = "1.3.6.1.2.1.1.1.0";

// True when a fresh socket can bind 127.0.0.1:`port`, i.e. nobody holds it.
bool PortIsFree(unsigned short port) {
    brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), port);
    const int s = UDPTransporter().Open(local, false);
    if (s >= 0) ::close(s);
    return s >= 0;
}

class DispatcherLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(snmp::Init());
        server_.reset(StartDispatcher(TypeServer, 0, &serverPort_));
        client_.reset(StartDispatcher(TypeClient, 0));
        ASSERT_TRUE(server_ && client_);
    }

    void TearDown() override {
        client_.reset();
        server_.reset();
        snmp::Shutdown();
    }

    // A started dispatcher on a system-chosen port of 127.0.0.1.
    Dispatcher* StartDispatcher(Type type, unsigned int sendBufferSize,
                                unsigned short* port = nullptr) {
        Dispatcher* d = Dispatcher::Create(type, sendBufferSize, 0, Dispatcher::SockTypeUdp);
        d->SetTargetLookup(type == TypeServer ? &agentUsers_ : &managerUsers_);
        d->SetServerRequestor(type == TypeServer ? &agent_ : nullptr);
        brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
        EXPECT_TRUE(d->AddEndpoint(local, false));
        EXPECT_NE(local.Port(), 0);
        if (port != nullptr) *port = local.Port();
        EXPECT_TRUE(d->Start());
        return d;
    }

    // Sends a Get of `name` to `port` through `from`; the request id.
    int SendGet(Dispatcher* from, unsigned short port, Collector* collector,
                SnmpVersion version = SnmpVersionV2c, const std::string& name = kSysDescr) {
        int id = 0;
        Message* m = NewRequest(version, PduGetRequest, port, {name});
        if (!from->SendRequest(m, id, false, collector)) {
            ADD_FAILURE() << "request refused";
            delete m;
        }
        return id;
    }

    Message* V3Get(const std::string& user) {
        Target target = managerUsers_.Stored(user);
        target.SetPort(serverPort_);
        Message* m = NewRequest(SnmpVersionV3, PduGetRequest, serverPort_, {kSysDescr});
        m->SetTarget(target);
        m->InitSecurity(&managerUsers_);
        m->SetUserName(user);
        return m;
    }

    static DispatcherImp& Imp(Dispatcher* d) { return *dynamic_cast<DispatcherImp*>(d); }

    Users agentUsers_{TypeServer};
    Users managerUsers_{TypeClient};
    Agent agent_;
    std::unique_ptr<Dispatcher> server_;
    std::unique_ptr<Dispatcher> client_;
    unsigned short serverPort_ = 0;
};

TEST_F(DispatcherLoopbackTest, CommunityRequestsAreAnswered) {
    const std::string get = ".1.3.6.1.2.1.1.5.0=5";
    const std::string next = ".1.3.6.1.2.1.1.6.0=6";
    const std::string set = ".1.3.6.1.2.1.1.5.0=new name";
    const struct {
        SnmpVersion version;
        unsigned int type;
        std::string answer;
    } cases[] = {{SnmpVersionV1, PduGetRequest, get},
                 {SnmpVersionV1, PduGetNextRequest, next},
                 {SnmpVersionV1, PduSetRequest, set},
                 {SnmpVersionV2c, PduGetRequest, get},
                 {SnmpVersionV2c, PduGetNextRequest, next},
                 {SnmpVersionV2c, PduSetRequest, set},
                 {SnmpVersionV2c, PduGetBulkRequest, next + " .1.3.6.1.2.1.1.7.0=7"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + "/" + std::to_string(c.type));
        Message* m = NewRequest(c.version, c.type, serverPort_, {"1.3.6.1.2.1.1.5.0"});
        if (c.type == PduGetBulkRequest) m->SetMaxReps(2);
        if (c.type == PduSetRequest)
            m->VarBinds().front() = StringBind("1.3.6.1.2.1.1.5.0", "new name");
        Collector collector;
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(m, id, false, &collector));
        ASSERT_TRUE(collector.WaitFor(1));
        Message& r = collector.At(0);
        EXPECT_TRUE(r.RequestId() == id && r.Type() == PduResponse && r.ErrStat() == 0);
        EXPECT_TRUE(r.Version() == c.version && r.SrcPort() == serverPort_);
        EXPECT_EQ(Bindings(r), c.answer);
    }
    EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
}

// Deleting one dispatcher used to empty the process-wide watch list, so the
// statistics and the host's observers of every other dispatcher went silent.
TEST_F(DispatcherLoopbackTest, DeletingOneDispatcherNoLongerSilencesTheOthersWatches) {
    struct Counting : Watch {
        std::atomic<int> decoded{0};
        void OnReceive(const Message&) override {}
        void OnDecode(const Message&) override { ++decoded; }
        void OnSend(const Message&) override {}
        void OnExcept(const Message&, const Exception&) override {}
    } host;
    StackInterface::Instance()->RegisterWatch(&host);
    std::unique_ptr<Dispatcher> other(StartDispatcher(TypeClient, 0));
    ASSERT_TRUE(other);
    other->Stop();
    other.reset();

    const unsigned int responsesBefore = SnmpStats::Instance()->InGetResponses();
    Collector collector;
    SendGet(client_.get(), serverPort_, &collector);
    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_EQ(host.decoded.load(), 2);  // the request at the agent, the answer here
    EXPECT_EQ(SnmpStats::Instance()->InGetResponses(), responsesBefore + 1);
    StackInterface::Instance()->DeregisterWatch(&host);
}

TEST_F(DispatcherLoopbackTest, TrapsArriveAndInformsAreAnswered) {
    VarBindList vbs;
    vbs.push_back(StringBind("1.3.6.1.2.1.2.2.1.1.3", "link down"));
    const std::string v2Bindings =
        ".1.3.6.1.2.1.1.3.0=type 67 .1.3.6.1.6.3.1.1.4.1.0=.1.3.6.1.6.3.1.1.5.3 "
        ".1.3.6.1.2.1.2.2.1.1.3=link down";
    auto addressed = [&](Message* m) {
        m->SetCommunity("public");
        m->SetDstAddr(brask::IpAddr("127.0.0.1"));
        m->SetDstPort(serverPort_);
        return m;
    };
    for (int specific : {1, 2}) {  // two SNMPv1 traps, both with request id 0
        auto* trap = new Message();
        trap->Init(PduV1Trap, Oid("1.3.6.1.4.1.9999"), 0x7F000001, 6, specific, 1234, vbs);
        ASSERT_TRUE(client_->Enqueue(addressed(trap)));
    }
    auto* v2 = new Message();
    v2->Init(SnmpVersionV2c, PduV2Trap, Oid("1.3.6.1.6.3.1.1.5.3"), 777, vbs);
    v2->SetRequestId(31337);
    ASSERT_TRUE(client_->Enqueue(addressed(v2)));

    ASSERT_TRUE(Eventually([&] { return agent_.Notifications().size() >= 3; }));
    const std::vector<Message*> got = agent_.Notifications();
    for (int i = 0; i < 2; ++i) {
        const Message& t = *got[i];
        EXPECT_TRUE(t.Type() == PduV1Trap && t.SpecType() == i + 1 && t.Stamp() == 1234u);
        EXPECT_EQ(Text(t.Enterprise()), ".1.3.6.1.4.1.9999");
    }
    EXPECT_EQ(got[2]->RequestId(), 31337);
    EXPECT_EQ(Bindings(*got[2]), v2Bindings);

    // An inform is a request: its answer comes back to the requestor.
    auto* inform = new Message();
    inform->Init(SnmpVersionV2c, PduInformRequest, Oid("1.3.6.1.6.3.1.1.5.3"), 777, vbs);
    Collector collector;
    int id = 0;
    ASSERT_TRUE(client_->SendRequest(addressed(inform), id, false, &collector));
    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_TRUE(collector.At(0).RequestId() == id && collector.At(0).Type() == PduResponse);
    EXPECT_EQ(Bindings(collector.At(0)), v2Bindings);
}

TEST_F(DispatcherLoopbackTest, SnmpV3DiscoveryCompletesAtEveryLevel) {
    // Every authentication protocol with every privacy protocol, and neither.
    std::vector<std::pair<USMAuthProtocol, USMPrivProtocol>> pairs{{USMAuthNone, USMPrivNone}};
    for (int auth = USMAuthMD5; auth <= USMAuthSHA512; ++auth) {
        for (int priv = USMPrivNone; priv <= USMPrivAES256C; ++priv) {
            pairs.emplace_back(static_cast<USMAuthProtocol>(auth),
                               static_cast<USMPrivProtocol>(priv));
        }
    }
    SnmpStats* stats = SnmpStats::Instance();
    for (const auto& c : pairs) {
        const std::string user =
            "auth" + std::to_string(c.first) + "-priv" + std::to_string(c.second);
        SCOPED_TRACE(user);
        agentUsers_.Add(user, c.first, c.second, "authpass-1", "privpass-1");
        managerUsers_.Add(user, c.first, c.second, "authpass-1", "privpass-1");
        // The agent answers the probe with an unknown-engine Report, an
        // authenticated user's next try with a not-in-time-window Report.
        const unsigned int unknownEngine = stats->USMStat(200) + 1;
        const unsigned int timeWindow = stats->USMStat(204) + (c.first != USMAuthNone ? 1 : 0);
        // Once the engine is known, the next request goes straight through.
        for (bool discover : {true, false}) {
            Collector collector;
            Message* m = V3Get(user);
            const v3SecurityLevel level = m->SecurityLevel();
            int id = 0;
            ASSERT_TRUE(client_->SendRequest(m, id, discover, &collector));
            ASSERT_TRUE(collector.WaitFor(1));
            Message& r = collector.At(0);
            EXPECT_TRUE(r.RequestId() == id && r.Type() == PduResponse);
            EXPECT_EQ(r.SecurityLevel(), level);
            EXPECT_EQ(Bindings(r), ".1.3.6.1.2.1.1.1.0=1");
            EXPECT_EQ(stats->USMStat(200), unknownEngine);
            EXPECT_EQ(stats->USMStat(204), timeWindow);
        }
        EXPECT_EQ(managerUsers_.Stored(user).EngineId(), ServerEngineId());
        EXPECT_EQ(Imp(client_.get()).KeptV3RequestCount(), 0u);
    }
}

TEST_F(DispatcherLoopbackTest, WrongPasswordReportGoesOutUnauthenticatedSoTheManagerCanReadIt) {
    // A manager with the wrong key could not verify a Report signed with the
    // right one; like the unknown-user Report it goes out at noAuthNoPriv.
    agentUsers_.Add("authuser", USMAuthSHA1, USMPrivNone, "right-password");
    managerUsers_.Add("authuser", USMAuthSHA1, USMPrivNone, "wrong-password");
    managerUsers_.Add("nobody", USMAuthMD5, USMPrivNone, "whatever-pass");
    const struct {
        const char* user;
        int errorType;
        const char* counter;
    } cases[] = {{"authuser", 203, USM_WRONGDIGEST}, {"nobody", 201, USM_UNKNOWNUSER}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        const unsigned int before = SnmpStats::Instance()->USMStat(c.errorType);
        Collector collector;
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(V3Get(c.user), id, true, &collector));
        // The Report reaches the requestor in place of the answer.
        ASSERT_TRUE(collector.WaitFor(1));
        Message& report = collector.At(0);
        EXPECT_TRUE(report.Type() == PduReport && report.RequestId() == id);
        EXPECT_TRUE(report.SecurityLevel() == SecLevelNoAuthNoPriv && report.UserName() == c.user);
        EXPECT_EQ(Bindings(report), c.counter + ("=" + std::to_string(before + 1)));
        EXPECT_EQ(agent_.Seen(id), 0);
        EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
    }
}

TEST_F(DispatcherLoopbackTest, TooBigRequestsAndAnswersComeBackAsTooBig) {
    // A request that does not fit the client's send buffer is answered
    // locally, never from inside the host's SendRequest call, where the host
    // may hold the lock its OnResponse takes.
    struct Local : Collector {
        std::atomic<std::thread::id> thread;
        void OnResponse(Dispatcher* d, Message* response) override {
            thread = std::this_thread::get_id();
            Collector::OnResponse(d, response);
        }
    };
    unsigned short port = 0;
    std::unique_ptr<Dispatcher> smallClient(StartDispatcher(TypeClient, 120, &port));
    Local local;
    int id = 0;
    // The second round finds the sender thread idle, so the host's own
    // thread sends.
    for (size_t round = 0; round < 2; ++round) {
        Message* big = NewRequest(SnmpVersionV2c, PduSetRequest, serverPort_, {kSysDescr});
        big->VarBinds().front() = StringBind(kSysDescr, std::string(300, 'x'));
        ASSERT_TRUE(smallClient->SendRequest(big, id, false, &local));
        ASSERT_TRUE(local.WaitFor(round + 1));
        EXPECT_NE(local.thread.load(), std::this_thread::get_id());
        const Message& r = local.At(round);
        EXPECT_TRUE(r.RequestId() == id && r.Type() == PduResponse && r.ErrStat() == 1);
        EXPECT_EQ(r.SrcPort(), serverPort_);
    }
    EXPECT_EQ(agent_.Seen(id), 0);

    // An answer that does not fit the server's send buffer goes out as
    // tooBig: without bindings (SNMPv2c) or with NULL values (SNMPv1).
    std::unique_ptr<Dispatcher> smallServer(StartDispatcher(TypeServer, 200, &port));
    agent_.mib[Oid(kSysDescr)] = StringBind(kSysDescr, std::string(300, 'x')).Value();
    const std::pair<SnmpVersion, std::string> cases[] = {
        {SnmpVersionV2c, ""}, {SnmpVersionV1, ".1.3.6.1.2.1.1.1.0=type 5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Collector remote;
        id = SendGet(client_.get(), port, &remote, c.first);
        ASSERT_TRUE(remote.WaitFor(1));
        EXPECT_TRUE(remote.At(0).RequestId() == id && remote.At(0).ErrStat() == 1);
        EXPECT_EQ(Bindings(remote.At(0)), c.second);
    }
}

TEST_F(DispatcherLoopbackTest, AnswersLeaveInRequestIdOrder) {
    agent_.SetHold(true);
    Collector collector;
    std::vector<int> ids;
    for (int i = 0; i < 5; ++i) ids.push_back(SendGet(client_.get(), serverPort_, &collector));
    ASSERT_TRUE(Eventually([&] { return agent_.HeldCount() == 5; }));

    // Answered in reverse order while the server's sender is held.
    server_->LockSockets();
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        agent_.Answer(server_.get(), agent_.TakeHeld(*it));
    }
    server_->UnlockSockets();
    ASSERT_TRUE(collector.WaitFor(5));
    EXPECT_EQ(collector.Ids(), ids);
}

TEST_F(DispatcherLoopbackTest, ServerStopWaitsUntilEveryRecordIsAnsweredOrCancelled) {
    // The drain ends with the last answer, or with the last cancellation.
    for (bool cancelLast : {false, true}) {
        SCOPED_TRACE(cancelLast ? "cancel last" : "answer last");
        unsigned short port = 0;
        std::unique_ptr<Dispatcher> server(StartDispatcher(TypeServer, 0, &port));
        agent_.SetHold(true);
        Collector collector;
        const int answered = SendGet(client_.get(), port, &collector);
        const int dropped = SendGet(client_.get(), port, &collector);
        ASSERT_TRUE(Eventually([&] { return agent_.HeldCount() == 2; }));

        std::atomic<bool> stopped{false};
        std::thread stopper([&] {
            server->Stop();
            stopped = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(stopped.load());
        Message* toAnswer = agent_.TakeHeld(answered);
        delete agent_.TakeHeld(dropped);
        for (int step = 0; step < 2; ++step) {
            if ((step == 0) == cancelLast) {
                agent_.Answer(server.get(), toAnswer);
            } else {
                EXPECT_EQ(server->Cancel(dropped, true), nullptr);
            }
            EXPECT_TRUE(step == 1 || !stopped.load());
        }
        ASSERT_TRUE(Eventually([&] { return stopped.load(); }));
        stopper.join();

        // The answer was sent before Stop returned; the other never comes.
        ASSERT_TRUE(collector.WaitFor(1));
        EXPECT_EQ(collector.Ids(), std::vector<int>{answered});
        EXPECT_EQ(client_->Cancel(dropped, true), nullptr);
        std::unique_ptr<Message> late(NewRequest(SnmpVersionV2c, PduGetRequest, port, {}, 5));
        EXPECT_FALSE(server->HandleRequest(late.get()));
        agent_.SetHold(false);
    }
}

TEST_F(DispatcherLoopbackTest, ThousandsOfRequestsFromSeveralThreadsAreAnsweredOnce) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1000;
    constexpr size_t kWindow = 200;  // in flight per thread, at most
    Collector collector;
    std::mutex idsLock;
    std::set<int> sentIds;
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                while (static_cast<size_t>(i) >= collector.Count() / kThreads + kWindow) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                const int id = SendGet(client_.get(), serverPort_, &collector,
                                       i % 2 == 0 ? SnmpVersionV2c : SnmpVersionV1,
                                       "1.3.6.1.2.1.1." + std::to_string(t) + ".0");
                std::lock_guard<std::mutex> guard(idsLock);
                sentIds.insert(id);
            }
        });
    }
    for (std::thread& h : hosts) h.join();
    ASSERT_EQ(sentIds.size(), static_cast<size_t>(kThreads) * kPerThread);
    ASSERT_TRUE(collector.WaitFor(sentIds.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for a duplicate
    std::vector<int> answered = collector.Ids();
    std::sort(answered.begin(), answered.end());
    EXPECT_TRUE(answered == std::vector<int>(sentIds.begin(), sentIds.end()));  // each once
    for (int id : sentIds) EXPECT_EQ(agent_.Seen(id), 1) << id;
    EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
}

TEST_F(DispatcherLoopbackTest, EndpointsOpenOnceAndCanChangeWhileRunning) {
    brask::IpEndpoint second(brask::IpAddr("127.0.0.1"), 0);
    ASSERT_TRUE(server_->AddEndpoint(second, false));
    brask::IpEndpoint again(second);
    EXPECT_FALSE(second.Port() == serverPort_ || server_->AddEndpoint(again, false));
    for (unsigned short port : {serverPort_, second.Port()}) {
        Collector collector;
        const int id = SendGet(client_.get(), port, &collector);
        ASSERT_TRUE(collector.WaitFor(1));
        EXPECT_EQ(collector.Ids(), std::vector<int>{id});
    }

    EXPECT_TRUE(server_->RemoveEndpoint(second) && !server_->RemoveEndpoint(second));
    EXPECT_TRUE(Eventually([&] { return PortIsFree(second.Port()); }));
    Collector collector;
    SendGet(client_.get(), serverPort_, &collector);
    ASSERT_TRUE(collector.WaitFor(1));
}

TEST_F(DispatcherLoopbackTest, HostSetSocketBuffersReachOpenAndLaterSocketsAndZeroKeepsTheDefault) {
    std::unique_ptr<Dispatcher> d(Dispatcher::Create(TypeClient, 0, 0, Dispatcher::SockTypeUdp));
    brask::IpEndpoint first(brask::IpAddr("127.0.0.1"), 0);
    ASSERT_TRUE(d->AddEndpoint(first, false));
    unsigned int defaultSend = 0, defaultReceive = 0;
    ASSERT_TRUE(SocketBufferSizes(*d, first, defaultSend, defaultReceive));

    constexpr unsigned int kWanted = 8u << 20;
    EXPECT_FALSE(SetSocketBufferSizes(*d, 0, (1u << 30) + 1));
    ASSERT_TRUE(SetSocketBufferSizes(*d, 0, kWanted));
    brask::IpEndpoint later(brask::IpAddr("127.0.0.1"), 0);
    ASSERT_TRUE(d->AddEndpoint(later, false));
    for (const brask::IpEndpoint* e : {&first, &later}) {
        SCOPED_TRACE(e->Port());
        unsigned int send = 0, receive = 0;
        ASSERT_TRUE(SocketBufferSizes(*d, *e, send, receive));
        EXPECT_EQ(send, defaultSend);
        // Only a privileged process may pass the system's limit.
        EXPECT_GE(receive, ::geteuid() == 0 ? kWanted : defaultReceive);
    }
}

TEST_F(DispatcherLoopbackTest, StopAndDeletionEndTheThreadsAtOnceAndCloseTheSockets) {
    // A receiver that noticed Stop only when a wait of a quarter second ended
    // would pass one round in three at most; six rounds in a row it cannot.
    for (Type type : {TypeClient, TypeServer}) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(std::to_string(type) + " round " + std::to_string(round));
            std::unique_ptr<Dispatcher> d(StartDispatcher(type, 0));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // settle into the wait
            const auto t0 = std::chrono::steady_clock::now();
            d->Stop();
            d.reset();
            EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
        }
    }
    // Deleted while running, with a record still open: no drain.
    unsigned short port = 0;
    std::unique_ptr<Dispatcher> forgotten(StartDispatcher(TypeServer, 0, &port));
    agent_.SetHold(true);
    Collector never;
    const int id = SendGet(client_.get(), port, &never);
    ASSERT_TRUE(Eventually([&] { return agent_.HeldCount() == 1; }));
    delete agent_.TakeHeld(id);
    forgotten.reset();
    EXPECT_TRUE(Eventually([&] { return PortIsFree(port); }));
    EXPECT_TRUE(never.Count() == 0u && client_->Cancel(id, true) == nullptr);
}

}  // namespace
}  // namespace snmp
