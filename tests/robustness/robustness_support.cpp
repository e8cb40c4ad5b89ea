// Pieces of the flood test (see robustness_support.h).
#include "robustness_support.h"

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

namespace robustness {

double RunSeconds(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr) {
        return fallback;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && value > 0 ? value : fallback;
}

size_t LiveHeapBytes() {
#ifdef ZK_SANITIZER_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

snmp::OctetString AgentEngineId() {
    return snmp::OctetString(
        std::string("\x80\x00\x1f\x88\x80\x52\x4f\x42\x55\x53\x54\x21\x01", 13));
}

std::vector<zksnmp::UserSpec> AgentUsers() {
    std::vector<zksnmp::UserSpec> users(4);
    users[0].name = "plain";
    users[1].name = "shaauth";
    users[1].auth = snmp::USMAuthSHA1;
    users[1].authPass = "shaauthpass";
    users[2].name = "md5des";
    users[2].auth = snmp::USMAuthMD5;
    users[2].authPass = "md5authpass";
    users[2].priv = snmp::USMPrivDES;
    users[2].privPass = "md5despass";
    users[3].name = "shades";
    users[3].auth = snmp::USMAuthSHA1;
    users[3].authPass = "shaauthpass";
    users[3].priv = snmp::USMPrivDES;
    users[3].privPass = "shadespass";
    return users;
}

zksnmp::ServerOptions AgentOptions() {
    zksnmp::ServerOptions o;
    o.listen = "127.0.0.1:0";
    o.addr = 0x7F000001;
    o.port = 0;
    o.roCommunities = {"public"};
    o.rwCommunities = {"private"};
    o.users = AgentUsers();
    for (const zksnmp::UserSpec& u : o.users) o.rwUsers.insert(u.name);
    o.engineId = AgentEngineId();
    o.rows = 20;
    return o;
}

zksnmp::ClientOptions CommunityClient(unsigned short port, snmp::SnmpVersion version,
                                      const std::string& community, double timeout, int retries) {
    zksnmp::ClientOptions o;
    o.version = version;
    o.community = community;
    o.timeout = timeout;
    o.retries = retries;
    o.host = "127.0.0.1";
    o.addr = 0x7F000001;
    o.port = port;
    return o;
}

zksnmp::ClientOptions UserClient(unsigned short port, const std::string& user, double timeout,
                                 int retries) {
    zksnmp::ClientOptions o = CommunityClient(port, snmp::SnmpVersionV3, "", timeout, retries);
    for (const zksnmp::UserSpec& u : AgentUsers()) {
        if (u.name == user) {
            o.user = u;
            o.level = zksnmp::LevelOf(u);
        }
    }
    return o;
}

Bytes Tlv(unsigned int tag, const Bytes& content) {
    Bytes out{static_cast<unsigned char>(tag)};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        Bytes length;
        for (size_t v = n; v != 0; v >>= 8) {
            length.insert(length.begin(), static_cast<unsigned char>(v & 0xFF));
        }
        out.push_back(static_cast<unsigned char>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Int(long long value) {
    Bytes content;
    // Big-endian two's complement, minimal: drop leading octets that only
    // repeat the sign.
    for (int shift = 56; shift >= 0; shift -= 8) {
        content.push_back(static_cast<unsigned char>(
            (static_cast<unsigned long long>(value) >> static_cast<unsigned>(shift)) & 0xFF));
    }
    while (content.size() > 1 && ((content[0] == 0x00 && (content[1] & 0x80) == 0) ||
                                  (content[0] == 0xFF && (content[1] & 0x80) != 0))) {
        content.erase(content.begin());
    }
    return Tlv(0x02, content);
}

Bytes Octets(const std::string& text) {
    return Tlv(0x04, Bytes(text.begin(), text.end()));
}

Bytes Oid(const std::vector<unsigned int>& arcs) {
    Bytes content;
    std::vector<unsigned int> subs{arcs.at(0) * 40 + arcs.at(1)};
    subs.insert(subs.end(), arcs.begin() + 2, arcs.end());
    for (unsigned int sub : subs) {
        Bytes chunk{static_cast<unsigned char>(sub & 0x7F)};
        for (sub >>= 7; sub != 0; sub >>= 7) {
            chunk.insert(chunk.begin(), static_cast<unsigned char>(0x80 | (sub & 0x7F)));
        }
        content.insert(content.end(), chunk.begin(), chunk.end());
    }
    return Tlv(0x06, content);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Seq(std::initializer_list<Bytes> parts) {
    return Tlv(0x30, Cat(parts));
}

Bytes GetPdu(int id, const std::vector<unsigned int>& arcs) {
    const Bytes binding = Seq({Oid(arcs), Bytes{0x05, 0x00}});
    return Tlv(0xA0, Cat({Int(id), Int(0), Int(0), Seq({binding})}));
}

Bytes CommunityMessage(long long version, const std::string& community, const Bytes& pdu) {
    return Seq({Int(version), Octets(community), pdu});
}

Bytes UserMessage(const std::string& user, unsigned char flags, const Bytes& digest,
                  const Bytes& pdu) {
    const snmp::OctetString engine = AgentEngineId();
    const std::string engineText(reinterpret_cast<const char*>(engine.Data()), engine.Size());
    const Bytes usm =
        Seq({Octets(engineText), Int(1), Int(0), Octets(user), Tlv(0x04, digest), Octets("")});
    const Bytes global =
        Seq({Int(4242), Int(1400), Octets(std::string(1, static_cast<char>(flags))), Int(3)});
    return Seq({Int(3), global, Tlv(0x04, usm), Seq({Octets(engineText), Octets(""), pdu})});
}

}  // namespace robustness
