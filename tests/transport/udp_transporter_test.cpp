// The UDP transport: binding and port write-back, address reuse only when
// asked, sending to a message's destination, dropping oversized datagrams,
// and the socket-buffer sizing with its log lines.
#include "snmp/transport/udp_transporter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "transport/transport_fixtures.h"
#include "velport/debug_level.h"

namespace snmp {
namespace {

using testing_support::MakeRequest;
using testing_support::Peer;

// Restores the process debug level when a test ends.
class DebugLevel {
public:
    explicit DebugLevel(int level) : saved_(__Velmar_Debug_Level) { __Velmar_Debug_Level = level; }
    ~DebugLevel() { __Velmar_Debug_Level = saved_; }

private:
    int saved_;
};

int ReuseFlag(int fd) {
    int v = -1;
    socklen_t len = sizeof(v);
    getsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &v, &len);
    return v;
}

TEST(UdpTransporter, OpenBindsWritesBackThePortAndSetsReuseOnlyWhenAsked) {
    UDPTransporter t;
    brask::IpEndpoint any(brask::IpAddr("127.0.0.1"), 0);
    const int s = t.Open(any, false);
    ASSERT_GE(s, 0);
    EXPECT_NE(any.Port(), 0);
    sockaddr_in bound{};
    socklen_t len = sizeof(bound);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len), 0);
    EXPECT_EQ(ntohs(bound.sin_port), any.Port());
    EXPECT_EQ(bound.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ReuseFlag(s), 0);

    // The same port again without reuse cannot be bound, and nothing leaks.
    brask::IpEndpoint same(brask::IpAddr("127.0.0.1"), any.Port());
    EXPECT_EQ(t.Open(same, false), -1);
    ::close(s);

    brask::IpEndpoint shared(brask::IpAddr("127.0.0.1"), 0);
    const int a = t.Open(shared, true);
    ASSERT_GE(a, 0);
    EXPECT_EQ(ReuseFlag(a), 1);
    const unsigned short port = shared.Port();
    const int b = t.Open(shared, true);
    ASSERT_GE(b, 0);
    EXPECT_EQ(shared.Port(), port);  // a fixed port is left as it is
    ::close(a);
    ::close(b);
}

