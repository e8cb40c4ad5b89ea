// Shared pieces of the benchmark programs: the allocation counter (by
// interposing the C allocator, which operator new and OpenSSL both use) and the
// messages and users the figures measure.
#include "bench_support.h"

#include <atomic>
#include <cstddef>
#include <stdexcept>

#include "snmp/asn_value.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
std::atomic<std::uint64_t> g_allocations{0};

void Count() {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    Count();
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    Count();
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return 12;  // ENOMEM
    *out = p;
    return 0;
}
}

namespace zkbench {

std::uint64_t HeapAllocations() {
    return g_allocations.load(std::memory_order_relaxed);
}

snmp::OctetString EngineId() {
    static const unsigned char id[] = {0x80, 0x00, 0x1f, 0x88, 0x80, 0x5a, 0x4b,
                                       0x62, 0x65, 0x6e, 0x63, 0x68, 0x01};
    return snmp::OctetString(id, sizeof id);
}

snmp::ObjectId IfTableOid(int index) {
    snmp::ObjectId oid;
    oid.Set("1.3.6.1.2.1.2.2.1");
    oid += static_cast<unsigned int>(1 + index % 22);
    oid += static_cast<unsigned int>(1 + index / 22);
    return oid;
}

snmp::VarBindList NullBindings(int count) {
    snmp::VarBindList vbs;
    for (int i = 0; i < count; ++i) vbs.push_back(snmp::VarBind(IfTableOid(i), snmp::AsnValue()));
    return vbs;
}

snmp::VarBindList MixedBindings(int count, unsigned int textLength) {
    snmp::VarBindList vbs;
    for (int i = 0; i < count; ++i) {
        static const unsigned int kTypes[] = {0x02, 0x04, 0x41, 0x42, 0x43, 0x06, 0x40, 0x46};
        snmp::AsnValue v(kTypes[i % 8]);
        switch (kTypes[i % 8]) {
            case 0x02:
                v.SetInteger(-100000 - i);
                break;
            case 0x04:
                v.SetString(snmp::OctetString(std::string(textLength, 'a' + i % 26)));
                break;
            case 0x41:
                v.SetCounter(3000000000U + static_cast<unsigned int>(i));
                break;
            case 0x42:
                v.SetUnsigned(100000000U);
                break;
            case 0x43:
                v.SetTicks(123456789U);
                break;
            case 0x06:
                v.SetObjid(IfTableOid(i + 100));
                break;
            case 0x40:
                v.SetIpAddr(0x0A000001U + static_cast<unsigned int>(i));
                break;
            default:
                v.SetCounter64(0x123456789ABCULL * static_cast<unsigned int>(i + 1));
                break;
        }
        vbs.push_back(snmp::VarBind(IfTableOid(i), v));
    }
    return vbs;
}

snmp::Message V2cMessage(snmp::PduType type, const snmp::VarBindList& vbs, int requestId) {
    snmp::Message m;
    m.SetVersion(snmp::SnmpVersionV2c);
    m.SetCommunity("public");
    m.SetType(type);
    m.SetRequestId(requestId);
    m.VarBinds() = vbs;
    return m;
}

Bytes Encode(const snmp::Message& msg) {
    Bytes out(65536);
    unsigned int size = static_cast<unsigned int>(out.size());
    msg.Encode(out.data(), size, false);
    out.resize(size);
    return out;
}

snmp::Target V3Target(const snmp::OctetString& engineId, unsigned int boots, unsigned int time,
                      snmp::USMAuthProtocol auth, snmp::USMPrivProtocol priv) {
    snmp::Target t(brask::IpAddr("127.0.0.1"), 161);
    t.SetVersion(snmp::SnmpVersionV3);
    t.SetSecLevel(snmp::SecLevelAuthPriv);
    auto* attributes = new snmp::USMAttributes(auth, priv);
    attributes->SetUserName(kUser);
    attributes->SetAuthPass(kAuthPass);
    attributes->SetPrivPass(kPrivPass);
    t.SetSecAttributes(attributes);
    t.SetEngineBoots(boots);
    t.SetEngineTime(time);
    t.SetLastEngineTime(time);
    if (!engineId.Empty()) {
        t.SetEngineId(engineId);
        if (!t.CalculateKeys()) throw std::runtime_error("key localisation failed");
    }
    return t;
}

OneTargetLookup::OneTargetLookup(snmp::Type type, const snmp::Target& target)
    : snmp::TargetLookup(type), target_(target) {}

snmp::Target* OneTargetLookup::FindTarget(const snmp::Message& /*msg*/) {
    return &target_;
}

void OneTargetLookup::UpdateTarget(snmp::Target* target, const snmp::Message& /*msg*/) {
    Lock();
    target_ = *target;
    Unlock();
}

snmp::Message V3Message(snmp::PduType type, const snmp::VarBindList& vbs, int requestId,
                        snmp::Target& target, snmp::TargetLookup& lookup) {
    snmp::Message m;
    m.SetTarget(target);
    m.SetType(type);
    m.InitSecurity(&lookup);
    m.SetRequestId(requestId);
    m.VarBinds() = vbs;
    return m;
}

}  // namespace zkbench
