// Helpers shared by the message tests: hex conversion, building BER elements and values,
// encoding and decoding into byte vectors, the cases files, and a target lookup serving one target.
#ifndef TESTS_MESSAGE_TEST_UTIL_H
#define TESTS_MESSAGE_TEST_UTIL_H

#include <algorithm>
#include <fstream>
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
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"
#include "snmp/var_bind.h"

namespace msgtest {

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

inline std::string ToHex(const unsigned char* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

inline std::string ToHex(const Bytes& bytes) {
    return ToHex(bytes.data(), bytes.size());
}

// A BER element with its definite length in the shortest form.
inline Bytes Tlv(unsigned int tag, const Bytes& content) {
    Bytes out{static_cast<unsigned char>(tag)};
    const size_t n = content.size();
    if (n >= 256) out.insert(out.end(), {0x82, static_cast<unsigned char>(n >> 8)});
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
inline Bytes Int(int v) {
    Bytes content;
    for (int shift = 24; shift > 0; shift -= 8) {
        const int rest = v >> (shift - 1);  // the octet's sign bit and everything above it
        if (!content.empty() || (rest != 0 && rest != -1))
            content.push_back(static_cast<unsigned char>(v >> shift));
    }
    content.push_back(static_cast<unsigned char>(v));
    return Tlv(0x02, content);
}

inline Bytes Str(const std::string& s, unsigned int tag = 0x04) {
    return Tlv(tag, Bytes(s.begin(), s.end()));
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

// Encodes `msg` into a buffer of `capacity` bytes and returns the datagram.
inline Bytes EncodeToBytes(const snmp::Message& msg, unsigned int capacity = 65535) {
    Bytes buffer(capacity);
    unsigned int size = capacity;
    msg.Encode(buffer.data(), size, false);
    buffer.resize(size);
    return buffer;
}

// The exception type encoding `msg` into `capacity` bytes raises, or -1 on success.
inline int EncodeType(const snmp::Message& msg, unsigned int capacity = 65535,
                      std::string* descr = nullptr) {
    try {
        EncodeToBytes(msg, capacity);
        return -1;
    } catch (const snmp::Exception& e) {
        if (descr != nullptr) *descr = e.Descr();
        return e.Type();
    }
}

// Decodes `bytes` from a heap buffer of exactly their size (so ASan sees any read beyond it) and
// returns the exception type, or -1 on success.
inline int DecodeType(snmp::Message& msg, const Bytes& bytes, std::string* descr = nullptr) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    try {
        msg.Decode(copy.get(), static_cast<unsigned int>(bytes.size()));
        return -1;
    } catch (const snmp::Exception& e) {
        if (descr != nullptr) *descr = e.Descr();
        return e.Type();
    }
}

// One `vb <oid> <tag> <value>` line of a cases file.
struct CaseBinding {
    std::string oid;
    unsigned int tag = 0;
    std::string value;
};

// One block of `key value` lines of a cases file (tests/message/golden/README.md).
struct CaseBlock {
    std::string name;
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<CaseBinding> bindings;
    std::string hex;

    bool Has(const std::string& key) const {
        return std::any_of(fields.begin(), fields.end(),
                           [&key](const auto& f) { return f.first == key; });
    }
    const std::string& Get(const std::string& key) const {
        for (const auto& f : fields)
            if (f.first == key) return f.second;
        throw std::runtime_error(name + ": no field " + key);
    }
    int Int(const std::string& key) const { return static_cast<int>(std::stoll(Get(key))); }
};

inline std::vector<CaseBlock> LoadCaseBlocks(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<CaseBlock> cases(1);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            if (!cases.back().name.empty()) cases.emplace_back();
            continue;
        }
        if (line[0] == '#') continue;
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        CaseBlock& current = cases.back();
        if (key == "name") {
            current.name = value;
        } else if (key == "hex") {
            current.hex = value;
        } else if (key == "vb") {
            std::istringstream parts(value);
            CaseBinding b;
            parts >> b.oid >> b.tag >> b.value;
            current.bindings.push_back(b);
        } else {
            current.fields.emplace_back(key, value);
        }
    }
    if (cases.back().name.empty()) cases.pop_back();
    return cases;
}

// The value in the cases file's notation, from a decoded value.
inline std::string ValueText(const snmp::AsnValue& v) {
    const unsigned int t = v.Type();
    if (t == 0x02) return std::to_string(v.Integer());
    if (t == 0x04 || t == 0x40 || t == 0x44)
        return v.String().Empty() ? "-" : ToHex(v.String().Data(), v.String().Size());
    if (t == 0x41 || t == 0x42 || t == 0x43 || t == 0x47) return std::to_string(v.Unsigned());
    if (t == 0x46) return std::to_string(v.Counter64());
    if (t != 0x06) return "-";
    std::ostringstream os;
    os << v.Objid();
    return os.str();
}

// The bindings of `m` as "name tag value" lines in the cases files' notation.
inline std::string BindingsText(const snmp::Message& m) {
    std::ostringstream os;
    for (const snmp::VarBind& vb : m.VarBinds())
        os << vb.Objid() << " " << vb.Value().Type() << " " << ValueText(vb.Value()) << "\n";
    return os.str();
}

// Bindings from a cases file in the notation of BindingsText.
inline std::string BindingsText(const std::vector<CaseBinding>& bindings) {
    std::ostringstream os;
    for (const CaseBinding& b : bindings) os << b.oid << " " << b.tag << " " << b.value << "\n";
    return os.str();
}

// Serves one target for every message (what the security processing learns is not kept);
// `known` false serves none.
class OneTargetLookup : public snmp::TargetLookup {
public:
    // The default target is the SNMPv3 noAuthNoPriv user "alice" with no engine data yet.
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

}  // namespace msgtest

#endif
