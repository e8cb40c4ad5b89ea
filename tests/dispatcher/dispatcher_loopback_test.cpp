// A client-mode and a server-mode dispatcher in one process, talking over
// 127.0.0.1: requests of every version, traps and informs, SNMPv3 discovery
// at every security level, Reports, tooBig answers, cancellation, answer
// order, the draining stop and many requests in flight from several threads.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dispatcher/dispatcher_test_support.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/init.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"
#include "snmp/watch.h"

namespace snmp {
namespace {

using namespace dispatcher_test;

const char kSysDescr[] = "1.3.6.1.2.1.1.1.0";

OctetString ServerEngineId() {
    static const unsigned char id[] = {0x80, 0x00, 0x1f, 0x88, 0x04, 'z', 'k', 'd', 'i', 's', 'p'};
    return OctetString(id, sizeof(id));
}

Target* NewUser(const std::string& name, USMAuthProtocol auth, USMPrivProtocol priv,
                const std::string& authPass, const std::string& privPass) {
    auto* target = new Target(brask::IpAddr("127.0.0.1"), 161);
    target->SetVersion(SnmpVersionV3);
    auto* attributes = new USMAttributes(auth, priv);
    attributes->SetUserName(name);
    EXPECT_TRUE(auth == USMAuthNone || attributes->SetAuthPass(authPass));
    EXPECT_TRUE(priv == USMPrivNone || attributes->SetPrivPass(privPass));
    target->SetSecAttributes(attributes);
    target->SetSecLevel(priv != USMPrivNone   ? SecLevelAuthPriv
                        : auth != USMAuthNone ? SecLevelAuthNoPriv
                                              : SecLevelNoAuthNoPriv);
    return target;
}

// The agent's user table. The agent is the authoritative engine: every
// target carries its engine id, boots and current time. Reports to users it
// does not know go out through an unauthenticated engine-only target.
class AgentLookup : public TargetLookup {
public:
    AgentLookup() : TargetLookup(TypeServer), started_(snmp::TimeStamp()) {
        anonymous_.SetVersion(SnmpVersionV3);
        Prepare(anonymous_);
    }

    void AddUser(Target* target) {
        Prepare(*target);
        if (target->SecAttributes()->AuthProtocol() != USMAuthNone) {
            EXPECT_TRUE(target->CalculateKeys());
        }
        Lock();
        users_[target->UserName()].reset(target);
        Unlock();
    }

    Target* FindTarget(const Message& msg) override {
        auto it = users_.find(msg.UserName());
        Target* found = it != users_.end() ? it->second.get() : nullptr;
        if (found == nullptr && msg.Type() == PduReport) {
            // Echo the stranger's name so that the manager can match the Report.
            anonymous_.SetUserName(msg.UserName());
            found = &anonymous_;
        }
        if (found != nullptr) found->SetEngineTime(EngineTime());
        return found;
    }

private:
    void Prepare(Target& t) {
        t.SetEngineId(ServerEngineId());
        t.SetEngineBoots(1);
        t.SetEngineTime(EngineTime());
    }
    unsigned int EngineTime() const { return 1000 + (snmp::TimeStamp() - started_); }

    const unsigned int started_;
    std::map<std::string, std::unique_ptr<Target>> users_;
    Target anonymous_;
};

// The manager's store: one target per user, learning the agent's engine id,
// boots and time through UpdateTarget.
class ManagerLookup : public TargetLookup {
public:
    ManagerLookup() : TargetLookup(TypeClient) {}

