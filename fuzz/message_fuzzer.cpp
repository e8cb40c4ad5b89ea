// libFuzzer target for message decoding: the input is one datagram of any version, held in an
// allocation of exactly its size so that the address sanitizer reports any read beyond it. Each
// input is decoded twice, once with a target lookup that knows nobody (SNMPv3 stops at the USM
// step) and once with one that knows a noAuthNoPriv user (SNMPv3 goes on into the scoped PDU).
// A decoded message must keep the datagram's bytes, print, and encode into a datagram that
// decodes to the same PDU.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "snmp/exception.h"
#include "snmp/message.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace {

// A broken contract: crash so that the fuzzer keeps the input.
void Require(bool ok) {
    if (!ok) std::abort();
}

class FuzzLookup : public snmp::TargetLookup {
public:
    explicit FuzzLookup(bool known) : snmp::TargetLookup(snmp::TypeServer), known_(known) {
        target_.SetVersion(snmp::SnmpVersionV3);
        auto* attributes = new snmp::USMAttributes(snmp::USMAuthNone, snmp::USMPrivNone);
        attributes->SetUserName("fuzz");
        target_.SetSecAttributes(attributes);
        target_.SetEngineId(snmp::OctetString(std::string("\x80\x00\x1f\x88\x04", 5) + "fuzz"));
    }
    snmp::Target* FindTarget(const snmp::Message&) override { return known_ ? &target_ : nullptr; }

private:
    bool known_;
    snmp::Target target_;
};

bool IsDecodeErrorType(int type) {
    return (type >= 0 && type <= 9) || type == 21 || type == 22 || (type >= 200 && type <= 205);
}

bool IsEncodeErrorType(int type) {
    return type >= 11 && type <= 14;
}

void CheckReencode(const snmp::Message& decoded, snmp::TargetLookup* lookup) {
    unsigned int size = 65535;
    std::unique_ptr<unsigned char[]> out(new unsigned char[size]);
    try {
        decoded.Encode(out.get(), size, false);
    } catch (const snmp::Exception& e) {
        // Decoding accepts what encoding may refuse: long communities, oversized messages.
        Require(IsEncodeErrorType(e.Type()) || e.Type() == 201);
        return;
    }
    std::unique_ptr<unsigned char[]> exact(new unsigned char[size]);
    std::memcpy(exact.get(), out.get(), size);
    snmp::Message again;
    again.InitSecurity(lookup);
    try {
        again.Decode(exact.get(), size);
    } catch (const snmp::Exception&) {
        Require(false);
    }
    Require(again.Version() == decoded.Version());
    Require(again.Type() == decoded.Type());
    Require(again.PduRequestId() == decoded.PduRequestId());
    Require(again.VarBinds().size() == decoded.VarBinds().size());
}

void DecodeOnce(const unsigned char* data, unsigned int size, bool known) {
    FuzzLookup lookup(known);
    snmp::Message m;
    m.InitSecurity(&lookup);
    bool ok = false;
    try {
        ok = m.Decode(data, size);
    } catch (const snmp::Exception& e) {
        Require(IsDecodeErrorType(e.Type()));
    }
    Require(m.RawSize() == size);
    Require(size == 0 || std::memcmp(m.RawData(), data, size) == 0);
    std::string text;
    m.Print(true, text);
    if (ok) CheckReencode(m, &lookup);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    std::unique_ptr<unsigned char[]> input(new unsigned char[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(input.get(), data, size);
    DecodeOnce(input.get(), static_cast<unsigned int>(size), false);
    DecodeOnce(input.get(), static_cast<unsigned int>(size), true);
    return 0;
}
