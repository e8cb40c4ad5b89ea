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
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "brask/ip_addr.h"
#include "snmp/dispatcher.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"
#include "snmp/watch.h"

namespace snmp {
namespace {

using std::chrono::seconds;

constexpr auto kPatience = seconds(60);

// Waits (generously) until `done` holds; the test fails if it never does.
bool Eventually(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

ObjectId Oid(const std::string& text) {
    ObjectId oid;
    EXPECT_TRUE(oid.Set(text)) << text;
    return oid;
}

std::string Text(const ObjectId& oid) {
    std::string s;
    oid.MakeStr(s);
    return s;
}

std::string FirstName(const Message& m) {
    return m.VarBinds().empty() ? std::string() : Text(m.VarBinds().front().Objid());
}

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
    if (auth != USMAuthNone) {
        EXPECT_TRUE(attributes->SetAuthPass(authPass));
    }
    if (priv != USMPrivNone) {
        EXPECT_TRUE(attributes->SetPrivPass(privPass));
    }
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
        anonymous_.SetUserName("");
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
        Target* found = nullptr;
        if (it != users_.end()) {
            found = it->second.get();
        } else if (msg.Type() == PduReport) {
            // The user name goes out as the target gives it: echo the
            // stranger's name so that the manager can match the Report.
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

    // A copy of the stored target, taken under the lock.
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

// Collects responses; thread-safe.
class Collector : public Requestor {
public:
    ~Collector() {
        for (Message* m : responses_) delete m;
    }
    void OnResponse(Dispatcher*, Message* response) override {
        std::lock_guard<std::mutex> guard(mutex_);
        responses_.push_back(response);
        ++perId_[response->RequestId()];
    }
    size_t Count() {
        std::lock_guard<std::mutex> guard(mutex_);
        return responses_.size();
    }
    bool WaitFor(size_t n) {
        return Eventually([&] { return Count() >= n; });
    }
    // Only after WaitFor: the message stays owned by the collector.
    Message& At(size_t i) {
        std::lock_guard<std::mutex> guard(mutex_);
        return *responses_.at(i);
    }
    std::vector<int> Ids() {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<int> ids;
        for (Message* m : responses_) ids.push_back(m->RequestId());
        return ids;
    }
    std::map<int, int> PerId() {
        std::lock_guard<std::mutex> guard(mutex_);
        return perId_;
    }

private:
    std::mutex mutex_;
    std::vector<Message*> responses_;
    std::map<int, int> perId_;
};

// The agent: answers requests (at once or when told), records notifications.
class Agent : public ServerRequestor {
public:
    ~Agent() {
        for (auto& entry : held_) delete entry.second;
        for (Message* m : notifications_) delete m;
    }

    void OnRequest(Dispatcher* dispatcher, Message* msg) override {
        std::unique_lock<std::mutex> guard(mutex_);
        ++seen_[msg->RequestId()];
        const unsigned int type = msg->Type();
        if (type == PduV1Trap || type == PduV2Trap || type == PduResponse || type == PduReport) {
            notifications_.push_back(msg);
            guard.unlock();
            delete dispatcher->Cancel(msg->RequestId(), true);
            return;
        }
        if (hold_) {
            held_[msg->RequestId()] = msg;
            return;
        }
        guard.unlock();
        Answer(dispatcher, msg);
    }

    // Builds the answer: Get gives "value of <name>", GetNext the name with
    // ".1" appended and 42, GetBulk max-repetitions successors, Set and
    // Inform echo their bindings. A large answer value makes it tooBig-prone.
    static void Answer(Dispatcher* dispatcher, Message* request) {
        auto* answer = new Message(*request);
        answer->SwapAddrs();
        answer->SetType(PduResponse);
        answer->SetReportable(false);
        answer->SetError(0, 0);
        answer->ClearVarBinds();
        for (const VarBind& vb : request->VarBinds()) {
            const std::string name = Text(vb.Objid());
            switch (request->Type()) {
                case PduGetRequest: {
                    AsnValue value(0x04);
                    value.SetString(OctetString("value of " + name + AnswerPadding()));
                    answer->AddVarBind(VarBind(vb.Objid(), value));
                    break;
                }
                case PduGetNextRequest: {
                    AsnValue value(0x02);
                    value.SetInteger(42);
                    answer->AddVarBind(VarBind(Oid(name + ".1"), value));
                    break;
                }
                case PduGetBulkRequest:
                    for (int i = 1; i <= request->MaxReps(); ++i) {
                        AsnValue value(0x02);
                        value.SetInteger(i);
                        answer->AddVarBind(VarBind(Oid(name + "." + std::to_string(i)), value));
                    }
                    break;
                default:
                    answer->AddVarBind(vb);
                    break;
            }
        }
        if (!dispatcher->HandleResponse(answer)) {
            ADD_FAILURE() << "no record for request " << request->RequestId();
            delete answer;
        }
        delete request;
    }

    // Extra bytes appended to every Get answer value.
    static std::atomic<size_t>& Padding() {
        static std::atomic<size_t> padding{0};
        return padding;
    }
    static std::string AnswerPadding() { return std::string(Padding().load(), 'x'); }

    void SetHold(bool hold) {
        std::lock_guard<std::mutex> guard(mutex_);
        hold_ = hold;
    }
    size_t HeldCount() {
        std::lock_guard<std::mutex> guard(mutex_);
        return held_.size();
    }
    // Takes a held request back (the caller owns it).
    Message* TakeHeld(int id) {
        std::lock_guard<std::mutex> guard(mutex_);
        Message* m = held_.at(id);
        held_.erase(id);
        return m;
    }
    size_t NotificationCount() {
        std::lock_guard<std::mutex> guard(mutex_);
        return notifications_.size();
    }
    Message& Notification(size_t i) {
        std::lock_guard<std::mutex> guard(mutex_);
        return *notifications_.at(i);
    }
    int Seen(int id) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = seen_.find(id);
        return it == seen_.end() ? 0 : it->second;
    }
    size_t SeenTotal() {
        std::lock_guard<std::mutex> guard(mutex_);
        size_t n = 0;
        for (const auto& entry : seen_) n += static_cast<size_t>(entry.second);
        return n;
    }

private:
    std::mutex mutex_;
    bool hold_ = false;
    std::map<int, Message*> held_;
    std::vector<Message*> notifications_;
    std::map<int, int> seen_;
};

// What the watches saw, for one local port.
class Traffic : public Watch {
public:
    struct Event {
        char kind;  // 'd' decoded, 's' sent, 'x' failed
        unsigned int type;
        int id;
        int errorType;
        std::string firstName;
        int firstValue;
        int level;
        unsigned short port;  // destination port of the message
    };

    void OnReceive(const Message&) override {}
    void OnDecode(const Message& m) override { Add('d', m, 0); }
    void OnSend(const Message& m) override { Add('s', m, 0); }
    void OnExcept(const Message& m, const Exception& e) override { Add('x', m, e.Type()); }

    std::vector<Event> Events() {
        std::lock_guard<std::mutex> guard(mutex_);
        return events_;
    }
    // Decoded messages that arrived at `port`.
    std::vector<Event> DecodedAt(unsigned short port) {
        std::vector<Event> out;
        for (const Event& e : Events()) {
            if (e.kind == 'd' && e.port == port) out.push_back(e);
        }
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.clear();
    }

private:
    void Add(char kind, const Message& m, int errorType) {
        int value = 0;
        if (!m.VarBinds().empty() && m.VarBinds().front().Value().Type() == 0x02) {
            value = m.VarBinds().front().Value().Integer();
        }
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(Event{kind, m.Type(), m.RequestId(), errorType, FirstName(m), value,
                                static_cast<int>(m.SecurityLevel()), m.DstPort()});
    }

    std::mutex mutex_;
    std::vector<Event> events_;
};

class DispatcherLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(snmp::Init());
        Agent::Padding() = 0;
        server_.reset(StartServer(0, &serverPort_));
        ASSERT_NE(server_, nullptr);
        client_.reset(StartClient(0, &clientPort_));
        ASSERT_NE(client_, nullptr);
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

    Dispatcher* StartServer(unsigned int sendBufferSize, unsigned short* port) {
        Dispatcher* d = Dispatcher::Create(TypeServer, sendBufferSize, 0, Dispatcher::SockTypeUdp);
        if (d == nullptr) return nullptr;
        d->SetTargetLookup(&agentUsers_);
        d->SetServerRequestor(&agent_);
        brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
        EXPECT_TRUE(d->AddEndpoint(local, false));
        EXPECT_NE(local.Port(), 0);
        *port = local.Port();
        EXPECT_TRUE(d->Start());
        return d;
    }

    Dispatcher* StartClient(unsigned int sendBufferSize, unsigned short* port) {
        Dispatcher* d = Dispatcher::Create(TypeClient, sendBufferSize, 0, Dispatcher::SockTypeUdp);
        if (d == nullptr) return nullptr;
        d->SetTargetLookup(&managerUsers_);
        brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
        EXPECT_TRUE(d->AddEndpoint(local, false));
        *port = local.Port();
        EXPECT_TRUE(d->Start());
        return d;
    }

    Message* Request(SnmpVersion version, unsigned int type, unsigned short port,
                     std::vector<std::string> names) {
        auto* m = new Message();
        m->SetVersion(version);
        m->SetType(type);
        m->SetDstAddr(brask::IpAddr("127.0.0.1"));
        m->SetDstPort(port);
        m->SetCommunity("public");
        for (const std::string& name : names) m->AddVarBind(VarBind(Oid(name), AsnValue()));
        return m;
    }

    Message* V3Request(const std::string& user, unsigned int type, std::vector<std::string> names) {
        Target target = managerUsers_.Stored(user);
        target.SetPort(serverPort_);
        Message* m = Request(SnmpVersionV3, type, serverPort_, names);
        m->SetTarget(target);
        m->InitSecurity(&managerUsers_);
        m->SetUserName(user);
        return m;
    }

    DispatcherImp& Imp(Dispatcher* d) { return *dynamic_cast<DispatcherImp*>(d); }

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
    struct Case {
        SnmpVersion version;
        unsigned int type;
    };
    const Case cases[] = {
        {SnmpVersionV1, PduGetRequest},      {SnmpVersionV1, PduGetNextRequest},
        {SnmpVersionV1, PduSetRequest},      {SnmpVersionV2c, PduGetRequest},
        {SnmpVersionV2c, PduGetNextRequest}, {SnmpVersionV2c, PduGetBulkRequest},
        {SnmpVersionV2c, PduSetRequest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + "/" + std::to_string(c.type));
        Collector collector;
        Message* m =
            Request(c.version, c.type, serverPort_, {"1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1.6.0"});
        if (c.type == PduGetBulkRequest) {
            m->SetNonReps(0);
            m->SetMaxReps(3);
        }
        if (c.type == PduSetRequest) {
            AsnValue value(0x04);
            value.SetString(OctetString("new name"));
            m->VarBinds().front().SetAsnValue(value);
        }
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(m, id, false, &collector));
        EXPECT_GT(id, 0);
        ASSERT_TRUE(collector.WaitFor(1));
        Message& r = collector.At(0);
        EXPECT_EQ(r.RequestId(), id);
        EXPECT_EQ(r.Type(), static_cast<unsigned int>(PduResponse));
        EXPECT_EQ(r.Version(), c.version);
        EXPECT_EQ(r.ErrStat(), 0);
        EXPECT_EQ(r.SrcPort(), serverPort_);
        std::vector<std::string> names;
        for (const VarBind& vb : r.VarBinds()) names.push_back(Text(vb.Objid()));
        switch (c.type) {
            case PduGetRequest:
                ASSERT_EQ(r.VarBinds().size(), 2u);
                EXPECT_EQ(r.VarBinds().front().Value().String(),
                          OctetString("value of .1.3.6.1.2.1.1.5.0"));
                break;
            case PduGetNextRequest:
                EXPECT_EQ(names, (std::vector<std::string>{".1.3.6.1.2.1.1.5.0.1",
                                                           ".1.3.6.1.2.1.1.6.0.1"}));
                break;
            case PduGetBulkRequest:
                EXPECT_EQ(names.size(), 6u);
                EXPECT_EQ(names.back(), ".1.3.6.1.2.1.1.6.0.3");
                break;
            case PduSetRequest:
                ASSERT_EQ(r.VarBinds().size(), 2u);
                EXPECT_EQ(r.VarBinds().front().Value().String(), OctetString("new name"));
                break;
        }
    }
    EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
}

TEST_F(DispatcherLoopbackTest, TrapsArriveAndInformsAreAnswered) {
    VarBindList vbs;
    AsnValue text(0x04);
    text.SetString(OctetString("link down"));
    vbs.push_back(VarBind(Oid("1.3.6.1.2.1.2.2.1.1.3"), text));

    // Two SNMPv1 traps (both with request id 0) and an SNMPv2c trap.
    for (int specific : {1, 2}) {
        auto* v1 = new Message();
        v1->Init(PduV1Trap, Oid("1.3.6.1.4.1.9999"), 0x7F000001, 6, specific, 1234, vbs);
        v1->SetCommunity("public");
        v1->SetDstAddr(brask::IpAddr("127.0.0.1"));
        v1->SetDstPort(serverPort_);
        ASSERT_TRUE(client_->Enqueue(v1));
    }
    auto* v2 = new Message();
    v2->Init(SnmpVersionV2c, PduV2Trap, Oid("1.3.6.1.6.3.1.1.5.3"), 777, vbs);
    v2->SetCommunity("public");
    v2->SetRequestId(31337);
    v2->SetDstAddr(brask::IpAddr("127.0.0.1"));
    v2->SetDstPort(serverPort_);
    ASSERT_TRUE(client_->Enqueue(v2));

    ASSERT_TRUE(Eventually([&] { return agent_.NotificationCount() >= 3; }));
    std::vector<int> specifics;
    for (size_t i = 0; i < 2; ++i) {
        Message& t = agent_.Notification(i);
        EXPECT_EQ(t.Type(), static_cast<unsigned int>(PduV1Trap));
        EXPECT_EQ(Text(t.Enterprise()), ".1.3.6.1.4.1.9999");
        EXPECT_EQ(t.GenType(), 6);
        EXPECT_EQ(t.Stamp(), 1234u);
        specifics.push_back(t.SpecType());
    }
    EXPECT_EQ(specifics, (std::vector<int>{1, 2}));
    Message& t2 = agent_.Notification(2);
    EXPECT_EQ(t2.Type(), static_cast<unsigned int>(PduV2Trap));
    EXPECT_EQ(t2.RequestId(), 31337);
    ASSERT_EQ(t2.VarBinds().size(), 3u);
    EXPECT_EQ(Text(std::next(t2.VarBinds().begin())->Value().Objid()), ".1.3.6.1.6.3.1.1.5.3");

    // An inform is a request: its answer comes back to the requestor.
    Collector collector;
    auto* inform = new Message();
    inform->Init(SnmpVersionV2c, PduInformRequest, Oid("1.3.6.1.6.3.1.1.5.4"), 888, vbs);
    inform->SetCommunity("public");
    inform->SetDstAddr(brask::IpAddr("127.0.0.1"));
    inform->SetDstPort(serverPort_);
    int id = 0;
    ASSERT_TRUE(client_->SendRequest(inform, id, false, &collector));
    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_EQ(collector.At(0).RequestId(), id);
    EXPECT_EQ(collector.At(0).Type(), static_cast<unsigned int>(PduResponse));
    EXPECT_EQ(collector.At(0).VarBinds().size(), 3u);
}

TEST_F(DispatcherLoopbackTest, SnmpV3DiscoveryCompletesAtEveryLevel) {
    struct Case {
        const char* user;
        USMAuthProtocol auth;
        USMPrivProtocol priv;
    };
    const Case cases[] = {
        {"plain", USMAuthNone, USMPrivNone},  {"md5", USMAuthMD5, USMPrivNone},
        {"sha", USMAuthSHA1, USMPrivNone},    {"md5des", USMAuthMD5, USMPrivDES},
        {"sha1des", USMAuthSHA1, USMPrivDES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        agentUsers_.AddUser(NewUser(c.user, c.auth, c.priv, "authpass-1", "privpass-1"));
        managerUsers_.AddUser(NewUser(c.user, c.auth, c.priv, "authpass-1", "privpass-1"));
        traffic_.Clear();

        Collector collector;
        Message* m = V3Request(c.user, PduGetRequest, {"1.3.6.1.2.1.1.1.0"});
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

        // What reached the manager: the unknown-engine report, for an
        // authenticated user the not-in-time-window report, then the answer.
        std::vector<std::string> road;
        for (const auto& e : traffic_.DecodedAt(clientPort_)) {
            EXPECT_EQ(e.id, id);
            road.push_back(e.type == PduReport ? e.firstName : std::string("response"));
        }
        std::vector<std::string> expected{USM_UNKNOWNENGINE};
        if (c.auth != USMAuthNone) expected.push_back(USM_TIMEWINDOW);
        expected.push_back("response");
        EXPECT_EQ(road, expected);

        // The manager's store learnt the engine.
        const Target learnt = managerUsers_.Stored(c.user);
        EXPECT_EQ(learnt.EngineId(), ServerEngineId());
        if (c.auth != USMAuthNone) {
            EXPECT_EQ(learnt.EngineBoots(), 1u);
        }
        EXPECT_EQ(Imp(client_.get()).KeptV3RequestCount(), 0u);
        EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);

        // Once the engine is known, a request goes straight through.
        Collector again;
        ASSERT_TRUE(client_->SendRequest(V3Request(c.user, PduGetNextRequest, {"1.3.6.1.2.1.1"}),
                                         id, false, &again));
        ASSERT_TRUE(again.WaitFor(1));
        EXPECT_EQ(again.At(0).Type(), static_cast<unsigned int>(PduResponse));
        EXPECT_EQ(FirstName(again.At(0)), ".1.3.6.1.2.1.1.1");
    }
}

TEST_F(DispatcherLoopbackTest, SecurityFailuresAreAnsweredWithReports) {
    agentUsers_.AddUser(NewUser("alice", USMAuthSHA1, USMPrivNone, "right-password", ""));
    managerUsers_.AddUser(NewUser("alice", USMAuthSHA1, USMPrivNone, "wrong-password", ""));
    managerUsers_.AddUser(NewUser("nobody", USMAuthMD5, USMPrivNone, "whatever-pass", ""));

    // Wrong password: the agent counts a wrong digest and reports it at the
    // request's level, signed with its own key; the manager cannot verify
    // that Report, so the request ends without a response.
    const unsigned int wrongBefore = SnmpStats::Instance()->WrongDigest();
    Collector wrong;
    int wrongId = 0;
    ASSERT_TRUE(client_->SendRequest(V3Request("alice", PduGetRequest, {"1.3.6.1.2.1.1.1.0"}),
                                     wrongId, true, &wrong));
    ASSERT_TRUE(Eventually([&] {
        for (const auto& e : traffic_.Events()) {
            if (e.kind == 'x' && e.errorType == 203 && e.port == clientPort_) return true;
        }
        return false;
    }));
    ASSERT_TRUE(Eventually([&] { return Imp(client_.get()).OutstandingCount() == 0; }));
    bool reported = false;
    for (const auto& e : traffic_.Events()) {
        if (e.kind == 's' && e.type == PduReport && e.firstName == USM_WRONGDIGEST) {
            reported = true;
            EXPECT_EQ(e.id, wrongId);
            EXPECT_EQ(e.level, SecLevelAuthNoPriv);
            EXPECT_EQ(e.port, clientPort_);
            EXPECT_EQ(static_cast<unsigned int>(e.firstValue), wrongBefore + 1);
        }
    }
    EXPECT_TRUE(reported);
    EXPECT_EQ(wrong.Count(), 0u);
    EXPECT_EQ(agent_.Seen(wrongId), 0);

    // Unknown user: the Report, at noAuthNoPriv, reaches the requestor in
    // place of the answer, with the agent's unknown-user count.
    const unsigned int unknownBefore = SnmpStats::Instance()->UnknownUser();
    Collector unknown;
    int unknownId = 0;
    ASSERT_TRUE(client_->SendRequest(V3Request("nobody", PduGetRequest, {"1.3.6.1.2.1.1.1.0"}),
                                     unknownId, true, &unknown));
    ASSERT_TRUE(unknown.WaitFor(1));
    Message& report = unknown.At(0);
    EXPECT_EQ(report.Type(), static_cast<unsigned int>(PduReport));
    EXPECT_EQ(report.RequestId(), unknownId);
    EXPECT_EQ(report.SecurityLevel(), SecLevelNoAuthNoPriv);
    EXPECT_EQ(report.UserName(), "nobody");
    ASSERT_EQ(report.VarBinds().size(), 1u);
    EXPECT_EQ(FirstName(report), USM_UNKNOWNUSER);
    EXPECT_EQ(report.VarBinds().front().Value().Type(), 0x02u);
    EXPECT_EQ(static_cast<unsigned int>(report.VarBinds().front().Value().Integer()),
              unknownBefore + 1);
    EXPECT_EQ(SnmpStats::Instance()->UnknownUser(), unknownBefore + 1);
    EXPECT_EQ(agent_.Seen(unknownId), 0);
}

TEST_F(DispatcherLoopbackTest, TooBigRequestsAndAnswersComeBackAsTooBig) {
    // A request that does not fit the client's send buffer is answered
    // locally.
    unsigned short smallClientPort = 0;
    extra_.emplace_back(StartClient(120, &smallClientPort));
    Dispatcher* smallClient = extra_.back().get();
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i)
        names.push_back("1.3.6.1.4.1.9999.1.2.3.4.5.6.7.8." + std::to_string(i));
    Collector local;
    int id = 0;
    ASSERT_TRUE(smallClient->SendRequest(Request(SnmpVersionV2c, PduGetRequest, serverPort_, names),
                                         id, false, &local));
    ASSERT_TRUE(local.WaitFor(1));
    EXPECT_EQ(local.At(0).RequestId(), id);
    EXPECT_EQ(local.At(0).Type(), static_cast<unsigned int>(PduResponse));
    EXPECT_EQ(local.At(0).ErrStat(), 1);
    EXPECT_EQ(local.At(0).SrcPort(), serverPort_);
    EXPECT_EQ(agent_.Seen(id), 0);

