// Command-line options of zksnmp's manager commands.
#include "options.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "protocols.h"
#include "snmp/asn_value.h"
#include "value_text.h"

namespace zksnmp {
namespace {

bool ParseCount(const std::string& text, int& out) {
    unsigned long long n = 0;
    if (!ParseUnsigned(text, 2147483647ULL, n)) {
        return false;
    }
    out = static_cast<int>(n);
    return true;
}

bool ParseSeconds(const std::string& text, double& out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || !(v > 0) || v > 3600) {
        return false;
    }
    out = v;
    return true;
}

// Strips a transport prefix: 4 for "udp:", 6 for the IPv6 ones, 0 for none.
int TakeTransport(std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return 0;
    std::string prefix = text.substr(0, colon);
    for (char& c : prefix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const int family = prefix == "udp"                                                ? 4
                       : prefix == "udp6" || prefix == "udpv6" || prefix == "udpipv6" ? 6
                                                                                      : 0;
    if (family != 0) text = text.substr(colon + 1);
    return family;
}

bool Resolve(const std::string& host, int family, brask::IpAddr& out) {
    for (const int af : {AF_INET, AF_INET6}) {
        if ((family == 4 && af != AF_INET) || (family == 6 && af != AF_INET6)) continue;
        addrinfo hints{};
        hints.ai_family = af;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) continue;
        if (af == AF_INET) {
            out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        } else {
            out = reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr;
        }
        freeaddrinfo(found);
        return true;
    }
    return false;
}

}  // namespace

bool ParseAgentAddress(const std::string& text, unsigned short defaultPort, brask::IpAddr& addr,
                       unsigned short& port, std::string& error, bool allowZeroPort) {
    std::string rest = text;
    const int family = TakeTransport(rest);
    std::string host = rest;
    std::string portText;
    bool hasPort = false;
    bool bracketed = false;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || (close + 1 < rest.size() && rest[close + 1] != ':')) {
            error = "bad IPv6 address in '" + text + "'";
            return false;
        }
        host = rest.substr(1, close - 1);
        hasPort = close + 1 < rest.size();
        if (hasPort) portText = rest.substr(close + 2);
        bracketed = true;
    } else if (std::count(rest.begin(), rest.end(), ':') < 2) {
        // More than one colon is a bare IPv6 address, which carries no port.
        const size_t colon = rest.rfind(':');
        if (colon != std::string::npos) {
            host = rest.substr(0, colon);
            portText = rest.substr(colon + 1);
            hasPort = true;
        }
    }
    unsigned short p = defaultPort;
    if (hasPort) {
        unsigned long long n = 0;
        if (!ParseUnsigned(portText, 65535, n) || (n == 0 && !allowZeroPort)) {
            error = "bad port in '" + text + "'";
            return false;
        }
        p = static_cast<unsigned short>(n);
    }
    if (host.empty()) {
        error = "missing host in '" + text + "'";
        return false;
    }
    brask::IpAddr a(host);
    if (a.IsValid()) {
        const bool v6 = a.Version() == brask::IpAddr::kIPv6;
        if ((bracketed || family == 6) && !v6) {
            error = "not an IPv6 address in '" + text + "'";
            return false;
        }
        if (family == 4 && v6) {
            error = "udp: takes an IPv4 address, use udp6: for '" + host + "'";
            return false;
        }
    } else if (bracketed || !Resolve(host, family, a)) {
        error = "unknown host '" + host + "'";
        return false;
    }
    addr = a;
    port = p;
    return true;
}

bool ParseTrapAgentAddr(const std::string& text, const brask::IpAddr& receiver,
                        unsigned int& agentAddr, std::string& error) {
    if (text.empty()) {
        agentAddr = receiver.Version() == brask::IpAddr::kIPv6 ? 0 : 0x7F000001;
        return true;
    }
    brask::IpAddr a;
    unsigned short unusedPort = 0;
    if (!ParseAgentAddress(text, 0, a, unusedPort, error) || a.Version() != brask::IpAddr::kIPv4) {
        error = "bad agent address '" + text + "'";
        return false;
    }
    agentAddr = a.Addr4();
    return true;
}

