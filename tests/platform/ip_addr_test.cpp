// Address parsing, printing, byte order, masking and the orders that the
// endpoint table and target comparison rely on, for IPv4 and IPv6.
#include "brask/ip_addr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using brask::IpAddr;
using brask::IpEndpoint;

TEST(IpAddr, ParsesOnlyStrictDottedQuads) {
    const std::vector<std::pair<const char*, std::uint32_t>> valid = {
        {"1.2.3.4", 0x01020304}, {"0.0.0.0", 0}, {"255.255.255.255", 0xFFFFFFFF}};
    for (const auto& c : valid) {
        SCOPED_TRACE(c.first);
        const IpAddr a(c.first);
        EXPECT_TRUE(a.IsValid());
        EXPECT_EQ(a.Addr4(), c.second);
        EXPECT_EQ(a.ToString(), c.first);
        // The number and socket forms agree; GetAddr goes back into a sockaddr_in unchanged.
        in_addr raw{};
        ASSERT_EQ(inet_pton(AF_INET, c.first, &raw), 1);
        EXPECT_TRUE(IpAddr(raw) == a && IpAddr(c.second) == a && a.GetAddr() == raw.s_addr);
    }
    // clang-format off
    for (const char* text : {"256.1.1.1", "1.2.3.256", "1.2.3", "1.2.3.4.5", " 1.2.3.4", "1.2.3.4 ",
                             "1.2.3.4\n", "1..3.4", "1.2.3.", "+1.2.3.4", "-1.2.3.4",
                             "01.2.3.4" /* octal to inet_aton */, "0x7f.0.0.1",
                             "2130706433" /* one-number form */, "localhost", "", "[::1]", ":::1",
                             "1::2::3", "fe80::1%lo", "::1 ", "1:2:3:4:5:6:7:8:9", "12345::",
                             "::g"}) {
        // clang-format on
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_EQ(IpAddr(text), IpAddr());  // invalid, and holding no address
    }
    EXPECT_FALSE(IpAddr(static_cast<const char*>(nullptr)).IsValid());
    EXPECT_EQ(IpAddr().ToString(), "0.0.0.0");  // but unequal to it: see the order below
}

TEST(IpAddr, ParsesIPv6AndPrintsTheShortestForm) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"::1", "::1"},
        {"::", "::"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"FE80::0001", "fe80::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"::ffff:10.0.0.1", "::ffff:10.0.0.1"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const IpAddr a(c.first);
        ASSERT_TRUE(a.IsValid());
        EXPECT_EQ(a.Version(), IpAddr::kIPv6);
        EXPECT_EQ(a.ToString(), c.second);
        in6_addr raw{};
        ASSERT_EQ(inet_pton(AF_INET6, c.first, &raw), 1);
        const in6_addr back = a.Addr6();
        EXPECT_EQ(std::memcmp(&back, &raw, sizeof raw), 0);
        EXPECT_EQ(IpAddr(raw), a);
        // An IPv6 address has no IPv4 form, not even a mapped one.
        EXPECT_TRUE(a.GetAddr() == 0u && a.Addr4() == 0u);
    }
    EXPECT_EQ(IpAddr("10.0.0.1").Version(), IpAddr::kIPv4);
    EXPECT_EQ(IpAddr().Version(), IpAddr::kIPv4);
    EXPECT_NE(IpAddr("::ffff:10.0.0.1"), IpAddr("10.0.0.1"));
    EXPECT_TRUE(IpAddr("::").IsAny() && IpAddr("0.0.0.0").IsAny());
    EXPECT_FALSE(IpAddr("::1").IsAny() || IpAddr().IsAny());
}

