// Process-wide SNMP protocol counters.
#include "snmp/snmp_stats.h"

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

void SnmpStats::OnReceive(const Message& /*msg*/) {
    ++inPkts_;
}

void SnmpStats::OnDecode(const Message& msg) {
    const auto bindings = static_cast<unsigned int>(msg.VarBinds().size());
    switch (msg.Type()) {
        case PduGetRequest:
            ++inGets_;
            inTotalReqVars_ += bindings;
            break;
        case PduGetNextRequest:
            ++inGetNexts_;
            inTotalReqVars_ += bindings;
            break;
        case PduResponse:
            ++inGetResponses_;
            switch (msg.ErrStat()) {
                case 1:
                    ++inTooBigs_;
                    break;
                case 2:
                    ++inNoSuchNames_;
                    break;
                case 3:
                    ++inBadValues_;
                    break;
                case 4:
                    ++inReadOnlys_;
                    break;
                case 5:
                    ++inGenErrs_;
                    break;
                default:
                    break;
            }
            break;
        case PduSetRequest:
            ++inSets_;
            inTotalSetVars_ += bindings;
            break;
        case PduV1Trap:
        case PduV2Trap:
            ++inTraps_;
            break;
        case PduGetBulkRequest:
            inTotalReqVars_ += bindings;
            break;
        default:
            break;
    }
}

void SnmpStats::OnSend(const Message& msg) {
    ++outPkts_;
    switch (msg.Type()) {
        case PduGetRequest:
            ++outGets_;
            break;
        case PduGetNextRequest:
            ++outGetNexts_;
            break;
        case PduResponse:
            ++outGetResponses_;
            switch (msg.ErrStat()) {
                case 1:
                    ++outTooBigs_;
                    break;
                case 2:
                    ++outNoSuchNames_;
                    break;
                case 3:
                    ++outBadValues_;
                    break;
                case 4:
                    ++outReadOnlys_;
                    break;
                case 5:
                    ++outGenErrs_;
                    break;
                default:
                    break;
            }
            break;
        case PduSetRequest:
            ++outSets_;
            break;
        case PduV1Trap:
        case PduV2Trap:
            ++outTraps_;
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
            ++inAsnParseErrs_;
            break;
        case 2:
            ++inBadVers_;
            break;
        case 9:
            ++inBadCommStrs_;
            break;
        case 10:
            ++inBadCommUses_;
            break;
        case 21:
            ++unknownSecLevel_;
            break;
        case 22:
            ++invalidMessges_;
            break;
        case 23:
            if (msg.Version() >= SnmpVersionV3) {
                ++unknownHandler_;
            } else {
                ++inAsnParseErrs_;
            }
            break;
        case 200:
            ++unknownEngineId_;
            break;
        case 201:
            ++unknownUser_;
            break;
        case 202:
            ++unsupportedSecLevel_;
            break;
        case 203:
            ++wrongDigest_;
            break;
        case 204:
            ++notInTimeWindow_;
            break;
        case 205:
            ++decryptErrors_;
            break;
        default:
            break;
    }
}

}  // namespace snmp