    // An answer that does not fit the server's send buffer goes out as
    // tooBig: without bindings (SNMPv2c) or with NULL values (SNMPv1).
    unsigned short smallServerPort = 0;
    extra_.emplace_back(StartServer(200, &smallServerPort));
    Agent::Padding() = 300;
    for (SnmpVersion version : {SnmpVersionV2c, SnmpVersionV1}) {
        SCOPED_TRACE(version);
        Collector remote;
        ASSERT_TRUE(client_->SendRequest(
            Request(version, PduGetRequest, smallServerPort, {"1.3.6.1.2.1.1.1.0"}), id, false,
            &remote));
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
    // Holding the sockets keeps the sender from taking the next message.
    client_->LockSockets();
    int cancelled = 0;
    ASSERT_TRUE(client_->SendRequest(
        Request(SnmpVersionV2c, PduGetRequest, serverPort_, {"1.3.6.1.2.1.1.1.0"}), cancelled,
        false, &collector));
    EXPECT_EQ(client_->Cancel(cancelled, true), nullptr);
    int kept = 0;
    ASSERT_TRUE(client_->SendRequest(
        Request(SnmpVersionV2c, PduGetRequest, serverPort_, {"1.3.6.1.2.1.1.2.0"}), kept, false,
        &collector));
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
    for (int i = 0; i < 5; ++i) {
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(
            Request(SnmpVersionV2c, PduGetRequest, serverPort_, {"1.3.6.1.2.1.1.1.0"}), id, false,
            &collector));
        ids.push_back(id);
    }
    ASSERT_TRUE(Eventually([&] { return agent_.HeldCount() == 5; }));