TEST(IpAddr, OrdersNumericallyAndMasksOnlyValidOperands) {
    // Sorted by value, the invalid address first; text order would put "10." before "9.".
    // Every IPv4 address comes before every IPv6 one, whatever the values.
    const std::vector<IpAddr> sorted = {
        IpAddr(),           IpAddr("0.0.0.0"),  IpAddr("9.255.255.255"),
        IpAddr("10.0.0.0"), IpAddr("10.0.0.1"), IpAddr("255.255.255.255"),
        IpAddr("::"),       IpAddr("::1"),      IpAddr("::ffff:0.0.0.1"),
        IpAddr("9::"),      IpAddr("10::"),     IpAddr("fe80::1")};
    for (size_t i = 0; i < sorted.size(); ++i) {
        for (size_t j = 0; j < sorted.size(); ++j) {
            SCOPED_TRACE(std::to_string(i) + " vs " + std::to_string(j));
            EXPECT_EQ(sorted[i] < sorted[j], i < j);
            EXPECT_EQ(sorted[i] == sorted[j], i == j);
        }
    }
    const IpAddr mask("255.255.240.0");
    EXPECT_EQ((IpAddr("10.1.31.7") & mask).ToString(), "10.1.16.0");
    EXPECT_FALSE((IpAddr() & mask).IsValid());
    EXPECT_FALSE((mask & IpAddr()).IsValid());
    EXPECT_EQ((IpAddr("2001:db8:abcd:1234::7") & IpAddr("ffff:ffff:ff00::")).ToString(),
              "2001:db8:ab00::");
    // Families never mix: an IPv4 mask does not cut an IPv6 address.
    EXPECT_FALSE((IpAddr("::1") & mask).IsValid());
    EXPECT_FALSE((mask & IpAddr("::1")).IsValid());
}

TEST(IpAddr, PrefixMaskSetsTheLeadingBitsOfItsFamily) {
    const auto v4 = IpAddr::kIPv4, v6 = IpAddr::kIPv6;
    const std::vector<std::tuple<int, unsigned int, const char*>> cases = {
        {v4, 0, "0.0.0.0"},
        {v4, 20, "255.255.240.0"},
        {v4, 40, "255.255.255.255"},
        {v6, 0, "::"},
        {v6, 12, "fff0::"},
        {v6, 127, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe"},
        {v6, 200, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}};
    for (const auto& [version, length, text] : cases) {
        SCOPED_TRACE(std::to_string(version) + "/" + std::to_string(length));
        const IpAddr mask = IpAddr::PrefixMask(version, length);
        EXPECT_EQ(mask.Version(), version);
        EXPECT_EQ(mask.ToString(), text);
    }
}

TEST(IpEndpoint, OrdersByAddressThenPortAsAMapKey) {
    const IpEndpoint a(IpAddr("10.0.0.1"), 1162);
    const IpEndpoint b(IpAddr("10.0.0.1"), 1161);
    const IpEndpoint c(IpAddr("10.0.0.2"), 161);  // address decides before port
    const IpEndpoint d(IpAddr("::1"), 1);         // IPv6 after IPv4, whatever the port
    std::map<IpEndpoint, int> table{{d, 4}, {c, 3}, {a, 1}, {b, 2}};
    table[IpEndpoint(IpAddr("10.0.0.1"), 1162)] = 10;  // same key as a
    std::vector<int> order;
    for (const auto& e : table) order.push_back(e.second);
    EXPECT_EQ(order, (std::vector<int>{2, 10, 3, 4}));
    EXPECT_FALSE(a < a);
    EXPECT_NE(a, IpEndpoint(IpAddr("10.0.0.2"), 1162));
    EXPECT_TRUE(!IpEndpoint().Addr().IsValid() && IpEndpoint().Port() == 0);
    EXPECT_EQ(a.ToString(), "10.0.0.1:1162");
    EXPECT_EQ(IpEndpoint(IpAddr("::1"), 161).ToString(), "[::1]:161");
}

TEST(IpEndpoint, SocketAddressesCarryEitherFamilyBothWays) {
    const std::vector<std::tuple<const char*, unsigned short, int, socklen_t>> cases = {
        {"127.0.0.1", 161, AF_INET, sizeof(sockaddr_in)},
        {"fe80::1:2", 65535, AF_INET6, sizeof(sockaddr_in6)}};
    for (const auto& [text, port, family, length] : cases) {
        SCOPED_TRACE(text);
        const IpEndpoint e(IpAddr(text), port);
        brask::SockAddr sa;
        EXPECT_EQ(brask::ToSockAddr(e, sa), length);
        EXPECT_EQ(sa.any.sa_family, family);
        // The port goes on the wire in network byte order.
        EXPECT_EQ(family == AF_INET ? sa.v4.sin_port : sa.v6.sin6_port, htons(port));
        EXPECT_EQ(brask::FromSockAddr(sa), e);
    }
    // The invalid address binds as the IPv4 wildcard.
    brask::SockAddr sa;
    EXPECT_EQ(brask::ToSockAddr(IpEndpoint(), sa), sizeof(sockaddr_in));
    EXPECT_EQ(sa.v4.sin_addr.s_addr, 0u);
    sa.any.sa_family = AF_UNIX;
    EXPECT_EQ(brask::FromSockAddr(sa), IpEndpoint());
}

}  // namespace
