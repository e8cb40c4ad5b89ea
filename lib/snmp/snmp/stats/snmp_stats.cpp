// Process-wide SNMP protocol counters.
#include "snmp/snmp_stats.h"

#include <mutex>

#include "snmp/exception.h"
#include "snmp/message.h"

namespace snmp {

const char* const SNMP_UNKNOWNHANDLER = ".1.3.6.1.6.3.11.2.1.3.0";
const char* const USM_UNSUPPORTEDLEVEL = ".1.3.6.1.6.3.15.1.1.1.0";
const char* const USM_TIMEWINDOW = ".1.3.6.1.6.3.15.1.1.2.0";
const char* const USM_UNKNOWNUSER = ".1.3.6.1.6.3.15.1.1.3.0";
const char* const USM_UNKNOWNENGINE = ".1.3.6.1.6.3.15.1.1.4.0";
const char* const USM_WRONGDIGEST = ".1.3.6.1.6.3.15.1.1.5.0";
const char* const USM_DECRYPT = ".1.3.6.1.6.3.15.1.1.6.0";

SnmpStats* SnmpStats::_instance = nullptr;

namespace {
// Dispatchers may be created on several host threads at once, and each one
// reaches for the singleton. Never destroyed, so that it outlives every use.
std::mutex& SingletonLock() {
    static auto* lock = new std::mutex();
    return *lock;
}
}  // namespace

SnmpStats* SnmpStats::Instance() {
    std::lock_guard<std::mutex> guard(SingletonLock());
    if (_instance == nullptr) _instance = new SnmpStats();
    return _instance;
}

void SnmpStats::Destroy() {
    std::lock_guard<std::mutex> guard(SingletonLock());
    delete _instance;
    _instance = nullptr;
}

SnmpStats::SnmpStats() {
    for (auto& c : counters_) c.store(0, std::memory_order_relaxed);
}

SnmpStats::SnmpStats(const SnmpStats& other) : Watch(other) {
    for (int i = 0; i < kCounterCount; ++i) {
        counters_[i].store(other.counters_[i].load(std::memory_order_relaxed),
                           std::memory_order_relaxed);
    }
}

SnmpStats& SnmpStats::operator=(const SnmpStats& other) {
    if (this == &other) return *this;
    Watch::operator=(other);
    for (int i = 0; i < kCounterCount; ++i) {
        counters_[i].store(other.counters_[i].load(std::memory_order_relaxed),
                           std::memory_order_relaxed);
    }
    return *this;
}

SnmpStats::~SnmpStats() = default;

unsigned int SnmpStats::InPkts() const {
    return Get(kInPkts);
}
unsigned int SnmpStats::OutPkts() const {
    return Get(kOutPkts);
}
unsigned int SnmpStats::InBadVers() const {
    return Get(kInBadVers);
}
unsigned int SnmpStats::InBadCommStrs() const {
    return Get(kInBadCommStrs);
}
unsigned int SnmpStats::InBadCommUses() const {
    return Get(kInBadCommUses);
}
unsigned int SnmpStats::InAsnParseErrs() const {
    return Get(kInAsnParseErrs);
}
unsigned int SnmpStats::InTooBigs() const {
    return Get(kInTooBigs);
}
unsigned int SnmpStats::InNoSuchNames() const {
    return Get(kInNoSuchNames);
}
unsigned int SnmpStats::InBadValues() const {
    return Get(kInBadValues);
}
unsigned int SnmpStats::InReadOnlys() const {
    return Get(kInReadOnlys);
}
unsigned int SnmpStats::InGenErrs() const {
    return Get(kInGenErrs);
}
unsigned int SnmpStats::InTotalReqVars() const {
    return Get(kInTotalReqVars);
}
unsigned int SnmpStats::InTotalSetVars() const {
    return Get(kInTotalSetVars);
}
unsigned int SnmpStats::InGets() const {
    return Get(kInGets);
}
unsigned int SnmpStats::InGetNexts() const {
    return Get(kInGetNexts);
}
unsigned int SnmpStats::InSets() const {
    return Get(kInSets);
}
unsigned int SnmpStats::InGetResponses() const {
    return Get(kInGetResponses);
}
unsigned int SnmpStats::InTraps() const {
    return Get(kInTraps);
}
unsigned int SnmpStats::OutTooBigs() const {
    return Get(kOutTooBigs);
}
unsigned int SnmpStats::OutNoSuchNames() const {
    return Get(kOutNoSuchNames);
}
unsigned int SnmpStats::OutBadValues() const {
    return Get(kOutBadValues);
}
unsigned int SnmpStats::OutReadOnlys() const {
    return Get(kOutReadOnlys);
}
unsigned int SnmpStats::OutGenErrs() const {
    return Get(kOutGenErrs);
}
unsigned int SnmpStats::OutGets() const {
    return Get(kOutGets);
}
unsigned int SnmpStats::OutGetNexts() const {
    return Get(kOutGetNexts);
}
unsigned int SnmpStats::OutSets() const {
    return Get(kOutSets);
}
unsigned int SnmpStats::OutGetResponses() const {
    return Get(kOutGetResponses);
}
unsigned int SnmpStats::OutTraps() const {
    return Get(kOutTraps);
}
unsigned int SnmpStats::SilentDrops() const {
    return Get(kSilentDrops);
}
unsigned int SnmpStats::ProxyDrops() const {
    return Get(kProxyDrops);
}
unsigned int SnmpStats::UnknownSecLevel() const {
    return Get(kUnknownSecLevel);
}
unsigned int SnmpStats::InvalidMessges() const {
    return Get(kInvalidMessges);
}
unsigned int SnmpStats::UnknownHandler() const {
    return Get(kUnknownHandler);
}
unsigned int SnmpStats::UnsupportedSecLevel() const {
    return Get(kUnsupportedSecLevel);
}
unsigned int SnmpStats::NotInTimeWindow() const {
    return Get(kNotInTimeWindow);
}
unsigned int SnmpStats::UnknownUser() const {
    return Get(kUnknownUser);
}
unsigned int SnmpStats::UnknownEngineId() const {
    return Get(kUnknownEngineId);
}
unsigned int SnmpStats::WrongDigest() const {
    return Get(kWrongDigest);
}
unsigned int SnmpStats::DecryptErrors() const {
    return Get(kDecryptErrors);
}

unsigned int SnmpStats::ReceiveQueueDrops() const {
    return Get(kReceiveQueueDrops);
}

unsigned int SnmpStats::USMStat(int type) const {
    switch (type) {
        case 23:
            return Get(kUnknownHandler);
        case 200:
            return Get(kUnknownEngineId);
        case 201:
            return Get(kUnknownUser);
        case 202:
            return Get(kUnsupportedSecLevel);
        case 203:
            return Get(kWrongDigest);
        case 204:
            return Get(kNotInTimeWindow);
        case 205:
            return Get(kDecryptErrors);
        default:
            return 0;
    }
}

void SnmpStats::OnReceive(const Message& /*msg*/) {
    Add(kInPkts);
}

void SnmpStats::OnDecode(const Message& msg) {
    const auto bindings = static_cast<unsigned int>(msg.VarBinds().size());
    switch (msg.Type()) {
        case PduGetRequest:
            Add(kInGets);
            Add(kInTotalReqVars, bindings);
            break;
        case PduGetNextRequest:
            Add(kInGetNexts);
            Add(kInTotalReqVars, bindings);
            break;
        case PduResponse:
            Add(kInGetResponses);
            switch (msg.ErrStat()) {
                case 1:
                    Add(kInTooBigs);
                    break;
                case 2:
                    Add(kInNoSuchNames);
                    break;
                case 3:
                    Add(kInBadValues);
                    break;
                case 4:
                    Add(kInReadOnlys);
                    break;
                case 5:
                    Add(kInGenErrs);
                    break;
                default:
                    break;
            }
            break;
        case PduSetRequest:
            Add(kInSets);
            Add(kInTotalSetVars, bindings);
            break;
        case PduV1Trap:
        case PduV2Trap:
            Add(kInTraps);
            break;
        case PduGetBulkRequest:
            Add(kInTotalReqVars, bindings);
            break;
        default:
            break;
    }
}

void SnmpStats::OnSend(const Message& msg) {
    Add(kOutPkts);
    switch (msg.Type()) {
        case PduGetRequest:
            Add(kOutGets);
            break;
        case PduGetNextRequest:
            Add(kOutGetNexts);
            break;
        case PduResponse:
            Add(kOutGetResponses);
            switch (msg.ErrStat()) {
                case 1:
                    Add(kOutTooBigs);
                    break;
                case 2:
                    Add(kOutNoSuchNames);
                    break;
                case 3:
                    Add(kOutBadValues);
                    break;
                case 4:
                    Add(kOutReadOnlys);
                    break;
                case 5:
                    Add(kOutGenErrs);
                    break;
                default:
                    break;
            }
            break;
        case PduSetRequest:
            Add(kOutSets);
            break;
        case PduV1Trap:
        case PduV2Trap:
            Add(kOutTraps);
            break;
        default:
            break;
    }
}

void SnmpStats::OnExcept(const Message& msg, const Exception& e) {
    switch (e.Type()) {
        case 0:
        case 1:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
            Add(kInAsnParseErrs);
            break;
        case 2:
            Add(kInBadVers);
            break;
        case 9:
            Add(kInBadCommStrs);
            break;
        case 10:
            Add(kInBadCommUses);
            break;
        case 21:
            Add(kUnknownSecLevel);
            break;
        case 22:
            Add(kInvalidMessges);
            break;
        case 23:
            if (msg.Version() >= SnmpVersionV3) {
                Add(kUnknownHandler);
            } else {
                Add(kInAsnParseErrs);
            }
            break;
        case 200:
            Add(kUnknownEngineId);
            break;
        case 201:
            Add(kUnknownUser);
            break;
        case 202:
            Add(kUnsupportedSecLevel);
            break;
        case 203:
            Add(kWrongDigest);
            break;
        case 204:
            Add(kNotInTimeWindow);
            break;
        case 205:
            Add(kDecryptErrors);
            break;
        default:
            break;
    }
}

}  // namespace snmp
