// The UDP transport: binding, port write-back, address reuse, IPv6 beside IPv4, batched
// sends and burst reads, and the socket-buffer sizing with its log lines.
#include "snmp/transport/udp_transporter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ipv6_loopback.h"
#include "transport/transport_fixtures.h"

namespace snmp {
namespace {

using testing_support::DebugLevel;

TEST(UdpTransporter, OpenLogsBothBuffersWritesBackThePortAndReusesOnlyWhenAsked) {
    DebugLevel level(1);
    UDPTransporter t;
    brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
    ::testing::internal::CaptureStdout();
    const int s = t.Open(local, false);
    const std::string log = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(s >= 0 && local.Port() != 0);
    // Receive buffer first; the sizes are the system's.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
    EXPECT_EQ(log.rfind("SNMP receive buffer was ", 0), 0u) << log;
    EXPECT_NE(log.find("bytes\nSNMP send buffer is now "), std::string::npos) << log;

    // The written-back port is the bound one: it is taken unless both sockets
    // ask for address reuse.
    brask::IpEndpoint same(brask::IpAddr("127.0.0.1"), local.Port());
    EXPECT_EQ(t.Open(same, false), -1);
    ::close(s);
    const int a = t.Open(same, true);
    const int b = t.Open(same, true);
    EXPECT_TRUE(a >= 0 && b >= 0 && same.Port() == local.Port());
    ::close(a);
    ::close(b);
}

TEST(UdpTransporter, IPv6EndpointsTakeOnlyIPv6SoAnIPv4EndpointCanShareTheirPort) {
    if (!ipv6_support::HasIpv6Loopback()) GTEST_SKIP() << ipv6_support::kNoIpv6Loopback;
    UDPTransporter t;
    // Bound to the wildcards, the two families would clash on one port if
    // the IPv6 socket also took IPv4.
    brask::IpEndpoint any6(brask::IpAddr("::"), 0);
    const int s6 = t.Open(any6, false);
    ASSERT_GE(s6, 0);
    ASSERT_NE(any6.Port(), 0);
    brask::IpEndpoint any4(brask::IpAddr("0.0.0.0"), any6.Port());
    const int s4 = t.Open(any4, false);
    EXPECT_GE(s4, 0);
    ::close(s4);
    ::close(s6);
}

TEST(UdpTransporter, BatchedSendSkipsARefusedDatagramAndOneReadTakesTheRestInOrder) {
    UDPTransporter t;
    brask::IpEndpoint from(brask::IpAddr("127.0.0.1"), 0), to(brask::IpAddr("127.0.0.1"), 0);
    const int out = t.Open(from, false), in = t.Open(to, false);
    ASSERT_TRUE(out >= 0 && in >= 0);
    const std::string texts[] = {"one", "refused", "two", "three"};
    std::vector<Outgoing> batch(4);
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i].data = texts[i].data();
        batch[i].length = static_cast<int>(texts[i].size());
        // Port 0 is no destination: the system refuses that datagram alone.
        const brask::IpEndpoint dst(to.Addr(), i == 1 ? 0 : to.Port());
        batch[i].toLength = brask::ToSockAddr(dst, batch[i].to);
    }
    EXPECT_EQ(t.Send(out, batch.data(), 4), 3);
    char bytes[3][8];
    Datagram slots[3];
    for (int i = 0; i < 3; ++i) slots[i] = Datagram{bytes[i], i == 2 ? 4 : 8};
    ASSERT_TRUE(testing_support::Readable(in));
    ASSERT_EQ(t.Receive(in, slots, 3), 3);
    EXPECT_EQ(std::string(slots[0].data, static_cast<size_t>(slots[0].length)), "one");
    EXPECT_EQ(std::string(slots[1].data, static_cast<size_t>(slots[1].length)), "two");
    // Longer than its slot: discarded, never handed on cut short.
    EXPECT_EQ(slots[2].length, -1);
    EXPECT_EQ(brask::FromSockAddr(slots[0].from), from);
    EXPECT_EQ(t.Receive(in, slots, 3), -1);
    ::close(out);
    ::close(in);
}

// Socket options kept in a table, refusing sizes above `limit`.
struct FakeOptions {
    static int value, limit;
    static bool readable;
    static std::vector<int> tried;
    static int Get(int, int, int, void* v, socklen_t*) {
        if (readable) std::memcpy(v, &value, sizeof(int));
        return readable ? 0 : -1;
    }
    static int Set(int, int, int, const void* v, socklen_t) {
        int size = 0;
        std::memcpy(&size, v, sizeof(int));
        tried.push_back(size);
        if (size > limit) return -1;
        value = size;
        return 0;
    }
};
int FakeOptions::value = 0, FakeOptions::limit = 0;
bool FakeOptions::readable = true;
std::vector<int> FakeOptions::tried;

TEST(UdpTransporter, BufferIsRaisedBelow512000ByHalvingAndLoggedAtLevelOne) {
    const auto was = [](int n) {
        return "SNMP receive buffer was " + std::to_string(n) + " bytes\n";
    };
    const auto now = [](int n) {
        return "SNMP receive buffer is now " + std::to_string(n) + " bytes\n";
    };
    const std::string unreadable = "cannot determine current SNMP receive buffer size\n";
    const std::string refused = "cannot adjust SNMP receive buffer size\n";
    const std::vector<int> halving = {512000, 256000, 128000, 64000, 32000, 16000, 8000};
    const struct {
        const char* name;
        int level, start, limit;
        bool readable;
        std::string log;
        std::vector<int> tried;
    } cases[] = {
        {"raised", 1, 1000, 128000, true, was(1000) + now(128000), {512000, 256000, 128000}},
        {"already large", 1, 600000, 1 << 30, true, was(600000) + now(600000), {}},
        {"exactly 512000", 1, 512000, 1 << 30, true, was(512000) + now(512000), {}},
        {"refused everywhere", 1, 1000, 0, true, was(1000) + refused + now(1000), halving},
        {"unreadable", 2, 0, 0, false, unreadable + refused + unreadable, halving},
        {"silent at level 0", 0, 1000, 1 << 30, true, "", {512000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugLevel level(c.level);
        FakeOptions::value = c.start;
        FakeOptions::limit = c.limit;
        FakeOptions::readable = c.readable;
        FakeOptions::tried.clear();
        ::testing::internal::CaptureStdout();
        UDPTransporter::AdjustBuffer(3, SO_RCVBUF, "SNMP receive", &FakeOptions::Get,
                                     &FakeOptions::Set);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.log);
        EXPECT_EQ(FakeOptions::tried, c.tried);
    }
}

}  // namespace
}  // namespace snmp
