// The received-datagram queue: arrival order across batches, freeing of each
// record, the bound and its drop count, start/stop rules and the log lines.
#include "snmp/transport/udp_data_queue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "transport/transport_fixtures.h"
#include "velport/debug_level.h"

namespace snmp {
namespace {

using testing_support::kWait;

class DebugLevel {
public:
    explicit DebugLevel(int level) : saved_(__Velmar_Debug_Level) { __Velmar_Debug_Level = level; }
    ~DebugLevel() { __Velmar_Debug_Level = saved_; }

private:
    int saved_;
};

// Records the first byte and the length of every record it is handed; can be
// told to hold the queue's thread inside a record, or to throw.
class Consumer : public IUdpDataConsumer {
public:
    void OnUdpData(UdpDataItem& item) override {
        std::unique_lock<std::mutex> g(lock_);
        seen_.push_back(item.length > 0 ? item.data[0] : -1);
        lengths_.push_back(item.length);
        ports_.push_back(item.localPort);
        cv_.notify_all();
        if (item.length > 0 && item.data[0] == holdOn_) {
            held_ = true;
            cv_.notify_all();
            cv_.wait(g, [&] { return released_; });
        }
        if (item.length > 0 && item.data[0] == throwOn_) throw std::runtime_error("consumer");
    }

    bool WaitSeen(size_t n) {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, kWait, [&] { return seen_.size() >= n; });
    }
    bool WaitHeld() {
        std::unique_lock<std::mutex> g(lock_);
        return cv_.wait_for(g, kWait, [&] { return held_; });
    }
    void Release() {
        std::lock_guard<std::mutex> g(lock_);
        released_ = true;
        cv_.notify_all();
    }
    std::vector<int> Seen() {
        std::lock_guard<std::mutex> g(lock_);
        return seen_;
    }
    std::vector<int> Lengths() {
        std::lock_guard<std::mutex> g(lock_);
        return lengths_;
    }
    std::vector<int> Ports() {
        std::lock_guard<std::mutex> g(lock_);
        return ports_;
    }
    void HoldOn(int b) { holdOn_ = b; }
    void ThrowOn(int b) { throwOn_ = b; }

private:
    std::mutex lock_;
    std::condition_variable cv_;
    std::vector<int> seen_;
    std::vector<int> lengths_;
    std::vector<int> ports_;
    int holdOn_ = -2;
    int throwOn_ = -2;
    bool held_ = false;
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

TEST(UdpDataQueue, RecordsArriveInOrderAcrossBatches) {
    Consumer c;
    CUdpDataQueue q("order");
    c.HoldOn(1);
    q.Start();
    ASSERT_TRUE(q.AddItem(Item(c, 1, 3, 1001)));
    ASSERT_TRUE(c.WaitHeld());
    // Added while the first batch is being processed: they form the next one.
    for (unsigned char b = 2; b <= 6; ++b) ASSERT_TRUE(q.AddItem(Item(c, b, b, 1000 + b)));
    EXPECT_EQ(q.Pending(), 5u);
    c.Release();
    ASSERT_TRUE(c.WaitSeen(6));
    q.Stop();
    EXPECT_EQ(c.Seen(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(c.Lengths(), (std::vector<int>{3, 2, 3, 4, 5, 6}));
    EXPECT_EQ(c.Ports(), (std::vector<int>{1001, 1002, 1003, 1004, 1005, 1006}));
    EXPECT_EQ(q.Dropped(), 0u);
}

TEST(UdpDataQueue, BoundDropsAndCountsWhatDoesNotFit) {
    Consumer c;
    {
        CUdpDataQueue q("bounded");
        EXPECT_EQ(q.MaxItems(), CUdpDataQueue::kDefaultMaxItems);
        EXPECT_GT(q.MaxItems(), 1000u);
        q.SetLimit(3, 0);
        for (unsigned char b = 1; b <= 5; ++b) {
            SCOPED_TRACE(b);
            EXPECT_EQ(q.AddItem(Item(c, b, 10)), b <= 3);
        }
        EXPECT_EQ(q.Dropped(), 2u);
        EXPECT_EQ(q.Pending(), 3u);

        q.Start();
        ASSERT_TRUE(c.WaitSeen(3));
        q.Stop();
        EXPECT_EQ(c.Seen(), (std::vector<int>{1, 2, 3}));

        // Once drained there is room again.
        EXPECT_TRUE(q.AddItem(Item(c, 7, 10)));
        EXPECT_EQ(q.Dropped(), 2u);

        CUdpDataQueue bytes("bytes");
        bytes.SetLimit(0, 100);
        EXPECT_TRUE(bytes.AddItem(Item(c, 1, 60)));
        EXPECT_FALSE(bytes.AddItem(Item(c, 2, 41)));
        EXPECT_TRUE(bytes.AddItem(Item(c, 3, 40)));
        EXPECT_EQ(bytes.Dropped(), 1u);

        CUdpDataQueue unbounded("unbounded");
        unbounded.SetLimit(0, 0);
        for (int i = 0; i < 200; ++i) ASSERT_TRUE(unbounded.AddItem(Item(c, 1, 1000)));
        EXPECT_EQ(unbounded.Pending(), 200u);
        // Records still queued at destruction are freed undelivered.
    }
    EXPECT_EQ(c.Seen().size(), 3u);
}

TEST(UdpDataQueue, StartStopRules) {
    DebugLevel level(1);
    Consumer c;
    CUdpDataQueue q("rules");
    q.Stop();  // never started: nothing happens
    ::testing::internal::CaptureStdout();
    q.Start();
    q.Start();  // one thread only
    ASSERT_TRUE(q.AddItem(Item(c, 1, 1)));
    ASSERT_TRUE(c.WaitSeen(1));
    q.Stop();
    q.Stop();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "[CUdpDataQueue::UdpDataLoop] rules - entering processing loop\n");

    // Records added while stopped wait for the next start.
    ASSERT_TRUE(q.AddItem(Item(c, 2, 1)));
    EXPECT_EQ(q.Pending(), 1u);
    q.Start();
    ASSERT_TRUE(c.WaitSeen(2));
    q.Stop();
    EXPECT_EQ(c.Seen(), (std::vector<int>{1, 2}));
}

TEST(UdpDataQueue, PerDatagramLogLinesAtLevelFour) {
    Consumer c;
    CUdpDataQueue q("SNMP Message Receiver");
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
        ASSERT_TRUE(c.WaitSeen(2));
        q.Stop();
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "[CUdpDataQueue::UdpDataLoop] SNMP Message Receiver - entering processing loop\n"
                  "[CUdpDataQueue::ProcessUdpDataQueue] SNMP Message Receiver - 2 items in "
                  "queue\n");
    }
    DebugLevel quiet(3);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(q.AddItem(Item(c, 3, 1)));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(UdpDataQueue, ThrowingConsumerDoesNotStopTheThread) {
    Consumer c;
    CUdpDataQueue q("throwing");
    c.ThrowOn(1);
    q.Start();
    ASSERT_TRUE(q.AddItem(Item(c, 1, 4)));
    ASSERT_TRUE(q.AddItem(Item(c, 2, 4)));
    ASSERT_TRUE(c.WaitSeen(2));
    ASSERT_TRUE(q.AddItem(Item(c, 3, 4)));
    ASSERT_TRUE(c.WaitSeen(3));
    q.Stop();
    EXPECT_EQ(c.Seen(), (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace snmp
