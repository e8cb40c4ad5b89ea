// Network figures, driven by bench/run: a UDP echo and a fast SNMP responder
// (the servers), a windowed load generator, this library's client-mode
// dispatcher, net-snmp's asynchronous client and a bare-socket client (the
// kernel's floor) at a given number of outstanding requests, and
// one-at-a-time latency. Each client prints one JSON line with its results.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "netsnmp_peer.h"
#include "snmp/asn_value.h"
#include "snmp/dispatcher.h"
#include "snmp/exception.h"
#include "snmp/init.h"
#include "snmp/security/usm.h"
#include "snmp/socket_buffers.h"

namespace {

using zkbench::Bytes;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "zkbench_net: %s\n", what.c_str());
    std::exit(2);
}

// ---- Sockets ----------------------------------------------------------------------------------

sockaddr_in Address(const std::string& hostPort) {
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) Die("address needs HOST:PORT: " + hostPort);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(std::stoi(hostPort.substr(colon + 1))));
    if (inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &a.sin_addr) != 1)
        Die("bad address " + hostPort);
    return a;
}

// A UDP socket with large buffers, bound to `local` (port 0: any).
int UdpSocket(const sockaddr_in& local) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) Die("socket");
    // Room for 10000 outstanding datagrams: the servers of the figures must
    // not be where datagrams are lost. The forced size needs CAP_NET_ADMIN;
    // without it the system's maximum is taken.
    const int size = 32 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) Die("bind");
    return fd;
}

int ClientSocket(const sockaddr_in& peer) {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = UdpSocket(any);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) Die("connect");
    return fd;
}

void SetReceiveTimeout(int fd, int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000L};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Voluntary and involuntary context switches of the whole process so far.
double ContextSwitches() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_nvcsw + u.ru_nivcsw);
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// ---- A little BER, for the responder ----------------------------------------------------------

struct Tlv {
    unsigned char tag = 0;
    size_t length = 0;
    size_t header = 0;
};

bool ReadTlv(const unsigned char* p, size_t left, Tlv& t) {
    if (left < 2) return false;
    t.tag = p[0];
    if (p[1] < 0x80) {
        t.length = p[1];
        t.header = 2;
    } else {
        const size_t n = p[1] & 0x7F;
        if (n == 0 || n > 3 || left < 2 + n) return false;
        t.length = 0;
        for (size_t i = 0; i < n; ++i) t.length = (t.length << 8) | p[2 + i];
        t.header = 2 + n;
    }
    return t.header + t.length <= left;
}

void PutLength(Bytes& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
    } else if (length < 0x100) {
        out.push_back(0x81);
        out.push_back(static_cast<unsigned char>(length));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(length >> 8));
        out.push_back(static_cast<unsigned char>(length));
    }
}

// The SNMPv2c names of the figures: the system group's eight scalars and two
// snmp-group counters, which both agents serve.
snmp::VarBindList SystemNames(int count) {
    static const char* const kNames[] = {
        "1.3.6.1.2.1.1.1.0",  "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.4.0",
        "1.3.6.1.2.1.1.5.0",  "1.3.6.1.2.1.1.6.0", "1.3.6.1.2.1.1.7.0", "1.3.6.1.2.1.1.8.0",
        "1.3.6.1.2.1.11.1.0", "1.3.6.1.2.1.11.2.0"};
    snmp::VarBindList vbs;
    for (int i = 0; i < count; ++i) {
        snmp::ObjectId oid;
        oid.Set(kNames[i % 10]);
        vbs.push_back(snmp::VarBind(oid, snmp::AsnValue()));
    }
    return vbs;
}

// ---- Servers ----------------------------------------------------------------------------------