    // Answer in reverse order while the server's sender is held.
    server_->LockSockets();
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        Agent::Answer(server_.get(), agent_.TakeHeld(*it));
    }
    server_->UnlockSockets();

    ASSERT_TRUE(collector.WaitFor(5));
    EXPECT_EQ(collector.Ids(), ids);
}

TEST_F(DispatcherLoopbackTest, ServerStopWaitsUntilEveryRecordIsAnsweredOrCancelled) {
    // Either way round: the drain ends with the last answer or with the last
    // cancellation.
    for (bool cancelLast : {false, true}) {
        SCOPED_TRACE(cancelLast ? "cancel last" : "answer last");
        unsigned short port = 0;
        std::unique_ptr<Dispatcher> server(StartServer(0, &port));
        agent_.SetHold(true);
        Collector collector;
        int answered = 0;
        int dropped = 0;
        ASSERT_TRUE(client_->SendRequest(
            Request(SnmpVersionV2c, PduGetRequest, port, {"1.3.6.1.2.1.1.1.0"}), answered, false,
            &collector));
        ASSERT_TRUE(client_->SendRequest(
            Request(SnmpVersionV2c, PduGetRequest, port, {"1.3.6.1.2.1.1.2.0"}), dropped, false,
            &collector));
        ASSERT_TRUE(Eventually([&] { return agent_.HeldCount() == 2; }));

        std::atomic<bool> stopped{false};
        std::thread stopper([&] {
            server->Stop();
            stopped = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(stopped.load());

        Message* toAnswer = agent_.TakeHeld(answered);
        Message* toDrop = agent_.TakeHeld(dropped);
        if (cancelLast) {
            Agent::Answer(server.get(), toAnswer);
            EXPECT_FALSE(stopped.load());
            EXPECT_EQ(server->Cancel(dropped, true), nullptr);
        } else {
            EXPECT_EQ(server->Cancel(dropped, true), nullptr);
            EXPECT_FALSE(stopped.load());
            Agent::Answer(server.get(), toAnswer);
        }
        delete toDrop;
        ASSERT_TRUE(Eventually([&] { return stopped.load(); }));
        stopper.join();

        // The answer was sent before Stop returned; the other never comes.
        ASSERT_TRUE(collector.WaitFor(1));
        EXPECT_EQ(collector.Ids(), std::vector<int>{answered});
        EXPECT_EQ(client_->Cancel(dropped, true), nullptr);
        // A stopped server takes nothing more.
        std::unique_ptr<Message> late(
            Request(SnmpVersionV2c, PduGetRequest, port, {"1.3.6.1.2.1.1.1.0"}));
        late->SetRequestId(5);
        EXPECT_FALSE(server->HandleRequest(late.get()));
        agent_.SetHold(false);
    }
}

TEST_F(DispatcherLoopbackTest, ThousandsOfRequestsFromSeveralThreadsAreAnsweredOnce) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1000;
    constexpr size_t kTotal = static_cast<size_t>(kThreads) * kPerThread;
    constexpr size_t kWindow = 200;
    Collector collector;
    std::mutex idsLock;
    std::set<int> sentIds;
    std::vector<std::thread> hosts;
    std::atomic<int> refused{0};
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                // Keep a bounded number in flight per thread.
                while (static_cast<size_t>(i) >= collector.Count() / kThreads + kWindow &&
                       collector.Count() < kTotal) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                SnmpVersion version = (i % 2 == 0) ? SnmpVersionV2c : SnmpVersionV1;
                Message* m = Request(version, PduGetRequest, serverPort_,
                                     {"1.3.6.1.2.1.1." + std::to_string(t) + ".0"});
                int id = 0;
                if (!client_->SendRequest(m, id, false, &collector)) {
                    ++refused;
                    delete m;
                    continue;
                }
                std::lock_guard<std::mutex> guard(idsLock);
                sentIds.insert(id);
            }
        });
    }
    for (std::thread& h : hosts) h.join();
    EXPECT_EQ(refused.load(), 0);
    ASSERT_EQ(sentIds.size(), kTotal);
    ASSERT_TRUE(collector.WaitFor(sentIds.size()));
    // Give a duplicate a chance to show up before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::map<int, int> perId = collector.PerId();
    EXPECT_EQ(perId.size(), sentIds.size());
    for (const auto& entry : perId) {
        EXPECT_EQ(entry.second, 1) << "request " << entry.first;
        EXPECT_EQ(sentIds.count(entry.first), 1u) << "request " << entry.first;
    }
    EXPECT_EQ(agent_.SeenTotal(), sentIds.size());
    EXPECT_EQ(Imp(client_.get()).OutstandingCount(), 0u);
}

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

