// The observer list and the stack singleton's registries of watches,
// receivers and host filters.
#include "snmp/transport/watches.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "snmp/prefix_filter.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/transport/sock_processor.h"
#include "transport/transport_fixtures.h"

namespace snmp {
namespace {

class StackInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        StackInterface::Destroy();
        SnmpStats::Destroy();
    }
    void TearDown() override { SetUp(); }
};

TEST_F(StackInterfaceTest, WatchesAreRegisteredOnceAndShutdownForgetsThemAll) {
    StackInterface* si = StackInterface::Instance();
    si->Init();
    si->Init();
    testing_support::Recorder host(TypeClient);
    si->RegisterWatch(&host);
    si->RegisterWatch(&host);
    EXPECT_EQ(si->GetWatches().Size(), 2u);
    si->GetWatches().OnReceive(Message());
    si->GetWatches().OnExcept(Message(), Exception(204));
    // One registration, one count, one event each.
    EXPECT_TRUE(SnmpStats::Instance()->InPkts() == 1u &&
                SnmpStats::Instance()->NotInTimeWindow() == 1u);
    EXPECT_EQ(host.Log(), (std::vector<std::string>{"receive", "except 204"}));
    si->DeregisterWatch(&host);  // one removal undoes both registrations
    si->DeregisterWatch(&host);  // not registered: nothing happens
    EXPECT_EQ(si->GetWatches().Size(), 1u);
    si->RegisterWatch(&host);
    si->Shutdown();
    EXPECT_EQ(si->GetWatches().Size(), 0u);
    si->Init();  // only the statistics come back
    EXPECT_EQ(si->GetWatches().Size(), 1u);
    StackInterface::Destroy();
    EXPECT_EQ(StackInterface::_instance, nullptr);
    EXPECT_EQ(StackInterface::Instance()->GetWatches().Size(), 0u);
}

TEST(Filter, MatchesItsNetworkInItsOwnFamilyOnly) {
    using brask::IpAddr;
    // filter address, mask ("" for a host filter, "/N" for a prefix length), source, match
    const std::vector<std::tuple<const char*, const char*, const char*, bool>> cases = {
        {"10.0.0.0", "255.0.0.0", "10.1.2.3", true},
        {"10.1.2.3", "", "10.0.0.0", false},
        {"10.1.2.3", "", "10.1.2.3", true},
        {"1.2.3.4", "0.0.0.0", "::1", false},  // an IPv4 catch-all leaves IPv6 alone
        {"10.0.0.0", "/8", "11.0.0.1", false},
        {"::1", "", "::1", true},
        {"::1", "", "::2", false},
        {"2001:db8::", "ffff:ffff::", "2001:db8:1::5", true},
        {"2001:db8::", "/32", "2001:db8:ffff::1", true},
        {"2001:db8::", "/33", "2001:db8:8000::1", false},
        {"::", "::", "10.0.0.1", false},
        {"::ffff:10.0.0.0", "/104", "10.0.0.1", false},  // no mapped-address magic
        {"::1", "255.255.255.255", "::1", false},        // a mask of the wrong family
        {"10.0.0.1", "ffff::", "10.0.0.1", false}};
    for (const auto& [addr, mask, source, match] : cases) {
        SCOPED_TRACE(std::string(addr) + " " + mask + " vs " + source);
        const std::string m = mask;
        const Filter f = m.empty()     ? Filter(IpAddr(addr))
                         : m[0] == '/' ? PrefixFilter(IpAddr(addr), std::stoul(m.substr(1)))
                                       : Filter(IpAddr(addr), IpAddr(mask));
        EXPECT_EQ(f.Match(Filter(IpAddr(source))), match);
    }
    EXPECT_EQ(Filter(IpAddr("::1")).Mask(), IpAddr::PrefixMask(IpAddr::kIPv6, 128));
    EXPECT_EQ(Filter(IpAddr("10.0.0.0"), IpAddr("255.0.0.0")), PrefixFilter(IpAddr("10.0.0.0"), 8));
    EXPECT_NE(PrefixFilter(IpAddr("2001:db8::"), 32), PrefixFilter(IpAddr("2001:db8::"), 48));
    EXPECT_NE(Filter(IpAddr("10.0.0.0"), IpAddr("255.0.0.0")),
              Filter(IpAddr("10.0.0.0"), IpAddr("255.255.0.0")));
}

TEST_F(StackInterfaceTest, HostFiltersReachRegisteredReceiversAndTheCacheFollowsThem) {
    testing_support::Recorder queue(TypeClient);
    EndpointTable table;
    StackInterface* si = StackInterface::Instance();
    MsgReceiver early(&table, 0, &queue);
    MsgReceiver late(&table, 0, &queue);
    si->RegisterReceiver(&early);
    const brask::IpAddr peer("127.0.0.1"), stranger("192.0.2.1");
    Filter local(peer);
    Filter net(brask::IpAddr("192.0.2.0"), brask::IpAddr("255.255.255.0"));
    si->AddHost(local);
    si->AddHost(local);
    si->RegisterReceiver(&late);
    EXPECT_TRUE(early.HostAccepted(peer));
    EXPECT_FALSE(early.HostAccepted(stranger));
    EXPECT_FALSE(early.HostAccepted(stranger));  // from the last check
    EXPECT_TRUE(late.HostAccepted(stranger));    // registered after the filter
    // The unspecified address is refused while filters exist, without
    // disturbing the cached answer for the last real source.
    EXPECT_FALSE(early.HostAccepted(brask::IpAddr("0.0.0.0")));
    EXPECT_FALSE(early.HostAccepted(stranger));

    si->AddHost(net);
    EXPECT_TRUE(early.HostAccepted(stranger));  // a stale cached answer would refuse
    EXPECT_FALSE(late.HostAccepted(peer));
    EXPECT_TRUE(early.HostAccepted(peer));
    si->RemoveHost(local);                   // one removal takes both copies
    EXPECT_FALSE(early.HostAccepted(peer));  // a stale cached answer would accept
    si->RemoveHost(net);
    EXPECT_TRUE(early.HostAccepted(peer));  // no filters left: all accepted

    si->DeregisterReceiver(&late);
    si->AddHost(net);  // `late` is no longer reached
    EXPECT_TRUE(late.HostAccepted(peer));
    EXPECT_FALSE(early.HostAccepted(peer));
    si->Shutdown();  // forgets the receivers
    si->RemoveHost(net);
    EXPECT_FALSE(early.HostAccepted(peer));
}

}  // namespace
}  // namespace snmp
