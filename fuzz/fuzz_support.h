// Pieces the libFuzzer harnesses share: the contract check, the engine and
// the users their seed corpora were built for, a table of those users'
// targets, the digest repair that lets mutated SNMPv3 datagrams pass
// authentication, and a socketless dispatcher stack fed one datagram at a time.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "snmp/dispatcher.h"
#include "snmp/dispatcher/dispatcher_imp.h"
#include "snmp/dispatcher/msg_queue.h"
#include "snmp/message.h"
#include "snmp/octet_string.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/transport/sock_processor.h"
#include "snmp/usm_attributes.h"

namespace zkfuzz {

// A broken contract: crash so that the fuzzer keeps the input.
inline void Require(bool ok) {
    if (!ok) std::abort();
}

// The engine 80001f8880aabbccdd00112233 of every SNMPv3 seed.
const snmp::OctetString& EngineId();

struct User {
    std::string name;
    snmp::USMAuthProtocol auth;
    snmp::USMPrivProtocol priv;
    std::string authPass;
    std::string privPass;
};

// "plain", "md5auth", "md5des" and "shades": the users of the dispatcher seeds.
std::vector<User> DispatcherUsers();

// The dispatcher users with "shaauth" (SHA-1, no privacy), in the order
// plain, md5auth, shaauth, md5des, shades.
std::vector<User> SeedUsers();

// OpenSSL's digest and the MAC length of an authentication protocol.
const EVP_MD* DigestOf(snmp::USMAuthProtocol auth, unsigned int& macLength);

// Users' targets by name.
class UserTable {
public:
    // Adds the target of `user`, made from `target` whose address, engine id
    // and clock the caller has set: SNMPv3 with the user's attributes and,
    // when the user authenticates, the keys localised to that engine.
    snmp::Target& Add(const User& user, std::unique_ptr<snmp::Target> target);

    // The target of the user `name`, or nullptr.
    snmp::Target* Find(const std::string& name) const;

private:
    std::map<std::string, std::unique_ptr<snmp::Target>> targets_;
};

// When `datagram` is an SNMPv3 message of a user in `users` with an
// authentication key and carries a digest of that protocol's length, writes
// the right HMAC into it; leaves it alone otherwise.
void RecomputeDigest(std::vector<unsigned char>& datagram, const UserTable& users);

// A dispatcher in client or server mode with its receiver, but no sockets and
// no threads: the harness hands it datagrams and plays the sender.
struct Stack {
    // Initialises the library; `host` is the server requestor (server mode).
    Stack(snmp::Type type, snmp::TargetLookup* lookup, snmp::ServerRequestor* host = nullptr);

    // Hands `size` octets to the receiver as one datagram from
    // 127.0.0.1:`fromPort` to `localPort`.
    void Deliver(const uint8_t* data, size_t size, unsigned short fromPort,
                 unsigned short localPort);

    // Encodes `out` as the sender would, dropping what cannot be encoded,
    // and deletes it.
    void EncodeAndDrop(snmp::Message* out);

    // The server's sender: encodes and drops every ready answer and Report,
    // checking that they leave in request id order; `inspect`, when given,
    // sees each one first.
    void SendResponses(const std::function<void(const snmp::Message&)>& inspect = nullptr);

    snmp::EndpointTable endpoints;
    std::unique_ptr<snmp::DispatcherImp> dispatcher;
    std::unique_ptr<snmp::MsgQueue> queue;  // the Client or Server
    std::unique_ptr<snmp::MsgReceiver> receiver;
    snmp::MsgEncBuf* encode = nullptr;
    std::string buffer;  // one maximum-size message
};

}  // namespace zkfuzz