    void AddUser(Target* target) {
        Lock();
        users_[target->UserName()].reset(target);
        Unlock();
    }
    Target Stored(const std::string& user) {
        Lock();
        Target copy(*users_.at(user));
        Unlock();
        return copy;
    }
    Target* FindTarget(const Message& msg) override {
        auto it = users_.find(msg.UserName());
        return it == users_.end() ? nullptr : it->second.get();
    }
    void UpdateTarget(Target* target, const Message& msg) override {
        Lock();
        auto it = users_.find(msg.UserName());
        if (it != users_.end()) *it->second = *target;
        Unlock();
    }

private:
    std::map<std::string, std::unique_ptr<Target>> users_;
};

// The PDU type and first binding of every message decoded at a port.
class Traffic : public Watch {
public:
    void OnReceive(const Message&) override {}
    void OnSend(const Message&) override {}
    void OnExcept(const Message&, const Exception&) override {}
    void OnDecode(const Message& m) override {
        std::lock_guard<std::mutex> guard(mutex_);
        decoded_[m.DstPort()].push_back(m.Type() == PduReport ? FirstName(m) : "response");
    }
    std::vector<std::string> TakeDecodedAt(unsigned short port) {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<std::string> out;
        out.swap(decoded_[port]);
        return out;
    }

private:
    std::mutex mutex_;
    std::map<unsigned short, std::vector<std::string>> decoded_;
};

// True when a fresh socket can bind 127.0.0.1:`port`, i.e. nobody holds it.
bool PortIsFree(unsigned short port) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(s);
    return bound;
}

class DispatcherLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(snmp::Init());
        server_.reset(StartDispatcher(TypeServer, 0, &serverPort_));
        client_.reset(StartDispatcher(TypeClient, 0, &clientPort_));
        ASSERT_TRUE(server_ && client_);
        StackInterface::Instance()->RegisterWatch(&traffic_);
    }

    void TearDown() override {
        if (client_) client_->Stop();
        if (server_) server_->Stop();
        client_.reset();
        server_.reset();
        extra_.clear();
        snmp::Shutdown();
    }

    Dispatcher* StartDispatcher(Type type, unsigned int sendBufferSize, unsigned short* port) {
        Dispatcher* d = Dispatcher::Create(type, sendBufferSize, 0, Dispatcher::SockTypeUdp);
        if (type == TypeServer) {
            d->SetTargetLookup(&agentUsers_);
            d->SetServerRequestor(&agent_);
        } else {
            d->SetTargetLookup(&managerUsers_);
        }
        brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
        EXPECT_TRUE(d->AddEndpoint(local, false));
        *port = local.Port();
        EXPECT_NE(*port, 0);
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

    AgentLookup agentUsers_;
    ManagerLookup managerUsers_;
    Agent agent_;
    Traffic traffic_;
    std::unique_ptr<Dispatcher> server_;
    std::unique_ptr<Dispatcher> client_;
    std::vector<std::unique_ptr<Dispatcher>> extra_;
    unsigned short serverPort_ = 0;
    unsigned short clientPort_ = 0;
};

TEST_F(DispatcherLoopbackTest, CommunityRequestsAreAnswered) {
    const struct {
        SnmpVersion version;
        unsigned int type;
        std::vector<std::string> names;  // of the answer
        const char* firstValue;          // a string value, or null
    } cases[] = {
        {SnmpVersionV1,
         PduGetRequest,
         {".1.3.6.1.2.1.1.5.0", ".1.3.6.1.2.1.1.6.0"},
         "value of .1.3.6.1.2.1.1.5.0"},
        {SnmpVersionV1,
         PduGetNextRequest,
         {".1.3.6.1.2.1.1.5.0.1", ".1.3.6.1.2.1.1.6.0.1"},
         nullptr},
        {SnmpVersionV1, PduSetRequest, {".1.3.6.1.2.1.1.5.0", ".1.3.6.1.2.1.1.6.0"}, "new name"},
        {SnmpVersionV2c,
         PduGetRequest,
         {".1.3.6.1.2.1.1.5.0", ".1.3.6.1.2.1.1.6.0"},
         "value of .1.3.6.1.2.1.1.5.0"},
        {SnmpVersionV2c,
         PduGetNextRequest,
         {".1.3.6.1.2.1.1.5.0.1", ".1.3.6.1.2.1.1.6.0.1"},
         nullptr},
        {SnmpVersionV2c,
         PduGetBulkRequest,
         {".1.3.6.1.2.1.1.5.0.1", ".1.3.6.1.2.1.1.5.0.2", ".1.3.6.1.2.1.1.6.0.1",
          ".1.3.6.1.2.1.1.6.0.2"},
         nullptr},
        {SnmpVersionV2c, PduSetRequest, {".1.3.6.1.2.1.1.5.0", ".1.3.6.1.2.1.1.6.0"}, "new name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + "/" + std::to_string(c.type));
        Message* m =
            NewRequest(c.version, c.type, serverPort_, {"1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1.6.0"});
        if (c.type == PduGetBulkRequest) m->SetMaxReps(2);
        if (c.type == PduSetRequest) {
            AsnValue value(0x04);
            value.SetString(OctetString("new name"));
            m->VarBinds().front().SetAsnValue(value);
        }
        Collector collector;
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(m, id, false, &collector));
        ASSERT_TRUE(collector.WaitFor(1));
        Message& r = collector.At(0);
        EXPECT_EQ(r.RequestId(), id);
        EXPECT_EQ(r.Type(), static_cast<unsigned int>(PduResponse));
        EXPECT_EQ(r.Version(), c.version);
        EXPECT_EQ(r.ErrStat(), 0);
        EXPECT_EQ(r.SrcPort(), serverPort_);
        std::vector<std::string> names;
        for (const VarBind& vb : r.VarBinds()) names.push_back(Text(vb.Objid()));
        EXPECT_EQ(names, c.names);
        if (c.firstValue != nullptr) {
            EXPECT_EQ(r.VarBinds().front().Value().String(), OctetString(c.firstValue));
        }
    }
    EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
}

