// The sender and receiver tasks over real loopback sockets, driven through a
// recording routing object: round-robin sending, delivery with the watch
// order, failures counted and answered, host filters, oversized datagrams,
// the queue bound, the tooBig paths and the 64-socket limit.
#include "snmp/transport/sock_processor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/transport/udp_transporter.h"
#include "transport/transport_fixtures.h"

namespace snmp {
namespace {

using testing_support::Encoded;
using testing_support::MakeRequest;
using testing_support::NullBinding;
using testing_support::Peer;
using testing_support::RecordingQueue;
using testing_support::RecordingWatch;

// Loopback endpoints opened through the transport, closed at the end.
class Endpoints {
public:
    Endpoints(Transporter* t, int count) {
        for (int i = 0; i < count; ++i) Add(t);
    }
    ~Endpoints() {
        for (const auto& e : table) ::close(e.second);
    }
    Endpoints(const Endpoints&) = delete;
    Endpoints& operator=(const Endpoints&) = delete;

    brask::IpEndpoint Add(Transporter* t) {
        brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
        const int s = t->Open(local, false);
        EXPECT_GE(s, 0);
        table[local] = s;
        return local;
    }
    std::vector<unsigned short> Ports() const {
        std::vector<unsigned short> v;
        for (const auto& e : table) v.push_back(e.first.Port());
        return v;
    }

    EndpointTable table;
};

class SockProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        StackInterface::Destroy();
        SnmpStats::Destroy();
        StackInterface::Instance()->RegisterWatch(&watch);
    }
    void TearDown() override {
        StackInterface::Destroy();
        SnmpStats::Destroy();
    }
    RecordingWatch watch;
};

TEST_F(SockProcessorTest, SenderUsesTheEndpointsInTurnAndRestartsAfterAChange) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 3);
    const auto ports = eps.Ports();
    Peer peer;
    MsgSender sender(&eps.table, 0, &queue);
    for (int id = 1; id <= 4; ++id) queue.Push(MakeRequest(peer.Port(), 0xA0, id));
    sender.Start();
    std::vector<unsigned short> from;
    for (int i = 0; i < 4; ++i) {
        std::vector<unsigned char> got;
        unsigned short port = 0;
        ASSERT_TRUE(peer.Recv(got, &port));
        from.push_back(port);
        Message decoded;
        ASSERT_TRUE(decoded.Decode(got.data(), static_cast<unsigned int>(got.size())));
        EXPECT_EQ(decoded.RequestId(), i + 1);
    }
    EXPECT_EQ(from, (std::vector<unsigned short>{ports[1], ports[2], ports[0], ports[1]}));

    sender.Lock();  // the dispatcher's way to change the table
    sender.Unlock();
    queue.Push(MakeRequest(peer.Port(), 0xA0, 5));
    sender.Wake();
    std::vector<unsigned char> got;
    unsigned short port = 0;
    ASSERT_TRUE(peer.Recv(got, &port));
    EXPECT_EQ(port, ports[0]);

    sender.Stop();
    sender.Join();
    EXPECT_EQ(watch.Names(), (std::vector<std::string>(5, "send")));
}

TEST_F(SockProcessorTest, SenderWithoutEndpointsGivesMessagesUpAndResumesWhenOneIsAdded) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 0);
    Peer peer;
    MsgSender sender(&eps.table, 0, &queue);
    queue.Push(MakeRequest(peer.Port(), 0xA0, 1));
    queue.Push(MakeRequest(peer.Port(), 0xA0, 2));
    sender.Start();
    ASSERT_TRUE(queue.WaitOutgoingEmpty());
    sender.Lock();  // waits until the sender has dealt with both and sleeps
    eps.Add(queue.GetTransporter());
    sender.Unlock();
    queue.Push(MakeRequest(peer.Port(), 0xA0, 3));
    sender.Wake();
    std::vector<unsigned char> got;
    ASSERT_TRUE(peer.Recv(got));
    Message decoded;
    ASSERT_TRUE(decoded.Decode(got.data(), static_cast<unsigned int>(got.size())));
    EXPECT_EQ(decoded.RequestId(), 3);
    sender.Stop();
    sender.Join();
}

