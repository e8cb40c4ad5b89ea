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

std::vector<std::string> journal;

class Named : public Watch {
public:
    std::string name;
    void OnReceive(const Message&) override { journal.push_back(name + ":receive"); }
    void OnDecode(const Message&) override { journal.push_back(name + ":decode"); }
    void OnSend(const Message&) override { journal.push_back(name + ":send"); }
    void OnExcept(const Message&, const Exception& e) override {
        journal.push_back(name + ":except" + std::to_string(e.Type()));
    }
};

TEST(Watches, NotifiesEachObserverOnceInAddressOrder) {
    journal.clear();
    Named w[3];  // array elements lie at ascending addresses
    w[0].name = "a";
    w[1].name = "b";
    w[2].name = "c";
    Watches list;
    for (int i : {2, 0, 1, 2}) list.Add(&w[i]);  // the second c is already there
    EXPECT_EQ(list.Size(), 3u);
    const Message m;
    list.OnReceive(m);
    list.OnExcept(m, Exception(204));
    list.Remove(&w[2]);  // one removal undoes the double registration
    list.Remove(&w[2]);  // not registered: nothing happens
    list.OnDecode(m);
    list.OnSend(m);
    EXPECT_EQ(journal, (std::vector<std::string>{"a:receive", "b:receive", "c:receive",
                                                 "a:except204", "b:except204", "c:except204",
                                                 "a:decode", "b:decode", "a:send", "b:send"}));
}

class StackInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        StackInterface::Destroy();
        SnmpStats::Destroy();
    }
    void TearDown() override { SetUp(); }
};

TEST_F(StackInterfaceTest, InitRegistersTheStatisticsOnceAndShutdownForgetsEveryWatch) {
    StackInterface* si = StackInterface::Instance();
    si->Init();
    si->Init();
    si->GetWatches().OnReceive(Message());
    EXPECT_EQ(SnmpStats::Instance()->InPkts(), 1u);  // one registration, one count
    Named host;
    si->RegisterWatch(&host);
    EXPECT_EQ(si->GetWatches().Size(), 2u);
    si->Shutdown();
    EXPECT_EQ(si->GetWatches().Size(), 0u);
    si->Init();  // only the statistics come back
    EXPECT_EQ(si->GetWatches().Size(), 1u);
    StackInterface::Destroy();
    EXPECT_EQ(StackInterface::_instance, nullptr);
    EXPECT_EQ(StackInterface::Instance()->GetWatches().Size(), 0u);
}

TEST_F(StackInterfaceTest, HostFiltersReachRegisteredReceiversAndTheCacheFollowsThem) {
    testing_support::RecordingQueue queue(TypeClient);
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