TEST(UdpTransporter, SendGoesToTheMessageDestinationAndReceiveReportsTheSender) {
    UDPTransporter t;
    Peer peer;
    brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
    const int s = t.Open(local, false);
    ASSERT_GE(s, 0);

    std::unique_ptr<Message> m(MakeRequest(peer.Port(), 0xA0, 1));
    const char payload[] = "\x30\x03\x02\x01\x00";
    EXPECT_EQ(t.Send(s, *m, payload, 5), 5);
    std::vector<unsigned char> got;
    unsigned short from = 0;
    ASSERT_TRUE(peer.Recv(got, &from));
    EXPECT_EQ(got, std::vector<unsigned char>(payload, payload + 5));
    EXPECT_EQ(from, local.Port());

    ASSERT_TRUE(peer.SendTo(local.Port(), {1, 2, 3}));
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    char buf[16];
    sockaddr_in sender{};
    EXPECT_EQ(t.Receive(s, local.Port(), buf, sizeof(buf), &sender), 3);
    EXPECT_EQ(std::memcmp(buf, "\x01\x02\x03", 3), 0);
    EXPECT_EQ(ntohs(sender.sin_port), peer.Port());
    EXPECT_EQ(sender.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    // Nothing waiting: the read does not block.
    EXPECT_EQ(t.Receive(s, local.Port(), buf, sizeof(buf), &sender), -1);
    ::close(s);
}

TEST(UdpTransporter, DatagramLargerThanTheBufferIsDroppedNotTruncated) {
    UDPTransporter t;
    Peer peer;
    brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
    const int s = t.Open(local, false);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(peer.SendTo(local.Port(), std::vector<unsigned char>(200, 0x30)));
    ASSERT_TRUE(peer.SendTo(local.Port(), std::vector<unsigned char>(100, 0x31)));
    pollfd p{s, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    std::vector<char> buf(100);
    sockaddr_in sender{};
    EXPECT_EQ(t.Receive(s, 0, buf.data(), 100, &sender), -1);
    // The oversized datagram is consumed; one that fits exactly comes next.
    ASSERT_EQ(poll(&p, 1, 10000), 1);
    EXPECT_EQ(t.Receive(s, 0, buf.data(), 100, &sender), 100);
    EXPECT_EQ(buf[0], 0x31);
    ::close(s);
}

// Socket options kept in a table, refusing sizes above `limit`.
struct FakeOptions {
    static int value;
    static int limit;
    static bool readable;
    static std::vector<int> tried;
    static int Get(int, int, int, void* v, socklen_t*) {
        if (!readable) return -1;
        std::memcpy(v, &value, sizeof(int));
        return 0;
    }
    static int Set(int, int, int, const void* v, socklen_t) {
        int size = 0;
        std::memcpy(&size, v, sizeof(int));
        tried.push_back(size);
        if (size > limit) return -1;
        value = size;
        return 0;
    }
    static void Reset(int v, int lim, bool r) {
        value = v;
        limit = lim;
        readable = r;
        tried.clear();
    }
};
int FakeOptions::value = 0;
int FakeOptions::limit = 0;
bool FakeOptions::readable = true;
std::vector<int> FakeOptions::tried;

TEST(UdpTransporter, BufferSizeHalvesFrom512000DownTo8000) {
    FakeOptions::Reset(0, 0, true);
    EXPECT_FALSE(UDPTransporter::SetBufferSize(3, SO_RCVBUF, 512000, &FakeOptions::Set));
    EXPECT_EQ(FakeOptions::tried,
              (std::vector<int>{512000, 256000, 128000, 64000, 32000, 16000, 8000}));

    FakeOptions::Reset(0, 64000, true);
    EXPECT_TRUE(UDPTransporter::SetBufferSize(3, SO_RCVBUF, 512000, &FakeOptions::Set));
    EXPECT_EQ(FakeOptions::tried, (std::vector<int>{512000, 256000, 128000, 64000}));
    EXPECT_EQ(FakeOptions::value, 64000);
}

TEST(UdpTransporter, BufferAdjustmentLogsAtDebugLevelOne) {
    struct Case {
        const char* name;
        int level;
        int start;
        int limit;
        bool readable;
        const char* log;
        size_t sets;
    };
    const Case cases[] = {
        {"raised", 1, 1000, 128000, true,
         "SNMP receive buffer was 1000 bytes\nSNMP receive buffer is now 128000 bytes\n", 3},
        {"already large", 1, 600000, 1 << 30, true,
         "SNMP receive buffer was 600000 bytes\nSNMP receive buffer is now 600000 bytes\n", 0},
        {"exactly 512000", 1, 512000, 1 << 30, true,
         "SNMP receive buffer was 512000 bytes\nSNMP receive buffer is now 512000 bytes\n", 0},
        {"refused everywhere", 1, 1000, 0, true,
         "SNMP receive buffer was 1000 bytes\ncannot adjust SNMP receive buffer size\n"
         "SNMP receive buffer is now 1000 bytes\n",
         7},
        {"unreadable", 2, 0, 0, false,
         "cannot determine current SNMP receive buffer size\n"
         "cannot adjust SNMP receive buffer size\n"
         "cannot determine current SNMP receive buffer size\n",
         7},
        {"silent at level 0", 0, 1000, 1 << 30, true, "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugLevel level(c.level);
        FakeOptions::Reset(c.start, c.limit, c.readable);
        ::testing::internal::CaptureStdout();
        UDPTransporter::AdjustBuffer(3, SO_RCVBUF, "SNMP receive", &FakeOptions::Get,
                                     &FakeOptions::Set);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.log);
        EXPECT_EQ(FakeOptions::tried.size(), c.sets);
    }
}

TEST(UdpTransporter, OpenLogsBothBuffersOnARealSocket) {
    DebugLevel level(1);
    UDPTransporter t;
    brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
    ::testing::internal::CaptureStdout();
    const int s = t.Open(local, false);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_GE(s, 0);
    ::close(s);
    // Four lines, receive buffer first; the values are the system's.
    const char* prefixes[] = {"SNMP receive buffer was ", "SNMP receive buffer is now ",
                              "SNMP send buffer was ", "SNMP send buffer is now "};
    size_t pos = 0;
    for (const char* prefix : prefixes) {
        SCOPED_TRACE(prefix);
        ASSERT_EQ(out.compare(pos, std::strlen(prefix), prefix), 0) << out;
        const size_t end = out.find(" bytes\n", pos);
        ASSERT_NE(end, std::string::npos);
        EXPECT_GT(std::stol(out.substr(pos + std::strlen(prefix))), 0);
        pos = end + 7;
    }
    EXPECT_EQ(pos, out.size());
}

}  // namespace
}  // namespace snmp
