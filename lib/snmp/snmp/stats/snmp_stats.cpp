// Process-wide SNMP protocol counters.
#include "snmp/snmp_stats.h"

namespace snmp {

const char* const SNMP_UNKNOWNHANDLER = ".1.3.6.1.6.3.11.2.1.3.0";
const char* const USM_UNSUPPORTEDLEVEL = ".1.3.6.1.6.3.15.1.1.1.0";
const char* const USM_TIMEWINDOW = ".1.3.6.1.6.3.15.1.1.2.0";
const char* const USM_UNKNOWNUSER = ".1.3.6.1.6.3.15.1.1.3.0";
const char* const USM_UNKNOWNENGINE = ".1.3.6.1.6.3.15.1.1.4.0";
const char* const USM_WRONGDIGEST = ".1.3.6.1.6.3.15.1.1.5.0";
const char* const USM_DECRYPT = ".1.3.6.1.6.3.15.1.1.6.0";

SnmpStats* SnmpStats::_instance = nullptr;

SnmpStats* SnmpStats::Instance() {
    if (_instance == nullptr) _instance = new SnmpStats();
    return _instance;
}

void SnmpStats::Destroy() {
    delete _instance;
    _instance = nullptr;
}

SnmpStats::~SnmpStats() = default;

unsigned int SnmpStats::USMStat(int type) const {
    switch (type) {
        case 23:
            return unknownHandler_;
        case 200:
            return unknownEngineId_;
        case 201:
            return unknownUser_;
        case 202:
            return unsupportedSecLevel_;
        case 203:
            return wrongDigest_;
        case 204:
            return notInTimeWindow_;
        case 205:
            return decryptErrors_;
        default:
            return 0;
    }
}

}  // namespace snmp
