// The names of the SNMPv3 authentication and privacy protocols as zksnmp's
// options spell them (-a, -x, --user), in one table each, so that adding a
// protocol to the library means adding one line here.
#ifndef ZKSNMP_PROTOCOLS_H
#define ZKSNMP_PROTOCOLS_H

#include <string>

#include "snmp/usm_attributes.h"

namespace zksnmp {

// Reads an authentication protocol name ("MD5", "SHA"), ignoring case.
// False for an unknown name; `out` is then unchanged.
bool ParseAuthProtocol(const std::string& name, snmp::USMAuthProtocol& out);
// Reads a privacy protocol name ("DES"), ignoring case. False for an unknown
// name; `out` is then unchanged.
bool ParsePrivProtocol(const std::string& name, snmp::USMPrivProtocol& out);
// The option spelling of a protocol ("MD5", "SHA", "DES"), "none" for the
// none values.
std::string AuthProtocolName(snmp::USMAuthProtocol protocol);
std::string PrivProtocolName(snmp::USMPrivProtocol protocol);
// The accepted names joined by '|', for usage and error texts.
std::string AuthProtocolChoices();
std::string PrivProtocolChoices();

}  // namespace zksnmp

#endif
