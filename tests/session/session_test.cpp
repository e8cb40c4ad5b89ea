// Session tests over loopback against a server-mode dispatcher agent whose faults (silence,
// late answers, small answers, looping walks, a reboot) are set per test.
#include "snmp/session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "dispatcher/dispatcher_test_support.h"
#include "snmp/init.h"
#include "snmp/snmp_stats.h"

namespace snmp {
namespace {

using dispatcher_test::Eventually;
using dispatcher_test::Int;
using dispatcher_test::Oid;
using dispatcher_test::Text;

const char* const kUser = "tester";
const char* const kPass = "tester-password";

// The shared agent on a dispatcher of its own, with one MD5 user.
class Agent final : public dispatcher_test::Agent {
public:
    dispatcher_test::Users lookup{TypeServer};

    Agent() {
        dispatcher_ = Dispatcher::Create(TypeServer, 0, 0, Dispatcher::SockTypeUdp);
        dispatcher_->SetServerRequestor(this);
        lookup.Add(kUser, USMAuthMD5, USMPrivNone, kPass);
        dispatcher_->SetTargetLookup(&lookup);
        brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
        EXPECT_TRUE(dispatcher_->AddEndpoint(local, false));
        port_ = local.Port();
        dispatcher_->Start();
    }
    ~Agent() override {
        dispatcher_->Stop();
        delete dispatcher_;
    }
    unsigned short Port() const { return port_; }

    // Answers the held request of the lowest id; false when none is held.
    bool ReleaseOne() {
        Message* m = TakeHeld(-1);
        if (m != nullptr) Answer(dispatcher_, m);
        return m != nullptr;
    }

private:
    Dispatcher* dispatcher_;
    unsigned short port_ = 0;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Init());
        agent_ = std::make_unique<Agent>();
        session_ = std::make_unique<Session>();
        ASSERT_TRUE(session_->Ready()) << session_->Error();
    }
    void TearDown() override {
        session_.reset();
        agent_.reset();
        Shutdown();
    }
    Session::TargetId AddTarget(SnmpVersion version, unsigned int timeoutMs = 5000,
                                unsigned int retries = 0, unsigned int maxReps = 0,
                                const std::string& user = kUser, unsigned int window = 0) {
        SessionTarget t;
        t.target = Target(brask::IpAddr("127.0.0.1"), agent_->Port());
        t.target.SetVersion(version);
        t.target.SetCommunity("public");
        if (version == SnmpVersionV3) {
            auto* a = new USMAttributes(USMAuthMD5, USMPrivNone);
            a->SetUserName(user);
            a->SetAuthPass(kPass);
            t.target.SetSecAttributes(a);
            t.target.SetSecLevel(SecLevelAuthNoPriv);
        }
        t.timeoutMs = timeoutMs;
        t.retries = retries;
        t.maxRepetitions = maxReps;
        if (window != 0) t.window = window;
        return session_->AddTarget(t);
    }
    std::unique_ptr<Agent> agent_;
    std::unique_ptr<Session> session_;
};

TEST_F(SessionTest, SilentAgentTimesOutAfterEveryRetry) {
    agent_->silent = true;
    const auto id = AddTarget(SnmpVersionV2c, 100, 2);
    const SessionResult r = session_->Get(id, {Oid("1.3.6.1.2.1.1.1.0")});
    EXPECT_EQ(r.status, SessionStatus::Timeout) << r.Describe();
    EXPECT_EQ(r.attempts, 3u);
    EXPECT_EQ(agent_->Seen(-1), 3);
}