brask::IpEndpoint LocalEndpointFor(const brask::IpAddr& peer) {
    if (peer.Version() == brask::IpAddr::kIPv6) {
        return brask::IpEndpoint(brask::IpAddr(in6addr_any), 0);
    }
    return brask::IpEndpoint(brask::IpAddr(0U), 0);
}

bool ParseClientArgs(const std::vector<std::string>& given, unsigned short defaultPort,
                     ClientOptions& out, std::vector<std::string>& operands, std::string& error) {
    ClientOptions o;
    // The long switches may follow the operands too, as scripts append them.
    std::vector<std::string> args;
    for (const std::string& a : given) {
        if (a == "--json") {
            o.json = true;
        } else if (a == "--bulk") {
            o.bulk = true;
        } else {
            args.push_back(a);
        }
    }
    o.port = defaultPort;
    bool levelGiven = false;
    bool authGiven = false;
    bool privGiven = false;
    size_t i = 0;
    // The value of an option: glued to it ("-v2c") or the next word.
    auto value = [&](const std::string& opt, size_t glue, std::string& v) {
        if (args[i].size() > glue) {
            v = args[i].substr(glue);
            return true;
        }
        if (i + 1 >= args.size()) {
            error = "option " + opt + " needs a value";
            return false;
        }
        v = args[++i];
        return true;
    };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            error = "help";
            return false;
        }
        if (a.size() < 2 || a[0] != '-') {
            break;
        }
        std::string v;
        if (a.rfind("-Cn", 0) == 0 || a.rfind("-Cr", 0) == 0) {
            const std::string opt = a.substr(0, 3);
            if (!value(opt, 3, v)) {
                return false;
            }
            if (!ParseCount(v, opt == "-Cn" ? o.nonRepeaters : o.maxRepetitions)) {
                error = "bad number for " + opt + ": '" + v + "'";
                return false;
            }
            continue;
        }
        const std::string opt = a.substr(0, 2);
        const char c = a[1];
        if (std::string("vculaAxXnetrmMO").find(c) == std::string::npos ||
            (a.size() > 2 && a[1] == '-')) {
            error = "unknown option '" + a + "'";
            return false;
        }
        if (!value(opt, 2, v)) {
            return false;
        }
        switch (c) {
            case 'v':
                if (v == "1") {
                    o.version = snmp::SnmpVersionV1;
                } else if (v == "2c") {
                    o.version = snmp::SnmpVersionV2c;
                } else if (v == "3") {
                    o.version = snmp::SnmpVersionV3;
                } else {
                    error = "bad version '" + v + "' (use 1, 2c or 3)";
                    return false;
                }
                break;
            case 'c':
                o.community = v;
                break;
            case 'u':
                o.user.name = v;
                break;
            case 'l':
                if (!snmp::ParseSecLevel(v, o.level)) {
                    error =
                        "bad security level '" + v + "' (use noAuthNoPriv, authNoPriv or authPriv)";
                    return false;
                }
                levelGiven = true;
                break;
            case 'a':
                if (!ParseAuthProtocol(v, o.user.auth)) {
                    error = "bad authentication protocol '" + v + "' (use " +
                            AuthProtocolChoices() + ")";
                    return false;
                }
                authGiven = true;
                break;
            case 'A':
                o.user.authPass = v;
                break;
            case 'x':
                if (!ParsePrivProtocol(v, o.user.priv)) {
                    error = "bad privacy protocol '" + v + "' (use " + PrivProtocolChoices() + ")";
                    return false;
                }
                privGiven = true;
                break;
            case 'X':
                o.user.privPass = v;
                break;
            case 'n':
                o.context = v;
                break;
            case 'e':
                if (!ParseHex(v, o.engineId) || o.engineId.Size() < 5 || o.engineId.Size() > 32) {
                    error = "bad engine id '" + v + "' (5 to 32 octets in hex)";
                    return false;
                }
                break;
            case 't':
                if (!ParseSeconds(v, o.timeout)) {
                    error = "bad timeout '" + v + "' (seconds)";
                    return false;
                }
                break;
            case 'm':
                o.mibModules = v;
                break;
            case 'M':
                o.mibDirs = v;
                break;
            case 'O':
                for (char f : v) {
                    if (std::string("nfsS").find(f) == std::string::npos) {
                        error = "unsupported output option -O" + std::string(1, f) +
                                " (use n, f, s or S)";
                        return false;
                    }
                    o.oidStyle = f == 'n'   ? OidStyle::Numeric
                                 : f == 'f' ? OidStyle::Full
                                 : f == 's' ? OidStyle::Short
                                            : OidStyle::Module;
                }
                break;
            default:  // 'r'
                if (!ParseCount(v, o.retries) || o.retries > 100) {
                    error = "bad retry count '" + v + "'";
                    return false;
                }
                break;
        }
    }
    if (i >= args.size()) {
        error = "missing agent address";
        return false;
    }
    if (!ParseAgentAddress(args[i], defaultPort, o.addr, o.port, error)) {
        return false;
    }
    o.host = args[i];
    operands.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    if (o.version == snmp::SnmpVersionV3) {
        if (o.user.name.empty()) {
            error = "SNMPv3 needs a user name (-u)";
            return false;
        }
        // As the usual tools do: passwords alone choose MD5 and DES, and the
        // level follows the protocols when it is not given.
        if (!o.user.authPass.empty() && !authGiven) {
            o.user.auth = snmp::USMAuthMD5;
        }
        if (!o.user.privPass.empty() && !privGiven) {
            o.user.priv = snmp::USMPrivDES;
        }
        if (!levelGiven) {
            o.level = LevelOf(o.user);
        }
        if (o.level >= snmp::SecLevelAuthNoPriv &&
            (o.user.auth == snmp::USMAuthNone || o.user.authPass.size() < 8)) {
            error = "authNoPriv and authPriv need -a and an -A password of at least 8 characters";
            return false;
        }
        if (o.level == snmp::SecLevelAuthPriv &&
            (o.user.priv == snmp::USMPrivNone || o.user.privPass.size() < 8)) {
            error = "authPriv needs -x and an -X password of at least 8 characters";
            return false;
        }
        if (o.level < snmp::SecLevelAuthPriv) {
            o.user.priv = snmp::USMPrivNone;
        }
        if (o.level < snmp::SecLevelAuthNoPriv) {
            o.user.auth = snmp::USMAuthNone;
        }
    }
    ConfigureMibs(o.mibDirs, o.mibModules);
    out = o;
    return true;
}