TEST_F(SockProcessorTest, ReceiverDeliversDecodedMessagesThatOwnTheirBytes) {
    StackInterface::Instance()->Init();
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    const unsigned short local = eps.Ports()[0];
    Peer peer;
    MsgReceiver receiver(&eps.table, 0, &queue);
    receiver.Start();
    std::unique_ptr<Message> request(MakeRequest(local, 0xA0, 42));
    const auto bytes = Encoded(*request);
    ASSERT_TRUE(peer.SendTo(local, bytes));
    ASSERT_TRUE(queue.WaitOffered(1));

    // Refused messages are the receiver's to delete.
    queue.SetAccept(false);
    ASSERT_TRUE(peer.SendTo(local, bytes));
    ASSERT_TRUE(queue.WaitOffered(2));
    receiver.Stop();
    receiver.Join();

    const auto got = queue.Received();
    ASSERT_EQ(got.size(), 1u);
    const Message& m = *got[0];
    EXPECT_EQ(m.SrcAddr(), brask::IpAddr("127.0.0.1"));
    EXPECT_EQ(m.SrcPort(), peer.Port());
    EXPECT_EQ(m.DstPort(), local);
    EXPECT_EQ(m.Type(), 0xA0u);
    EXPECT_EQ(m.RequestId(), 42);
    EXPECT_EQ(m.Community(), "public");
    // The datagram's queue copy is freed by now; the message's view of it
    // must still be intact and it must not share the receiver's encode record.
    ASSERT_EQ(m.RawSize(), bytes.size());
    EXPECT_EQ(std::vector<unsigned char>(m.RawData(), m.RawData() + m.RawSize()), bytes);
    EXPECT_EQ(m.EncBuffer(), nullptr);

    EXPECT_EQ(watch.Names(), (std::vector<std::string>{"receive", "decode", "receive", "decode"}));
    const auto events = watch.Events();
    EXPECT_EQ(events[0].srcPort, peer.Port());  // addresses set before OnReceive
    EXPECT_EQ(events[0].dstPort, local);
    EXPECT_EQ(events[0].pduType, 5u);  // not yet decoded
    EXPECT_EQ(SnmpStats::Instance()->InPkts(), 2u);
    EXPECT_EQ(SnmpStats::Instance()->InGets(), 2u);
    EXPECT_EQ(SnmpStats::Instance()->InTotalReqVars(), 2u);
    EXPECT_TRUE(queue.TestDispatcher().Calls().empty());
}

TEST_F(SockProcessorTest, ReceiveFailuresAreCountedByTypeAndEndTheRequest) {
    StackInterface::Instance()->Init();
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    const unsigned short local = eps.Ports()[0];
    Peer peer;
    MsgReceiver receiver(&eps.table, 0, &queue);

    std::unique_ptr<Message> request(MakeRequest(local, 0xA0, 77));
    const auto good = Encoded(*request);
    auto badVersion = good;
    ASSERT_EQ(badVersion[4], 0x01);  // 30 len 02 01 <version>
    badVersion[4] = 0x02;
    auto trailing = good;
    trailing.push_back(0x00);
    auto notSequence = good;
    notSequence[0] = 0x31;
    auto badValue = good;
    ASSERT_EQ(badValue[badValue.size() - 2], 0x05);  // the NULL value's tag
    badValue[badValue.size() - 2] = 0x45;
    std::unique_ptr<Message> anonymous(MakeRequest(local, 0xA0, 78));
    anonymous->SetCommunity("");
    const auto noCommunity = Encoded(*anonymous);

    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        int type;
        int cancelled;  // request id handed to Cancel
    };
    const std::vector<Case> cases = {
        {"version 2", badVersion, 2, 0},        {"trailing byte", trailing, 5, 0},
        {"not a sequence", notSequence, 1, 0},  {"unknown value type", badValue, 7, 77},
        {"empty community", noCommunity, 9, 0},
    };
    receiver.Start();
    for (const auto& c : cases) ASSERT_TRUE(peer.SendTo(local, c.bytes));
    ASSERT_TRUE(watch.WaitEvents(2 * cases.size()));
    receiver.Stop();
    receiver.Join();

    const auto events = watch.Events();
    ASSERT_EQ(events.size(), 2 * cases.size());
    const auto calls = queue.TestDispatcher().Calls();
    ASSERT_EQ(calls.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(events[2 * i].what, "receive");
        EXPECT_EQ(events[2 * i + 1].what, "except");
        EXPECT_EQ(events[2 * i + 1].excType, cases[i].type);
        EXPECT_EQ(calls[i].what, "cancel");
        EXPECT_EQ(calls[i].value, cases[i].cancelled);
        EXPECT_EQ(calls[i].extra, 1);  // discard
    }
    const SnmpStats* stats = SnmpStats::Instance();
    EXPECT_EQ(stats->InPkts(), 5u);
    EXPECT_EQ(stats->InBadVers(), 1u);
    EXPECT_EQ(stats->InAsnParseErrs(), 3u);
    EXPECT_EQ(stats->InBadCommStrs(), 1u);
    EXPECT_EQ(queue.Offered(), 0u);
}

