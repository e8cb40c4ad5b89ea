// Flood test: the zksnmp agent, fed malformed datagrams over loopback from one
// address as fast as one thread can send them, keeps answering managers that
// poll it with valid requests from other addresses promptly, counts every
// kind of failure, and keeps its memory bounded while its bounded receive
// queue drops what it cannot hold (the drops are printed). It runs the real
// agent and manager session code of tools/zksnmp; ZK_FLOOD_SECONDS sets the
// flood's length (15 s).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../../tools/zksnmp/options.h"
#include "../../tools/zksnmp/server.h"
#include "../../tools/zksnmp/session.h"
#include "snmp/init.h"
#include "snmp/snmp_stats.h"
#include "snmp/stack_interface.h"
#include "snmp/watch.h"
#include "test_util.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZK_SANITIZER_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZK_SANITIZER_HEAP 1
#endif
#ifdef ZK_SANITIZER_HEAP
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace {

using namespace zktest;
using Clock = std::chrono::steady_clock;

size_t LiveHeapBytes() {
#ifdef ZK_SANITIZER_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

const std::string kEngineId("\x80\x00\x1f\x88\x80\x52\x4f\x42\x55\x53\x54\x21\x01", 13);

std::vector<zksnmp::UserSpec> AgentUsers() {
    return {{"shaauth", snmp::USMAuthSHA1, "shaauthpass", snmp::USMPrivNone, ""},
            {"md5des", snmp::USMAuthMD5, "md5authpass", snmp::USMPrivDES, "md5despass"}};
}

zksnmp::ClientOptions Client(unsigned short port, unsigned int local, snmp::SnmpVersion version,
                             const std::string& user = "") {
    zksnmp::ClientOptions o;
    o.localAddr = local;
    o.version = version;
    o.timeout = 0.25;
    o.retries = 200;
    o.host = "127.0.0.1";
    o.addr = 0x7F000001;
    o.port = port;
    for (const zksnmp::UserSpec& u : AgentUsers()) {
        if (u.name == user) {
            o.user = u;
            o.level = zksnmp::LevelOf(u);
        }
    }
    return o;
}

Bytes CommunityMessage(long long version, const std::string& community, const Bytes& pdu) {
    return Tlv(0x30, Cat({Int(version), Str(community), pdu}));
}

// The kinds of bad datagram, each sent from a socket of its own so that the
// answers it draws can be told apart.
// clang-format off
enum Kind { kMutated, kTruncated, kOversized, kBadVersion, kEmptyCommunity, kWrongCommunity,
            kUnknownUser, kWrongDigest, kKindCount };
// clang-format on

std::vector<Bytes> MakeDatagrams(Kind kind, std::mt19937& rng) {
    const auto below = [&rng](size_t n) { return static_cast<unsigned int>(rng() % n); };
    std::vector<Bytes> out;
    for (int i = 0; i < 64; ++i) {
        const int id = 1000 + i;
        const Bytes valid = CommunityMessage(1, "public", GetPdu(id));
        Bytes b = valid;
        switch (kind) {
            case kMutated:
                for (unsigned int n = 1 + below(4); n != 0; --n)
                    b[below(b.size())] ^= static_cast<unsigned char>(1 + below(255));
                break;
            case kTruncated:
                b.resize(1 + below(valid.size() - 1));
                break;
            case kOversized: {
                // A Get whose binding value is larger than any receive buffer.
                const Bytes binding = Tlv(0x30, Cat({FromHex("06082b06010201010100"),
                                                     Str(std::string(i % 2 ? 30000 : 2000, 'x'))}));
                b = CommunityMessage(1, "public",
                                     Tlv(0xA0, Cat({Int(id), Int(0), Int(0), Tlv(0x30, binding)})));
                break;
            }
            case kBadVersion: {
                static const long long kVersions[] = {2, 4, -1, 2147483647};
                b = CommunityMessage(kVersions[i % 4], "public", GetPdu(id));
                break;
            }
            case kEmptyCommunity:
                b = CommunityMessage(i % 2, "", GetPdu(id));
                break;
            case kWrongCommunity:
                b = CommunityMessage(i % 2, "not-a-community", GetPdu(id));
                break;
            case kUnknownUser:
                b = V3Message(4242, 0x04, kEngineId, "mallory" + std::to_string(i % 8), {},
                              GetPdu(id));
                break;
            case kWrongDigest: {
                Bytes digest(12);
                for (auto& d : digest) d = static_cast<unsigned char>(below(256));
                b = V3Message(4242, 0x05, kEngineId, i % 2 == 0 ? "shaauth" : "md5des", digest,
                              GetPdu(id));
                break;
            }
            case kKindCount:
                break;
        }
        out.push_back(b);
    }
    return out;
}

// Sends the bad datagrams round robin, one socket per kind, until told to
// stop; counts what it sent and the answers each kind drew.
class Flooder {
public:
    explicit Flooder(unsigned short agentPort) {
        std::mt19937 rng(0x5eed);
        sockaddr_in agent{};
        agent.sin_family = AF_INET;
        agent.sin_port = htons(agentPort);
        agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in local = agent;  // 127.0.0.1, any port
        local.sin_port = 0;
        for (int k = 0; k < kKindCount; ++k) {
            datagrams_[k] = MakeDatagrams(static_cast<Kind>(k), rng);
            sockets_[k] = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
            ready_ = ready_ && sockets_[k] >= 0 &&
                     bind(sockets_[k], reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                     connect(sockets_[k], reinterpret_cast<sockaddr*>(&agent), sizeof agent) == 0;
        }
    }
    ~Flooder() {
        Stop();
        for (int s : sockets_) close(s);
    }
    bool Ready() const { return ready_; }

    void Start() {
        thread_ = std::thread([this] {
            while (!stop_) {
                for (int i = 0; i < 512; ++i) SendOne();
                Drain();
            }
        });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    void Drain() {
        unsigned char buffer[65536];
        for (int k = 0; k < kKindCount; ++k)
            while (recv(sockets_[k], buffer, sizeof buffer, MSG_DONTWAIT) >= 0) ++answers_[k];
    }

    unsigned long long Sent(int kind) const { return sent_[kind]; }
    unsigned long long TotalSent() const {
        return std::accumulate(sent_.begin(), sent_.end(), 0ULL);
    }
    unsigned long long Answers(int kind) const { return answers_[kind]; }

private:
    void SendOne() {
        const int k = static_cast<int>(next_ % kKindCount);
        const Bytes& d = datagrams_[k][(next_ / kKindCount) % datagrams_[k].size()];
        ++next_;
        if (send(sockets_[k], d.data(), d.size(), 0) >= 0) ++sent_[k];
    }

    std::array<std::vector<Bytes>, kKindCount> datagrams_;
    std::array<int, kKindCount> sockets_{};
    std::array<unsigned long long, kKindCount> sent_{};
    std::array<unsigned long long, kKindCount> answers_{};
    unsigned long long next_ = 0;
    bool ready_ = true;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A manager that polls the agent from `address` until stopped; every request
// must be answered correctly (after retries).
struct Poller {
    Poller(const zksnmp::ClientOptions& options, unsigned int pduType, std::string expect)
        : session(options), type(pduType), expected(std::move(expect)) {}

    void Run(const std::atomic<bool>& stop) {
        std::string error;
        if (!session.Open(error)) {
            failures.push_back("open: " + error);
            return;
        }
        snmp::VarBindList vbs;
        vbs.push_back(snmp::VarBind(
            Oid(type == snmp::PduGetRequest ? "1.3.6.1.2.1.1.1.0" : "1.3.6.1.2.1.1.1"),
            snmp::AsnValue(0x05)));
        while (!stop) {
            double rtt = 0;
            std::unique_ptr<snmp::Message> answer = session.Request(type, vbs, error, &rtt);
            ++requests;
            std::string value;
            if (answer && answer->ErrStat() == 0 && !answer->VarBinds().empty()) {
                answer->VarBinds().front().Value().MakeStr(value);
            }
            if (value != expected) {
                failures.push_back(answer ? "wrong answer '" + value + "'" : error);
            } else {
                rttsMs.push_back(rtt);
            }
        }
        session.Close();
    }

    zksnmp::ClientSession session;
    unsigned int type;
    std::string expected;
    unsigned long long requests = 0;
    std::vector<double> rttsMs;
    std::vector<std::string> failures;
};

TEST(FloodTest, AgentAnswersValidRequestsCountsFailuresAndStaysBoundedUnderMalformedFlood) {
    const char* length = std::getenv("ZK_FLOOD_SECONDS");
    const double seconds = length != nullptr && std::atof(length) > 0 ? std::atof(length) : 15;
    ASSERT_TRUE(snmp::Init());
    // A small queue so that the flood overruns it on any machine.
    const size_t kQueueItems = 512;
    snmp::StackInterface::Instance()->SetReceiveQueueLimit(kQueueItems, 1u << 20);
    {
        zksnmp::ServerOptions options;
        options.listen = "127.0.0.1:0";
        options.port = 0;
        options.roCommunities = {"public"};
        options.users = AgentUsers();
        options.engineId = snmp::OctetString(kEngineId);
        zksnmp::AgentServer agent(options);
        std::string error;
        ASSERT_TRUE(agent.Start(error)) << error;
        const unsigned short port = agent.Port();
        snmp::AsnValue descr;
        ASSERT_TRUE(agent.Mib().Lookup(Oid("1.3.6.1.2.1.1.1.0"), descr));
        std::string descrText;
        descr.MakeStr(descrText);

        Flooder flooder(port);
        ASSERT_TRUE(flooder.Ready());

        // Managers poll throughout from addresses of their own (127.0.0.2 to
        // 127.0.0.4), apart from the flood's.
        std::atomic<bool> stop{false};
        std::vector<std::unique_ptr<Poller>> pollers;
        pollers.push_back(std::make_unique<Poller>(Client(port, 0x7F000002, snmp::SnmpVersionV2c),
                                                   snmp::PduGetRequest, descrText));
        pollers.push_back(std::make_unique<Poller>(Client(port, 0x7F000003, snmp::SnmpVersionV1),
                                                   snmp::PduGetNextRequest, descrText));
        pollers.push_back(
            std::make_unique<Poller>(Client(port, 0x7F000004, snmp::SnmpVersionV3, "md5des"),
                                     snmp::PduGetRequest, descrText));
        std::vector<std::thread> threads;
        flooder.Start();
        for (auto& p : pollers) threads.emplace_back([&p, &stop] { p->Run(stop); });

        std::this_thread::sleep_for(std::chrono::seconds(2));  // warm-up
        const snmp::SnmpStats before(*snmp::SnmpStats::Instance());
        const unsigned long long sentBefore = flooder.TotalSent();
        const size_t heapWarm = LiveHeapBytes();
        size_t heapPeak = heapWarm;
        const auto start = Clock::now();
        while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            heapPeak = std::max(heapPeak, LiveHeapBytes());
        }
        flooder.Stop();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        stop = true;
        for (auto& t : threads) t.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        flooder.Drain();
        const snmp::SnmpStats after(*snmp::SnmpStats::Instance());
        const unsigned long long flood = flooder.TotalSent() - sentBefore;

        unsigned long long answered = 0;
        std::vector<double> rtts;
        for (auto& p : pollers) {
            rtts.insert(rtts.end(), p->rttsMs.begin(), p->rttsMs.end());
            SCOPED_TRACE(p->session.Options().version);
            EXPECT_GT(p->requests, 0u);
            EXPECT_TRUE(p->failures.empty())
                << p->failures.size()
                << " unanswered, first: " << (p->failures.empty() ? "" : p->failures[0]);
            answered += p->requests - p->failures.size();
        }

        // The flood comes from one address, so the queue keeps room for the
        // others and serves them in turn: valid requests are answered within a
        // second or so even on a loaded machine (the bound is generous).
        ASSERT_FALSE(rtts.empty());
        std::sort(rtts.begin(), rtts.end());
        const double p99 = rtts[(rtts.size() - 1) * 99 / 100];
        EXPECT_LT(p99, 3000.0) << "99th percentile round trip under the flood";

        // Each kind of failure was counted, and never more often than
        // datagrams that could have caused it were sent.
        const unsigned long long any = flooder.Sent(kMutated) + flooder.Sent(kTruncated);
        EXPECT_GT(after.InAsnParseErrs(), before.InAsnParseErrs());
        EXPECT_GT(after.InBadVers(), before.InBadVers());
        EXPECT_LE(after.InBadVers() - before.InBadVers(), flooder.Sent(kBadVersion) + any);
        EXPECT_GT(after.InBadCommStrs(), before.InBadCommStrs());
        EXPECT_LE(after.InBadCommStrs() - before.InBadCommStrs(),
                  flooder.Sent(kEmptyCommunity) + flooder.Sent(kWrongCommunity) + any);
        EXPECT_GT(after.UnknownUser(), before.UnknownUser());
        EXPECT_LE(after.UnknownUser() - before.UnknownUser(), flooder.Sent(kUnknownUser));
        EXPECT_GT(after.WrongDigest(), before.WrongDigest());
        EXPECT_LE(after.WrongDigest() - before.WrongDigest(), flooder.Sent(kWrongDigest));
        // Datagrams that fail before a user is known draw no answer; unknown
        // users draw Reports.
        for (Kind k : {kTruncated, kOversized, kBadVersion, kEmptyCommunity, kWrongCommunity}) {
            EXPECT_EQ(flooder.Answers(k), 0u) << "kind " << k;
        }
        EXPECT_GT(flooder.Answers(kUnknownUser), 0u);

        // The queue is bounded, so the heap may not grow with the number of datagrams.
        const size_t growth = heapPeak > heapWarm ? heapPeak - heapWarm : 0;
        EXPECT_LT(growth, 8u << 20) << "heap grew by " << growth << " bytes";

        std::printf(
            "flood: %.1f s, %llu bad datagrams, %llu valid requests answered, round trip "
            "p50 %.1f ms, p99 %.1f ms; heap growth %zu bytes, queue drops %u\n",
            elapsed, flood, answered, rtts[rtts.size() / 2], p99, growth,
            after.ReceiveQueueDrops() - before.ReceiveQueueDrops());
        agent.Stop();
    }
    snmp::Shutdown();
}

}  // namespace
