// The request engine of the dispatcher without its socket tasks: the tests
// play the sender (NextOutgoing, NextResponse) and the receive path (Client
// and Server routing, SendReport) themselves, so every step is deterministic.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "brask/ip_addr.h"
#include "snmp/dispatcher.h"
#include "snmp/dispatcher/client.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/dispatcher/server.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/target_lookup.h"

namespace snmp {
namespace {

// Counts how many of its instances are alive, to see what the dispatcher
// deletes and what it keeps.
class TrackedMessage : public Message {
public:
    explicit TrackedMessage(int* live) : live_(live) { ++*live_; }
    ~TrackedMessage() override { --*live_; }

private:
    int* live_;
};

class RecordingRequestor : public Requestor {
public:
    ~RecordingRequestor() {
        for (Message* m : responses) delete m;
    }
    void OnResponse(Dispatcher* dispatcher, Message* response) override {
        dispatchers.push_back(dispatcher);
        responses.push_back(response);
    }
    std::vector<Dispatcher*> dispatchers;
    std::vector<Message*> responses;
};

// Keeps every request; answers at once when `answerInline` is set.
class RecordingServerRequestor : public ServerRequestor {
public:
    ~RecordingServerRequestor() {
        for (Message* m : requests) delete m;
    }
    void OnRequest(Dispatcher* dispatcher, Message* msg) override {
        requests.push_back(msg);
        if (answerInline) {
            auto* answer = new Message(*msg);
            answer->SwapAddrs();
            answer->SetType(PduResponse);
            inlineAnswerTaken = dispatcher->HandleResponse(answer);
            if (!inlineAnswerTaken) delete answer;
        }
    }
    std::vector<Message*> requests;
    bool answerInline = false;
    bool inlineAnswerTaken = false;
};

class NoTargets : public TargetLookup {
public:
    explicit NoTargets(Type type) : TargetLookup(type) {}
    Target* FindTarget(const Message&) override { return nullptr; }
};

Message* NewGet(SnmpVersion version, int requestId = 0) {
    auto* m = new Message();
    m->SetVersion(version);
    m->SetType(PduGetRequest);
    m->SetRequestId(requestId);
    m->SetDstAddr(brask::IpAddr("127.0.0.1"));
    m->SetDstPort(161);
    m->SetCommunity("public");
    ObjectId name;
    name.Set("1.3.6.1.2.1.1.1.0");
    m->AddVarBind(VarBind(name, AsnValue()));
    return m;
}

Message* NewV3Get(v3SecurityLevel level, int requestId = 0) {
    Message* m = NewGet(SnmpVersionV3, requestId);
    m->InitSecurity(nullptr);
    m->SetUserName("alice");
    m->SetSecurityLevel(level);
    return m;
}

// A decoded SNMPv3 Report as the receive path would hand it over.
Message* NewV3Report(int msgId, std::vector<const char*> oids) {
    auto* m = new Message();
    m->SetVersion(SnmpVersionV3);
    m->InitSecurity(nullptr);
    m->SetType(PduReport);
    m->SetRequestId(msgId);
    for (const char* text : oids) {
        ObjectId name;
        name.Set(text);
        AsnValue count(0x41);
        count.SetCounter(1);
        m->AddVarBind(VarBind(name, count));
    }
    return m;
}

Message* NewResponse(SnmpVersion version, int requestId) {
    Message* m = NewGet(version, requestId);
    m->SetType(PduResponse);
    return m;
}

// Everything NextOutgoing hands out, in order (the caller owns the messages).
std::vector<std::unique_ptr<Message>> DrainOutgoing(DispatcherImp& d) {
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
    std::unique_ptr<DispatcherImp> Started(Type type) {
        auto d = std::make_unique<DispatcherImp>(type, 0, 0);
        EXPECT_TRUE(d->Start());
        return d;
    }
};

TEST_F(DispatcherEngineTest, CreateRefusesUnknownSocketTypesAndModes) {
    EXPECT_EQ(Dispatcher::Create(TypeClient, 0, 0, static_cast<Dispatcher::SockType>(1)), nullptr);
    EXPECT_EQ(Dispatcher::Create(static_cast<Type>(2), 0, 0, Dispatcher::SockTypeUdp), nullptr);
    for (Type type : {TypeClient, TypeServer}) {
        SCOPED_TRACE(type);
        std::unique_ptr<Dispatcher> d(Dispatcher::Create(type, 0, 0, Dispatcher::SockTypeUdp));
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetType(), type);
        EXPECT_EQ(d->QueueLimit(), 0u);
        EXPECT_EQ(d->GetTargetLookup(), nullptr);
    }
}

TEST_F(DispatcherEngineTest, DispatcherWithoutTransportOpensNoEndpoint) {
    DispatcherImp d(TypeClient, 0, 0);
    d.Init(static_cast<Dispatcher::SockType>(7));
    brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
    EXPECT_FALSE(d.AddEndpoint(local, false));
    EXPECT_EQ(d.EndpointCount(), 0u);
}

TEST_F(DispatcherEngineTest, RequestIdsStartLowRunUpAndWrapToOne) {
    std::set<int> starts;
    for (int i = 0; i < 20; ++i) {
        DispatcherImp d(TypeClient, 0, 0);
        const int first = d.PeekNextRequestId();
        EXPECT_GE(first, 1);
        EXPECT_LE(first, 32768);
        starts.insert(first);
    }
    // Twenty draws from 32768 values: all equal would mean no randomness.
    EXPECT_GT(starts.size(), 1u);

    auto d = Started(TypeClient);
    d->SetNextRequestId(2147483646);
    std::vector<int> ids;
    for (int i = 0; i < 3; ++i) {
        int id = -5;
        ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), id, false, nullptr));
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<int>{2147483646, 2147483647, 1}));
    const auto sent = DrainOutgoing(*d);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2]->RequestId(), 1);
}

