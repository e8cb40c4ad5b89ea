// zksnmp: the command-line SNMP tool on libZorKalSnmp (manager commands, an
// agent, a notification receiver and a self-contained demonstration).
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "demo.h"
#include "server.h"
#include "snmp/init.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* summary;
};

const Command kCommands[] = {
    {"get", zksnmp::RunGet, "read instances"},
    {"getnext", zksnmp::RunGetNext, "read the instances that follow the given OIDs"},
    {"getbulk", zksnmp::RunGetBulk, "GetBulk request (-Cn non-repeaters, -Cr max-repetitions)"},
    {"walk", zksnmp::RunWalk, "read a subtree (GetNext, or GetBulk with --bulk)"},
    {"set", zksnmp::RunSet, "write instances: OID TYPE VALUE (i u c g t a o s x C n)"},
    {"trap", zksnmp::RunTrap, "send an SNMPv1 or SNMPv2 trap"},
    {"inform", zksnmp::RunInform, "send an inform and wait for its acknowledgement"},
    {"table", zksnmp::RunTable, "read a table's columns as rows: ENTRY-OID [COLUMN...]"},
    {"usm", zksnmp::RunUsm, "passwd: change an SNMPv3 user's passwords on an agent"},
    {"listen", zksnmp::RunListen, "receive and print traps and informs"},
    {"agent", zksnmp::RunAgent, "run an agent (system group, statistics, a table, MIB files)"},
    {"demo", zksnmp::RunDemo,
     "start an agent and exercise it over every version and security level"},
};

int Usage(std::ostream& out) {
    out << "usage: zksnmp COMMAND [options] ...   (zksnmp COMMAND --help for its options)\n";
    for (const auto& c : kCommands) {
        out << "  " << c.name << std::string(10 - std::strlen(c.name), ' ') << c.summary << "\n";
    }
    out << "With no command, zksnmp runs the demo.\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string name = args.empty() ? "demo" : args[0];
    if (!args.empty()) {
        args.erase(args.begin());
    }
    if (name == "-h" || name == "--help" || name == "help") {
        return Usage(std::cout);
    }
    for (const auto& c : kCommands) {
        if (name == c.name) {
            snmp::Init();
            const int rc = c.run(args);
            snmp::Shutdown();
            return rc;
        }
    }
    std::cerr << "zksnmp: unknown command '" << name << "' (zksnmp --help lists them)" << std::endl;
    return 1;
}
