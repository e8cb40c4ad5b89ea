// The MIB that `zksnmp agent` serves and the request semantics over it.
#include "agent_mib.h"

#include <algorithm>
#include <utility>

#include "snmp/snmp_stats.h"
#include "value_text.h"

namespace zksnmp {
namespace {

constexpr unsigned kInteger = 0x02, kOctets = 0x04, kOid = 0x06, kIpAddr = 0x40;
constexpr unsigned kCounter = 0x41, kGauge = 0x42, kTicks = 0x43, kCounter64 = 0x46;
constexpr unsigned kNoSuchObject = 0x80, kNoSuchInstance = 0x81, kEndOfMibView = 0x82;

// Responses larger than this many bindings are not built whatever the
// GetBulk parameters ask for.
constexpr size_t kMaxBulkBindings = 10000;

snmp::ObjectId Oid(const char* text) {
    snmp::ObjectId oid;
    oid.Set(text);
    return oid;
}

// A binding that takes `value` instead of copying it a second time.
snmp::VarBind Bound(const snmp::ObjectId& oid, snmp::AsnValue&& value) {
    snmp::VarBind vb;
    vb.Objid() = oid;
    vb.Value() = std::move(value);
    return vb;
}

snmp::ObjectId Child(const snmp::ObjectId& base, unsigned int arc) {
    snmp::ObjectId oid = base;
    oid += arc;
    return oid;
}

snmp::AsnValue Str(const std::string& s) {
    snmp::AsnValue v(kOctets);
    v.SetString(snmp::OctetString(s));
    return v;
}

snmp::AsnValue Num(unsigned int type, unsigned int n) {
    snmp::AsnValue v(type);
    v.SetUnsigned(n);
    return v;
}

snmp::AsnValue Int(int n) {
    snmp::AsnValue v(kInteger);
    v.SetInteger(n);
    return v;
}

snmp::AsnValue ObjidValue(const snmp::ObjectId& oid) {
    snmp::AsnValue v(kOid);
    v.SetObjid(oid);
    return v;
}

bool IsCounter64(unsigned int type) {
    return type == kCounter64 || type == 0x4A || type == 0x4B;
}

unsigned int LengthOctets(unsigned int n) {
    return n < 0x80 ? 1 : n < 0x100 ? 2 : n < 0x10000 ? 3 : 4;
}

unsigned int Base128Octets(unsigned int arc) {
    unsigned int n = 1;
    while (arc >= 0x80) {
        arc >>= 7;
        ++n;
    }
    return n;
}

unsigned int OidContentSize(const snmp::ObjectId& oid) {
    const unsigned int count = oid.Length();
    if (count < 2) {
        return 1;
    }
    unsigned int size = Base128Octets(oid[0] * 40 + oid[1]);
    for (unsigned int i = 2; i < count; ++i) {
        size += Base128Octets(oid[static_cast<int>(i)]);
    }
    return size;
}

unsigned int UnsignedContentSize(unsigned long long v) {
    unsigned int n = 1;
    // One octet more for every further 8 bits, and a leading zero octet when
    // the top bit of the first one would be set.
    while (v >= 0x80) {
        v >>= 8;
        ++n;
    }
    return n;
}

unsigned int ValueContentSize(const snmp::AsnValue& v) {
    switch (v.Type()) {
        case kInteger: {
            const int i = v.Integer();
            if (i >= -128 && i <= 127) {
                return 1;
            }
            if (i >= -32768 && i <= 32767) {
                return 2;
            }
            return i >= -8388608 && i <= 8388607 ? 3 : 4;
        }
        case 0x03:
            return v.Bits().Size() + 1;
        case kOctets:
        case kIpAddr:
        case 0x44:
            return v.String().Size();
        case kOid:
            return OidContentSize(v.Objid());
        case kCounter:
        case kGauge:
        case kTicks:
        case 0x47:
            return UnsignedContentSize(v.Unsigned());
        case kCounter64:
        case 0x4A:
        case 0x4B:
            return UnsignedContentSize(v.Counter64());
        default:
            return 0;
    }
}

unsigned int TlvSize(unsigned int content) {
    return 1 + LengthOctets(content) + content;
}

}  // namespace

const snmp::ObjectId AgentMib::kTableEntry = Oid("1.3.6.1.4.1.99999.2.1.1");
const snmp::ObjectId AgentMib::kTableRows = Oid("1.3.6.1.4.1.99999.2.2.0");

bool MibView::Contains(const snmp::ObjectId& oid) const {
    if (subtrees_.empty()) {
        return true;
    }
    for (const snmp::ObjectId& root : subtrees_) {
        if (oid.Length() >= root.Length() && oid.Compare(root, root.Length()) == 0) {
            return true;
        }
    }
    return false;
}

const snmp::ObjectId* MibView::NextRoot(const snmp::ObjectId& oid) const {
    // A root before `oid` that is not a prefix of it differs from it in an
    // earlier, smaller arc: its whole subtree lies before `oid`.
    auto it = subtrees_.upper_bound(oid);
    return it == subtrees_.end() ? nullptr : &*it;
}

unsigned int EncodedSize(const snmp::VarBind& vb) {
    return TlvSize(TlvSize(OidContentSize(vb.Objid())) + TlvSize(ValueContentSize(vb.Value())));
}

void AgentMib::AddLocked(const snmp::ObjectId& oid, Entry entry) {
    entries_[oid] = std::move(entry);
    if (oid.Length() > 1) {
        snmp::ObjectId parent = oid;
        parent.Resize(static_cast<int>(oid.Length()) - 1);
        objects_.insert(parent);
    }
}

void AgentMib::Add(const snmp::ObjectId& oid, const snmp::AsnValue& value, bool writable,
                   unsigned int maxSize) {
    std::lock_guard<std::mutex> guard(lock_);
    Entry e;
    e.value = value;
    e.writable = writable;
    e.maxSize = maxSize;
    AddLocked(oid, std::move(e));
}

void AgentMib::AddComputed(const snmp::ObjectId& oid, Getter getter) {
    std::lock_guard<std::mutex> guard(lock_);
    Entry e;
    e.getter = std::move(getter);
    AddLocked(oid, std::move(e));
}

void AgentMib::AddSystemGroup(const std::string& descr, const std::string& name,
                              std::function<unsigned int()> upTime) {
    const snmp::ObjectId sys = Oid("1.3.6.1.2.1.1");
    auto scalar = [&sys](unsigned int arc) { return Child(Child(sys, arc), 0); };
    Add(scalar(1), Str(descr));
    Add(scalar(2), ObjidValue(Oid("1.3.6.1.4.1.99999.1")));
    AddComputed(scalar(3), [upTime] { return Num(kTicks, upTime()); });
    Add(scalar(4), Str(""), true, 255);
    Add(scalar(5), Str(name), true, 255);
    Add(scalar(6), Str(""), true, 255);
    Add(scalar(7), Int(72));
    Add(scalar(8), Num(kTicks, 0));
}

void AgentMib::AddStatistics(const snmp::OctetString& engineId, unsigned int boots,
                             std::function<unsigned int()> engineTime) {
    using Reader = unsigned int (snmp::SnmpStats::*)() const;
    struct Counter {
        const char* oid;
        Reader read;
    };
    static const Counter kCounters[] = {
        {"1.3.6.1.2.1.11.1.0", &snmp::SnmpStats::InPkts},
        {"1.3.6.1.2.1.11.2.0", &snmp::SnmpStats::OutPkts},
        {"1.3.6.1.2.1.11.3.0", &snmp::SnmpStats::InBadVers},
        {"1.3.6.1.2.1.11.4.0", &snmp::SnmpStats::InBadCommStrs},
        {"1.3.6.1.2.1.11.5.0", &snmp::SnmpStats::InBadCommUses},
        {"1.3.6.1.2.1.11.6.0", &snmp::SnmpStats::InAsnParseErrs},
        {"1.3.6.1.2.1.11.8.0", &snmp::SnmpStats::InTooBigs},
        {"1.3.6.1.2.1.11.9.0", &snmp::SnmpStats::InNoSuchNames},
        {"1.3.6.1.2.1.11.10.0", &snmp::SnmpStats::InBadValues},
        {"1.3.6.1.2.1.11.11.0", &snmp::SnmpStats::InReadOnlys},
        {"1.3.6.1.2.1.11.12.0", &snmp::SnmpStats::InGenErrs},
        {"1.3.6.1.2.1.11.13.0", &snmp::SnmpStats::InTotalReqVars},
        {"1.3.6.1.2.1.11.14.0", &snmp::SnmpStats::InTotalSetVars},
        {"1.3.6.1.2.1.11.15.0", &snmp::SnmpStats::InGets},
        {"1.3.6.1.2.1.11.16.0", &snmp::SnmpStats::InGetNexts},
        {"1.3.6.1.2.1.11.17.0", &snmp::SnmpStats::InSets},
        {"1.3.6.1.2.1.11.18.0", &snmp::SnmpStats::InGetResponses},
        {"1.3.6.1.2.1.11.19.0", &snmp::SnmpStats::InTraps},
        {"1.3.6.1.2.1.11.20.0", &snmp::SnmpStats::OutTooBigs},
        {"1.3.6.1.2.1.11.21.0", &snmp::SnmpStats::OutNoSuchNames},
        {"1.3.6.1.2.1.11.22.0", &snmp::SnmpStats::OutBadValues},
        {"1.3.6.1.2.1.11.24.0", &snmp::SnmpStats::OutGenErrs},
        {"1.3.6.1.2.1.11.25.0", &snmp::SnmpStats::OutGets},
        {"1.3.6.1.2.1.11.26.0", &snmp::SnmpStats::OutGetNexts},
        {"1.3.6.1.2.1.11.27.0", &snmp::SnmpStats::OutSets},
        {"1.3.6.1.2.1.11.28.0", &snmp::SnmpStats::OutGetResponses},
        {"1.3.6.1.2.1.11.29.0", &snmp::SnmpStats::OutTraps},
        {"1.3.6.1.2.1.11.31.0", &snmp::SnmpStats::SilentDrops},
        {"1.3.6.1.2.1.11.32.0", &snmp::SnmpStats::ProxyDrops},
        {"1.3.6.1.6.3.11.2.1.1.0", &snmp::SnmpStats::UnknownSecLevel},
        {"1.3.6.1.6.3.11.2.1.2.0", &snmp::SnmpStats::InvalidMessges},
        {"1.3.6.1.6.3.11.2.1.3.0", &snmp::SnmpStats::UnknownHandler},
        {"1.3.6.1.6.3.15.1.1.1.0", &snmp::SnmpStats::UnsupportedSecLevel},
        {"1.3.6.1.6.3.15.1.1.2.0", &snmp::SnmpStats::NotInTimeWindow},
        {"1.3.6.1.6.3.15.1.1.3.0", &snmp::SnmpStats::UnknownUser},
        {"1.3.6.1.6.3.15.1.1.4.0", &snmp::SnmpStats::UnknownEngineId},
        {"1.3.6.1.6.3.15.1.1.5.0", &snmp::SnmpStats::WrongDigest},
        {"1.3.6.1.6.3.15.1.1.6.0", &snmp::SnmpStats::DecryptErrors},
    };
    for (const auto& c : kCounters) {
        const Reader read = c.read;
        AddComputed(Oid(c.oid),
                    [read] { return Num(kCounter, (snmp::SnmpStats::Instance()->*read)()); });
    }
    // snmpEnableAuthenTraps: disabled(2); this agent sends no traps.
    Add(Oid("1.3.6.1.2.1.11.30.0"), Int(2));
    snmp::AsnValue id(kOctets);
    id.SetString(engineId);
    Add(Oid("1.3.6.1.6.3.10.2.1.1.0"), id);
    Add(Oid("1.3.6.1.6.3.10.2.1.2.0"), Int(static_cast<int>(boots)));
    AddComputed(Oid("1.3.6.1.6.3.10.2.1.3.0"),
                [engineTime] { return Int(static_cast<int>(engineTime())); });
    Add(Oid("1.3.6.1.6.3.10.2.1.4.0"), Int(static_cast<int>(snmp::Message::MaxMessageSize())));
}

void AgentMib::AddTable(unsigned int rows) {
    for (unsigned int r = 1; r <= rows; ++r) {
        auto cell = [r](unsigned int column) { return Child(Child(kTableEntry, column), r); };
        Add(cell(1), Int(static_cast<int>(r)));
        Add(cell(2), Str("row-" + std::to_string(r)));
        Add(cell(3), Num(kCounter, r * 1000U));
        Add(cell(4), Num(kGauge, r % 100U));
        Add(cell(5), Num(kTicks, r * 100U));
        snmp::AsnValue ip(kIpAddr);
        ip.SetIpAddr((10U << 24) | ((r >> 8) & 0xFFU) << 8 | (r & 0xFFU));
        Add(cell(6), ip);
        Add(cell(7), ObjidValue(Child(Oid("1.3.6.1.4.1.99999.3"), r)));
        snmp::AsnValue big(kCounter64);
        big.SetCounter64((static_cast<unsigned long long>(r) << 32) + r);
        Add(cell(8), big);
        snmp::AsnValue bin(kOctets);
        const unsigned char bytes[] = {0x00, 0xFF, static_cast<unsigned char>(r & 0xFF), 0x80};
        bin.SetString(snmp::OctetString(bytes, sizeof bytes));
        Add(cell(9), bin);
    }
    Add(kTableRows, Int(static_cast<int>(rows)));
}

bool AgentMib::LoadDump(std::istream& in, std::string& error) {
    std::string line;
    unsigned int number = 0;
    snmp::ObjectId previous;
    bool previousHex = false;
    while (std::getline(in, line)) {
        ++number;
        // Walk output wraps long hex strings onto further lines of bytes.
        snmp::OctetString more;
        if (previousHex && line.find('.') == std::string::npos &&
            line.find('=') == std::string::npos && ParseHex(line, more) && !more.Empty()) {
            std::lock_guard<std::mutex> guard(lock_);
            entries_[previous].value.String() += more;
            continue;
        }
        snmp::VarBind vb;
        bool skip = false;
        std::string why;
        if (!ParseDumpLine(line, vb, skip, why)) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        if (skip) {
            continue;
        }
        previous = vb.Objid();
        previousHex = line.find("Hex-STRING") != std::string::npos ||
                      line.find("Opaque") != std::string::npos;
        Add(vb.Objid(), vb.Value());
    }
    return true;
}

bool AgentMib::Lookup(const snmp::ObjectId& oid, snmp::AsnValue& value) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(oid);
    if (it == entries_.end()) {
        return false;
    }
    value = ValueOf(it->second);
    return true;
}

