// libFuzzer target for dotted-text parsing of object identifiers. Whatever parses must print and
// parse back to the same identifier, order equal to itself, and (when its first two arcs can be
// carried by BER) survive a BER encode and decode unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "snmp/asn.h"
#include "snmp/object_id.h"

namespace {

void Require(bool ok) {
    if (!ok) std::abort();
}

void CheckBerRoundTrip(const snmp::ObjectId& oid) {
    const unsigned int count = oid.Length();
    if (count < 2 || oid[0] > 2 || (oid[0] < 2 && oid[1] >= 40)) return;
    // Six octets per arc is more than any arc needs, plus the header.
    const unsigned int room = count * 6 + 8;
    std::unique_ptr<unsigned char[]> wire(new unsigned char[room]);
    unsigned char* w = wire.get();
    unsigned int free = room;
    try {
        AsnEncode(w, free, oid.Id(), count, 0x06u);
    } catch (const EAsnException&) {
        // Only a content too long for a 16-bit length may be refused.
        Require(count > 10000);
        return;
    }
    const unsigned char* r = wire.get();
    unsigned int left = room - free;
    unsigned int type = 0;
    std::unique_ptr<unsigned int[]> arcs(new unsigned int[count]);
    unsigned int got = count;
    AsnDecodeType(r, left, type);
    AsnDecode(r, left, arcs.get(), got);
    Require(type == 0x06 && left == 0 && got == count &&
            std::memcmp(arcs.get(), oid.Id(), count * sizeof(unsigned int)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    snmp::ObjectId oid;
    const unsigned int seed[] = {9, 9};
    oid.Set(seed, 2);
    const snmp::ObjectId before = oid;
    if (!oid.Set(text.c_str())) {
        Require(oid == before);  // a rejected text leaves the previous value
        return 0;
    }
    Require(!oid.Empty());
    Require(oid.Compare(oid) == 0);

    std::string dotted;
    oid.MakeStr(dotted);
    snmp::ObjectId again;
    Require(again.Set(dotted) && again == oid);

    std::ostringstream printed;
    printed << oid;
    snmp::ObjectId fromStream;
    Require(fromStream.Set(printed.str()) && fromStream == oid);

    CheckBerRoundTrip(oid);
    return 0;
}
