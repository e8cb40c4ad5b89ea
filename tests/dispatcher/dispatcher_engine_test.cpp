// The dispatcher's request engine without socket tasks: the tests play the sender and the
// receive path themselves, so every step is deterministic.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dispatcher/dispatcher_test_support.h"
#include "snmp/dispatcher/client.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/dispatcher/server.h"
#include "snmp/snmp_stats.h"

namespace snmp {
namespace {

using namespace dispatcher_test;

Message* NewGet(SnmpVersion version, int requestId = 0) {
    return NewRequest(version, PduGetRequest, 161, {"1.3.6.1.2.1.1.1.0"}, requestId);
}

Message* NewResponse(int requestId, SnmpVersion version = SnmpVersionV2c) {
    return NewRequest(version, PduResponse, 161, {}, requestId);
}

Message* NewV3Get(v3SecurityLevel level, int requestId = 0) {
    Message* m = NewGet(SnmpVersionV3, requestId);
    m->InitSecurity(nullptr);
    m->SetUserName("alice");
    m->SetSecurityLevel(level);
    return m;
}

// A decoded SNMPv3 Report as the receive path would hand it over.
Message* NewV3Report(int msgId, const std::vector<std::string>& oids) {
    Message* m = NewRequest(SnmpVersionV3, PduReport, 161, oids, msgId);
    m->InitSecurity(nullptr);
    return m;
}

// Everything NextOutgoing hands out, in order.
std::vector<std::unique_ptr<Message>> Drain(DispatcherImp& d) {
    std::vector<std::unique_ptr<Message>> out;
    Message* m = nullptr;
    while (d.NextOutgoing(&m, false)) out.emplace_back(m);
    EXPECT_EQ(m, nullptr);
    return out;
}

class DispatcherEngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(snmp::Init()); }
    void TearDown() override { snmp::Shutdown(); }

    // A started dispatcher without socket tasks.
    static std::unique_ptr<DispatcherImp> Started(Type type) {
        auto d = std::make_unique<DispatcherImp>(type, 0, 0);
        EXPECT_TRUE(d->Start());
        return d;
    }
};

TEST_F(DispatcherEngineTest, RequestIdsStartRandomWrapToOneAndAreWrittenBack) {
    std::set<int> starts;
    for (int i = 0; i < 20; ++i) {
        const int first = DispatcherImp(TypeClient, 0, 0).PeekNextRequestId();
        EXPECT_TRUE(first >= 1 && first <= 32768) << first;
        starts.insert(first);
    }
    EXPECT_GT(starts.size(), 1u);  // twenty equal draws from 32768 values: no randomness

    auto d = Started(TypeClient);
    d->SetNextRequestId(2147483646);
    std::vector<int> ids;
    for (int i = 0; i < 3; ++i) {
        int id = -5;
        ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), id, false, nullptr));
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<int>{2147483646, 2147483647, 1}));
    EXPECT_EQ(Drain(*d).at(2)->RequestId(), 1);
    // Ids are positive: a zero or negative one asked for starts again at 1.
    for (int asked : {0, -7}) {
        d->SetNextRequestId(asked);
        EXPECT_EQ(d->PeekNextRequestId(), 1) << asked;
    }

    // A host-given id is the key, whatever the host passed in `requestId`.
    Collector r;
    int id = 999;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c, 4242), id, false, &r));
    EXPECT_EQ(id, 4242);
    EXPECT_TRUE(d->HandleResponse(NewResponse(4242)));
    EXPECT_EQ(r.Ids(), std::vector<int>{4242});
}