TEST_F(DispatcherEngineTest, HostGivenIdIsTheKeyWhateverTheHostPassed) {
    auto d = Started(TypeClient);
    RecordingRequestor r;
    int id = 999;  // does not match the message: the message's id wins
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c, 4242), id, false, &r));
    EXPECT_EQ(id, 4242);
    EXPECT_EQ(DrainOutgoing(*d).size(), 1u);
    EXPECT_TRUE(d->HandleResponse(NewResponse(SnmpVersionV2c, 4242)));
    ASSERT_EQ(r.responses.size(), 1u);
    EXPECT_EQ(r.responses[0]->RequestId(), 4242);
}

TEST_F(DispatcherEngineTest, NothingIsQueuedUnlessRunning) {
    DispatcherImp d(TypeClient, 0, 0);
    int live = 0;
    auto* m = new TrackedMessage(&live);
    m->SetVersion(SnmpVersionV2c);
    m->SetType(PduGetRequest);
    int id = 0;
    EXPECT_FALSE(d.SendRequest(m, id, false, nullptr));
    EXPECT_FALSE(d.Enqueue(m));
    EXPECT_FALSE(d.HandleRequest(m));
    EXPECT_EQ(live, 1);  // still the caller's
    EXPECT_EQ(d.SendQueueSize(), 0u);
    d.Stop();  // not running: returns at once

    ASSERT_TRUE(d.Start());
    EXPECT_FALSE(d.Start());  // runs once
    // A null message is refused, not dereferenced.
    EXPECT_FALSE(d.SendRequest(nullptr, id, false, nullptr));
    EXPECT_FALSE(d.Enqueue(nullptr));
    EXPECT_FALSE(d.HandleRequest(nullptr));
    EXPECT_FALSE(d.HandleResponse(nullptr));
    EXPECT_EQ(d.SendQueueSize(), 0u);
    d.Stop();
    EXPECT_FALSE(d.Start());
    EXPECT_FALSE(d.SendRequest(m, id, false, nullptr));
    EXPECT_FALSE(d.Enqueue(m));
    delete m;
}

