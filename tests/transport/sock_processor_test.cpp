// The sender and receiver tasks over loopback sockets, driven through a recording stand-in for
// their dispatcher: round-robin per family, delivery and watch order, failures, filters, bounds.
#include "snmp/transport/sock_processor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/ipv6_loopback.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "transport/transport_fixtures.h"

namespace snmp {
namespace {

using testing_support::MakeRequest;
using testing_support::Recorder;
using zktest::EncodeToBytes;
using zktest::GetPdu;
using zktest::V3Message;
using Log = std::vector<std::string>;

class SockProcessorTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override {
        Reset();
        for (const auto& e : table) ::close(e.second);
    }
    static void Reset() {
        StackInterface::Destroy();
        SnmpStats::Destroy();
    }
    // A recorder of the given mode, registered as a watch, and `sockets`
    // loopback sockets in the table; returns all ports in table order.
    std::vector<unsigned short> Use(Type type, int sockets) {
        rec = std::make_unique<Recorder>(type);
        StackInterface::Instance()->RegisterWatch(rec.get());
        return Open(sockets);
    }
    std::vector<unsigned short> Open(int count) {
        for (int i = 0; i < count; ++i) {
            brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
            const int s = rec->GetTransporter()->Open(local, false);
            EXPECT_GE(s, 0);
            table[local] = s;
        }
        std::vector<unsigned short> ports;
        for (const auto& e : table) ports.push_back(e.first.Port());
        return ports;
    }
    // The request id of the next datagram `at` gets, and where it came from.
    static int NextAt(testing_support::Peer& at, unsigned short* from) {
        std::vector<unsigned char> got;
        Message m;
        if (!at.Recv(got, from)) return -1;
        return m.Decode(got.data(), static_cast<unsigned int>(got.size())) ? m.RequestId() : -2;
    }
    EndpointTable table;
    testing_support::Peer peer;
    std::unique_ptr<Recorder> rec;
};

TEST_F(SockProcessorTest, SenderGivesMessagesUpWithoutEndpointsThenUsesThemInTurn) {
    Use(TypeClient, 0);
    MsgSender sender(&table, 0, rec.get());
    rec->Push(MakeRequest(peer.Port(), 1));
    sender.Start();
    ASSERT_TRUE(rec->WaitOutgoingEmpty());
    sender.Lock();  // the dispatcher's way to change the table: waits until the sender sleeps
    const auto ports = Open(3);
    sender.Unlock();
    for (int id = 2; id <= 5; ++id) rec->Push(MakeRequest(peer.Port(), id));
    sender.Wake();
    const std::vector<unsigned short> expectedFrom = {ports[0], ports[1], ports[2], ports[0]};
    for (int id = 2; id <= 5; ++id) {
        unsigned short from = 0;
        EXPECT_EQ(NextAt(peer, &from), id);
        EXPECT_EQ(from, expectedFrom[id - 2]);
    }
    // A change of the table starts the turn again at the first endpoint.
    sender.Lock();
    sender.Unlock();
    rec->Push(MakeRequest(peer.Port(), 6));
    sender.Wake();
    unsigned short from = 0;
    EXPECT_TRUE(NextAt(peer, &from) == 6 && from == ports[0]);
    sender.Stop();
    sender.Join();
    sender.Start();  // a stopped task does not start again
    sender.Join();
    EXPECT_FALSE(sender.Running());
    EXPECT_EQ(rec->Log(), Log(5, "send"));
}

TEST_F(SockProcessorTest, SenderTurnsOnlyOverSocketsOfTheDestinationsFamily) {
    if (!ipv6_support::HasIpv6Loopback()) GTEST_SKIP() << ipv6_support::kNoIpv6Loopback;
    const auto ports4 = Use(TypeClient, 2);
    brask::IpEndpoint six(brask::IpAddr("::1"), 0);
    table[six] = rec->GetTransporter()->Open(six, false);  // after both IPv4 entries
    ASSERT_GE(table[six], 0);
    testing_support::Peer peer6("::1");
    const auto request = [&](bool v6, int id) {
        Message* m = MakeRequest(v6 ? peer6.Port() : peer.Port(), id);
        if (v6) m->SetDstAddr(brask::IpAddr("::1"));
        return m;
    };
    const bool families[] = {true, false, true, true, false, false};
    for (int id = 1; id <= 6; ++id) rec->Push(request(families[id - 1], id));
    MsgSender sender(&table, 0, rec.get());
    sender.Start();
    for (int id = 1; id <= 6; ++id) {
        SCOPED_TRACE(id);
        unsigned short from = 0;
        EXPECT_EQ(NextAt(families[id - 1] ? peer6 : peer, &from), id);
        if (families[id - 1]) {
            EXPECT_EQ(from, six.Port());
        } else {
            EXPECT_TRUE(from == ports4[0] || from == ports4[1]) << from;
        }
    }
    // With no IPv6 socket left, an IPv6 destination cannot be reached: the
    // message is given up unsent and the IPv4 one after it still goes out.
    sender.Lock();
    ::close(table[six]);
    table.erase(six);
    sender.Unlock();
    rec->Push(request(true, 7));
    rec->Push(request(false, 8));
    sender.Wake();
    unsigned short from = 0;
    EXPECT_EQ(NextAt(peer, &from), 8);
    sender.Stop();
    sender.Join();
    EXPECT_EQ(rec->Log(), Log(7, "send"));
}

TEST_F(SockProcessorTest, ReceiverDeliversDecodedMessagesThatOwnTheirBytes) {
    StackInterface::Instance()->Init();
    const unsigned short local = Use(TypeClient, 1)[0];
    MsgReceiver receiver(&table, 0, rec.get());
    receiver.Start();
    std::unique_ptr<Message> request(MakeRequest(local, 42));
    const auto bytes = EncodeToBytes(*request);
    ASSERT_TRUE(peer.SendTo(local, bytes));
    ASSERT_TRUE(rec->WaitOffered(1));
    rec->SetAccept(false);  // refused messages are the receiver's to delete
    ASSERT_TRUE(peer.SendTo(local, bytes));
    ASSERT_TRUE(rec->WaitOffered(2));
    receiver.Stop();
    receiver.Join();

    ASSERT_EQ(rec->delivered.Count(), 1u);
    const Message& m = rec->delivered.At(0);
    EXPECT_TRUE(m.SrcAddr() == brask::IpAddr("127.0.0.1") && m.SrcPort() == peer.Port());
    EXPECT_TRUE(m.DstPort() == local && m.RequestId() == 42 && m.Community() == "public");
    // The datagram's queue copy is freed by now; the message's view of it
    // must still be intact, and it must not share the receiver's encode record.
    EXPECT_EQ(std::vector<unsigned char>(m.RawData(), m.RawData() + m.RawSize()), bytes);
    EXPECT_EQ(m.EncBuffer(), nullptr);

    EXPECT_EQ(rec->Log(), (Log{"receive", "decode", "receive", "decode"}));
    // Addresses are set before OnReceive; the type is not decoded yet.
    EXPECT_EQ(rec->FirstReceive(),
              "pdu 5 from " + std::to_string(peer.Port()) + " to " + std::to_string(local));
    EXPECT_EQ(SnmpStats::Instance()->InPkts(), 2u);
    EXPECT_EQ(SnmpStats::Instance()->InGets(), 2u);
}

TEST_F(SockProcessorTest, ReceiveFailuresAreCountedByTypeAndEndTheRequestOrGetAReport) {
    StackInterface::Instance()->Init();
    const unsigned short local = Use(TypeServer, 1)[0];
    MsgReceiver receiver(&table, 0, rec.get());
    std::unique_ptr<Message> request(MakeRequest(local, 77));
    const auto good = EncodeToBytes(*request);
    auto badVersion = good, trailing = good, notSequence = good, badValue = good;
    ASSERT_EQ(badVersion[4], 0x01);  // 30 len 02 01 <version>
    badVersion[4] = 0x02;
    trailing.push_back(0x00);
    notSequence[0] = 0x31;
    ASSERT_EQ(badValue[badValue.size() - 2], 0x05);  // the NULL value's tag
    badValue[badValue.size() - 2] = 0x45;
    request->SetCommunity("");
    request->SetRequestId(78);
    const struct {
        const char* name;
        std::vector<unsigned char> bytes;
        const char* event;
        const char* call;
    } cases[] = {
        {"version 2", badVersion, "except 2", "cancel 0 1"},
        {"trailing byte", trailing, "except 5", "cancel 0 1"},
        {"not a sequence", notSequence, "except 1", "cancel 0 1"},
        {"unknown value type", badValue, "except 7", "cancel 77 1"},
        {"empty community", EncodeToBytes(*request), "except 9", "cancel 0 1"},
        // Discovery probes (no engine id), which every USM peer answers with a Report.
        {"reportable v3 USM failure", V3Message(7, 0x04, "", "", {}, GetPdu(7)), "except 200",
         "report 7 200"},
        {"unreportable v3 USM failure", V3Message(8, 0x00, "", "", {}, GetPdu(8)), "except 200",
         "cancel 8 1"},
    };
    receiver.Start();
    for (const auto& c : cases) ASSERT_TRUE(peer.SendTo(local, c.bytes));
    ASSERT_TRUE(rec->WaitLog(3 * std::size(cases)));
    receiver.Stop();
    receiver.Join();
    const Log log = rec->Log();
    ASSERT_EQ(log.size(), 3 * std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(Log(log.begin() + 3 * i, log.begin() + 3 * i + 3),
                  (Log{"receive", cases[i].event, cases[i].call}));
    }
    const SnmpStats* stats = SnmpStats::Instance();
    EXPECT_TRUE(stats->InPkts() == 7u && stats->InBadVers() == 1u && stats->InBadCommStrs() == 1u);
    EXPECT_TRUE(stats->InAsnParseErrs() == 3u && stats->UnknownEngineId() == 2u);
    EXPECT_EQ(rec->delivered.Count(), 0u);
}

TEST_F(SockProcessorTest, ReportDecision) {
    // Version 3 unless "v2c"; reportable unless "unreportable"; error type; pdu; Report.
    const std::tuple<const char*, int, unsigned int, bool> cases[] = {
        {"first usm type", 200, 0xA0, true},      {"above usm range", 300, 0xA0, true},
        {"below usm range", 199, 0xA0, false},    {"v2c", 203, 0xA0, false},
        {"no handler, get", 23, 0xA0, true},      {"no handler, response", 23, 0xA2, false},
        {"no handler, v1 trap", 23, 0xA4, false}, {"no handler, report", 23, 0xA8, true},
        {"unreportable", 23, 0xA0, false}};
    for (const auto& [name, type, pdu, report] : cases) {
        SCOPED_TRACE(name);
        Message m;
        m.SetVersion(std::string(name) == "v2c" ? SnmpVersionV2c : SnmpVersionV3);
        m.SetReportable(std::string(name) != "unreportable");
        m.SetType(pdu);
        EXPECT_EQ(MsgReceiver::ShouldReport(m, Exception(type)), report);
    }
}

TEST_F(SockProcessorTest, HostFilterDropsOtherSourcesAndChangesSafelyWhileDatagramsFlow) {
    const unsigned short local = Use(TypeClient, 1)[0];
    MsgReceiver receiver(&table, 0, rec.get());
    StackInterface* si = StackInterface::Instance();
    si->RegisterReceiver(&receiver);
    Filter elsewhere(brask::IpAddr("10.0.0.0"), brask::IpAddr("255.0.0.0"));
    Filter loopback(brask::IpAddr("127.0.0.1"));
    si->AddHost(elsewhere);
    receiver.Start();
    std::unique_ptr<Message> request(MakeRequest(local, 5));
    auto bytes = EncodeToBytes(*request);
    ASSERT_TRUE(peer.SendTo(local, bytes));  // filtered out silently
    bytes[0] = 0x31;
    ASSERT_TRUE(peer.SendTo(local, bytes));  // not a sequence: exempt, reaches the decoder
    ASSERT_TRUE(rec->WaitLog(2));
    si->AddHost(loopback);  // admitting the source lets the next one through
    bytes[0] = 0x30;
    ASSERT_TRUE(peer.SendTo(local, bytes));
    ASSERT_TRUE(rec->WaitOffered(1));
    EXPECT_EQ(rec->Log(), (Log{"receive", "except 1", "cancel 0 1", "receive", "decode"}));
    si->RemoveHost(elsewhere);
    si->RemoveHost(loopback);

    // A filter admitting the source comes and goes on a host thread for as
    // long as the queue thread checks datagrams against the filters.
    std::atomic<bool> done{false};
    std::thread host([&] {
        while (!done.load()) {
            si->AddHost(loopback);
            si->RemoveHost(loopback);
            std::this_thread::yield();
        }
    });
    int sent = 0;
    for (int i = 0; i < 100; ++i) sent += peer.SendTo(local, bytes) ? 1 : 0;
    const bool allDelivered = rec->WaitOffered(1 + static_cast<size_t>(sent));
    done = true;
    host.join();
    receiver.Stop();
    receiver.Join();
    EXPECT_EQ(sent, 100);
    EXPECT_TRUE(allDelivered);
}

TEST_F(SockProcessorTest, ReceiveBurstQueuesWholeDatagramsUpToTheBoundAndCountsTheRest) {
    const unsigned short port = Use(TypeClient, 1)[0];
    const int socket = table.begin()->second;
    MsgReceiver receiver(&table, 100, rec.get());
    StackInterface* si = StackInterface::Instance();
    si->RegisterReceiver(&receiver);
    si->SetReceiveQueueLimit(2, 0);
    // One byte too long for the buffer: dropped whole, never queued cut short.
    ASSERT_TRUE(peer.SendTo(port, std::vector<unsigned char>(101, 0x30)));
    ASSERT_TRUE(testing_support::Readable(socket));
    EXPECT_TRUE(receiver.ReceiveBurst(socket, port) == 0u && receiver.DataQueue().Pending() == 0u);
    // Datagrams that fit exactly, one too long among them, read in one
    // burst; the queue's thread is not running, so nothing drains the queue.
    for (size_t size : {100, 100, 101, 100, 100, 100}) {
        ASSERT_TRUE(peer.SendTo(port, std::vector<unsigned char>(size, 0x30)));
    }
    size_t kept = 0;
    while (kept + receiver.DroppedDatagrams() < 5 && testing_support::Readable(socket)) {
        kept += receiver.ReceiveBurst(socket, port);
    }
    EXPECT_EQ(kept, 2u);
    // Nothing to read: the read does not block and nothing is queued.
    EXPECT_EQ(receiver.ReceiveBurst(socket, port), 0u);
    EXPECT_EQ(receiver.DataQueue().Pending(), 2u);
    EXPECT_TRUE(receiver.DroppedDatagrams() == 3u && si->ReceiveQueueDrops() == 3u);
    EXPECT_EQ(SnmpStats::Instance()->ReceiveQueueDrops(), 3u);

    // Receivers registered later get the bound; sizes of 0 and above the
    // maximum mean the maximum.
    MsgReceiver later(&table, 0, rec.get());
    MsgReceiver huge(&table, Message::MaxMessageSize() + 1, rec.get());
    si->RegisterReceiver(&later);
    EXPECT_EQ(later.DataQueue().MaxItems(), 2u);
    EXPECT_TRUE(later.BufferSize() == Message::MaxMessageSize() &&
                huge.BufferSize() == Message::MaxMessageSize());
    // A dispatcher's end forgets every receiver; the statistics keep the count.
    si->Shutdown();
    EXPECT_EQ(si->ReceiveQueueDrops(), 0u);
    EXPECT_EQ(SnmpStats::Instance()->ReceiveQueueDrops(), 3u);
}

TEST_F(SockProcessorTest, ReceiverWatchesTheFirst64SocketsOfTheTableItWasLastWokenFor) {
    const auto ports = Use(TypeClient, 66);
    MsgReceiver receiver(&table, 0, rec.get());
    receiver.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the first 64 watched
    // Take the first socket out of the table while the receiver waits on it,
    // as RemoveEndpoint does, but keep it open so its datagram stays visible:
    // the 65th becomes the 64th and is watched from now on, the 66th never.
    const auto removed = table.begin();
    const int removedSocket = removed->second;
    receiver.Lock();
    table.erase(removed);
    receiver.Unlock();
    std::unique_ptr<Message> request(MakeRequest(0, 1));
    const auto bytes = EncodeToBytes(*request);
    for (size_t i : {0, 65, 64}) ASSERT_TRUE(peer.SendTo(ports[i], bytes));
    ASSERT_TRUE(rec->WaitOffered(1));
    receiver.Stop();
    receiver.Join();
    ASSERT_EQ(rec->delivered.Count(), 1u);
    EXPECT_EQ(rec->delivered.At(0).DstPort(), ports[64]);
    // Neither the removed socket nor the 66th was read: their datagrams still wait there.
    char buf[8];
    for (int s : {removedSocket, table.rbegin()->second}) {
        EXPECT_GT(::recv(s, buf, sizeof(buf), MSG_DONTWAIT), 0);
    }
    ::close(removedSocket);
}

}  // namespace
}  // namespace snmp