TEST_F(DispatcherEngineTest, MessagesAreRefusedUnlessRunningAndUnderTheQueueLimit) {
    DispatcherImp d(TypeClient, 0, 0);
    std::unique_ptr<Message> m(NewGet(SnmpVersionV2c));
    int id = 0;
    const auto refused = [&] {
        return !d.SendRequest(m.get(), id, false, nullptr) && !d.Enqueue(m.get()) &&
               !d.HandleRequest(m.get());
    };
    EXPECT_TRUE(refused());
    d.Stop();  // not running: returns at once
    ASSERT_TRUE(d.Start());
    EXPECT_FALSE(d.Start());  // a dispatcher runs once
    EXPECT_FALSE(d.SendRequest(nullptr, id, false, nullptr) || d.Enqueue(nullptr) ||
                 d.HandleRequest(nullptr) || d.HandleResponse(nullptr));

    d.SetQueueLimit(2);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(d.Enqueue(NewGet(SnmpVersionV2c)));  // 0, 1, 2 queued
    EXPECT_TRUE(refused());
    d.SetQueueLimit(0);
    EXPECT_TRUE(d.Enqueue(m.release()));
    EXPECT_EQ(d.SendQueueSize(), 4u);

    d.Stop();
    EXPECT_FALSE(d.Start());  // not after Stop either
    std::unique_ptr<Message> late(NewGet(SnmpVersionV2c));
    EXPECT_FALSE(d.SendRequest(late.get(), id, false, nullptr));
}

TEST_F(DispatcherEngineTest, NextOutgoingSendsTrapsAndRecordedRequestsOnly) {
    auto d = Started(TypeClient);
    d->SetNextRequestId(1000);  // clear of the unrecorded id 77
    int live = 0;
    for (unsigned int type : {0xA0u, 0xA6u, 0xA2u}) {  // queued without a record
        ASSERT_TRUE(d->Enqueue(new TrackedMessage(&live, SnmpVersionV2c, type, 77)));
    }
    int cancelled = 0;
    ASSERT_TRUE(d->SendRequest(new TrackedMessage(&live, SnmpVersionV2c, PduGetRequest, 0),
                               cancelled, false, nullptr));
    auto* trap = new Message();
    trap->Init(PduV1Trap, ObjectId(), 0, 6, 1, 0, VarBindList());
    ASSERT_TRUE(d->Enqueue(trap));
    int kept = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV1), kept, false, nullptr));
    EXPECT_EQ(d->Cancel(cancelled, true), nullptr);

    const auto sent = Drain(*d);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(sent[0]->Type() == PduV1Trap && sent[1]->RequestId() == kept);
    EXPECT_EQ(live, 0);  // the unwanted ones were deleted, not leaked

    // With `forget` the request leaves once and its answer finds no record.
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), kept, false, nullptr));
    Message* out = nullptr;
    ASSERT_TRUE(d->NextOutgoing(&out, true));
    delete out;
    std::unique_ptr<Message> late(NewResponse(kept));
    EXPECT_FALSE(d->HandleResponse(late.get()));
}

TEST_F(DispatcherEngineTest, ResponsesReachTheRequestorOrWaitForCancelWithoutLeaking) {
    auto d = Started(TypeClient);
    Collector r;
    int id = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), id, false, &r));
    Message* answer = NewResponse(id);
    answer->SetSrcAddr(brask::IpAddr("127.0.0.99"));  // from anywhere
    EXPECT_TRUE(d->HandleResponse(answer));
    EXPECT_EQ(&r.At(0), answer);
    std::unique_ptr<Message> duplicate(NewResponse(id));
    EXPECT_FALSE(d->HandleResponse(duplicate.get()));

    // Without a requestor the answer is held until Cancel(id, false) takes it.
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), id, false, nullptr));
    Message* held = NewResponse(id);
    EXPECT_TRUE(d->HandleResponse(held));
    std::unique_ptr<Message> got(d->Cancel(id, false));
    EXPECT_EQ(got.get(), held);
    EXPECT_EQ(d->Cancel(id, false), nullptr);
    duplicate->SetRequestId(id);
    EXPECT_FALSE(d->HandleResponse(duplicate.get()));  // cancelled: refused

    // A held answer is freed when replaced, when the request is sent again
    // under its id, when cancelled and when cleared.
    int live = 0;
    auto answerWithTracked = [&] {
        ASSERT_TRUE(d->HandleResponse(new TrackedMessage(&live, SnmpVersionV3, PduResponse, id)));
    };
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, nullptr));
    answerWithTracked();
    answerWithTracked();
    EXPECT_EQ(live, 1);
    int again = 0;
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv, id), again, false, nullptr));
    EXPECT_TRUE(live == 0 && d->KeptV3RequestCount() == 1u);
    answerWithTracked();
    EXPECT_EQ(d->Cancel(id, true), nullptr);
    EXPECT_EQ(live, 0);

    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, nullptr));
    answerWithTracked();
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, nullptr));
    d->Clear();
    EXPECT_TRUE(live == 0 && d->SendQueueSize() == 0u && d->KeptV3RequestCount() == 0u);
    EXPECT_EQ(d->OutstandingCount(), 2u);  // records stay
}

