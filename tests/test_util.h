// Helpers shared by the codec, message, security, transport and robustness tests: hex, BER
// elements and messages built by hand, encoding and decoding into byte vectors with the exception
// type as the result, and the `key value` cases files of recorded peer datagrams
// (tests/message/golden/README.md).
#ifndef TESTS_TEST_UTIL_H
#define TESTS_TEST_UTIL_H

#include <algorithm>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "snmp/asn_value.h"
#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"
#include "snmp/var_bind.h"

namespace zktest {

using Bytes = std::vector<unsigned char>;

// Hex text to bytes; blanks are ignored.
inline Bytes FromHex(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    if (digits.size() % 2 != 0) throw std::invalid_argument(text);
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline snmp::OctetString Octets(const std::string& hex) {
    const Bytes bytes = FromHex(hex);
    return snmp::OctetString(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

inline std::string ToHex(const unsigned char* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}
inline std::string ToHex(const Bytes& b) {
    return ToHex(b.data(), b.size());
}
inline std::string ToHex(const snmp::OctetString& s) {
    return ToHex(s.Data(), s.Size());
}

// A BER element with its definite length in the shortest form (up to 65535 octets).
inline Bytes Tlv(unsigned int tag, const Bytes& content) {
    Bytes out{static_cast<unsigned char>(tag)};
    const size_t n = content.size();
    if (n >= 256) out.push_back(0x82);
    if (n >= 256) out.push_back(static_cast<unsigned char>(n >> 8));
    if (n >= 128 && n < 256) out.push_back(0x81);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// An INTEGER in its shortest two's complement form.
inline Bytes Int(long long v) {
    Bytes content;
    for (int shift = 56; shift > 0; shift -= 8) {
        const long long rest = v >> (shift - 1);  // the octet's sign bit and everything above it
        if (!content.empty() || (rest != 0 && rest != -1))
            content.push_back(static_cast<unsigned char>(v >> shift));
    }
    content.push_back(static_cast<unsigned char>(v));
    return Tlv(0x02, content);
}

inline Bytes Str(const std::string& s, unsigned int tag = 0x04) {
    return Tlv(tag, Bytes(s.begin(), s.end()));
}

// A GetRequest PDU for sysDescr.0 with request id `id`.
inline Bytes GetPdu(int id) {
    const Bytes binding = Tlv(0x30, FromHex("06082b06010201010100 0500"));
    return Tlv(0xA0, Cat({Int(id), Int(0), Int(0), Tlv(0x30, binding)}));
}

// An SNMPv3 message with msgID `msgId` and msgFlags `flags`: USM parameters for `engineId`
// (boots 1, time 0), `user` and `digest`, without privacy; `pdu` in that engine's default context.
inline Bytes V3Message(int msgId, unsigned char flags, const std::string& engineId,
                       const std::string& user, const Bytes& digest, const Bytes& pdu) {
    const Bytes usm =
        Tlv(0x30, Cat({Str(engineId), Int(1), Int(0), Str(user), Tlv(0x04, digest), Str("")}));
    const Bytes global = Tlv(0x30, Cat({Int(msgId), Int(1400), Tlv(0x04, {flags}), Int(3)}));
    return Tlv(
        0x30, Cat({Int(3), global, Tlv(0x04, usm), Tlv(0x30, Cat({Str(engineId), Str(""), pdu}))}));
}

inline snmp::ObjectId Oid(const std::string& text) {
    snmp::ObjectId oid;
    if (!oid.Set(text)) throw std::invalid_argument(text);
    return oid;
}

inline snmp::VarBind NullBind(const std::string& oid) {
    return snmp::VarBind(Oid(oid), snmp::AsnValue());
}

inline snmp::VarBind StringBind(const std::string& oid, const std::string& text) {
    snmp::AsnValue value(0x04);
    value.SetString(snmp::OctetString(text));
    return snmp::VarBind(Oid(oid), value);
}

// Runs `f` and returns the snmp::Exception type it throws (its text in `descr`), or -1.
inline int ThrownType(const std::function<void()>& f, std::string* descr = nullptr) {
    try {
        f();
    } catch (const snmp::Exception& e) {
        if (descr != nullptr) *descr = e.Descr();
        return e.Type();
    }
    return -1;
}

// Encodes `msg` into a buffer of `capacity` bytes and returns the datagram.
inline Bytes EncodeToBytes(const snmp::Message& msg, unsigned int capacity = 65535) {
    Bytes buffer(capacity);
    unsigned int size = capacity;
    msg.Encode(buffer.data(), size, false);
    buffer.resize(size);
    return buffer;
}

inline int EncodeType(const snmp::Message& msg, unsigned int capacity = 65535,
                      std::string* descr = nullptr) {
    return ThrownType([&] { EncodeToBytes(msg, capacity); }, descr);
}

// Decodes `bytes` from a heap buffer of exactly their size (so ASan sees any read beyond it) and
// returns the exception type, or -1 on success.
inline int DecodeType(snmp::Message& msg, const Bytes& bytes, std::string* descr = nullptr) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return ThrownType([&] { msg.Decode(copy.get(), static_cast<unsigned int>(bytes.size())); },
                      descr);
}

// One block of `key value` lines of a cases file; `vb` lines are kept in order as bindings.
struct CaseBlock {
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<std::string> bindings;

    bool Has(const std::string& key) const {
        return std::any_of(fields.begin(), fields.end(),
                           [&key](const auto& f) { return f.first == key; });
    }
    const std::string& Get(const std::string& key) const {
        for (const auto& f : fields)
            if (f.first == key) return f.second;
        throw std::runtime_error("case without " + key);
    }
    // A recorded value, with "-" standing for empty.
    std::string Value(const std::string& key) const { return Get(key) == "-" ? "" : Get(key); }
    long long Int(const std::string& key) const { return std::stoll(Get(key)); }
};

// Appends the cases of `path` (relative to the test's source folder, where CTest runs it).
inline void LoadCaseBlocks(const std::string& path, std::vector<CaseBlock>& cases) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    CaseBlock current;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            if (!current.fields.empty()) cases.push_back(std::move(current));
            current = CaseBlock();
            continue;
        }
        if (line[0] == '#') continue;
        const size_t space = line.find(' ');
        std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (line.compare(0, space, "vb") == 0) {
            current.bindings.push_back(std::move(value));
        } else {
            current.fields.emplace_back(line.substr(0, space), std::move(value));
        }
    }
    if (!current.fields.empty()) cases.push_back(std::move(current));
}

// A value in the cases files' notation.
inline std::string ValueText(const snmp::AsnValue& v) {
    const unsigned int t = v.Type();
    if (t == 0x02) return std::to_string(v.Integer());
    if (t == 0x04 || t == 0x40 || t == 0x44) return v.String().Empty() ? "-" : ToHex(v.String());
    if (t == 0x41 || t == 0x42 || t == 0x43 || t == 0x47) return std::to_string(v.Unsigned());
    if (t == 0x46) return std::to_string(v.Counter64());
    if (t != 0x06) return "-";
    std::ostringstream os;
    os << v.Objid();
    return os.str();
}

// The bindings of `m` as "name tag value" texts, as the cases files' `vb` lines hold them.
inline std::vector<std::string> BindingsText(const snmp::Message& m) {
    std::vector<std::string> out;
    for (const snmp::VarBind& vb : m.VarBinds()) {
        std::ostringstream os;
        os << vb.Objid() << " " << vb.Value().Type() << " " << ValueText(vb.Value());
        out.push_back(os.str());
    }
    return out;
}

// Serves one target for every message (what the security processing learns is not kept):
// the SNMPv3 noAuthNoPriv user "alice" with no engine data yet; `known` false serves none.
class OneTargetLookup : public snmp::TargetLookup {
public:
    explicit OneTargetLookup(snmp::Type type, bool known = true)
        : snmp::TargetLookup(type), known_(known) {
        target.SetVersion(snmp::SnmpVersionV3);
        auto* attributes = new snmp::USMAttributes(snmp::USMAuthNone, snmp::USMPrivNone);
        attributes->SetUserName("alice");
        target.SetSecAttributes(attributes);
    }
    snmp::Target* FindTarget(const snmp::Message&) override { return known_ ? &target : nullptr; }

    snmp::Target target;

private:
    bool known_;
};

}  // namespace zktest

#endif