int RunEcho(const std::string& local) {
    const int fd = UdpSocket(Address(local));
    std::printf("ready\n");
    std::fflush(stdout);
    unsigned char buf[65536];
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) continue;
        sendto(fd, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

// Answers every SNMPv2c request with one pre-encoded binding list, echoing the
// request's version, community and request-id.
int RunResponder(const std::string& local) {
    snmp::VarBindList vbs;
    snmp::ObjectId oid;
    oid.Set("1.3.6.1.2.1.1.3.0");
    snmp::AsnValue ticks(0x43);
    ticks.SetTicks(123456);
    vbs.push_back(snmp::VarBind(oid, ticks));
    // The varbind list of a pre-encoded response: the last element of its PDU.
    const Bytes tmpl = zkbench::Encode(zkbench::V2cMessage(snmp::PduResponse, vbs, 1));
    Tlv msg, ver, comm, pdu, id, st, ix;
    const unsigned char* p = tmpl.data();
    ReadTlv(p, tmpl.size(), msg);
    p += msg.header;
    ReadTlv(p, msg.length, ver);
    p += ver.header + ver.length;
    ReadTlv(p, 64, comm);
    p += comm.header + comm.length;
    ReadTlv(p, 1024, pdu);
    p += pdu.header;
    ReadTlv(p, 64, id);
    p += id.header + id.length;
    ReadTlv(p, 64, st);
    p += st.header + st.length;
    ReadTlv(p, 64, ix);
    p += ix.header + ix.length;
    const Bytes varBinds(p, tmpl.data() + tmpl.size());

    const int fd = UdpSocket(Address(local));
    std::printf("ready\n");
    std::fflush(stdout);
    unsigned char buf[65536];
    Bytes out;
    out.reserve(2048);
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0) continue;
        // SEQUENCE { version, community, PDU { request-id, ... } }
        const unsigned char* q = buf;
        size_t left = static_cast<size_t>(n);
        Tlv m, v, c, d, r;
        if (!ReadTlv(q, left, m)) continue;
        q += m.header;
        left = m.length;
        if (!ReadTlv(q, left, v)) continue;
        const unsigned char* head = q;  // version and community are echoed
        q += v.header + v.length;
        left -= v.header + v.length;
        if (!ReadTlv(q, left, c)) continue;
        q += c.header + c.length;
        left -= c.header + c.length;
        const size_t headSize = static_cast<size_t>(q - head);
        if (!ReadTlv(q, left, d)) continue;
        q += d.header;
        if (!ReadTlv(q, d.length, r)) continue;
        const size_t idSize = r.header + r.length;
        static const unsigned char kNoError[] = {0x02, 0x01, 0x00, 0x02, 0x01, 0x00};
        const size_t pduLength = idSize + sizeof kNoError + varBinds.size();
        Bytes pduHead;
        pduHead.push_back(0xA2);
        PutLength(pduHead, pduLength);
        out.clear();
        out.push_back(0x30);
        PutLength(out, headSize + pduHead.size() + pduLength);
        out.insert(out.end(), head, head + headSize);
        out.insert(out.end(), pduHead.begin(), pduHead.end());
        out.insert(out.end(), q, q + idSize);
        out.insert(out.end(), kNoError, kNoError + sizeof kNoError);
        out.insert(out.end(), varBinds.begin(), varBinds.end());
        sendto(fd, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

// ---- Requests for the load generator ----------------------------------------------------------

// Learns an SNMPv3 agent's engine id, boots and time from the Report to a
// noAuthNoPriv probe, and returns the kUser target localised to it.
snmp::Target Discover(const sockaddr_in& agent) {
    snmp::Target unknown = zkbench::V3Target(snmp::OctetString(), 0, 0);
    unknown.SetSecLevel(snmp::SecLevelNoAuthNoPriv);
    zkbench::OneTargetLookup lookup(snmp::TypeClient, unknown);
    snmp::Message probe =
        zkbench::V3Message(snmp::PduGetRequest, snmp::VarBindList(), 99, unknown, lookup);
    probe.SetSecurityLevel(snmp::SecLevelNoAuthNoPriv);
    const Bytes request = zkbench::Encode(probe);
    const int fd = ClientSocket(agent);
    SetReceiveTimeout(fd, 1000);
    unsigned char buf[4096];
    for (int attempt = 0; attempt < 5; ++attempt) {
        send(fd, request.data(), request.size(), 0);
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) continue;
        snmp::Message report;
        report.InitSecurity(&lookup);
        try {
            report.Decode(buf, static_cast<unsigned int>(n));
        } catch (const snmp::Exception& e) {
            Die(std::string("discovery answer not decoded: ") + e.Descr());
        }
        close(fd);
        const snmp::USM* usm = report.SecAttributes();
        return zkbench::V3Target(usm->EngineId(), usm->EngineBoots(), usm->EngineTime());
    }
    Die("no answer to the discovery probe");
}

// `count` pre-encoded requests with distinct request ids.
std::vector<Bytes> Requests(const std::string& kind, const sockaddr_in& agent, int count) {
    std::vector<Bytes> out;
    if (kind == "v2c1" || kind == "v2c10") {
        const snmp::VarBindList vbs = SystemNames(kind == "v2c1" ? 1 : 10);
        for (int i = 0; i < count; ++i)
            out.push_back(zkbench::Encode(zkbench::V2cMessage(snmp::PduGetRequest, vbs, 1000 + i)));
    } else if (kind == "v3") {
        zkbench::OneTargetLookup lookup(snmp::TypeClient, Discover(agent));
        for (int i = 0; i < count; ++i) {
            snmp::Message m = zkbench::V3Message(snmp::PduGetRequest, SystemNames(1), 1000 + i,
                                                 lookup.Stored(), lookup);
            out.push_back(zkbench::Encode(m));
        }
    } else if (kind == "echo") {
        const snmp::VarBindList vbs = SystemNames(1);
        for (int i = 0; i < count; ++i)
            out.push_back(zkbench::Encode(zkbench::V2cMessage(snmp::PduGetRequest, vbs, 1000 + i)));
    } else {
        Die("unknown request kind " + kind);
    }
    return out;
}

// Keeps `window` requests outstanding for `seconds` and counts the answers; a
// silent 100 ms refills the window (the requests lost are counted).
int RunLoad(const std::string& peer, const std::string& kind, int window, double seconds) {
    const sockaddr_in agent = Address(peer);
    // Request ids are not reused while an agent may still hold the earlier request: a server
    // refuses a request whose id it is still handling, and the window would shrink.
    const std::vector<Bytes> requests = Requests(kind, agent, 4096);
    const int fd = ClientSocket(agent);
    SetReceiveTimeout(fd, 100);
    unsigned char buf[65536];
    size_t next = 0;
    long answers = 0, refills = 0;
    auto sendOne = [&] {
        const Bytes& r = requests[next++ % requests.size()];
        send(fd, r.data(), r.size(), 0);
    };
    // A first exchange proves the agent answers this kind of request (a busy machine may take
    // a while to schedule it).
    bool answered = false;
    for (int attempt = 0; attempt < 30 && !answered; ++attempt) {
        sendOne();
        answered = recv(fd, buf, sizeof buf, 0) > 0;
    }
    if (!answered) Die("the agent does not answer " + kind);
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    for (int i = 0; i < window; ++i) sendOne();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const double cpu0 = CpuSeconds();
    while (Clock::now() < end) {
        if (recv(fd, buf, sizeof buf, 0) > 0) {
            ++answers;
            sendOne();
        } else {
            for (int i = 0; i < window; ++i) sendOne();
            ++refills;
        }
    }
    const double elapsed = Seconds(Clock::now() - start);
    std::printf(
        "{\"answers_per_s\": %.1f, \"answers\": %ld, \"refills\": %ld, \"load_cpu_s\": %.3f}\n",
        static_cast<double>(answers) / elapsed, answers, refills, CpuSeconds() - cpu0);
    return 0;
}

// ---- Clients ----------------------------------------------------------------------------------

// Keeps `outstanding` Get requests in flight through a client-mode dispatcher.
class OurClient : public snmp::Requestor {
public:
    OurClient(const sockaddr_in& peer, int outstanding) : outstanding_(outstanding) {
        addr_ = brask::IpAddr(inet_ntoa(peer.sin_addr));
        port_ = ntohs(peer.sin_port);
        dispatcher_ =
            snmp::Dispatcher::Create(snmp::TypeClient, 0, 0, snmp::Dispatcher::SockTypeUdp);
        dispatcher_->SetQueueLimit(0);
        // Room for a whole window of answers at once: the default buffer holds
        // a few hundred, so a window of 10000 would overflow it.
        if (!snmp::SetSocketBufferSizes(*dispatcher_, 8u << 20, 32u << 20)) Die("socket buffers");
        brask::IpEndpoint local(brask::IpAddr("127.0.0.1"), 0);
        if (!dispatcher_->AddEndpoint(local, false)) Die("client endpoint");
        if (!dispatcher_->Start()) Die("client start");
    }
    ~OurClient() {
        dispatcher_->Stop();
        delete dispatcher_;
    }
    OurClient(const OurClient&) = delete;
    OurClient& operator=(const OurClient&) = delete;

    void Send() {
        auto* m = new snmp::Message();
        m->SetVersion(snmp::SnmpVersionV2c);
        m->SetCommunity("public");
        m->SetType(snmp::PduGetRequest);
        m->SetDstAddr(addr_);
        m->SetDstPort(port_);
        m->VarBinds() = names_;
        int id = 0;
        if (!dispatcher_->SendRequest(m, id, false, this)) {
            delete m;
            Die("SendRequest refused");
        }
        sent_.fetch_add(1);
    }

    void OnResponse(snmp::Dispatcher* /*dispatcher*/, snmp::Message* response) override {
        if (latency_) {
            {
                std::lock_guard<std::mutex> g(lock_);
                answered_ = true;
            }
            cv_.notify_one();
        }
        delete response;
        received_.fetch_add(1);
        if (sending_.load()) Send();
    }

    // Throughput with `outstanding_` requests in flight for `seconds`.
    void Throughput(double seconds) {
        names_ = SystemNames(1);
        const double cpu0 = CpuSeconds();
        const double switches0 = ContextSwitches();
        const Clock::time_point start = Clock::now();
        sending_ = true;
        for (int i = 0; i < outstanding_; ++i) Send();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        sending_ = false;
        const long received = received_.load();
        const double elapsed = Seconds(Clock::now() - start);
        const double cpu = CpuSeconds() - cpu0;
        const double switches = ContextSwitches() - switches0;
        // Stragglers: every request sent should still be answered.
        for (int i = 0; i < 100 && received_.load() < sent_.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::printf(
            "{\"tps\": %.1f, \"cpu_us_per_tx\": %.2f, \"switches_per_tx\": %.2f, "
            "\"sent\": %ld, \"answered\": %ld, \"lost\": %ld}\n",
            static_cast<double>(received) / elapsed, cpu * 1e6 / static_cast<double>(received),
            switches / static_cast<double>(received), sent_.load(), received_.load(),
            sent_.load() - received_.load());
    }

    // Round-trip times of `count` requests sent one at a time.
    std::vector<double> Latency(int count) {
        names_ = SystemNames(1);
        latency_ = true;
        std::vector<double> rtts;
        for (int i = 0; i < count; ++i) {
            std::unique_lock<std::mutex> g(lock_);
            answered_ = false;
            const Clock::time_point t0 = Clock::now();
            g.unlock();
            Send();
            g.lock();
            if (!cv_.wait_for(g, std::chrono::seconds(2), [this] { return answered_; }))
                Die("latency: request lost");
            rtts.push_back(Seconds(Clock::now() - t0) * 1e6);
        }
        return rtts;
    }

private:
    int outstanding_;
    brask::IpAddr addr_;
    unsigned short port_ = 0;
    snmp::Dispatcher* dispatcher_ = nullptr;
    snmp::VarBindList names_;
    std::atomic<long> sent_{0};
    std::atomic<long> received_{0};
    std::atomic<bool> sending_{false};
    bool latency_ = false;
    std::mutex lock_;
    std::condition_variable cv_;
    bool answered_ = false;
};

void PrintPercentiles(std::vector<double> rtts) {
    std::sort(rtts.begin(), rtts.end());
    const auto at = [&rtts](double q) {
        return rtts[std::min(rtts.size() - 1, static_cast<size_t>(q * rtts.size()))];
    };
    std::printf("{\"p50_us\": %.1f, \"p99_us\": %.1f, \"count\": %zu}\n", at(0.5), at(0.99),
                rtts.size());
}

int RunPingPong(const std::string& peer, int count) {
    const int fd = ClientSocket(Address(peer));
    SetReceiveTimeout(fd, 2000);
    const Bytes request =
        zkbench::Encode(zkbench::V2cMessage(snmp::PduGetRequest, SystemNames(1), 7));
    unsigned char buf[4096];
    std::vector<double> rtts;
    for (int i = 0; i < count; ++i) {
        const Clock::time_point t0 = Clock::now();
        send(fd, request.data(), request.size(), 0);
        if (recv(fd, buf, sizeof buf, 0) <= 0) Die("ping-pong: datagram lost");
        rtts.push_back(Seconds(Clock::now() - t0) * 1e6);
    }
    PrintPercentiles(rtts);
    return 0;
}

// The kernel's share of any client: the same pre-encoded Get kept
// `outstanding` deep on one blocking socket with no SNMP work at all, answers
// read in batches of up to 64 (recvmmsg) and as many requests sent back in one
// sendmmsg. No client can spend less CPU per transaction than this.
int RunRawClient(const std::string& peer, int outstanding, double seconds) {
    const int fd = ClientSocket(Address(peer));
    SetReceiveTimeout(fd, 1000);
    const Bytes request =
        zkbench::Encode(zkbench::V2cMessage(snmp::PduGetRequest, SystemNames(1), 7));
    constexpr int kBatch = 64;
    static unsigned char answers[kBatch][2048];
    iovec in[kBatch];
    iovec out{const_cast<unsigned char*>(request.data()), request.size()};
    mmsghdr rx[kBatch]{};
    mmsghdr tx[kBatch]{};
    for (int i = 0; i < kBatch; ++i) {
        in[i] = {answers[i], sizeof answers[i]};
        rx[i].msg_hdr.msg_iov = &in[i];
        rx[i].msg_hdr.msg_iovlen = 1;
        tx[i].msg_hdr.msg_iov = &out;
        tx[i].msg_hdr.msg_iovlen = 1;
    }
    long sent = 0;
    long received = 0;
    const auto send = [&](int n) {
        while (n > 0) {
            const int k = sendmmsg(fd, tx, static_cast<unsigned>(std::min(n, kBatch)), 0);
            if (k <= 0) Die("raw client: sendmmsg");
            n -= k;
            sent += k;
        }
    };
    const double cpu0 = CpuSeconds();
    const double switches0 = ContextSwitches();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    send(outstanding);
    while (Clock::now() < end) {
        const int k = recvmmsg(fd, rx, kBatch, MSG_WAITFORONE, nullptr);
        if (k <= 0) break;
        received += k;
        send(k);
    }
    const double elapsed = Seconds(Clock::now() - start);
    const double cpu = CpuSeconds() - cpu0;
    const double switches = ContextSwitches() - switches0;
    std::printf(
        "{\"tps\": %.1f, \"cpu_us_per_tx\": %.2f, \"switches_per_tx\": %.2f, \"sent\": %ld, "
        "\"answered\": %ld, \"lost\": 0}\n",
        static_cast<double>(received) / elapsed, cpu * 1e6 / static_cast<double>(received),
        switches / static_cast<double>(received), sent, received);
    return 0;
}

#ifdef ZK_HAVE_NETSNMP

// net-snmp's asynchronous single-session client keeping `outstanding` Gets in
// flight; no retries, so that every request is sent once.
struct NetSnmpClient {
    void* session = nullptr;
    std::vector<oid> name;
    long sent = 0, received = 0;
    bool sending = true;

    static int OnResponse(int op, netsnmp_session* /*s*/, int /*reqid*/, netsnmp_pdu* /*pdu*/,
                          void* magic) {
        auto* self = static_cast<NetSnmpClient*>(magic);
        if (op == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE) {
            ++self->received;
            if (self->sending) self->Send();
        }
        return 1;
    }

    void Send() {
        netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
        snmp_add_null_var(pdu, name.data(), name.size());
        if (snmp_sess_async_send(session, pdu, OnResponse, this) == 0) {
            snmp_free_pdu(pdu);
            Die("net-snmp send failed");
        }
        ++sent;
    }

    void Pump(int timeoutMs) {
        int fds = 0, block = 0;
        fd_set readable;
        FD_ZERO(&readable);
        timeval tv{0, 0};
        snmp_sess_select_info(session, &fds, &readable, &tv, &block);
        tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000L};
        if (select(fds, &readable, nullptr, nullptr, &tv) > 0) snmp_sess_read(session, &readable);
    }
};

int RunNetSnmpClient(const std::string& peer, int outstanding, double seconds) {
    zkbench::NetSnmpInit();
    netsnmp_session s;
    snmp_sess_init(&s);
    std::string peername = "udp:" + peer;
    s.peername = peername.data();
    s.version = SNMP_VERSION_2c;
    static char community[] = "public";
    s.community = reinterpret_cast<u_char*>(community);
    s.community_len = std::strlen(community);
    s.retries = 0;
    s.timeout = 30 * 1000000L;
    NetSnmpClient c;
    c.session = snmp_sess_open(&s);
    if (c.session == nullptr) Die("net-snmp session");
    c.name = {1, 3, 6, 1, 2, 1, 1, 1, 0};
    const double cpu0 = CpuSeconds();
    const double switches0 = ContextSwitches();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int i = 0; i < outstanding; ++i) c.Send();
    while (Clock::now() < end) c.Pump(50);
    c.sending = false;
    const long received = c.received;
    const double elapsed = Seconds(Clock::now() - start);
    const double cpu = CpuSeconds() - cpu0;
    const double switches = ContextSwitches() - switches0;
    // Stragglers: net-snmp reads one datagram per call, so pump until the
    // answers stop coming.
    for (Clock::time_point progress = Clock::now();
         c.received < c.sent && Clock::now() - progress < std::chrono::seconds(1);) {
        const long before = c.received;
        c.Pump(50);
        if (c.received != before) progress = Clock::now();
    }
    std::printf(
        "{\"tps\": %.1f, \"cpu_us_per_tx\": %.2f, \"switches_per_tx\": %.2f, \"sent\": %ld, "
        "\"answered\": %ld, \"lost\": %ld}\n",
        static_cast<double>(received) / elapsed, cpu * 1e6 / static_cast<double>(received),
        switches / static_cast<double>(received), c.sent, c.received, c.sent - c.received);
    snmp_sess_close(c.session);
    return 0;
}