TEST_F(DispatcherLoopbackTest, TrapsArriveAndInformsAreAnswered) {
    AsnValue text(0x04);
    text.SetString(OctetString("link down"));
    VarBindList vbs;
    vbs.push_back(VarBind(Oid("1.3.6.1.2.1.2.2.1.1.3"), text));
    std::vector<Message*> notifications;
    for (int specific : {1, 2}) {  // two SNMPv1 traps, both with request id 0
        notifications.push_back(new Message());
        notifications.back()->Init(PduV1Trap, Oid("1.3.6.1.4.1.9999"), 0x7F000001, 6, specific,
                                   1234, vbs);
    }
    notifications.push_back(new Message());
    notifications.back()->Init(SnmpVersionV2c, PduV2Trap, Oid("1.3.6.1.6.3.1.1.5.3"), 777, vbs);
    notifications.back()->SetRequestId(31337);
    notifications.push_back(new Message());
    notifications.back()->Init(SnmpVersionV2c, PduInformRequest, Oid("1.3.6.1.6.3.1.1.5.4"), 888,
                               vbs);
    for (Message* m : notifications) {
        m->SetCommunity("public");
        m->SetDstAddr(brask::IpAddr("127.0.0.1"));
        m->SetDstPort(serverPort_);
    }
    Message* inform = notifications.back();
    notifications.pop_back();
    for (Message* m : notifications) ASSERT_TRUE(client_->Enqueue(m));

    ASSERT_TRUE(Eventually([&] { return agent_.NotificationCount() >= 3; }));
    for (int i = 0; i < 2; ++i) {
        Message& t = agent_.Notification(i);
        EXPECT_EQ(t.Type(), static_cast<unsigned int>(PduV1Trap));
        EXPECT_EQ(Text(t.Enterprise()), ".1.3.6.1.4.1.9999");
        EXPECT_EQ(t.SpecType(), i + 1);
        EXPECT_EQ(t.Stamp(), 1234u);
    }
    Message& t2 = agent_.Notification(2);
    EXPECT_EQ(t2.Type(), static_cast<unsigned int>(PduV2Trap));
    EXPECT_EQ(t2.RequestId(), 31337);
    ASSERT_EQ(t2.VarBinds().size(), 3u);
    EXPECT_EQ(Text(std::next(t2.VarBinds().begin())->Value().Objid()), ".1.3.6.1.6.3.1.1.5.3");

    // An inform is a request: its answer comes back to the requestor.
    Collector collector;
    int id = 0;
    ASSERT_TRUE(client_->SendRequest(inform, id, false, &collector));
    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_EQ(collector.At(0).RequestId(), id);
    EXPECT_EQ(collector.At(0).Type(), static_cast<unsigned int>(PduResponse));
    EXPECT_EQ(collector.At(0).VarBinds().size(), 3u);
}

