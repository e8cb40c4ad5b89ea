// Pieces of the flood test: the agent it attacks (the real
// `zksnmp agent` server, on a free loopback port), its users, a small BER
// writer for datagrams the library would refuse to build, the live-heap
// reading used for the memory checks, and the run length.
#ifndef ZK_TESTS_ROBUSTNESS_SUPPORT_H
#define ZK_TESTS_ROBUSTNESS_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../tools/zksnmp/options.h"
#include "../../tools/zksnmp/server.h"
#include "snmp/octet_string.h"

namespace robustness {

// Seconds a test runs: the environment variable `name` when it holds a
// positive number (the long runs set it), else `fallback` (the CI length).
double RunSeconds(const char* name, double fallback);

// Bytes of heap memory in use now, by the sanitizer's allocator when one is
// built in, else by glibc's.
size_t LiveHeapBytes();

// The agent's engine id and its users: "plain" (no authentication),
// "shaauth" (authentication only), "md5des" and "shades" (with privacy).
snmp::OctetString AgentEngineId();
std::vector<zksnmp::UserSpec> AgentUsers();
// Options of an agent on 127.0.0.1 with a port the system picks, read-only
// community "public", read-write community "private", the users above.
zksnmp::ServerOptions AgentOptions();
// Options of a manager session against the agent on `port`; the timeout is
// per attempt.
zksnmp::ClientOptions CommunityClient(unsigned short port, snmp::SnmpVersion version,
                                      const std::string& community, double timeout, int retries);
zksnmp::ClientOptions UserClient(unsigned short port, const std::string& user, double timeout,
                                 int retries);

// A minimal BER writer: enough for requests of every version with chosen
// (also wrong) fields.
using Bytes = std::vector<unsigned char>;
Bytes Tlv(unsigned int tag, const Bytes& content);
Bytes Int(long long value);
Bytes Octets(const std::string& text);
Bytes Oid(const std::vector<unsigned int>& arcs);
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Seq(std::initializer_list<Bytes> parts);
// A Get of `arcs` (value NULL) with request id `id`.
Bytes GetPdu(int id, const std::vector<unsigned int>& arcs);
// An SNMPv1/v2c message: version field, community, PDU.
Bytes CommunityMessage(long long version, const std::string& community, const Bytes& pdu);
// An SNMPv3 reportable message for the agent's engine (boots 1, time 0),
// flags `flags`, with `digest` as authentication parameters.
Bytes UserMessage(const std::string& user, unsigned char flags, const Bytes& digest,
                  const Bytes& pdu);

// A small deterministic generator for mutations.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed | 1) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint32_t>(state_ >> 11);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }

private:
    uint64_t state_;
};

}  // namespace robustness

#endif