size_t AgentMib::Size() {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

snmp::AsnValue AgentMib::ValueOf(const Entry& e) const {
    return e.getter ? e.getter() : e.value;
}

AgentMib::Map::const_iterator AgentMib::NextAfter(const snmp::ObjectId& oid, bool v1,
                                                  const MibView& view) const {
    auto it = entries_.upper_bound(oid);
    while (it != entries_.end()) {
        if (!view.Contains(it->first)) {
            const snmp::ObjectId* root = view.NextRoot(it->first);
            it = root == nullptr ? entries_.end() : entries_.lower_bound(*root);
        } else if (v1 && IsCounter64(ValueOf(it->second).Type())) {
            // SNMPv1 has no Counter64: a v1 manager walks past such instances.
            ++it;
        } else {
            break;
        }
    }
    return it;
}

snmp::VarBind AgentMib::GetOne(const snmp::ObjectId& oid, bool v1, const MibView& view,
                               bool& missing) const {
    missing = true;
    if (!view.Contains(oid)) {
        return snmp::VarBind(oid, snmp::AsnValue(kNoSuchObject));
    }
    missing = false;
    auto it = entries_.find(oid);
    if (it != entries_.end()) {
        snmp::AsnValue v = ValueOf(it->second);
        if (!(v1 && IsCounter64(v.Type()))) {
            return Bound(oid, std::move(v));
        }
    }
    missing = true;
    bool instance = false;
    snmp::ObjectId prefix = oid;
    while (!instance && prefix.Length() > 1) {
        prefix.Resize(static_cast<int>(prefix.Length()) - 1);
        instance = objects_.count(prefix) != 0;
    }
    return snmp::VarBind(oid, snmp::AsnValue(instance ? kNoSuchInstance : kNoSuchObject));
}

snmp::VarBind AgentMib::GetNextOne(const snmp::ObjectId& oid, bool v1, const MibView& view,
                                   bool& missing) const {
    auto it = NextAfter(oid, v1, view);
    missing = it == entries_.end();
    if (missing) {
        return snmp::VarBind(oid, snmp::AsnValue(kEndOfMibView));
    }
    return Bound(it->first, ValueOf(it->second));
}

MibAnswer AgentMib::Process(snmp::SnmpVersion version, unsigned int pduType,
                            const snmp::VarBindList& request, int nonRepeaters, int maxRepetitions,
                            bool mayWrite, unsigned int room, const MibView& view) {
    std::lock_guard<std::mutex> guard(lock_);
    const bool v1 = version == snmp::SnmpVersionV1;
    MibAnswer answer;
    if (pduType == snmp::PduSetRequest) {
        return Set(v1, request, mayWrite, view);
    }
    if (pduType == snmp::PduGetBulkRequest && !v1) {
        return Bulk(request, nonRepeaters, maxRepetitions, room, view);
    }
    if (pduType != snmp::PduGetRequest && pduType != snmp::PduGetNextRequest) {
        answer.errorStatus = kGenErr;
        answer.vbs = request;
        return answer;
    }
    int index = 0;
    unsigned int used = 0;
    for (const snmp::VarBind& vb : request) {
        ++index;
        bool missing = false;
        snmp::VarBind out = pduType == snmp::PduGetRequest
                                ? GetOne(vb.Objid(), v1, view, missing)
                                : GetNextOne(vb.Objid(), v1, view, missing);
        if (v1 && missing) {
            answer.errorStatus = kNoSuchName;
            answer.errorIndex = index;
            answer.vbs = request;
            return answer;
        }
        used += EncodedSize(out);
        answer.vbs.push_back(std::move(out));
    }
    if (used > room) {
        answer.errorStatus = kTooBig;
        answer.vbs.clear();
    }
    return answer;
}

MibAnswer AgentMib::Bulk(const snmp::VarBindList& request, int nonRepeaters, int maxRepetitions,
                         unsigned int room, const MibView& view) const {
    MibAnswer answer;
    const int count = static_cast<int>(request.size());
    const int n = std::min(std::max(nonRepeaters, 0), count);
    const int m = std::max(maxRepetitions, 0);
    unsigned int used = 0;
    bool missing = false;
    auto it = request.begin();
    for (int i = 0; i < n; ++i, ++it) {
        snmp::VarBind out = GetNextOne(it->Objid(), false, view, missing);
        used += EncodedSize(out);
        if (used > room) {
            // Not even the non-repeaters fit.
            answer.errorStatus = kTooBig;
            answer.vbs.clear();
            return answer;
        }
        answer.vbs.push_back(std::move(out));
    }
    std::vector<snmp::ObjectId> cursor;
    for (; it != request.end(); ++it) {
        cursor.push_back(it->Objid());
    }
    for (int rep = 0; rep < m && !cursor.empty(); ++rep) {
        bool allEnded = true;
        for (snmp::ObjectId& c : cursor) {
            snmp::VarBind out = GetNextOne(c, false, view, missing);
            const unsigned int size = EncodedSize(out);
            if (used + size > room || answer.vbs.size() >= kMaxBulkBindings) {
                return answer;
            }
            used += size;
            allEnded = allEnded && missing;
            c = out.Objid();
            answer.vbs.push_back(std::move(out));
        }
        if (allEnded) {
            break;
        }
    }
    return answer;
}

MibAnswer AgentMib::Set(bool v1, const snmp::VarBindList& request, bool mayWrite,
                        const MibView& view) {
    MibAnswer answer;
    answer.vbs = request;
    int index = 0;
    for (const snmp::VarBind& vb : request) {
        ++index;
        auto fail = [&](int v2Status, int v1Status) {
            answer.errorStatus = v1 ? v1Status : v2Status;
            answer.errorIndex = index;
            return answer;
        };
        // Outside the view is checked before existence, so that a Set does
        // not tell which names exist where the requester may not look.
        if (!mayWrite || !view.Contains(vb.Objid())) {
            return fail(kNoAccess, kNoSuchName);
        }
        auto it = entries_.find(vb.Objid());
        if (it == entries_.end()) {
            return fail(kNoCreation, kNoSuchName);
        }
        const Entry& e = it->second;
        if (!e.writable) {
            return fail(kNotWritable, kNoSuchName);
        }
        if (vb.Value().Type() != e.value.Type()) {
            return fail(kWrongType, kBadValue);
        }
        if (vb.Value().Type() == kOctets && vb.Value().String().Size() > e.maxSize) {
            return fail(kWrongLength, kBadValue);
        }
    }
    for (const snmp::VarBind& vb : request) {
        entries_[vb.Objid()].value = vb.Value();
    }
    return answer;
}

}  // namespace zksnmp
