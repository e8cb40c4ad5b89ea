// The observer list and the stack singleton's registries of watches,
// receivers and host filters.
#include "snmp/transport/watches.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    EXPECT_EQ(SnmpStats::Instance()->InPkts(), 1u);
    EXPECT_EQ(SnmpStats::Instance()->NotInTimeWindow(), 1u);
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