TEST_F(SockProcessorTest, ReceiverTakesARequestFromNetSnmp) {
    if (std::system("command -v snmpget >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "net-snmp's snmpget is not installed";
    }
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    const unsigned short local = eps.Ports()[0];
    MsgReceiver receiver(&eps.table, 0, &queue);
    receiver.Start();
    // Nobody answers: snmpget gives up after its one-second time-out.
    const std::string command =
        "snmpget -m '' -v2c -c zkpeer -r 0 -t 1 udp:127.0.0.1:" + std::to_string(local) +
        " .1.3.6.1.2.1.1.5.0 >/dev/null 2>&1";
    std::thread peer([command] { (void)std::system(command.c_str()); });
    const bool got = queue.WaitOffered(1);
    peer.join();
    receiver.Stop();
    receiver.Join();
    ASSERT_TRUE(got);
    const Message& m = *queue.Received().at(0);
    EXPECT_EQ(m.Version(), SnmpVersionV2c);
    EXPECT_EQ(m.Community(), "zkpeer");
    EXPECT_EQ(m.Type(), 0xA0u);
    EXPECT_EQ(m.SrcAddr(), brask::IpAddr("127.0.0.1"));
    EXPECT_NE(m.SrcPort(), 0);
    EXPECT_EQ(m.DstPort(), local);
    ASSERT_EQ(m.VarBinds().size(), 1u);
    ObjectId sysName;
    sysName.Set("1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(m.VarBinds().front().Objid().Compare(sysName), 0);
    EXPECT_EQ(watch.Names(), (std::vector<std::string>{"receive", "decode"}));
}

// An SNMPv3 GetRequest with msgID `id`, the given msgFlags and an empty
// authoritative engine id: the discovery probe every USM peer answers with an
// unknown-engine-id Report.
std::vector<unsigned char> V3Probe(unsigned char id, unsigned char flags) {
    return {0x30, 0x37,                                             // message
            0x02, 0x01, 0x03,                                       // msgVersion 3
            0x30, 0x0D, 0x02,  0x01, id,                            // msgID
            0x02, 0x02, 0x05,  0xDC,                                // msgMaxSize 1500
            0x04, 0x01, flags,                                      // msgFlags
            0x02, 0x01, 0x03,                                       // USM
            0x04, 0x10, 0x30,  0x0E, 0x04, 0x00, 0x02, 0x01, 0x00,  // engine id, boots
            0x02, 0x01, 0x00,  0x04, 0x00, 0x04, 0x00, 0x04, 0x00,  // time, user, auth, priv
            0x30, 0x11, 0x04,  0x00, 0x04, 0x00,                    // scoped PDU, context
            0xA0, 0x0B, 0x02,  0x01, id,   0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x00};
}

TEST_F(SockProcessorTest, UsmFailureOfAReportableRequestIsAnsweredWithAReport) {
    StackInterface::Instance()->Init();
    RecordingQueue queue(TypeServer);
    Endpoints eps(queue.GetTransporter(), 1);
    const unsigned short local = eps.Ports()[0];
    Peer peer;
    MsgReceiver receiver(&eps.table, 0, &queue);
    receiver.Start();
    ASSERT_TRUE(peer.SendTo(local, V3Probe(7, 0x04)));  // reportable
    ASSERT_TRUE(peer.SendTo(local, V3Probe(8, 0x00)));  // not reportable
    ASSERT_TRUE(watch.WaitEvents(4));
    receiver.Stop();
    receiver.Join();
    EXPECT_EQ(watch.Names(), (std::vector<std::string>{"receive", "except", "receive", "except"}));
    EXPECT_EQ(watch.Events()[1].excType, 200);
    const auto calls = queue.TestDispatcher().Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].what, "report");
    EXPECT_EQ(calls[0].value, 7);
    EXPECT_EQ(calls[0].extra, 200);
    EXPECT_EQ(calls[1].what, "cancel");
    EXPECT_EQ(calls[1].value, 8);
    EXPECT_EQ(SnmpStats::Instance()->UnknownEngineId(), 2u);
    EXPECT_EQ(queue.Offered(), 0u);
}

