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

// How a walk ended.
enum class WalkEnd { Done, Error };

// Walks the subtree of `root` with GetNext, or GetBulk when the session's
// options ask for it, giving each binding to `sink`. It stops at the end of
// the subtree, at an exception value, at SNMPv1's noSuchName, and (as an
// error) at an OID that does not increase. `error` explains an Error;
// `requests` counts the requests sent.
WalkEnd Walk(ClientSession& session, const snmp::ObjectId& root,
             const std::function<void(const snmp::VarBind&)>& sink, std::string& error,
             unsigned int* requests = nullptr);

// Reads `OID TYPE VALUE` triples into bindings. False with a reason.
bool ParseSetTriples(const std::vector<std::string>& words, size_t first, snmp::VarBindList& out,
                     std::string& error);

}  // namespace zksnmp

#endif