TEST_F(DispatcherEngineTest, DiscoveryResendsTheKeptRequestForEachReport) {
    auto d = Started(TypeClient);
    Client client(d.get());
    Collector r;
    int id = 0;
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthPriv), id, true, &r));
    auto sent = Drain(*d);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0]->MsgId() == id && sent[0]->SecurityLevel() == SecLevelNoAuthNoPriv);
    EXPECT_TRUE(sent[0]->Reportable() && sent[0]->SecurityModel() == SecModelUSM);

    // Unknown engine (only the first binding decides): again at authNoPriv;
    // not in time window: again at the request's own level.
    const struct {
        std::vector<std::string> report;
        v3SecurityLevel level;
    } rounds[] = {{{USM_UNKNOWNENGINE, USM_TIMEWINDOW}, SecLevelAuthNoPriv},
                  {{USM_TIMEWINDOW}, SecLevelAuthPriv}};
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.report.front());
        EXPECT_TRUE(client.Receive(NewV3Report(id, round.report)));
        sent = Drain(*d);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_TRUE(sent[0]->SecurityLevel() == round.level && sent[0]->UserName() == "alice");
    }
    EXPECT_EQ(r.Count(), 0u);
    EXPECT_TRUE(client.Receive(NewResponse(id, SnmpVersionV3)));
    EXPECT_EQ(r.Ids(), std::vector<int>{id});
    EXPECT_EQ(d->KeptV3RequestCount(), 0u);

    // A Report without bindings, or an SNMPv2c one, which has no USM meaning,
    // is delivered as the answer and resends nothing.
    Message* others[] = {NewV3Report(0, {}),
                         NewRequest(SnmpVersionV2c, PduReport, 161, {USM_UNKNOWNENGINE})};
    for (Message* report : others) {
        ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, &r));
        Drain(*d);
        report->SetRequestId(id);
        EXPECT_TRUE(client.Receive(report) && &r.At(r.Count() - 1) == report);
        EXPECT_EQ(d->SendQueueSize(), 0u);
    }
    for (bool discard : {false, true}) {
        ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, nullptr));
        Drain(*d);
        EXPECT_EQ(d->Cancel(id, discard), nullptr);
        EXPECT_TRUE(client.Receive(NewV3Report(id, {USM_TIMEWINDOW})));
        EXPECT_TRUE(client.Receive(NewV3Report(id, {USM_UNKNOWNENGINE})));
        std::unique_ptr<Message> unmatched(NewV3Report(id, {USM_UNKNOWNUSER}));
        EXPECT_FALSE(client.Receive(unmatched.get()));
        EXPECT_EQ(d->SendQueueSize(), 0u);
    }
    EXPECT_EQ(d->KeptV3RequestCount() + d->OutstandingCount(), 0u);
}