TEST_F(SockProcessorTest, ReportDecision) {
    struct Case {
        const char* name;
        SnmpVersion version;
        bool reportable;
        unsigned int pdu;
        int type;
        bool report;
    };
    const Case cases[] = {
        {"usm error", SnmpVersionV3, true, 0xA0, 200, true},
        {"usm decrypt", SnmpVersionV3, true, 0xA2, 205, true},
        {"above usm range", SnmpVersionV3, true, 0xA0, 300, true},
        {"not reportable", SnmpVersionV3, false, 0xA0, 203, false},
        {"v2c", SnmpVersionV2c, true, 0xA0, 203, false},
        {"no handler, get", SnmpVersionV3, true, 0xA0, 23, true},
        {"no handler, response", SnmpVersionV3, true, 0xA2, 23, false},
        {"no handler, v1 trap", SnmpVersionV3, true, 0xA4, 23, false},
        {"no handler, report", SnmpVersionV3, true, 0xA8, 23, true},
        {"parse error", SnmpVersionV3, true, 0xA0, 5, false},
        {"invalid message", SnmpVersionV3, true, 0xA0, 22, false},
        {"below usm range", SnmpVersionV3, true, 0xA0, 199, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Message m;
        m.SetVersion(c.version);
        m.SetReportable(c.reportable);
        m.SetType(c.pdu);
        EXPECT_EQ(MsgReceiver::ShouldReport(m, Exception(c.type)), c.report);
    }
}

TEST_F(SockProcessorTest, HostFilterDropsSequencesFromOtherSourcesButNotOtherDatagrams) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    const unsigned short local = eps.Ports()[0];
    Peer peer;
    MsgReceiver receiver(&eps.table, 0, &queue);
    StackInterface::Instance()->RegisterReceiver(&receiver);
    Filter elsewhere(brask::IpAddr("10.0.0.0"), brask::IpAddr("255.0.0.0"));
    StackInterface::Instance()->AddHost(elsewhere);
    receiver.Start();
    std::unique_ptr<Message> request(MakeRequest(local, 0xA0, 5));
    auto bytes = Encoded(*request);
    ASSERT_TRUE(peer.SendTo(local, bytes));  // filtered out silently
    bytes[0] = 0x31;
    ASSERT_TRUE(peer.SendTo(local, bytes));  // exempt: reaches the decoder
    ASSERT_TRUE(watch.WaitEvents(2));

    // Admitting the source lets the next one through.
    Filter loopback(brask::IpAddr("127.0.0.1"));
    StackInterface::Instance()->AddHost(loopback);
    bytes[0] = 0x30;
    ASSERT_TRUE(peer.SendTo(local, bytes));
    ASSERT_TRUE(queue.WaitOffered(1));
    receiver.Stop();
    receiver.Join();
    EXPECT_EQ(watch.Names(), (std::vector<std::string>{"receive", "except", "receive", "decode"}));
    EXPECT_EQ(watch.Events()[1].excType, 1);
}