#endif

int Usage() {
    std::fprintf(
        stderr,
        "usage: zkbench_net echo|responder HOST:PORT\n"
        "       zkbench_net load HOST:PORT v2c1|v2c10|v3|echo WINDOW SECONDS\n"
        "       zkbench_net client|netsnmp-client|raw-client HOST:PORT OUTSTANDING SECONDS\n"
        "       zkbench_net latency|pingpong HOST:PORT COUNT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string cmd = argv[1];
    const std::string peer = argv[2];
    snmp::Init();
    int rc = 2;
    if (cmd == "echo") {
        rc = RunEcho(peer);
    } else if (cmd == "responder") {
        rc = RunResponder(peer);
    } else if (cmd == "load" && argc == 6) {
        rc = RunLoad(peer, argv[3], std::atoi(argv[4]), std::atof(argv[5]));
    } else if (cmd == "client" && argc == 5) {
        OurClient client(Address(peer), std::atoi(argv[3]));
        client.Throughput(std::atof(argv[4]));
        rc = 0;
    } else if (cmd == "netsnmp-client" && argc == 5) {
#ifdef ZK_HAVE_NETSNMP
        rc = RunNetSnmpClient(peer, std::atoi(argv[3]), std::atof(argv[4]));
#else
        std::fprintf(stderr, "net-snmp (libsnmp-dev) not found: net-snmp client skipped\n");
        rc = 3;
#endif
    } else if (cmd == "raw-client" && argc == 5) {
        rc = RunRawClient(peer, std::atoi(argv[3]), std::atof(argv[4]));
    } else if (cmd == "latency" && argc == 4) {
        OurClient client(Address(peer), 1);
        PrintPercentiles(client.Latency(std::atoi(argv[3])));
        rc = 0;
    } else if (cmd == "pingpong" && argc == 4) {
        rc = RunPingPong(peer, std::atoi(argv[3]));
    } else {
        rc = Usage();
    }
    std::fflush(stdout);
    snmp::Shutdown();
    return rc;
}
