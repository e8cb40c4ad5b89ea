// The received-datagram queue: order, a throwing consumer, the bounds and drops, fair service
// of senders, start/stop rules and the log lines.
#include "snmp/transport/udp_data_queue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "transport/transport_fixtures.h"

namespace snmp {
namespace {

using testing_support::DebugLevel;
using testing_support::Locked;

// Records "<first byte>/<length>/<port>" of every record it is handed; holds
// the queue's thread inside the record starting with `holdOn` until released,
// and throws on the one starting with `throwOn`.
class Consumer : public IUdpDataConsumer {
public:
    void OnUdpData(UdpDataItem& item) override {
        std::unique_lock<std::mutex> g(lock_);
        seen_.push_back(std::to_string(item.data[0]) + "/" + std::to_string(item.length) + "/" +
                        std::to_string(item.localPort));
        cv_.notify_all();
        if (item.data[0] == holdOn) cv_.wait(g, [&] { return released_; });
        if (item.data[0] == throwOn) throw std::runtime_error("consumer");
    }
    bool WaitSeen(size_t n) {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, std::chrono::milliseconds(testing_support::kWaitMs),
                            [&] { return seen_.size() >= n; });
    }
    void Release() {
        std::lock_guard<std::mutex> g(lock_);
        released_ = true;
        cv_.notify_all();
    }
    std::vector<std::string> Seen() {
        return Locked(lock_, [&] { return seen_; });
    }
    int holdOn = -1;
    int throwOn = -1;

private:
    std::mutex lock_;
    std::condition_variable cv_;
    std::vector<std::string> seen_;
    bool released_ = false;
};

UdpDataItem Item(Consumer& c, unsigned char first, int length, unsigned short port = 161) {
    UdpDataItem item;
    item.data = new unsigned char[static_cast<size_t>(length)];
    std::memset(item.data, first, static_cast<size_t>(length));
    item.length = length;
    item.localPort = port;
    item.consumer = &c;
    return item;
}

TEST(UdpDataQueue, RecordsArriveInOrderAcrossBatchesPastAThrowingConsumer) {
    Consumer c;
    c.holdOn = 1;
    c.throwOn = 3;
    CUdpDataQueue q("order");
    q.Start();
    ASSERT_TRUE(q.AddItem(Item(c, 1, 3, 1001)));
    ASSERT_TRUE(c.WaitSeen(1));
    // Added while the first batch is being processed: they form the next one.
    for (unsigned char b = 2; b <= 4; ++b) ASSERT_TRUE(q.AddItem(Item(c, b, b, 1000 + b)));
    EXPECT_EQ(q.Pending(), 3u);
    c.Release();
    ASSERT_TRUE(c.WaitSeen(4));
    // The exception ended neither the batch nor the thread.
    ASSERT_TRUE(q.AddItem(Item(c, 5, 1, 1005)));
    ASSERT_TRUE(c.WaitSeen(5));
    q.Stop();
    EXPECT_EQ(c.Seen(), (std::vector<std::string>{"1/3/1001", "2/2/1002", "3/3/1003", "4/4/1004",
                                                  "5/1/1005"}));
    EXPECT_EQ(q.Dropped(), 0u);
}

TEST(UdpDataQueue, BoundDropsAndCountsWhatDoesNotFitAndWaitingRecordsAreFreed) {
    Consumer c;
    CUdpDataQueue q("bounded");
    EXPECT_GT(q.MaxItems(), 1000u);
    q.SetLimit(1, 0);
    EXPECT_TRUE(q.AddItem(Item(c, 1, 10)));
    EXPECT_FALSE(q.AddItem(Item(c, 2, 10)));
    q.Start();
    ASSERT_TRUE(c.WaitSeen(1));
    q.Stop();
    EXPECT_TRUE(q.AddItem(Item(c, 3, 10)));  // drained: room again
    EXPECT_EQ(q.Dropped(), 1u);
    EXPECT_EQ(c.Seen(), (std::vector<std::string>{"1/10/161"}));

    CUdpDataQueue bytes("bytes");
    bytes.SetLimit(0, 100);
    EXPECT_TRUE(bytes.AddItem(Item(c, 1, 60)) && !bytes.AddItem(Item(c, 2, 41)) &&
                bytes.AddItem(Item(c, 3, 40)));
    EXPECT_EQ(bytes.Dropped(), 1u);

    // Unbounded; the records still queued at destruction are freed
    // undelivered (the leak checker sees any that are not).
    CUdpDataQueue unbounded("unbounded");
    unbounded.SetLimit(0, 0);
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(unbounded.AddItem(Item(c, 1, 1000)));
    EXPECT_EQ(unbounded.Pending(), 200u);
}

UdpDataItem From(const char* address, UdpDataItem item) {
    brask::ToSockAddr(brask::IpEndpoint(brask::IpAddr(address), 0), item.from);
    return item;
}

TEST(UdpDataQueue, AnAddressThatFloodsNeitherCrowdsOutNorHoldsUpOtherAddresses) {
    const char *a = "127.0.0.1", *b = "127.0.0.2", *c3 = "127.0.0.3";
    Consumer c;
    // Full of a's records: a record of an address that holds fewer displaces
    // the newest of the one that holds the most; a record of that one is
    // dropped itself. Every drop is counted, and reported as false.
    CUdpDataQueue full("full");
    full.SetLimit(4, 0);
    for (unsigned char n = 1; n <= 4; ++n) ASSERT_TRUE(full.AddItem(From(a, Item(c, n, 1))));
    // b 1 and a 2 before the first b 21, b 2 and a 1 before b 22.
    for (const auto& [from, first] : {std::pair{b, 20}, {a, 5}, {c3, 30}, {b, 21}, {b, 22}}) {
        const auto n = static_cast<unsigned char>(first);
        EXPECT_FALSE(full.AddItem(From(from, Item(c, n, 1)))) << first;
    }
    EXPECT_TRUE(full.Dropped() == 5u && full.Pending() == 4u);
    full.Start();
    ASSERT_TRUE(c.WaitSeen(4));
    full.Stop();
    EXPECT_EQ(c.Seen(), (std::vector<std::string>{"1/1/161", "20/1/161", "21/1/161", "30/1/161"}));

    // Served in turn: b's record waits for one turn of a's, not for all of
    // them; each address's records keep their order. IPv6 senders are told
    // apart by their whole address, even where its 32-bit words XOR alike.
    const std::pair<const char*, const char*> senders[] = {{"127.0.0.1", "127.0.0.2"},
                                                           {"::1", "::2"},
                                                           {"2001:db8::1", "2001:db9::1"},
                                                           {"::1", "0:0:0:1::"}};
    for (const auto& [flooder, other] : senders) {
        SCOPED_TRACE(other);
        Consumer d;
        CUdpDataQueue q("turns");
        const size_t flood = 2 * CUdpDataQueue::kTurn + 3;
        for (size_t n = 0; n < flood; ++n) {
            ASSERT_TRUE(q.AddItem(From(flooder, Item(d, static_cast<unsigned char>(n), 1))));
        }
        ASSERT_TRUE(q.AddItem(From(other, Item(d, 200, 2))));
        ASSERT_TRUE(q.AddItem(From(other, Item(d, 201, 2))));
        q.Start();
        ASSERT_TRUE(d.WaitSeen(flood + 2));
        q.Stop();
        std::vector<std::string> expected;
        for (size_t n = 0; n < flood; ++n) {
            expected.push_back(std::to_string(n) + "/1/161");
            if (n + 1 == CUdpDataQueue::kTurn) {
                expected.push_back("200/2/161");
                expected.push_back("201/2/161");
            }
        }
        EXPECT_EQ(d.Seen(), expected);
    }
}

TEST(UdpDataQueue, OneThreadPerStartAndItsLogLines) {
    Consumer c;
    CUdpDataQueue q("SNMP Message Receiver");
    q.Stop();  // never started: nothing happens
    {
        DebugLevel level(4);
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(q.AddItem(Item(c, 1, 1)));
        ASSERT_TRUE(q.AddItem(Item(c, 2, 1)));
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "[CUdpDataQueue::AddItem] SNMP Message Receiver - 0 items in queue\n"
                  "[CUdpDataQueue::AddItem] SNMP Message Receiver - signalled thread\n"
                  "[CUdpDataQueue::AddItem] SNMP Message Receiver - 1 items in queue\n"
                  "[CUdpDataQueue::AddItem] SNMP Message Receiver - signalled thread\n");
        ::testing::internal::CaptureStdout();
        q.Start();
        q.Start();  // one thread only: the loop's line appears once
        ASSERT_TRUE(c.WaitSeen(2));
        q.Stop();
        q.Stop();
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "[CUdpDataQueue::UdpDataLoop] SNMP Message Receiver - entering processing loop\n"
                  "[CUdpDataQueue::ProcessUdpDataQueue] SNMP Message Receiver - 2 items in "
                  "queue\n");
    }
    // Below level 4 only the loop's line is printed; records added while
    // stopped wait for the next start.
    DebugLevel level(3);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(q.AddItem(Item(c, 3, 1)));
    EXPECT_EQ(q.Pending(), 1u);
    q.Start();
    ASSERT_TRUE(c.WaitSeen(3));
    q.Stop();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[CUdpDataQueue::UdpDataLoop] SNMP Message Receiver - entering processing loop\n");
}

}  // namespace
}  // namespace snmp