TEST_F(SockProcessorTest, FiltersChangeSafelyWhileDatagramsAreProcessed) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    const unsigned short local = eps.Ports()[0];
    Peer peer;
    MsgReceiver receiver(&eps.table, 0, &queue);
    StackInterface::Instance()->RegisterReceiver(&receiver);
    receiver.Start();
    std::unique_ptr<Message> request(MakeRequest(local, 0xA0, 5));
    const auto bytes = Encoded(*request);
    std::thread host([] {
        Filter elsewhere(brask::IpAddr("10.0.0.0"), brask::IpAddr("255.0.0.0"));
        Filter loopback(brask::IpAddr("127.0.0.1"));
        for (int i = 0; i < 300; ++i) {
            StackInterface::Instance()->AddHost(i % 2 == 0 ? elsewhere : loopback);
            StackInterface::Instance()->RemoveHost(i % 2 == 0 ? elsewhere : loopback);
        }
    });
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(peer.SendTo(local, bytes));
    host.join();
    // With every filter gone again the source is accepted; datagrams are
    // handled in order, so the marker comes after all the others.
    std::unique_ptr<Message> marker(MakeRequest(local, 0xA0, 999));
    ASSERT_TRUE(peer.SendTo(local, Encoded(*marker)));
    ASSERT_TRUE(queue.WaitRequestId(999));
    receiver.Stop();
    receiver.Join();
    EXPECT_EQ(queue.Received().back()->RequestId(), 999);
    EXPECT_LE(queue.Offered(), 101u);
}

TEST_F(SockProcessorTest, OversizedDatagramNeverReachesTheDecoder) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    const unsigned short local = eps.Ports()[0];
    Peer peer;
    MsgReceiver receiver(&eps.table, 100, &queue);
    EXPECT_EQ(receiver.BufferSize(), 100u);
    receiver.Start();
    std::unique_ptr<Message> big(MakeRequest(local, 0xA0, 1));
    for (int i = 0; i < 10; ++i) big->AddVarBind(NullBinding("1.3.6.1.4.1.99999.1.2.3.4.5.6"));
    const auto bigBytes = Encoded(*big);
    ASSERT_GT(bigBytes.size(), 100u);
    std::unique_ptr<Message> small(MakeRequest(local, 0xA0, 2));
    ASSERT_TRUE(peer.SendTo(local, bigBytes));
    ASSERT_TRUE(peer.SendTo(local, Encoded(*small)));
    ASSERT_TRUE(queue.WaitOffered(1));
    receiver.Stop();
    receiver.Join();
    ASSERT_EQ(queue.Received().size(), 1u);
    EXPECT_EQ(queue.Received()[0]->RequestId(), 2);
    EXPECT_EQ(watch.Names(), (std::vector<std::string>{"receive", "decode"}));

    // Sizes of 0 and above the maximum mean the maximum.
    MsgReceiver zero(&eps.table, 0, &queue);
    MsgReceiver huge(&eps.table, Message::MaxMessageSize() + 1, &queue);
    EXPECT_EQ(zero.BufferSize(), Message::MaxMessageSize());
    EXPECT_EQ(huge.BufferSize(), Message::MaxMessageSize());
}

