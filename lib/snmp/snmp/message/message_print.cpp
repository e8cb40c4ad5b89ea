// Text forms of messages and of the SNMPv3 enumerations: the diagnostic print of a message, the
// security model and level words read from and written to configurations, and stream printers.
#include "kalrt/cstring.h"
#include "snmp/message.h"

namespace snmp {

namespace {

const char* PduName(unsigned int type) {
    switch (type) {
        case PduGetRequest:
            return "(Get)";
        case PduGetNextRequest:
            return "(GetNext)";
        case PduResponse:
            return "(Response)";
        case PduSetRequest:
            return "(Set)";
        case PduV1Trap:
            return "(v1Trap)";
        case PduGetBulkRequest:
            return "(GetBulk)";
        case PduInformRequest:
            return "(Inform)";
        case PduV2Trap:
            return "(v2Trap)";
        default:
            return "(unrecognized)";
    }
}

const char* VersionName(SnmpVersion version) {
    switch (version) {
        case SnmpVersionV1:
            return "(SNMPv1)";
        case SnmpVersionV2c:
            return "(SNMPv2c)";
        case SnmpVersionV3:
            return "(SNMPv3)";
        default:
            return "(UNRECOGNIZED)";
    }
}

}  // namespace

void Message::Print(bool verbose, std::string& out) const {
    kalrt::CString text;
    kalrt::CString piece;
    // "a.b.c.d:port", or "[v6]:port" so that an IPv6 address stays apart from its port.
    text.Format("\nDest: %s\nVersion: %i %s\nCommunity: %s\nPdu Type: %u %s\n",
                brask::IpEndpoint(dstAddr_, dstPort_).ToString().c_str(),
                static_cast<int>(version_), verbose ? VersionName(version_) : "",
                community_.c_str(), type_, verbose ? PduName(type_) : "");
    switch (type_) {
        case PduGetRequest:
        case PduGetNextRequest:
        case PduResponse:
        case PduSetRequest:
        case PduInformRequest:
        case PduV2Trap:
            piece.Format("Request-id: %i\nError-status: %i\nError-index: %i\n", requestId_,
                         errStat_, errIndex_);
            text += piece;
            break;
        case PduV1Trap: {
            std::string enterprise;
            enterprise_.MakeStr(enterprise);
            piece.Format(
                "Enterprise: %s\nAgent-addr: %s\nGeneric-type: %i\nSpecific-type: %i\nTimestamp: "
                "%u\n",
                enterprise.c_str(), agentAddr_.ToString().c_str(), genType_, specType_, stamp_);
            text += piece;
            break;
        }
        default:
            break;
    }
    piece.Format("%i variable bindings\n", static_cast<int>(vbs_.size()));
    text += piece;
    if (verbose) {
        for (const VarBind& vb : vbs_) {
            std::string name;
            std::string typeName;
            std::string value;
            vb.Objid().MakeStr(name);
            vb.Value().MakeStrType(typeName);
            vb.Value().MakeStr(value);
            piece.Format(" %s %s %s\n", name.c_str(), typeName.c_str(), value.c_str());
            text += piece;
        }
    }
    text += "\n";
    out = text;
}

bool ParseSecModel(const std::string& text, v3SecurityModel& model) {
    kalrt::CString word(text);
    word.MakeLower();
    if (word == "any") {
        model = SecModelAny;
    } else if (word == "usm") {
        model = SecModelUSM;
    } else if (word == "1") {
        model = SecModelSNMPv1;
    } else if (word == "2c") {
        model = SecModelSNMPv2c;
    } else {
        return false;
    }
    return true;
}

bool ParseSecLevel(const std::string& text, v3SecurityLevel& level) {
    kalrt::CString word(text);
    word.MakeLower();
    if (word == "noauthnopriv") {
        level = SecLevelNoAuthNoPriv;
    } else if (word == "authnopriv") {
        level = SecLevelAuthNoPriv;
    } else if (word == "authpriv") {
        level = SecLevelAuthPriv;
    } else {
        return false;
    }
    return true;
}

std::string TranslateSecModel(v3SecurityModel model) {
    switch (model) {
        case SecModelAny:
            return "any";
        case SecModelSNMPv1:
            return "1";
        case SecModelSNMPv2c:
            return "2c";
        case SecModelUSM:
            return "usm";
        default:
            return "unknown";
    }
}

std::string TranslateSecLevel(v3SecurityLevel level) {
    switch (level) {
        case SecLevelNoAuthNoPriv:
            return "noAuthNoPriv";
        case SecLevelAuthNoPriv:
            return "authNoPriv";
        case SecLevelAuthPriv:
            return "authPriv";
        default:
            return "unknown";
    }
}

std::ostream& operator<<(std::ostream& os, SnmpVersion version) {
    switch (version) {
        case SnmpVersionV1:
            return os << "SNMPv1";
        case SnmpVersionV2c:
            return os << "SNMPv2c";
        case SnmpVersionV3:
            return os << "SNMPv3";
        default:
            return os << "Unknown SNMP version";
    }
}

std::ostream& operator<<(std::ostream& os, v3SecurityLevel level) {
    switch (level) {
        case SecLevelNoAuthNoPriv:
        case SecLevelAuthNoPriv:
        case SecLevelAuthPriv:
            return os << TranslateSecLevel(level);
        default:
            return os << "Unknown SNMPv3 security level";
    }
}

}  // namespace snmp
