// `zksnmp demo`: an agent on 127.0.0.1 polled by this process over SNMPv1,
// SNMPv2c and SNMPv3 at every security level, printed as a table.
#ifndef ZKSNMP_DEMO_H
#define ZKSNMP_DEMO_H

#include <string>
#include <vector>

namespace zksnmp {

int RunDemo(const std::vector<std::string>& args);

}  // namespace zksnmp

#endif