TEST_F(SockProcessorTest, ReceiveQueueBoundDropsAndCountsForTheHost) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    const auto endpoint = eps.table.begin();
    Peer peer;
    MsgReceiver receiver(&eps.table, 0, &queue);
    StackInterface* si = StackInterface::Instance();
    si->RegisterReceiver(&receiver);
    si->SetReceiveQueueLimit(2, 0);
    EXPECT_EQ(receiver.DataQueue().MaxItems(), 2u);
    // The queue's thread is not running, so nothing drains it.
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(peer.SendTo(endpoint->first.Port(), {0x30, 0x00}));
        pollfd p{endpoint->second, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 10000), 1);
        EXPECT_EQ(receiver.ReceiveOne(endpoint->second, endpoint->first.Port()), i < 2);
    }
    EXPECT_EQ(receiver.DroppedDatagrams(), 3u);
    EXPECT_EQ(si->ReceiveQueueDrops(), 3u);
    EXPECT_EQ(SnmpStats::Instance()->ReceiveQueueDrops(), 3u);
    // Nothing to read: a failed read queues nothing.
    EXPECT_FALSE(receiver.ReceiveOne(endpoint->second, endpoint->first.Port()));
    EXPECT_EQ(receiver.DataQueue().Pending(), 2u);

    MsgReceiver later(&eps.table, 0, &queue);
    si->RegisterReceiver(&later);
    EXPECT_EQ(later.DataQueue().MaxItems(), 2u);

    // A dispatcher's end forgets every receiver; the statistics keep the count.
    si->Shutdown();
    EXPECT_EQ(si->ReceiveQueueDrops(), 0u);
    EXPECT_EQ(SnmpStats::Instance()->ReceiveQueueDrops(), 3u);
}

TEST_F(SockProcessorTest, TooBigRequestOnAClientComesBackAsALocalResponse) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 1);
    Peer peer;
    MsgSender sender(&eps.table, 60, &queue);
    Message* m = MakeRequest(peer.Port(), 0xA0, 9);
    for (int i = 0; i < 5; ++i) m->AddVarBind(NullBinding("1.3.6.1.4.1.99999.1.2.3.4.5.6"));
    m->SetSrcPort(1234);
    queue.Push(m);
    sender.Start();
    ASSERT_TRUE(queue.WaitOffered(1));

    // Refused by the dispatcher: the sender deletes it.
    queue.SetAccept(false);
    Message* again = MakeRequest(peer.Port(), 0xA0, 10);
    for (int i = 0; i < 5; ++i) again->AddVarBind(NullBinding("1.3.6.1.4.1.99999.1.2.3.4.5.6"));
    queue.Push(again);
    sender.Wake();
    ASSERT_TRUE(queue.WaitOffered(2));
    sender.Stop();
    sender.Join();

    const auto got = queue.Received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]->Type(), 0xA2u);
    EXPECT_EQ(got[0]->ErrStat(), 1);
    EXPECT_EQ(got[0]->RequestId(), 9);
    EXPECT_EQ(got[0]->SrcAddr(), brask::IpAddr("127.0.0.1"));
    EXPECT_EQ(got[0]->SrcPort(), peer.Port());
    EXPECT_EQ(got[0]->DstPort(), 1234);
    EXPECT_EQ(got[0]->EncBuffer(), nullptr);
    EXPECT_EQ(watch.Names(), (std::vector<std::string>{"except", "except"}));
    EXPECT_EQ(watch.Events()[0].excType, 14);
}

