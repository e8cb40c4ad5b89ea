// The manager commands of zksnmp: get, getnext, getbulk, walk, set, trap and
// inform. Each takes the words after its name and returns the exit status.
#ifndef ZKSNMP_COMMANDS_H
#define ZKSNMP_COMMANDS_H

#include <functional>
#include <string>
#include <vector>

#include "session.h"
#include "snmp/object_id.h"
#include "snmp/var_bind.h"

namespace zksnmp {

int RunGet(const std::vector<std::string>& args);
int RunGetNext(const std::vector<std::string>& args);
int RunGetBulk(const std::vector<std::string>& args);
int RunWalk(const std::vector<std::string>& args);
int RunSet(const std::vector<std::string>& args);
int RunTrap(const std::vector<std::string>& args);
int RunInform(const std::vector<std::string>& args);
// table, usm passwd (session_commands.cpp).
int RunTable(const std::vector<std::string>& args);
int RunUsm(const std::vector<std::string>& args);

// How a walk ended.
enum class WalkEnd { Done, Error };

// Walks the subtree of `root` with the library session (GetBulk when the
// options ask for it), giving each binding to `sink`. `error` explains an
// Error (an OID that does not increase is one).
WalkEnd Walk(ClientSession& session, const snmp::ObjectId& root,
             const std::function<void(const snmp::VarBind&)>& sink, std::string& error);

// Reads `OID TYPE VALUE` triples into bindings. False with a reason.
bool ParseSetTriples(const std::vector<std::string>& words, size_t first, snmp::VarBindList& out,
                     std::string& error);

}  // namespace zksnmp

#endif