std::string ClientOptionsHelp() {
    return "  -v 1|2c|3          SNMP version (default 2c)\n"
           "  -c COMMUNITY       community (default public)\n"
           "  -u USER            SNMPv3 user name\n"
           "  -l LEVEL           noAuthNoPriv|authNoPriv|authPriv\n"
           "  -a PROTOCOL        authentication protocol (" +
           AuthProtocolChoices() +
           ")\n"
           "  -A PASSWORD        authentication password\n"
           "  -x PROTOCOL        privacy protocol (" +
           PrivProtocolChoices() +
           ")\n"
           "  -X PASSWORD        privacy password\n"
           "  -n CONTEXT         SNMPv3 context name\n"
           "  -e ENGINEID        the agent's engine id in hex (default: discover it)\n"
           "  -t SECONDS         time-out per attempt (default 1)\n"
           "  -r RETRIES         retries after a time-out (default 5)\n"
           "  -m MODULES         MIB modules to load (colon-separated, ALL, +MODULES adds)\n"
           "  -M DIRS            MIB module directories (colon-separated, +DIRS adds)\n"
           "  -On, -Of, -Os      numeric OIDs, full names, names without module\n"
           "  --json             print JSON instead of text\n"
           "  AGENT              HOST[:PORT]\n";
}

}  // namespace zksnmp