TEST_F(DispatcherEngineTest, SendReportBuildsTheReportOfEachFailure) {
    auto d = Started(TypeServer);
    Server server(d.get());
    zktest::OneTargetLookup lookup(TypeServer, false);  // knows nobody
    d->SetTargetLookup(&lookup);
    Message request;
    request.SetVersion(SnmpVersionV3);
    request.InitSecurity(&lookup);
    request.SetUserName("mallory");
    request.SetEngineId(
        OctetString(reinterpret_cast<const unsigned char*>("\x80\x00\x1f\x88\x04"), 5));
    request.SetSecurityLevel(SecLevelAuthPriv);
    request.SetSrcAddr(brask::IpAddr("127.0.0.5"));
    request.SetSrcPort(40001);
    // The level is for a request at authPriv: a manager whose keys are wrong
    // can read wrong-digest and decryption-error Reports only at noAuthNoPriv.
    const v3SecurityLevel none = SecLevelNoAuthNoPriv;
    const struct {
        int type;
        const char* oid;
        v3SecurityLevel level;
    } cases[] = {{23, ".1.3.6.1.6.3.11.2.1.3.0", SecLevelAuthPriv},
                 {200, ".1.3.6.1.6.3.15.1.1.4.0", none},
                 {201, ".1.3.6.1.6.3.15.1.1.3.0", none},
                 {202, ".1.3.6.1.6.3.15.1.1.1.0", none},
                 {203, ".1.3.6.1.6.3.15.1.1.5.0", none},
                 {204, ".1.3.6.1.6.3.15.1.1.2.0", SecLevelAuthNoPriv},
                 {205, ".1.3.6.1.6.3.15.1.1.6.0", none}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        request.SetRequestId(c.type * 10);
        EXPECT_TRUE(d->SendReport(request, c.type));
        Message* out = nullptr;
        ASSERT_TRUE(server.NextToSend(&out));
        std::unique_ptr<Message> report(out);
        EXPECT_TRUE(report->Type() == PduReport && report->MsgId() == c.type * 10);
        EXPECT_TRUE(report->DstAddr() == brask::IpAddr("127.0.0.5") && report->DstPort() == 40001);
        EXPECT_TRUE(report->UserName() == "mallory" && report->EngineId() == request.EngineId());
        EXPECT_TRUE(!report->Reportable() && report->SecurityLevel() == c.level);
        // One INTEGER binding: the counter of the failure.
        EXPECT_EQ(Bindings(*report),
                  c.oid + ("=" + std::to_string(SnmpStats::Instance()->USMStat(c.type))));
    }

    // A Report replaces the record of a request the host still holds, and
    // frees an answer stored there.
    Agent host;
    host.SetHold(true);
    d->SetServerRequestor(&host);
    ASSERT_TRUE(server.Receive(NewGet(SnmpVersionV2c, 900)));
    int live = 0;
    ASSERT_TRUE(d->HandleResponse(new TrackedMessage(&live, SnmpVersionV2c, PduResponse, 900)));
    request.SetRequestId(900);
    EXPECT_TRUE(d->SendReport(request, 201));
    EXPECT_EQ(live, 0);
    EXPECT_EQ(d->OutstandingCount(), 1u);
    d->Clear();
}

TEST_F(DispatcherEngineTest, ReportsLeaveNoRecordOnAClientOrAStoppedServer) {
    // A client never sends Reports; the failed message ends its request
    // instead of piling up records.
    auto client = Started(TypeClient);
    Collector r;
    int id = 0;
    ASSERT_TRUE(client->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, &r));
    std::unique_ptr<Message> failed(NewV3Get(SecLevelAuthNoPriv, id));
    EXPECT_TRUE(client->SendReport(*failed, 201));
    failed->SetRequestId(id + 1000);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(client->SendReport(*failed, 203));
    EXPECT_EQ(client->OutstandingCount() + client->KeptV3RequestCount() + r.Count(), 0u);
    EXPECT_TRUE(Drain(*client).empty());  // the request is dropped unsent

    auto server = Started(TypeServer);
    server->Stop();
    EXPECT_TRUE(server->SendReport(*failed, 200));
    EXPECT_EQ(server->OutstandingCount(), 0u);
    EXPECT_FALSE(server->HandleRequest(failed.get()));
}

}  // namespace
}  // namespace snmp
