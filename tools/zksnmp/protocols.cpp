// Protocol name tables of zksnmp.
#include "protocols.h"

#include <strings.h>

namespace zksnmp {
namespace {

struct AuthEntry {
    const char* name;
    snmp::USMAuthProtocol protocol;
};

struct PrivEntry {
    const char* name;
    snmp::USMPrivProtocol protocol;
};

// The first name of a protocol is the one printed; it is net-snmp's spelling,
// so that printed names work with its tools.
constexpr AuthEntry kAuth[] = {
    {"MD5", snmp::USMAuthMD5},        {"SHA", snmp::USMAuthSHA1},
    {"SHA1", snmp::USMAuthSHA1},      {"SHA-224", snmp::USMAuthSHA224},
    {"SHA-256", snmp::USMAuthSHA256}, {"SHA-384", snmp::USMAuthSHA384},
    {"SHA-512", snmp::USMAuthSHA512},
};

// "AES-192" and "AES-256" extend short keys by hashing, the "-C" forms by
// re-localising: the two methods agents use, under net-snmp's names.
constexpr PrivEntry kPriv[] = {
    {"DES", snmp::USMPrivDES},           {"AES", snmp::USMPrivAES128},
    {"AES-128", snmp::USMPrivAES128},    {"AES-192", snmp::USMPrivAES192},
    {"AES-256", snmp::USMPrivAES256},    {"AES-192-C", snmp::USMPrivAES192C},
    {"AES-256-C", snmp::USMPrivAES256C},
};

}  // namespace

bool ParseAuthProtocol(const std::string& name, snmp::USMAuthProtocol& out) {
    for (const auto& e : kAuth) {
        if (strcasecmp(name.c_str(), e.name) == 0) {
            out = e.protocol;
            return true;
        }
    }
    return false;
}

bool ParsePrivProtocol(const std::string& name, snmp::USMPrivProtocol& out) {
    for (const auto& e : kPriv) {
        if (strcasecmp(name.c_str(), e.name) == 0) {
            out = e.protocol;
            return true;
        }
    }
    return false;
}

std::string AuthProtocolName(snmp::USMAuthProtocol protocol) {
    for (const auto& e : kAuth) {
        if (e.protocol == protocol) {
            return e.name;
        }
    }
    return "none";
}

std::string PrivProtocolName(snmp::USMPrivProtocol protocol) {
    for (const auto& e : kPriv) {
        if (e.protocol == protocol) {
            return e.name;
        }
    }
    return "none";
}

std::string AuthProtocolChoices() {
    std::string out;
    for (const auto& e : kAuth) {
        out += out.empty() ? "" : "|";
        out += e.name;
    }
    return out;
}

std::string PrivProtocolChoices() {
    std::string out;
    for (const auto& e : kPriv) {
        out += out.empty() ? "" : "|";
        out += e.name;
    }
    return out;
}

}  // namespace zksnmp