TEST_F(DispatcherLoopbackTest, SnmpV3DiscoveryCompletesAtEveryLevel) {
    const struct {
        const char* user;
        USMAuthProtocol auth;
        USMPrivProtocol priv;
    } cases[] = {
        {"plain", USMAuthNone, USMPrivNone},  {"md5", USMAuthMD5, USMPrivNone},
        {"sha", USMAuthSHA1, USMPrivNone},    {"md5des", USMAuthMD5, USMPrivDES},
        {"sha1des", USMAuthSHA1, USMPrivDES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        agentUsers_.AddUser(NewUser(c.user, c.auth, c.priv, "authpass-1", "privpass-1"));
        managerUsers_.AddUser(NewUser(c.user, c.auth, c.priv, "authpass-1", "privpass-1"));
        traffic_.TakeDecodedAt(clientPort_);

        Collector collector;
        Message* m = V3Get(c.user);
        const v3SecurityLevel level = m->SecurityLevel();
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(m, id, true, &collector));
        ASSERT_TRUE(collector.WaitFor(1));
        Message& r = collector.At(0);
        EXPECT_EQ(r.RequestId(), id);
        EXPECT_EQ(r.Type(), static_cast<unsigned int>(PduResponse));
        EXPECT_EQ(r.SecurityLevel(), level);
        ASSERT_EQ(r.VarBinds().size(), 1u);
        EXPECT_EQ(r.VarBinds().front().Value().String(),
                  OctetString("value of .1.3.6.1.2.1.1.1.0"));

        // The manager saw the unknown-engine report, for an authenticated
        // user the not-in-time-window report, then the answer.
        std::vector<std::string> expected{USM_UNKNOWNENGINE};
        if (c.auth != USMAuthNone) expected.push_back(USM_TIMEWINDOW);
        expected.push_back("response");
        EXPECT_EQ(traffic_.TakeDecodedAt(clientPort_), expected);
        EXPECT_EQ(managerUsers_.Stored(c.user).EngineId(), ServerEngineId());
        EXPECT_EQ(Imp(client_.get()).KeptV3RequestCount(), 0u);

        // Once the engine is known, a request goes straight through.
        Collector again;
        ASSERT_TRUE(client_->SendRequest(V3Get(c.user), id, false, &again));
        ASSERT_TRUE(again.WaitFor(1));
        EXPECT_EQ(again.At(0).Type(), static_cast<unsigned int>(PduResponse));
        EXPECT_EQ(traffic_.TakeDecodedAt(clientPort_), std::vector<std::string>{"response"});
    }
}

TEST_F(DispatcherLoopbackTest, WrongPasswordReportGoesOutUnauthenticatedSoTheManagerCanReadIt) {
    // A manager with the wrong key could not verify a Report signed with the
    // right one; like the unknown-user Report it goes out at noAuthNoPriv.
    agentUsers_.AddUser(NewUser("authuser", USMAuthSHA1, USMPrivNone, "right-password", ""));
    managerUsers_.AddUser(NewUser("authuser", USMAuthSHA1, USMPrivNone, "wrong-password", ""));
    managerUsers_.AddUser(NewUser("nobody", USMAuthMD5, USMPrivNone, "whatever-pass", ""));
    const struct {
        const char* user;
        int errorType;
        const char* counter;
    } cases[] = {
        {"authuser", 203, USM_WRONGDIGEST},
        {"nobody", 201, USM_UNKNOWNUSER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        const unsigned int before = SnmpStats::Instance()->USMStat(c.errorType);
        Collector collector;
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(V3Get(c.user), id, true, &collector));
        // The Report reaches the requestor in place of the answer.
        ASSERT_TRUE(collector.WaitFor(1));
        Message& report = collector.At(0);
        EXPECT_EQ(report.Type(), static_cast<unsigned int>(PduReport));
        EXPECT_EQ(report.RequestId(), id);
        EXPECT_EQ(report.SecurityLevel(), SecLevelNoAuthNoPriv);
        EXPECT_EQ(report.UserName(), c.user);
        ASSERT_EQ(report.VarBinds().size(), 1u);
        EXPECT_EQ(FirstName(report), c.counter);
        EXPECT_EQ(report.VarBinds().front().Value().Type(), 0x02u);
        EXPECT_EQ(static_cast<unsigned int>(report.VarBinds().front().Value().Integer()),
                  before + 1);
        EXPECT_EQ(agent_.Seen(id), 0);
        EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
    }
}