TEST_F(DispatcherEngineTest, QueueLimitRefusesOnceTheQueueHoldsMoreThanTheLimit) {
    for (Type type : {TypeClient, TypeServer}) {
        SCOPED_TRACE(type);
        auto d = Started(type);
        EXPECT_TRUE(d->SetQueueLimit(2));
        EXPECT_EQ(d->QueueLimit(), 2u);
        int id = 0;
        // Accepted with 0, 1 and 2 queued.
        for (int i = 0; i < 3; ++i) {
            id = 0;
            EXPECT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), id, false, nullptr));
        }
        std::unique_ptr<Message> refused(NewGet(SnmpVersionV2c));
        id = 0;
        EXPECT_FALSE(d->SendRequest(refused.get(), id, false, nullptr));
        EXPECT_FALSE(d->Enqueue(refused.get()));
        EXPECT_FALSE(d->HandleRequest(refused.get()));
        EXPECT_EQ(d->SendQueueSize(), 3u);
        d->SetQueueLimit(0);
        EXPECT_TRUE(d->Enqueue(refused.release()));
        d->Clear();
    }
}

TEST_F(DispatcherEngineTest, NextOutgoingSendsTrapsAndRecordedRequestsOnly) {
    auto d = Started(TypeClient);
    int live = 0;

    // A queue of messages nobody waits for yields nothing and ends empty.
    for (unsigned int type :
         {static_cast<unsigned int>(PduGetRequest), static_cast<unsigned int>(PduInformRequest),
          static_cast<unsigned int>(PduResponse)}) {
        auto* m = new TrackedMessage(&live);
        m->SetType(type);
        m->SetRequestId(77);
        ASSERT_TRUE(d->Enqueue(m));
    }
    EXPECT_TRUE(DrainOutgoing(*d).empty());
    EXPECT_EQ(d->SendQueueSize(), 0u);
    EXPECT_EQ(live, 0);

    // A cancelled request is dropped unsent; traps always go out, in order.
    int cancelled = 0;
    auto* request = new TrackedMessage(&live);
    request->SetVersion(SnmpVersionV2c);
    request->SetType(PduGetRequest);
    ASSERT_TRUE(d->SendRequest(request, cancelled, false, nullptr));
    auto* v1trap = new Message();
    v1trap->Init(PduV1Trap, ObjectId(), 0, 6, 1, 0, VarBindList());
    ASSERT_TRUE(d->Enqueue(v1trap));
    int kept = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV1), kept, false, nullptr));
    auto* v2trap = new Message();
    v2trap->Init(SnmpVersionV2c, PduV2Trap, ObjectId(), 0, VarBindList());
    ASSERT_TRUE(d->Enqueue(v2trap));
    EXPECT_EQ(d->Cancel(cancelled, true), nullptr);

    const auto sent = DrainOutgoing(*d);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0]->Type(), static_cast<unsigned int>(PduV1Trap));
    EXPECT_EQ(sent[1]->RequestId(), kept);
    EXPECT_EQ(sent[2]->Type(), static_cast<unsigned int>(PduV2Trap));
    EXPECT_EQ(live, 0);
    EXPECT_EQ(d->OutstandingCount(), 1u);

    // With `forget` the request leaves once and its answer finds no record.
    int forgotten = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), forgotten, false, nullptr));
    Message* out = nullptr;
    ASSERT_TRUE(d->NextOutgoing(&out, true));
    delete out;
    std::unique_ptr<Message> late(NewResponse(SnmpVersionV2c, forgotten));
    EXPECT_FALSE(d->HandleResponse(late.get()));
}

