// Command-line options of zksnmp's manager commands, in the style of the
// usual SNMP tools (-v -c -u -l -a -A -x -X -n -e -t -r, -Cn/-Cr), and the
// HOST[:PORT] agent address.
#ifndef ZKSNMP_OPTIONS_H
#define ZKSNMP_OPTIONS_H

#include <string>
#include <vector>

#include "lookup.h"
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
    std::string host;       // as given
    unsigned int addr = 0;  // host-order IPv4
    unsigned short port = 161;
    unsigned int localAddr = 0;  // host-order IPv4 to send from; 0: any
};

// Parses the options and the agent address; the words after the agent are
// returned in `operands`. `defaultPort` is used when the agent has no port.
// False with a one-line reason in `error` (also for -h / --help, with error
// "help").
bool ParseClientArgs(const std::vector<std::string>& args, unsigned short defaultPort,
                     ClientOptions& out, std::vector<std::string>& operands, std::string& error);

// Reads HOST[:PORT] (also udp:HOST:PORT); HOST is a dotted IPv4 address or a
// name that resolves to one. False with a reason in `error`.
bool ParseAgentAddress(const std::string& text, unsigned short defaultPort, unsigned int& addr,
                       unsigned short& port, std::string& error);

// The usage text of the common manager options.
std::string ClientOptionsHelp();

}  // namespace zksnmp

#endif
