// The observer list and host filters: notification order and uniqueness,
// filter matching and equality, and the stack singleton's registries.
#include "snmp/transport/watches.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "snmp/exception.h"
#include "snmp/message.h"
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
    list.Add(&w[2]);
    list.Add(&w[0]);
    list.Add(&w[1]);
    list.Add(&w[2]);  // already present
    EXPECT_EQ(list.Size(), 3u);
    const Message m;
    list.OnReceive(m);
    list.OnExcept(m, Exception(204));
    EXPECT_EQ(journal, (std::vector<std::string>{"a:receive", "b:receive", "c:receive",
                                                 "a:except204", "b:except204", "c:except204"}));

    journal.clear();
    list.Remove(&w[2]);  // one removal undoes the double registration
    list.Remove(&w[2]);  // not registered: nothing happens
    list.OnDecode(m);
    list.OnSend(m);
    EXPECT_EQ(journal, (std::vector<std::string>{"a:decode", "b:decode", "a:send", "b:send"}));
}

TEST(Filter, MatchUsesOnlyItsOwnMaskAndEqualityComparesBoth) {
    const brask::IpAddr net("10.0.0.0");
    const brask::IpAddr host("10.1.2.3");
    const brask::IpAddr other("11.1.2.3");
    const brask::IpAddr m8("255.0.0.0");
    const brask::IpAddr m16("255.255.0.0");
    struct Case {
        const char* name;
        Filter filter;
        Filter probe;
        bool match;
    };
    const Case cases[] = {
        {"network holds host", Filter(net, m8), Filter(host), true},
        {"host does not hold network", Filter(host), Filter(net, m8), false},
        {"outside network", Filter(net, m8), Filter(other), false},
        {"/16 excludes 10.1", Filter(net, m16), Filter(host), false},
        {"zero mask matches all", Filter(net, brask::IpAddr("0.0.0.0")), Filter(other), true},
        {"host matches itself", Filter(host), Filter(host), true},
        {"probe mask ignored", Filter(host), Filter(host, brask::IpAddr("0.0.0.0")), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.filter.Match(c.probe), c.match);
    }
    EXPECT_EQ(Filter(host).Mask(), brask::IpAddr("255.255.255.255"));
    EXPECT_FALSE(Filter(net, m8) == Filter(net, m16));
    EXPECT_TRUE(Filter(net, m8) != Filter(net, m16));
    EXPECT_TRUE(Filter(host) == Filter(host, brask::IpAddr("255.255.255.255")));
    EXPECT_FALSE(Filter(host) == Filter(other));
    Filter copy(net, m8);
    copy = Filter(host);
    EXPECT_EQ(copy.Addr(), host);
    EXPECT_EQ(copy.Mask(), brask::IpAddr("255.255.255.255"));
}

class StackInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        StackInterface::Destroy();
        SnmpStats::Destroy();
    }
    void TearDown() override {
        StackInterface::Destroy();
        SnmpStats::Destroy();
    }
};

TEST_F(StackInterfaceTest, InitRegistersTheStatisticsWatchOnceAndShutdownForgetsAll) {
    StackInterface::Destroy();  // without an instance: nothing happens
    EXPECT_EQ(StackInterface::_instance, nullptr);
    StackInterface* si = StackInterface::Instance();
    EXPECT_EQ(StackInterface::_instance, si);
    EXPECT_EQ(StackInterface::Instance(), si);
    EXPECT_EQ(si->GetWatches().Size(), 0u);

    si->Init();
    si->Init();
    EXPECT_EQ(si->GetWatches().Size(), 1u);
    si->GetWatches().OnReceive(Message());
    EXPECT_EQ(SnmpStats::Instance()->InPkts(), 1u);  // one registration, one count

    Named host;
    si->RegisterWatch(&host);
    EXPECT_EQ(si->GetWatches().Size(), 2u);
    si->Shutdown();
    EXPECT_EQ(si->GetWatches().Size(), 0u);
    si->Init();  // only the statistics come back
    EXPECT_EQ(si->GetWatches().Size(), 1u);
    si->DeregisterWatch(SnmpStats::Instance());
    EXPECT_EQ(si->GetWatches().Size(), 0u);

    StackInterface::Destroy();
    EXPECT_EQ(StackInterface::_instance, nullptr);
    EXPECT_EQ(StackInterface::Instance()->GetWatches().Size(), 0u);
}

TEST_F(StackInterfaceTest, HostFiltersReachRegisteredReceiversOnly) {
    testing_support::RecordingQueue queue(TypeClient);
    EndpointTable table;
    StackInterface* si = StackInterface::Instance();
    MsgReceiver early(&table, 0, &queue);
    MsgReceiver late(&table, 0, &queue);
    si->RegisterReceiver(&early);

    const brask::IpAddr peer("127.0.0.1");
    const brask::IpAddr stranger("192.0.2.1");
    Filter local(peer);
    si->AddHost(local);
    si->AddHost(local);
    si->RegisterReceiver(&late);
    EXPECT_TRUE(early.HostAccepted(peer));
    EXPECT_FALSE(early.HostAccepted(stranger));
    EXPECT_TRUE(late.HostAccepted(stranger));  // registered after the filter

    Filter net(brask::IpAddr("192.0.2.0"), brask::IpAddr("255.255.255.0"));
    si->AddHost(net);
    EXPECT_TRUE(early.HostAccepted(stranger));
    EXPECT_TRUE(late.HostAccepted(stranger));
    EXPECT_FALSE(late.HostAccepted(peer));

    // One removal takes both copies of the equal filter.
    si->RemoveHost(local);
    EXPECT_FALSE(early.HostAccepted(peer));
    EXPECT_TRUE(early.HostAccepted(stranger));
    si->RemoveHost(net);
    EXPECT_TRUE(early.HostAccepted(peer));  // no filters left: all accepted

    si->AddHost(net);
    si->DeregisterReceiver(&late);
    si->RemoveHost(net);  // `late` is no longer reached
    EXPECT_TRUE(early.HostAccepted(peer));
    EXPECT_FALSE(late.HostAccepted(peer));

    si->Shutdown();  // forgets the receivers
    si->AddHost(local);
    EXPECT_TRUE(early.HostAccepted(stranger));
}

TEST_F(StackInterfaceTest, FilterCacheFollowsFilterChanges) {
    testing_support::RecordingQueue queue(TypeClient);
    EndpointTable table;
    MsgReceiver r(&table, 0, &queue);
    const brask::IpAddr a("10.1.1.1");
    r.AddHost(Filter(brask::IpAddr("10.0.0.0"), brask::IpAddr("255.0.0.0")));
    EXPECT_TRUE(r.HostAccepted(a));
    EXPECT_TRUE(r.HostAccepted(a));  // answered from the last check
    r.RemoveHost(Filter(brask::IpAddr("10.0.0.0"), brask::IpAddr("255.0.0.0")));
    r.AddHost(Filter(brask::IpAddr("10.2.0.0"), brask::IpAddr("255.255.0.0")));
    EXPECT_FALSE(r.HostAccepted(a));  // a stale cached answer would accept
    EXPECT_FALSE(r.HostAccepted(a));
    r.AddHost(Filter(a));
    EXPECT_TRUE(r.HostAccepted(a));
    // The unspecified source address is refused whenever filters exist, and
    // does not disturb the cached answer for the last real source.
    EXPECT_FALSE(r.HostAccepted(brask::IpAddr("0.0.0.0")));
    EXPECT_TRUE(r.HostAccepted(a));
}

}  // namespace
}  // namespace snmp
