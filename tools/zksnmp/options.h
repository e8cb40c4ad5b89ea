// Command-line options of zksnmp's manager commands, in the style of the
// usual SNMP tools (-v -c -u -l -a -A -x -X -n -e -t -r -m -M -O, -Cn/-Cr), and the
// HOST[:PORT] agent address.
#ifndef ZKSNMP_OPTIONS_H
#define ZKSNMP_OPTIONS_H

#include <string>
#include <vector>

#include "brask/ip_addr.h"
#include "lookup.h"
#include "mib_names.h"
#include "snmp/message.h"
#include "snmp/octet_string.h"

namespace zksnmp {

struct ClientOptions {
    snmp::SnmpVersion version = snmp::SnmpVersionV2c;
    std::string community = "public";
    UserSpec user;
    snmp::v3SecurityLevel level = snmp::SecLevelNoAuthNoPriv;
    std::string context;
    snmp::OctetString engineId;  // empty: discover it
    double timeout = 1.0;        // seconds per attempt
    int retries = 5;
    int nonRepeaters = 0;
    int maxRepetitions = 10;
    bool json = false;
    bool bulk = false;
    std::string host;    // as given
    brask::IpAddr addr;  // IPv4 or IPv6
    unsigned short port = 161;
    unsigned int localAddr = 0;  // host-order IPv4 to send from; 0: any
    std::string mibModules;      // -m
    std::string mibDirs;         // -M
    OidStyle oidStyle = OidStyle::Module;
};

// Parses the options and the agent address; the words after the agent are
// returned in `operands`. `defaultPort` is used when the agent has no port.
// False with a one-line reason in `error` (also for -h / --help, with error
// "help").
bool ParseClientArgs(const std::vector<std::string>& args, unsigned short defaultPort,
                     ClientOptions& out, std::vector<std::string>& operands, std::string& error);

// Reads an agent address: HOST[:PORT], [IPV6][:PORT] or a bare IPV6 address
// (no port then), each optionally after "udp:" (IPv4 only) or "udp6:"
// ("udpv6:", "udpipv6:"; IPv6 only), as in "udp6:[::1]:161", "udp6:::1",
// "udp:127.0.0.1:161". HOST is an address or a name; a name resolves to IPv4
// first unless "udp6:" asks for IPv6. Port 0 only when `allowZeroPort`. False
// with a reason in `error`.
bool ParseAgentAddress(const std::string& text, unsigned short defaultPort, brask::IpAddr& addr,
                       unsigned short& port, std::string& error, bool allowZeroPort = false);

// The SNMPv1 trap's agent-addr: the IPv4 address `text` (empty: 127.0.0.1
// towards an IPv4 receiver, 0.0.0.0 towards an IPv6 one, which has no IPv4
// address of the sender to give). False with a reason in `error`.
bool ParseTrapAgentAddr(const std::string& text, const brask::IpAddr& receiver,
                        unsigned int& agentAddr, std::string& error);

// The local endpoint a manager opens to reach `peer`: the wildcard address
// of the peer's family, a system-chosen port.
brask::IpEndpoint LocalEndpointFor(const brask::IpAddr& peer);

// The usage text of the common manager options.
std::string ClientOptionsHelp();

}  // namespace zksnmp

#endif
