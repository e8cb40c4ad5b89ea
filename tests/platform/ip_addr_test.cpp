// Address parsing, printing, byte order, masking and the orders that the
// endpoint table and target comparison rely on.
#include "brask/ip_addr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using brask::IpAddr;
using brask::IpEndpoint;

TEST(IpAddr, ParsesOnlyStrictDottedQuads) {
    const std::vector<std::pair<const char*, std::uint32_t>> valid = {
        {"1.2.3.4", 0x01020304},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFF},
        {"10.200.0.99", 0x0AC80063}};
    for (const auto& c : valid) {
        SCOPED_TRACE(c.first);
        const IpAddr a(c.first);
        EXPECT_TRUE(a.IsValid());
        EXPECT_EQ(a.Addr4(), c.second);
        EXPECT_EQ(a.GetAddr(), htonl(c.second));
        EXPECT_EQ(a.ToString(), c.first);
        EXPECT_EQ(IpAddr(std::string(c.first)), a);
    }
    for (const char* text :
         {"256.1.1.1", "1.2.3.256", "1.2.3", "1.2.3.4.5", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4\n",
          "1..3.4", "1.2.3.", "+1.2.3.4", "-1.2.3.4", "01.2.3.4" /* octal to inet_aton */,
          "0x7f.0.0.1", "2130706433" /* one-number form */, "localhost", "", "::1"}) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        const IpAddr a(text);
        EXPECT_FALSE(a.IsValid());
        EXPECT_EQ(a, IpAddr());
        EXPECT_EQ(a.GetAddr(), 0u);
    }
    EXPECT_FALSE(IpAddr(static_cast<const char*>(nullptr)).IsValid());
}

TEST(IpAddr, NumberAndSocketFormsAgreeAndInvalidDiffersFromAny) {
    in_addr raw{};
    ASSERT_EQ(inet_pton(AF_INET, "192.168.1.1", &raw), 1);
    const IpAddr fromNumber(0xC0A80101u);
    EXPECT_EQ(IpAddr(raw), fromNumber);
    EXPECT_EQ(fromNumber.GetAddr(), raw.s_addr);  // goes back into a sockaddr_in unchanged
    IpAddr assigned;
    assigned = raw;
    EXPECT_EQ(assigned, fromNumber);
    assigned = 0x7F000001u;
    EXPECT_EQ(assigned.ToString(), "127.0.0.1");

    const IpAddr invalid, any("0.0.0.0");
    EXPECT_TRUE(any.IsValid());
    EXPECT_NE(invalid, any);
    EXPECT_EQ(invalid.ToString(), "0.0.0.0");
}

TEST(IpAddr, OrdersNumericallyAndMasksOnlyValidOperands) {
    // Sorted by value, the invalid address first; text order would put "10." before "9.".
    const std::vector<IpAddr> sorted = {
        IpAddr(),           IpAddr("0.0.0.0"),  IpAddr("9.255.255.255"),
        IpAddr("10.0.0.0"), IpAddr("10.0.0.1"), IpAddr("255.255.255.255")};
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
}

TEST(IpEndpoint, OrdersByAddressThenPortAsAMapKey) {
    const IpEndpoint a(IpAddr("10.0.0.1"), 1162);
    const IpEndpoint b(IpAddr("10.0.0.1"), 1161);
    const IpEndpoint c(IpAddr("10.0.0.2"), 161);  // address decides before port
    std::map<IpEndpoint, int> table{{c, 3}, {a, 1}, {b, 2}};
    table[IpEndpoint(IpAddr("10.0.0.1"), 1162)] = 10;  // same key as a
    std::vector<int> order;
    for (const auto& e : table) order.push_back(e.second);
    EXPECT_EQ(order, (std::vector<int>{2, 10, 3}));
    EXPECT_FALSE(a < a);
    EXPECT_NE(a, IpEndpoint(IpAddr("10.0.0.2"), 1162));
    const IpEndpoint defaulted;
    EXPECT_FALSE(defaulted.Addr().IsValid());
    EXPECT_EQ(defaulted.Port(), 0);
}

}  // namespace