TEST_F(DispatcherLoopbackTest, EndpointsOpenOnceAndCanChangeWhileRunning) {
    brask::IpEndpoint second(brask::IpAddr("127.0.0.1"), 0);
    ASSERT_TRUE(server_->AddEndpoint(second, false));
    EXPECT_NE(second.Port(), 0);
    EXPECT_NE(second.Port(), serverPort_);
    brask::IpEndpoint again(second);
    EXPECT_FALSE(server_->AddEndpoint(again, false));
    EXPECT_EQ(Imp(server_.get()).EndpointCount(), 2u);
    EXPECT_FALSE(PortIsFree(second.Port()));

    // Both endpoints take requests while the server runs.
    for (unsigned short port : {serverPort_, second.Port()}) {
        Collector collector;
        int id = 0;
        ASSERT_TRUE(client_->SendRequest(
            Request(SnmpVersionV2c, PduGetRequest, port, {"1.3.6.1.2.1.1.1.0"}), id, false,
            &collector));
        ASSERT_TRUE(collector.WaitFor(1));
        EXPECT_EQ(collector.At(0).RequestId(), id);
    }

    EXPECT_TRUE(server_->RemoveEndpoint(second));
    EXPECT_FALSE(server_->RemoveEndpoint(second));
    EXPECT_EQ(Imp(server_.get()).EndpointCount(), 1u);
    // The socket is closed; a receiver still inside its wait lets go of it
    // when the wait ends.
    EXPECT_TRUE(Eventually([&] { return PortIsFree(second.Port()); }));

    // The remaining endpoint still works after the change.
    Collector collector;
    int id = 0;
    ASSERT_TRUE(client_->SendRequest(
        Request(SnmpVersionV2c, PduGetRequest, serverPort_, {"1.3.6.1.2.1.1.1.0"}), id, false,
        &collector));
    ASSERT_TRUE(collector.WaitFor(1));
}