TEST_F(SessionTest, LateAnswerToTheFirstAttemptCompletesTheRetriedRequest) {
    // Answered once, after the first attempt's time-out: the retries went
    // out under the same request id, so that answer still counts.
    agent_->SetHold(true);
    const auto id = AddTarget(SnmpVersionV2c, 400, 6);
    auto answer = session_->AsyncGet(id, {Oid("1.3.6.1.2.1.1.3.0")});
    ASSERT_TRUE(Eventually([&] { return agent_->HeldCount() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(agent_->ReleaseOne());
    const SessionResult r = answer.get();
    ASSERT_TRUE(r.Ok()) << r.Describe();
    EXPECT_GE(r.attempts, 2u);
    ASSERT_EQ(r.vbs.size(), 1u);
    EXPECT_EQ(r.vbs.front().Value().Integer(), 3);
    EXPECT_EQ(agent_->Seen(-1), 1);
}

TEST_F(SessionTest, WindowKeepsNoMoreRequestsInFlightThanAllowed) {
    agent_->SetHold(true);
    const auto id = AddTarget(SnmpVersionV2c, 30000, 0, 0, kUser, 2);
    std::vector<std::future<SessionResult>> results;
    for (int i = 0; i < 6; ++i)
        results.push_back(session_->AsyncGet(id, {Oid("1.3.6.1.2.1.1.1.0")}));
    ASSERT_TRUE(Eventually([&] { return agent_->HeldCount() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(agent_->HeldCount(), 2u);
    int answered = 0;
    ASSERT_TRUE(Eventually([&] { return (answered += agent_->ReleaseOne()) == 6; }));
    for (auto& f : results) EXPECT_TRUE(f.get().Ok());
    EXPECT_EQ(agent_->MaxInFlight(), 2);
}

TEST_F(SessionTest, WalkEndsAtEachOfItsFourEnds) {
    const SnmpVersion v2c = SnmpVersionV2c;
    const struct {
        const char* name;
        SnmpVersion version;
        unsigned int maxReps;
        bool beyond;  // the MIB goes on after the subtree
        bool loop;    // then the walk ends NotIncreasing
    } cases[] = {{"subtree end, GetNext", v2c, 0, true, false},
                 {"subtree end, GetBulk", v2c, 3, true, false},
                 {"endOfMibView, GetNext", v2c, 0, false, false},
                 {"endOfMibView, GetBulk", v2c, 5, false, false},
                 {"v1 noSuchName", SnmpVersionV1, 5, false, false},
                 {"non-increasing OID, GetNext", v2c, 0, true, true},
                 {"non-increasing OID, GetBulk", v2c, 4, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        agent_->mib.clear();
        agent_->FillSystemGroup();
        if (c.beyond) agent_->mib[Oid("1.3.6.1.2.1.2.1.0")] = Int(99);
        agent_->loop = c.loop;
        const auto id = AddTarget(c.version, 5000, 0, c.maxReps);
        const SessionResult r = session_->Walk(id, Oid("1.3.6.1.2.1.1"));
        EXPECT_EQ(r.status, c.loop ? SessionStatus::NotIncreasing : SessionStatus::Ok)
            << r.Describe();
        EXPECT_EQ(r.errorStatus, 0);
        if (c.loop) continue;
        ASSERT_EQ(r.vbs.size(), 8u);
        int expected = 1;
        for (const VarBind& vb : r.vbs) EXPECT_EQ(vb.Value().Integer(), expected++);
    }
}

TEST_F(SessionTest, TooBigAnswersAreSplitOrAskedWithFewerRepetitions) {
    agent_->maxBindings = 3;
    const auto id = AddTarget(SnmpVersionV2c, 5000, 0, 10);
    std::vector<ObjectId> all;
    for (int i = 8; i >= 1; --i) all.push_back(Oid("1.3.6.1.2.1.1." + std::to_string(i) + ".0"));
    const SessionResult get = session_->Get(id, all);
    ASSERT_TRUE(get.Ok()) << get.Describe();
    ASSERT_EQ(get.vbs.size(), 8u);
    int expected = 8;
    for (const VarBind& vb : get.vbs) EXPECT_EQ(vb.Value().Integer(), expected--);

    const SessionResult bulk = session_->GetBulk(id, {Oid("1.3.6.1.2.1.1")}, 0, 10);
    ASSERT_TRUE(bulk.Ok()) << bulk.Describe();
    EXPECT_TRUE(bulk.vbs.size() >= 1u && bulk.vbs.size() <= 3u);

    const SessionResult walk = session_->Walk(id, Oid("1.3.6.1.2.1.1"));
    ASSERT_TRUE(walk.Ok()) << walk.Describe();
    EXPECT_EQ(walk.vbs.size(), 8u);

    // A Set is all or nothing: it is never split, its tooBig stays.
    VarBindList set;
    for (const ObjectId& oid : all) set.push_back(VarBind(oid, Int(0)));
    const SessionResult write = session_->Set(id, set);
    EXPECT_TRUE(write.status == SessionStatus::Ok && write.errorStatus == 1);
}

TEST_F(SessionTest, TableRowsComeByIndexWithMissingCellsMarked) {
    const ObjectId entry = Oid("1.3.6.1.2.1.2.2.1");
    for (int row = 1; row <= 3; ++row) {
        agent_->mib[Oid("1.3.6.1.2.1.2.2.1.1." + std::to_string(row))] = Int(row);
        if (row != 2)
            agent_->mib[Oid("1.3.6.1.2.1.2.2.1.3." + std::to_string(row))] = Int(10 * row);
    }
    agent_->mib[Oid("1.3.6.1.2.1.3.1.0")] = Int(0);
    // Last, SNMPv1 with the table at the MIB's end: the noSuchName names the
    // column that ran out (the shorter one), the other still has a row to give.
    const std::pair<SnmpVersion, unsigned int> kinds[] = {
        {SnmpVersionV2c, 0}, {SnmpVersionV2c, 2}, {SnmpVersionV1, 0}};
    for (const auto& [version, maxReps] : kinds) {
        if (version == SnmpVersionV1) agent_->mib.erase(Oid("1.3.6.1.2.1.3.1.0"));
        for (bool whole : {false, true}) {
            SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(maxReps) +
                         (whole ? " whole entry" : " columns"));
            const auto id = AddTarget(version, 5000, 0, maxReps);
            const SessionResult r = session_->GetTable(
                id, entry, whole ? std::vector<unsigned int>() : std::vector<unsigned int>{1, 3});
            ASSERT_TRUE(r.Ok()) << r.Describe();
            EXPECT_EQ(r.columns, (std::vector<unsigned int>{1, 3}));
            ASSERT_EQ(r.rows.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                const int row = static_cast<int>(i) + 1;
                EXPECT_EQ(Text(r.rows[i].index), "." + std::to_string(row));
                ASSERT_EQ(r.rows[i].cells.size(), 2u);
                EXPECT_EQ(r.rows[i].cells[0].Integer(), row);
                const AsnValue& cell = r.rows[i].cells[1];
                EXPECT_TRUE(row == 2 ? cell.Type() == 0x81u : cell.Integer() == 10 * row);
            }
        }
    }
}

TEST_F(SessionTest, SnmpV3DiscoversTheEngineAndResynchronisesAfterAReboot) {
    const auto id = AddTarget(SnmpVersionV3);
    const SessionResult first = session_->Get(id, {Oid("1.3.6.1.2.1.1.1.0")});
    ASSERT_TRUE(first.Ok()) << first.Describe();
    SessionTarget learnt;
    ASSERT_TRUE(session_->GetTarget(id, learnt));
    EXPECT_EQ(learnt.target.EngineId(), dispatcher_test::ServerEngineId());
    EXPECT_EQ(learnt.target.EngineBoots(), 1u);

    agent_->lookup.boots = 2;
    const unsigned int reportsBefore = SnmpStats::Instance()->NotInTimeWindow();
    const SessionResult after = session_->Get(id, {Oid("1.3.6.1.2.1.1.2.0")});
    ASSERT_TRUE(after.Ok()) << after.Describe();
    EXPECT_EQ(after.vbs.front().Value().Integer(), 2);
    EXPECT_GT(SnmpStats::Instance()->NotInTimeWindow(), reportsBefore);
    ASSERT_TRUE(session_->GetTarget(id, learnt));
    EXPECT_EQ(learnt.target.EngineBoots(), 2u);

    const auto stranger = AddTarget(SnmpVersionV3, 5000, 0, 0, "stranger");
    const SessionResult refused = session_->Get(stranger, {Oid("1.3.6.1.2.1.1.1.0")});
    EXPECT_EQ(refused.status, SessionStatus::Report) << refused.Describe();
    EXPECT_EQ(Text(refused.reportOid), USM_UNKNOWNUSER);
}

TEST_F(SessionTest, RequestsThatCannotBeServedEndAtOnce) {
    const auto v1 = AddTarget(SnmpVersionV1);
    EXPECT_EQ(session_->GetBulk(v1, {Oid("1.3")}, 0, 5).status, SessionStatus::BadRequest);
    EXPECT_EQ(session_->Get(v1, {}).status, SessionStatus::BadRequest);
    EXPECT_EQ(session_->Get(v1 + 100, {Oid("1.3")}).status, SessionStatus::BadRequest);
    // A blocking call from a callback would wait for its own thread.
    std::promise<SessionStatus> inner;
    session_->AsyncGet(v1, {Oid("1.3.6.1.2.1.1.1.0")}, [&](const SessionResult&) {
        inner.set_value(session_->Get(v1, {Oid("1.3.6.1.2.1.1.1.0")}).status);
    });
    EXPECT_EQ(inner.get_future().get(), SessionStatus::Refused);
}

}  // namespace
}  // namespace snmp