TEST_F(DispatcherEngineTest, ResponsesReachTheRequestorOrWaitForCancel) {
    auto d = Started(TypeClient);

    // With a requestor: delivered once, whatever address it came from.
    RecordingRequestor r;
    int withRequestor = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), withRequestor, false, &r));
    Message* answer = NewResponse(SnmpVersionV2c, withRequestor);
    answer->SetSrcAddr(brask::IpAddr("127.0.0.99"));
    EXPECT_TRUE(d->HandleResponse(answer));
    ASSERT_EQ(r.responses.size(), 1u);
    EXPECT_EQ(r.responses[0], answer);
    EXPECT_EQ(r.dispatchers[0], d.get());
    std::unique_ptr<Message> duplicate(NewResponse(SnmpVersionV2c, withRequestor));
    EXPECT_FALSE(d->HandleResponse(duplicate.get()));

    // Without a requestor: stored; a later answer replaces (and frees) the
    // first; Cancel(id, false) returns it once.
    int live = 0;
    int stored = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), stored, false, nullptr));
    auto* first = new TrackedMessage(&live);
    first->SetVersion(SnmpVersionV2c);
    first->SetRequestId(stored);
    auto* second = new TrackedMessage(&live);
    second->SetVersion(SnmpVersionV2c);
    second->SetRequestId(stored);
    EXPECT_TRUE(d->HandleResponse(first));
    EXPECT_TRUE(d->HandleResponse(second));
    EXPECT_EQ(live, 1);
    std::unique_ptr<Message> got(d->Cancel(stored, false));
    EXPECT_EQ(got.get(), second);
    EXPECT_EQ(d->Cancel(stored, false), nullptr);

    // Cancelled before the answer came: the answer is refused.
    int early = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), early, false, nullptr));
    EXPECT_EQ(d->Cancel(early, false), nullptr);
    std::unique_ptr<Message> tooLate(NewResponse(SnmpVersionV2c, early));
    EXPECT_FALSE(d->HandleResponse(tooLate.get()));

    // Cancel with discard frees a stored answer.
    int discarded = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), discarded, false, nullptr));
    auto* dropped = new TrackedMessage(&live);
    dropped->SetVersion(SnmpVersionV2c);
    dropped->SetRequestId(discarded);
    EXPECT_TRUE(d->HandleResponse(dropped));
    EXPECT_EQ(d->Cancel(discarded, true), nullptr);
    EXPECT_EQ(live, 1);  // only `second`, which `got` holds
    d->Clear();
}

TEST_F(DispatcherEngineTest, DiscoveryResendsTheKeptRequestForEachReport) {
    auto d = Started(TypeClient);
    Client client(d.get());
    RecordingRequestor r;

    int id = 0;
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthPriv), id, true, &r));
    EXPECT_GT(id, 0);
    EXPECT_EQ(d->KeptV3RequestCount(), 1u);

    // The probe: same id and PDU, noAuthNoPriv, reportable, USM.
    auto sent = DrainOutgoing(*d);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->MsgId(), id);
    EXPECT_EQ(sent[0]->SecurityLevel(), SecLevelNoAuthNoPriv);
    EXPECT_TRUE(sent[0]->Reportable());
    EXPECT_EQ(sent[0]->SecurityModel(), SecModelUSM);
    EXPECT_EQ(sent[0]->Type(), static_cast<unsigned int>(PduGetRequest));
    EXPECT_EQ(sent[0]->VarBinds().size(), 1u);

    // Unknown engine (a second binding does not matter): again at authNoPriv.
    EXPECT_TRUE(client.Receive(NewV3Report(id, {USM_UNKNOWNENGINE, USM_TIMEWINDOW})));
    sent = DrainOutgoing(*d);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->SecurityLevel(), SecLevelAuthNoPriv);
    EXPECT_EQ(sent[0]->UserName(), "alice");

    // Not in time window: again at the request's own level.
    EXPECT_TRUE(client.Receive(NewV3Report(id, {USM_TIMEWINDOW})));
    sent = DrainOutgoing(*d);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]->SecurityLevel(), SecLevelAuthPriv);
    EXPECT_TRUE(r.responses.empty());

    // The response ends it; the kept request is gone.
    Message* response = NewResponse(SnmpVersionV3, id);
    EXPECT_TRUE(client.Receive(response));
    ASSERT_EQ(r.responses.size(), 1u);
    EXPECT_EQ(r.responses[0], response);
    EXPECT_EQ(d->KeptV3RequestCount(), 0u);
    EXPECT_EQ(d->OutstandingCount(), 0u);

    // A discovery report for nothing kept sends nothing.
    EXPECT_TRUE(client.Receive(NewV3Report(id, {USM_UNKNOWNENGINE})));
    EXPECT_TRUE(DrainOutgoing(*d).empty());
}