TEST_F(DispatcherLoopbackTest, DestructionClosesSocketsAndEndsObservation) {
    // A dispatcher deleted while running (Stop forgotten) still ends its
    // threads and closes its sockets.
    unsigned short port = 0;
    std::unique_ptr<Dispatcher> forgotten(StartServer(0, &port));
    ASSERT_NE(forgotten, nullptr);
    agent_.SetHold(true);
    int id = 0;
    Collector never;
    ASSERT_TRUE(client_->SendRequest(
        Request(SnmpVersionV2c, PduGetRequest, port, {"1.3.6.1.2.1.1.1.0"}), id, false, &never));
    ASSERT_TRUE(Eventually([&] { return agent_.HeldCount() == 1; }));
    delete agent_.TakeHeld(id);
    forgotten.reset();
    agent_.SetHold(false);
    EXPECT_TRUE(Eventually([&] { return PortIsFree(port); }));
    EXPECT_EQ(client_->Cancel(id, true), nullptr);

    // Destroying a dispatcher shuts the stack's observers down process-wide:
    // the watch registered before sees nothing of later traffic.
    traffic_.Clear();
    Collector collector;
    ASSERT_TRUE(client_->SendRequest(
        Request(SnmpVersionV2c, PduGetRequest, serverPort_, {"1.3.6.1.2.1.1.1.0"}), id, false,
        &collector));
    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_TRUE(traffic_.Events().empty());
}

}  // namespace
}  // namespace snmp
