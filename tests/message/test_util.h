// Helpers shared by the message tests: hex conversion, value construction, and a target lookup
// that serves one stored target.
#ifndef TESTS_MESSAGE_TEST_UTIL_H
#define TESTS_MESSAGE_TEST_UTIL_H

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>
#include <string>
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