TEST_F(DispatcherEngineTest, OtherReportsAndNonDiscoveryMessagesAreResponses) {
    auto d = Started(TypeClient);
    Client client(d.get());
    RecordingRequestor r;
    struct Case {
        const char* name;
        Message* (*make)(int id);
    };
    const Case cases[] = {
        {"unknown user report",
         [](int id) {
             return NewV3Report(id, {USM_UNKNOWNUSER, USM_UNKNOWNENGINE});
         }},
        {"report without bindings", [](int id) { return NewV3Report(id, {}); }},
        {"SNMPv2c report naming the unknown engine",
         [](int id) {
             Message* m = NewResponse(SnmpVersionV2c, id);
             m->SetType(PduReport);
             m->ClearVarBinds();
             ObjectId name;
             name.Set(USM_UNKNOWNENGINE);
             m->AddVarBind(VarBind(name, AsnValue()));
             return m;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = r.responses.size();
        int id = 0;
        ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, &r));
        DrainOutgoing(*d);
        Message* incoming = c.make(id);
        EXPECT_TRUE(client.Receive(incoming));
        ASSERT_EQ(r.responses.size(), before + 1);
        EXPECT_EQ(r.responses.back(), incoming);
        EXPECT_EQ(d->KeptV3RequestCount(), 0u);
        EXPECT_TRUE(DrainOutgoing(*d).empty());
    }
    // A report for no outstanding request stays with the receive path.
    std::unique_ptr<Message> unmatched(NewV3Report(123456, {USM_UNKNOWNUSER}));
    EXPECT_FALSE(client.Receive(unmatched.get()));
}

TEST_F(DispatcherEngineTest, CancellingDropsTheKeptSnmpV3Request) {
    auto d = Started(TypeClient);
    for (bool discard : {false, true}) {
        SCOPED_TRACE(discard);
        int id = 0;
        ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, nullptr));
        EXPECT_EQ(d->KeptV3RequestCount(), 1u);
        EXPECT_EQ(d->Cancel(id, discard), nullptr);
        EXPECT_EQ(d->KeptV3RequestCount(), 0u);
        // A late discovery report resends nothing.
        EXPECT_TRUE(d->HandleNotInTimeWindow(NewV3Report(id, {USM_TIMEWINDOW})));
        EXPECT_TRUE(DrainOutgoing(*d).empty());
    }
}

TEST_F(DispatcherEngineTest, ReusedIdsReplaceRecordsWithoutLeaking) {
    auto d = Started(TypeClient);
    int live = 0;
    // A stored answer is freed when the host sends again under the same id.
    int id = 0;
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv, 500), id, false, nullptr));
    auto* answer = new TrackedMessage(&live);
    answer->SetVersion(SnmpVersionV3);
    answer->SetRequestId(500);
    ASSERT_TRUE(d->HandleResponse(answer));
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv, 500), id, true, nullptr));
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv, 500), id, false, nullptr));
    EXPECT_EQ(live, 0);
    EXPECT_EQ(d->KeptV3RequestCount(), 1u);
    EXPECT_EQ(d->OutstandingCount(), 1u);
}

TEST_F(DispatcherEngineTest, ClearDeletesEveryHeldMessageButKeepsRecords) {
    auto d = Started(TypeClient);
    int live = 0;
    int a = 0;
    ASSERT_TRUE(d->SendRequest(NewGet(SnmpVersionV2c), a, false, nullptr));
    auto* answer = new TrackedMessage(&live);
    answer->SetVersion(SnmpVersionV2c);
    answer->SetRequestId(a);
    ASSERT_TRUE(d->HandleResponse(answer));
    int b = 0;
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), b, false, nullptr));
    auto* queued = new TrackedMessage(&live);
    queued->SetType(PduV2Trap);
    ASSERT_TRUE(d->Enqueue(queued));
    EXPECT_EQ(live, 2);

    d->Clear();
    EXPECT_EQ(live, 0);
    EXPECT_EQ(d->SendQueueSize(), 0u);
    EXPECT_EQ(d->KeptV3RequestCount(), 0u);
    EXPECT_EQ(d->OutstandingCount(), 2u);
    EXPECT_EQ(d->Cancel(a, false), nullptr);
}