TEST_F(SockProcessorTest, TooBigAnswerOnAServerGoesOutStripped) {
    struct Case {
        const char* name;
        SnmpVersion version;
    };
    for (const Case c : {Case{"v2c", SnmpVersionV2c}, Case{"v1", SnmpVersionV1}}) {
        SCOPED_TRACE(c.name);
        RecordingWatch local;
        StackInterface::Instance()->DeregisterWatch(&watch);
        StackInterface::Instance()->RegisterWatch(&local);
        RecordingQueue queue(TypeServer);
        Endpoints eps(queue.GetTransporter(), 1);
        Peer peer;
        MsgSender sender(&eps.table, 80, &queue);
        Message* m = MakeRequest(peer.Port(), 0xA2, 11, c.version);
        m->VarBinds().front().Value().SetType(0x04);
        m->VarBinds().front().Value().SetString(OctetString(std::string(120, 'x')));
        queue.Push(m);
        sender.Start();
        std::vector<unsigned char> got;
        ASSERT_TRUE(peer.Recv(got));
        sender.Stop();
        sender.Join();
        Message answer;
        ASSERT_TRUE(answer.Decode(got.data(), static_cast<unsigned int>(got.size())));
        EXPECT_EQ(answer.Type(), 0xA2u);
        EXPECT_EQ(answer.ErrStat(), 1);
        EXPECT_EQ(answer.RequestId(), 11);
        if (c.version == SnmpVersionV1) {
            ASSERT_EQ(answer.VarBinds().size(), 1u);  // names kept, values NULL
            EXPECT_EQ(answer.VarBinds().front().Value().Type(), 0x05u);
        } else {
            EXPECT_TRUE(answer.VarBinds().empty());
        }
        EXPECT_EQ(local.Names(), (std::vector<std::string>{"except", "send"}));
        EXPECT_EQ(local.Events()[1].errStat, 1);
        EXPECT_TRUE(queue.TestDispatcher().Calls().empty());
        StackInterface::Instance()->DeregisterWatch(&local);
    }
}

TEST_F(SockProcessorTest, OnlyTheFirst64SocketsAreWatched) {
    RecordingQueue queue(TypeClient);
    Endpoints eps(queue.GetTransporter(), 66);
    const auto ports = eps.Ports();
    Peer peer;
    MsgReceiver receiver(&eps.table, 0, &queue);
    std::unique_ptr<Message> request(MakeRequest(0, 0xA0, 1));
    const auto bytes = Encoded(*request);
    ASSERT_TRUE(peer.SendTo(ports[65], bytes));  // 66th in table order
    ASSERT_TRUE(peer.SendTo(ports[63], bytes));  // 64th
    receiver.Start();
    ASSERT_TRUE(queue.WaitOffered(1));
    receiver.Stop();
    receiver.Join();
    ASSERT_EQ(queue.Received().size(), 1u);
    EXPECT_EQ(queue.Received()[0]->DstPort(), ports[63]);
    // The 66th socket was never read: its datagram still waits there.
    char buf[8];
    EXPECT_GT(::recv(eps.table.rbegin()->second, buf, sizeof(buf), MSG_DONTWAIT), 0);
}

TEST_F(SockProcessorTest, StatsFileNamedByTheEnvironmentIsCreatedEmpty) {
    char path[] = "/tmp/zk_stats_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "old", 3), 3);
    ::close(fd);
    RecordingQueue queue(TypeClient);
    EndpointTable table;
    ASSERT_EQ(setenv("POLLER_REPORT_SNMP_STATS", path, 1), 0);
    {
        MsgSender sender(&table, 0, &queue);
        FILE* f = std::fopen(path, "r");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(std::fgetc(f), EOF);
        std::fclose(f);
    }
    unsetenv("POLLER_REPORT_SNMP_STATS");
    ASSERT_EQ(std::remove(path), 0);
    {
        MsgSender sender(&table, 0, &queue);
        EXPECT_EQ(std::fopen(path, "r"), nullptr);
    }
}

TEST_F(SockProcessorTest, IdleReceiverStopsAndAStoppedTaskDoesNotRestart) {
    RecordingQueue queue(TypeClient);
    EndpointTable table;
    MsgReceiver receiver(&table, 0, &queue);
    MsgSender sender(&table, 0, &queue);
    receiver.Start();
    sender.Start();
    EXPECT_TRUE(receiver.Running());
    receiver.Stop();
    sender.Stop();
    receiver.Join();
    sender.Join();
    EXPECT_FALSE(receiver.Running());
    EXPECT_FALSE(sender.Running());
    // Starting again changes nothing and returns at once.
    receiver.Start();
    sender.Start();
    receiver.Join();
    sender.Join();
    EXPECT_FALSE(receiver.Running());
    EXPECT_EQ(receiver.DataQueue().Pending(), 0u);
}

}  // namespace
}  // namespace snmp