TEST_F(DispatcherLoopbackTest, TooBigRequestsAndAnswersComeBackAsTooBig) {
    // A request that does not fit the client's send buffer is answered locally.
    unsigned short port = 0;
    extra_.emplace_back(StartDispatcher(TypeClient, 120, &port));
    Message* big = NewRequest(SnmpVersionV2c, PduGetRequest, serverPort_, {});
    for (int i = 0; i < 20; ++i) {
        big->AddVarBind(
            VarBind(Oid("1.3.6.1.4.1.9999.1.2.3.4.5.6.7.8." + std::to_string(i)), AsnValue()));
    }
    Collector local;
    int id = 0;
    ASSERT_TRUE(extra_.back()->SendRequest(big, id, false, &local));
    ASSERT_TRUE(local.WaitFor(1));
    EXPECT_EQ(local.At(0).RequestId(), id);
    EXPECT_EQ(local.At(0).Type(), static_cast<unsigned int>(PduResponse));
    EXPECT_EQ(local.At(0).ErrStat(), 1);
    EXPECT_EQ(local.At(0).SrcPort(), serverPort_);
    EXPECT_EQ(agent_.Seen(id), 0);

    // An answer that does not fit the server's send buffer goes out as
    // tooBig: without bindings (SNMPv2c) or with NULL values (SNMPv1).
    extra_.emplace_back(StartDispatcher(TypeServer, 200, &port));
    agent_.padding = 300;
    for (SnmpVersion version : {SnmpVersionV2c, SnmpVersionV1}) {
        SCOPED_TRACE(version);
        Collector remote;
        id = SendGet(client_.get(), port, &remote, version);
        ASSERT_TRUE(remote.WaitFor(1));
        Message& r = remote.At(0);
        EXPECT_EQ(r.RequestId(), id);
        EXPECT_EQ(r.ErrStat(), 1);
        if (version == SnmpVersionV2c) {
            EXPECT_TRUE(r.VarBinds().empty());
        } else {
            ASSERT_EQ(r.VarBinds().size(), 1u);
            EXPECT_EQ(r.VarBinds().front().Value().Type(), 0x05u);
        }
    }
}

TEST_F(DispatcherLoopbackTest, CancelledRequestsAreDroppedUnsent) {
    Collector collector;
    client_->LockSockets();  // keeps the sender from taking the next message
    const int cancelled = SendGet(client_.get(), serverPort_, &collector);
    EXPECT_EQ(client_->Cancel(cancelled, true), nullptr);
    const int kept = SendGet(client_.get(), serverPort_, &collector);
    client_->UnlockSockets();

    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_EQ(collector.Ids(), std::vector<int>{kept});
    // Datagrams on one socket pair arrive in order: the agent would have seen
    // the cancelled one before the kept one.
    EXPECT_EQ(agent_.Seen(cancelled), 0);
    EXPECT_EQ(agent_.Seen(kept), 1);
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
        Agent::Answer(server_.get(), agent_.TakeHeld(*it));
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
                Agent::Answer(server.get(), toAnswer);
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
    const std::map<int, int> perId = collector.PerId();
    EXPECT_EQ(perId.size(), sentIds.size());
    for (const auto& entry : perId) {
        EXPECT_EQ(entry.second, 1) << "request " << entry.first;
        EXPECT_EQ(sentIds.count(entry.first), 1u) << "request " << entry.first;
    }
    EXPECT_EQ(agent_.SeenTotal(), sentIds.size());
    EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
}

TEST_F(DispatcherLoopbackTest, EndpointsOpenOnceAndCanChangeWhileRunning) {
    brask::IpEndpoint second(brask::IpAddr("127.0.0.1"), 0);
    ASSERT_TRUE(server_->AddEndpoint(second, false));
    EXPECT_NE(second.Port(), serverPort_);
    brask::IpEndpoint again(second);
    EXPECT_FALSE(server_->AddEndpoint(again, false));
    for (unsigned short port : {serverPort_, second.Port()}) {
        Collector collector;
        const int id = SendGet(client_.get(), port, &collector);
        ASSERT_TRUE(collector.WaitFor(1));
        EXPECT_EQ(collector.Ids(), std::vector<int>{id});
    }

    EXPECT_TRUE(server_->RemoveEndpoint(second));
    EXPECT_FALSE(server_->RemoveEndpoint(second));
    EXPECT_TRUE(Eventually([&] { return PortIsFree(second.Port()); }));
    Collector collector;
    SendGet(client_.get(), serverPort_, &collector);
    ASSERT_TRUE(collector.WaitFor(1));
}

TEST_F(DispatcherLoopbackTest, DeletingARunningDispatcherEndsItsThreadsAndClosesItsSockets) {
    unsigned short port = 0;
    std::unique_ptr<Dispatcher> forgotten(StartDispatcher(TypeServer, 0, &port));
    agent_.SetHold(true);
    Collector never;
    const int id = SendGet(client_.get(), port, &never);
    ASSERT_TRUE(Eventually([&] { return agent_.HeldCount() == 1; }));
    delete agent_.TakeHeld(id);
    forgotten.reset();  // with a record still open: no drain
    EXPECT_TRUE(Eventually([&] { return PortIsFree(port); }));
    EXPECT_EQ(never.Count(), 0u);
    EXPECT_EQ(client_->Cancel(id, true), nullptr);
}

}  // namespace
}  // namespace snmp
