// Codec figures: encoding and decoding of the messages an SNMP manager handles
// most, by this library and by net-snmp on the same bytes, with the heap
// allocations each message costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "bench_support.h"
#include "netsnmp_peer.h"
#include "snmp/init.h"

namespace {

using zkbench::Bytes;

// Per-message counters every codec figure reports.
void Report(benchmark::State& state, std::uint64_t allocsBefore, int bindings, size_t bytes) {
    const double n = static_cast<double>(state.iterations());
    state.counters["allocs_per_msg"] =
        static_cast<double>(zkbench::HeapAllocations() - allocsBefore) / n;
    state.counters["bindings"] = bindings;
    state.counters["bytes"] = static_cast<double>(bytes);
}

// The datagrams of the decode figures, encoded once.
const Bytes& Response10() {
    static const Bytes bytes = zkbench::Encode(
        zkbench::V2cMessage(snmp::PduResponse, zkbench::MixedBindings(10, 12), 0x1234567));
    return bytes;
}

const Bytes& Bulk50() {
    static const Bytes bytes = zkbench::Encode(
        zkbench::V2cMessage(snmp::PduResponse, zkbench::MixedBindings(50, 20), 0x1234567));
    return bytes;
}

void BM_Encode_V2cGet10_Ours(benchmark::State& state) {
    snmp::Message m = zkbench::V2cMessage(snmp::PduGetRequest, zkbench::NullBindings(10), 1);
    unsigned char out[1500];
    unsigned int size = sizeof out;
    m.Encode(out, size, false);  // steady state: the encode record exists
    int id = 1;
    const std::uint64_t before = zkbench::HeapAllocations();
    for (auto _ : state) {
        m.SetRequestId(++id);
        size = sizeof out;
        m.Encode(out, size, false);
        benchmark::DoNotOptimize(out);
    }
    Report(state, before, 10, size);
}

void BM_Decode_Ours(benchmark::State& state, const Bytes& (*datagram)(), int bindings) {
    const Bytes* bytes = &datagram();
    snmp::Message m;
    m.Decode(bytes->data(), static_cast<unsigned int>(bytes->size()));
    if (static_cast<int>(m.VarBinds().size()) != bindings) throw std::runtime_error("decode");
    const std::uint64_t before = zkbench::HeapAllocations();
    for (auto _ : state) {
        m.Decode(bytes->data(), static_cast<unsigned int>(bytes->size()));
        benchmark::DoNotOptimize(m.VarBinds().size());
    }
    Report(state, before, bindings, bytes->size());
}

// SNMPv3 authPriv (HMAC-SHA-96, CBC-DES), manager side: encode a Get of 10
// names, and decode the agent's 10-binding response.
struct V3Fixture {
    V3Fixture()
        : clientLookup(snmp::TypeClient, zkbench::V3Target(zkbench::EngineId(), 5, 1000)),
          agentLookup(snmp::TypeServer, zkbench::V3Target(zkbench::EngineId(), 5, 1000)) {
        snmp::Message response =
            zkbench::V3Message(snmp::PduResponse, zkbench::MixedBindings(10, 12), 77,
                               agentLookup.Stored(), agentLookup);
        response.SetReportable(false);
        response.SetContextEngineId(zkbench::EngineId());
        responseBytes = zkbench::Encode(response);
    }
    zkbench::OneTargetLookup clientLookup;
    zkbench::OneTargetLookup agentLookup;
    Bytes responseBytes;
};

V3Fixture& V3() {
    static V3Fixture f;
    return f;
}

void BM_Encode_V3AuthPrivGet10_Ours(benchmark::State& state) {
    V3Fixture& f = V3();
    snmp::Message m = zkbench::V3Message(snmp::PduGetRequest, zkbench::NullBindings(10), 1,
                                         f.clientLookup.Stored(), f.clientLookup);
    unsigned char out[1500];
    unsigned int size = sizeof out;
    m.Encode(out, size, false);
    int id = 1;
    const std::uint64_t before = zkbench::HeapAllocations();
    for (auto _ : state) {
        m.SetRequestId(++id);
        size = sizeof out;
        m.Encode(out, size, false);
        benchmark::DoNotOptimize(out);
    }
    Report(state, before, 10, size);
}

void BM_Decode_V3AuthPrivResponse10_Ours(benchmark::State& state) {
    V3Fixture& f = V3();
    snmp::Message m;
    m.InitSecurity(&f.clientLookup);
    m.Decode(f.responseBytes.data(), static_cast<unsigned int>(f.responseBytes.size()));
    if (m.VarBinds().size() != 10) throw std::runtime_error("v3 decode");
    const std::uint64_t before = zkbench::HeapAllocations();
    for (auto _ : state) {
        m.Decode(f.responseBytes.data(), static_cast<unsigned int>(f.responseBytes.size()));
        benchmark::DoNotOptimize(m.VarBinds().size());
    }
    Report(state, before, 10, f.responseBytes.size());
}

#ifdef ZK_HAVE_NETSNMP

void BM_Encode_V2cGet10_NetSnmp(benchmark::State& state) {
    zkbench::NetSnmpCodec codec;
    netsnmp_pdu* pdu = codec.NullPdu(SNMP_MSG_GET, zkbench::NullBindings(10));
    Bytes out;
    long id = 1;
    pdu->reqid = id;
    if (!codec.Build(pdu, out)) throw std::runtime_error("net-snmp build");
    const std::uint64_t before = zkbench::HeapAllocations();
    for (auto _ : state) {
        pdu->reqid = ++id;
        codec.Build(pdu, out);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, before, 10, out.size());
    snmp_free_pdu(pdu);
}

void DecodeLoop(benchmark::State& state, zkbench::NetSnmpCodec& codec, const Bytes& bytes,
                int bindings) {
    // net-snmp works on the datagram in place (it zeroes the digest field), so
    // each parse gets a fresh copy, as a receive buffer would be.
    Bytes scratch = bytes;
    netsnmp_pdu* check = codec.Parse(scratch.data(), scratch.size());
    if (check == nullptr) throw std::runtime_error("net-snmp parse");
    int count = 0;
    for (netsnmp_variable_list* v = check->variables; v != nullptr; v = v->next_variable) ++count;
    snmp_free_pdu(check);
    if (count != bindings) throw std::runtime_error("net-snmp parse count");
    const std::uint64_t before = zkbench::HeapAllocations();
    for (auto _ : state) {
        std::memcpy(scratch.data(), bytes.data(), bytes.size());
        netsnmp_pdu* pdu = codec.Parse(scratch.data(), scratch.size());
        benchmark::DoNotOptimize(pdu);
        snmp_free_pdu(pdu);
    }
    Report(state, before, bindings, bytes.size());
}

void BM_Decode_NetSnmp(benchmark::State& state, const Bytes& (*datagram)(), int bindings) {
    zkbench::NetSnmpCodec codec;
    DecodeLoop(state, codec, datagram(), bindings);
}

// One SNMPv3 session for the process: net-snmp keeps its users process-wide.
zkbench::NetSnmpCodec& NetSnmpV3() {
    static zkbench::NetSnmpCodec codec(zkbench::EngineId());
    return codec;
}

void BM_Encode_V3AuthPrivGet10_NetSnmp(benchmark::State& state) {
    zkbench::NetSnmpCodec& codec = NetSnmpV3();
    netsnmp_pdu* pdu = codec.NullPdu(SNMP_MSG_GET, zkbench::NullBindings(10));
    Bytes out;
    long id = 1;
    pdu->reqid = pdu->msgid = id;
    if (!codec.Build(pdu, out)) throw std::runtime_error("net-snmp v3 build");
    const std::uint64_t before = zkbench::HeapAllocations();
    for (auto _ : state) {
        pdu->reqid = pdu->msgid = ++id;
        codec.Build(pdu, out);
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, before, 10, out.size());
    snmp_free_pdu(pdu);
}

void BM_Decode_V3AuthPrivResponse10_NetSnmp(benchmark::State& state) {
    V3Fixture& f = V3();
    DecodeLoop(state, NetSnmpV3(), f.responseBytes, 10);
}

#endif

}  // namespace

BENCHMARK(BM_Encode_V2cGet10_Ours);
BENCHMARK_CAPTURE(BM_Decode_Ours, V2cResponse10, Response10, 10);
BENCHMARK_CAPTURE(BM_Decode_Ours, V2cBulk50, Bulk50, 50);
BENCHMARK(BM_Encode_V3AuthPrivGet10_Ours);
BENCHMARK(BM_Decode_V3AuthPrivResponse10_Ours);
#ifdef ZK_HAVE_NETSNMP
BENCHMARK(BM_Encode_V2cGet10_NetSnmp);
BENCHMARK_CAPTURE(BM_Decode_NetSnmp, V2cResponse10, Response10, 10);
BENCHMARK_CAPTURE(BM_Decode_NetSnmp, V2cBulk50, Bulk50, 50);
BENCHMARK(BM_Encode_V3AuthPrivGet10_NetSnmp);
BENCHMARK(BM_Decode_V3AuthPrivResponse10_NetSnmp);
#endif

int main(int argc, char** argv) {
    snmp::Init();
#ifndef ZK_HAVE_NETSNMP
    std::fprintf(stderr, "net-snmp (libsnmp-dev) not found: net-snmp codec figures skipped\n");
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    snmp::Shutdown();
    return 0;
}
