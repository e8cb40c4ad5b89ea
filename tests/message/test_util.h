// Helpers shared by the message tests: hex conversion, value construction, and a target lookup
// that serves one stored target.
#ifndef TESTS_MESSAGE_TEST_UTIL_H
#define TESTS_MESSAGE_TEST_UTIL_H

#include <algorithm>
#include <cctype>
#include <fstream>
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
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument(text);
        const int nibble = std::isdigit(static_cast<unsigned char>(c))
                               ? c - '0'
                               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (high < 0) {
            high = nibble;
        } else {
            out.push_back(static_cast<unsigned char>(high << 4 | nibble));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument(text);
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

inline snmp::ObjectId Oid(const std::string& text) {
    snmp::ObjectId oid;
    if (!oid.Set(text)) throw std::invalid_argument(text);
    return oid;
}

inline snmp::VarBind NullBind(const std::string& oid) {
    return snmp::VarBind(Oid(oid), snmp::AsnValue());
}

inline snmp::VarBind StringBind(const std::string& oid, const std::string& text,
                                unsigned int type = 0x04) {
    snmp::AsnValue value(type);
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

// Decodes `bytes` from a heap buffer of exactly their size (so ASan sees any read beyond it) and
// returns the exception type, or -1 on success.
inline int DecodeType(snmp::Message& msg, const Bytes& bytes) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    try {
        msg.Decode(copy.get(), static_cast<unsigned int>(bytes.size()));
        return -1;
    } catch (const snmp::Exception& e) {
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

    const std::string& Get(const std::string& key) const {
        for (const auto& f : fields) {
            if (f.first == key) return f.second;
        }
        throw std::runtime_error(name + ": no field " + key);
    }
    bool Has(const std::string& key) const {
        for (const auto& f : fields) {
            if (f.first == key) return true;
        }
        return false;
    }
    int Int(const std::string& key) const { return static_cast<int>(std::stoll(Get(key))); }
};

inline std::vector<CaseBlock> LoadCaseBlocks(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<CaseBlock> cases;
    CaseBlock current;
    std::string line;
    auto flush = [&]() {
        if (!current.name.empty()) cases.push_back(current);
        current = CaseBlock();
    };
    while (std::getline(in, line)) {
        if (line.empty()) {
            flush();
            continue;
        }
        if (line[0] == '#') continue;
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
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
    flush();
    return cases;
}

// The value in the cases file's notation, from a decoded value.
inline std::string ValueText(const snmp::AsnValue& v) {
    switch (v.Type()) {
        case 0x02:
            return std::to_string(v.Integer());
        case 0x04:
        case 0x40:
        case 0x44:
            return v.String().Empty() ? "-" : ToHex(v.String().Data(), v.String().Size());
        case 0x06: {
            std::ostringstream os;
            os << v.Objid();
            return os.str();
        }
        case 0x41:
        case 0x42:
        case 0x43:
        case 0x47:
            return std::to_string(v.Unsigned());
        case 0x46:
            return std::to_string(v.Counter64());
        default:
            return "-";
    }
}

// Serves one target for every message, counting its calls; `known` false serves none.
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
    snmp::Target* FindTarget(const snmp::Message&) override {
        ++finds;
        return known_ ? &target : nullptr;
    }
    void UpdateTarget(snmp::Target* updated, const snmp::Message&) override {
        ++updates;
        target.SetEngineId(updated->EngineId());
        target.SetAuthKey(updated->AuthKey());
        target.SetPrivKey(updated->PrivKey());
        target.SetEngineBoots(updated->EngineBoots());
        target.SetLastEngineTime(updated->LastEngineTime());
    }

    snmp::Target target;
    int finds = 0;
    int updates = 0;

private:
    bool known_;
};

}  // namespace msgtest

#endif
