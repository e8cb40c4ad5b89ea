// Address parsing, printing, byte order, masking and the orders that the
// endpoint table and target comparison rely on.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "brask/ip_addr.h"

namespace {

using brask::IpAddr;
using brask::IpEndpoint;

TEST(IpAddr, ParsesOnlyStrictDottedQuads) {
    struct Case {
        const char* text;
        bool valid;
        std::uint32_t hostOrder;
    };
    const std::vector<Case> cases = {
        {"1.2.3.4", true, 0x01020304},
        {"0.0.0.0", true, 0},
        {"255.255.255.255", true, 0xFFFFFFFF},
        {"127.0.0.1", true, 0x7F000001},
        {"10.200.0.99", true, 0x0AC80063},
        {"256.1.1.1", false, 0},
        {"1.2.3.256", false, 0},
        {"1.2.3", false, 0},
        {"1.2.3.4.5", false, 0},
        {" 1.2.3.4", false, 0},
        {"1.2.3.4 ", false, 0},
        {"1.2.3.4\n", false, 0},
        {"1..3.4", false, 0},
        {"1.2.3.", false, 0},
        {"+1.2.3.4", false, 0},
        {"-1.2.3.4", false, 0},
        {"01.2.3.4", false, 0},  // would be octal to inet_aton
        {"0x7f.0.0.1", false, 0},
        {"2130706433", false, 0},  // one-number form
        {"a.b.c.d", false, 0},
        {"localhost", false, 0},
        {"", false, 0},
        {"::1", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        const IpAddr fromChars(c.text);
        const IpAddr fromString{std::string(c.text)};
        EXPECT_EQ(fromChars.IsValid(), c.valid);
        EXPECT_EQ(fromChars.Addr4(), c.hostOrder);
        EXPECT_EQ(fromChars.GetAddr(), htonl(c.hostOrder));
        EXPECT_EQ(fromString, fromChars);
        if (c.valid) {
            EXPECT_EQ(fromChars.ToString(), c.text);
        }
    }
    EXPECT_FALSE(IpAddr(static_cast<const char*>(nullptr)).IsValid());
}

TEST(IpAddr, NumberAndSocketAddressFormsAgree) {
    IpAddr fromNumber(0xC0A80101);
    EXPECT_TRUE(fromNumber.IsValid());
    EXPECT_EQ(fromNumber.ToString(), "192.168.1.1");
    EXPECT_EQ(fromNumber.Version(), 0);

    in_addr raw{};
    ASSERT_EQ(inet_pton(AF_INET, "192.168.1.1", &raw), 1);
    const IpAddr fromInAddr(raw);
    EXPECT_EQ(fromInAddr, fromNumber);
    // GetAddr is what goes back into a sockaddr_in unchanged.
    EXPECT_EQ(fromInAddr.GetAddr(), raw.s_addr);

    IpAddr assigned;
    EXPECT_FALSE(assigned.IsValid());
    assigned = 0x7F000001u;
    EXPECT_TRUE(assigned.IsValid());
    EXPECT_EQ(assigned.ToString(), "127.0.0.1");
    assigned = raw;
    EXPECT_EQ(assigned, fromNumber);

    const IpAddr copy = assigned;
    EXPECT_EQ(copy, assigned);
}

TEST(IpAddr, InvalidAddressIsDistinctFromAnyAddress) {
    const IpAddr invalid;
    const IpAddr any("0.0.0.0");
    EXPECT_FALSE(invalid.IsValid());
    EXPECT_TRUE(any.IsValid());
    EXPECT_NE(invalid, any);
    EXPECT_EQ(invalid, IpAddr("300.0.0.0"));
    EXPECT_EQ(invalid.GetAddr(), 0u);
    EXPECT_EQ(invalid.ToString(), "0.0.0.0");
    EXPECT_TRUE(invalid < any);
    EXPECT_FALSE(any < invalid);
}

TEST(IpAddr, OrdersNumericallyNotByText) {
    // Sorted by value; text order would put "10." before "9.".
    const std::vector<IpAddr> sorted = {
        IpAddr(),           IpAddr("0.0.0.0"),  IpAddr("1.2.3.4"),   IpAddr("9.255.255.255"),
        IpAddr("10.0.0.0"), IpAddr("10.0.0.1"), IpAddr("128.0.0.0"), IpAddr("255.255.255.255")};
    for (size_t i = 0; i < sorted.size(); ++i) {
        for (size_t j = 0; j < sorted.size(); ++j) {
            SCOPED_TRACE(sorted[i].ToString() + " vs " + sorted[j].ToString() + " (" +
                         std::to_string(i) + "," + std::to_string(j) + ")");
            EXPECT_EQ(sorted[i] < sorted[j], i < j);
            EXPECT_EQ(sorted[i] == sorted[j], i == j);
        }
    }
}

TEST(IpAddr, AndMasksEachBitAndNeedsTwoValidOperands) {
    const IpAddr mask("255.255.240.0");
    EXPECT_EQ((IpAddr("10.1.31.7") & mask).ToString(), "10.1.16.0");
    EXPECT_EQ(IpAddr("10.1.31.7") & IpAddr("255.255.255.255"), IpAddr("10.1.31.7"));
    EXPECT_EQ(IpAddr("10.1.31.7") & IpAddr("0.0.0.0"), IpAddr("0.0.0.0"));
    EXPECT_FALSE((IpAddr() & mask).IsValid());
    EXPECT_FALSE((mask & IpAddr()).IsValid());
}

TEST(IpEndpoint, OrdersByAddressThenPortAndWorksAsMapKey) {
    const IpEndpoint a(IpAddr("10.0.0.1"), 162);
    const IpEndpoint b(IpAddr("10.0.0.1"), 1161);
    const IpEndpoint c(IpAddr("10.0.0.2"), 161);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(b < c);  // address decides before port
    EXPECT_TRUE(a < c);
    EXPECT_FALSE(b < a);
    EXPECT_FALSE(a < a);
    EXPECT_EQ(a, IpEndpoint(IpAddr("10.0.0.1"), 162));
    EXPECT_NE(a, b);
    EXPECT_NE(a, IpEndpoint(IpAddr("10.0.0.2"), 162));

    std::map<IpEndpoint, int> table;
    table[c] = 3;
    table[a] = 1;
    table[b] = 2;
    table[IpEndpoint(IpAddr("10.0.0.1"), 162)] = 10;  // same key as a
    ASSERT_EQ(table.size(), 3u);
    auto it = table.begin();
    EXPECT_EQ((it++)->second, 10);
    EXPECT_EQ((it++)->second, 2);
    EXPECT_EQ(it->second, 3);

    IpEndpoint bound(IpAddr("127.0.0.1"), 0);
    bound.SetPort(40000);
    EXPECT_EQ(bound.Port(), 40000);
    EXPECT_EQ(bound.Addr().ToString(), "127.0.0.1");
    const IpEndpoint defaulted;
    EXPECT_FALSE(defaulted.Addr().IsValid());
    EXPECT_EQ(defaulted.Port(), 0);
}

}  // namespace