TEST_F(DispatcherEngineTest, ServerAnswersLeaveInAscendingIdOrder) {
    auto d = Started(TypeServer);
    Server server(d.get());
    RecordingServerRequestor host;
    d->SetServerRequestor(&host);

    Message sentinel;
    Message* out = &sentinel;  // must be reset
    EXPECT_FALSE(server.NextToSend(&out));
    EXPECT_EQ(out, nullptr);

    EXPECT_TRUE(server.Receive(NewGet(SnmpVersionV2c, 7)));
    EXPECT_TRUE(server.Receive(NewGet(SnmpVersionV2c, 5)));
    ASSERT_EQ(host.requests.size(), 2u);
    // A retransmission while the first copy is with the host is refused.
    std::unique_ptr<Message> again(NewGet(SnmpVersionV2c, 7));
    EXPECT_FALSE(server.Receive(again.get()));
    EXPECT_EQ(host.requests.size(), 2u);

    std::unique_ptr<Message> stray(NewResponse(SnmpVersionV2c, 6));
    EXPECT_FALSE(d->HandleResponse(stray.get()));
    EXPECT_TRUE(d->HandleResponse(NewResponse(SnmpVersionV2c, 7)));
    EXPECT_TRUE(d->HandleResponse(NewResponse(SnmpVersionV2c, 5)));

    std::vector<int> order;
    while (server.NextToSend(&out)) {
        order.push_back(out->RequestId());
        delete out;
    }
    EXPECT_EQ(order, (std::vector<int>{5, 7}));

    // Once answered and sent, the id is accepted again; an answer given from
    // inside OnRequest (the lock is re-entrant) is taken.
    host.answerInline = true;
    EXPECT_TRUE(server.Receive(NewGet(SnmpVersionV2c, 7)));
    EXPECT_TRUE(host.inlineAnswerTaken);
    ASSERT_TRUE(server.NextToSend(&out));
    EXPECT_EQ(out->RequestId(), 7);
    EXPECT_EQ(out->Type(), static_cast<unsigned int>(PduResponse));
    delete out;

    // Every PDU type takes the same road, discovery reports included; a
    // server never resends for them.
    host.answerInline = false;
    EXPECT_TRUE(server.Receive(NewV3Report(9, {USM_UNKNOWNENGINE})));
    EXPECT_EQ(host.requests.back()->Type(), static_cast<unsigned int>(PduReport));
    EXPECT_EQ(d->Cancel(9, true), nullptr);
    EXPECT_TRUE(d->HandleUnknownEngineId(NewV3Report(9, {USM_UNKNOWNENGINE})));
    EXPECT_EQ(d->SendQueueSize(), 0u);
}

TEST_F(DispatcherEngineTest, ServerWithoutRequestorParksMessagesUnsent) {
    auto d = Started(TypeServer);
    Server server(d.get());
    EXPECT_TRUE(server.Receive(NewGet(SnmpVersionV1, 3)));
    EXPECT_EQ(d->SendQueueSize(), 1u);
    std::unique_ptr<Message> again(NewGet(SnmpVersionV1, 3));
    EXPECT_FALSE(server.Receive(again.get()));
    Message* out = nullptr;
    EXPECT_FALSE(server.NextToSend(&out));
    EXPECT_EQ(d->Cancel(3, true), nullptr);
    EXPECT_TRUE(server.Receive(again.release()));
}

TEST_F(DispatcherEngineTest, SendReportBuildsTheReportOfEachFailure) {
    auto d = Started(TypeServer);
    Server server(d.get());
    NoTargets lookup(TypeServer);
    d->SetTargetLookup(&lookup);

    struct Case {
        int type;
        const char* oid;
        v3SecurityLevel level;  // for a request at authPriv
    };
    const Case cases[] = {
        {23, ".1.3.6.1.6.3.11.2.1.3.0", SecLevelAuthPriv},
        {200, ".1.3.6.1.6.3.15.1.1.4.0", SecLevelNoAuthNoPriv},
        {201, ".1.3.6.1.6.3.15.1.1.3.0", SecLevelNoAuthNoPriv},
        {202, ".1.3.6.1.6.3.15.1.1.1.0", SecLevelNoAuthNoPriv},
        {203, ".1.3.6.1.6.3.15.1.1.5.0", SecLevelAuthPriv},
        {204, ".1.3.6.1.6.3.15.1.1.2.0", SecLevelAuthNoPriv},
        {205, ".1.3.6.1.6.3.15.1.1.6.0", SecLevelAuthPriv},
    };
    int id = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Message request;
        request.SetVersion(SnmpVersionV3);
        request.InitSecurity(&lookup);
        request.SetType(PduGetRequest);
        request.SetRequestId(++id);
        request.SetUserName("mallory");
        OctetString engine;
        engine.Set(reinterpret_cast<const unsigned char*>("\x80\x00\x1f\x88\x04"), 5);
        request.SetEngineId(engine);
        request.SetSecurityLevel(SecLevelAuthPriv);
        request.SetSrcAddr(brask::IpAddr("127.0.0.5"));
        request.SetSrcPort(40001);

        EXPECT_TRUE(d->SendReport(request, c.type));
        Message* out = nullptr;
        ASSERT_TRUE(server.NextToSend(&out));
        std::unique_ptr<Message> report(out);
        EXPECT_EQ(report->Version(), SnmpVersionV3);
        EXPECT_EQ(report->Type(), static_cast<unsigned int>(PduReport));
        EXPECT_EQ(report->RequestId(), id);
        EXPECT_EQ(report->MsgId(), id);
        EXPECT_EQ(report->DstAddr(), brask::IpAddr("127.0.0.5"));
        EXPECT_EQ(report->DstPort(), 40001);
        EXPECT_EQ(report->UserName(), "mallory");
        EXPECT_EQ(report->EngineId(), engine);
        EXPECT_FALSE(report->Reportable());
        EXPECT_EQ(report->SecurityLevel(), c.level);
        ASSERT_EQ(report->VarBinds().size(), 1u);
        std::string name;
        report->VarBinds().front().Objid().MakeStr(name);
        EXPECT_EQ(name, c.oid);
        EXPECT_EQ(report->VarBinds().front().Value().Type(), 0x02u);
        EXPECT_EQ(static_cast<unsigned int>(report->VarBinds().front().Value().Integer()),
                  SnmpStats::Instance()->USMStat(c.type));
    }

    // A Report replaces the record of a request the host still holds, and
    // frees an answer stored there.
    RecordingServerRequestor host;
    d->SetServerRequestor(&host);
    ASSERT_TRUE(server.Receive(NewGet(SnmpVersionV2c, 900)));
    int live = 0;
    auto* answer = new TrackedMessage(&live);
    answer->SetVersion(SnmpVersionV2c);
    answer->SetRequestId(900);
    ASSERT_TRUE(d->HandleResponse(answer));
    Message failed;
    failed.SetVersion(SnmpVersionV3);
    failed.InitSecurity(&lookup);
    failed.SetRequestId(900);
    EXPECT_TRUE(d->SendReport(failed, 201));
    EXPECT_EQ(live, 0);
    EXPECT_EQ(d->OutstandingCount(), 1u);
    d->Clear();
}

TEST_F(DispatcherEngineTest, ClientSendReportEndsTheRequestInsteadOfPilingUpRecords) {
    auto d = Started(TypeClient);
    RecordingRequestor r;
    int id = 0;
    ASSERT_TRUE(d->SendRequest(NewV3Get(SecLevelAuthNoPriv), id, false, &r));
    Message failed;
    failed.SetVersion(SnmpVersionV3);
    failed.InitSecurity(nullptr);
    failed.SetRequestId(id);
    EXPECT_TRUE(d->SendReport(failed, 201));
    Message unrelated(failed);
    unrelated.SetRequestId(id + 1000);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(d->SendReport(unrelated, 203));
    EXPECT_EQ(d->OutstandingCount(), 0u);
    EXPECT_EQ(d->KeptV3RequestCount(), 0u);
    EXPECT_TRUE(DrainOutgoing(*d).empty());  // the request itself is dropped unsent
    EXPECT_TRUE(r.responses.empty());
}

TEST_F(DispatcherEngineTest, StoppedServerRefusesMessagesAndReports) {
    auto d = Started(TypeServer);
    d->Stop();
    Message failed;
    failed.SetVersion(SnmpVersionV3);
    failed.InitSecurity(nullptr);
    failed.SetRequestId(4);
    EXPECT_TRUE(d->SendReport(failed, 200));
    EXPECT_EQ(d->OutstandingCount(), 0u);
    std::unique_ptr<Message> late(NewGet(SnmpVersionV2c, 8));
    EXPECT_FALSE(d->HandleRequest(late.get()));
}

}  // namespace
}  // namespace snmp
