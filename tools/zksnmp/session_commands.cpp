// The commands that are one library-session operation each: `zksnmp table`
// (a table's columns as rows) and `zksnmp usm passwd` (an SNMPv3 user's
// passwords changed with the KeyChange objects of RFC 3414, in the manner of
// the usual snmpusm).
#include <iostream>

#include "commands.h"
#include "snmp/session.h"
#include "value_text.h"

namespace zksnmp {

namespace {

const char* const kUsage =
    "usage: zksnmp usm [options] AGENT passwd [-Co] [-Ca] [-Cx] OLD-PASSPHRASE NEW-PASSPHRASE "
    "[USER]\n";

int UsmFail(const std::string& message) {
    std::cerr << "zksnmp usm: " << message << std::endl;
    return 1;
}

}  // namespace

int RunTable(const std::vector<std::string>& args) {
    ClientOptions options;
    std::vector<std::string> operands;
    std::string error;
    if (!ParseClientArgs(args, 161, options, operands, error)) {
        if (error == "help") {
            std::cout << "usage: zksnmp table [options] AGENT ENTRY-OID [COLUMN...]\n"
                      << ClientOptionsHelp()
                      << "  --bulk             walk with GetBulk (-Cr repetitions)\n"
                         "Prints one line per row: the index, then COLUMN=value for each column\n"
                         "(all columns found when none is given).\n";
            return 0;
        }
        std::cerr << "zksnmp table: " << error << std::endl;
        return 1;
    }
    snmp::ObjectId entry;
    if (operands.empty() || !ParseOid(operands[0], entry)) {
        std::cerr << "zksnmp table: expected ENTRY-OID [COLUMN...]" << std::endl;
        return 1;
    }
    std::vector<unsigned int> columns;
    for (size_t i = 1; i < operands.size(); ++i) {
        unsigned long long n = 0;
        if (!ParseUnsigned(operands[i], 0xFFFFFFFFULL, n)) {
            std::cerr << "zksnmp table: bad column '" << operands[i] << "'" << std::endl;
            return 1;
        }
        columns.push_back(static_cast<unsigned int>(n));
    }
    ClientSession session(options);
    snmp::SessionResult r;
    if (!session.Open(error) ||
        !session.Run([&](snmp::Session& s,
                         snmp::Session::TargetId id) { return s.GetTable(id, entry, columns); },
                     r, error)) {
        std::cerr << "zksnmp table: " << error << std::endl;
        return 1;
    }
    if (r.errorStatus != 0) {
        std::cerr << "zksnmp table: Error in packet: " << ErrorStatusName(r.errorStatus)
                  << std::endl;
        return 1;
    }
    for (const snmp::SessionRow& row : r.rows) {
        std::string line = OidText(row.index);
        for (size_t i = 0; i < row.cells.size(); ++i) {
            line += " " + std::to_string(r.columns[i]) + "=" + ValueText(row.cells[i]);
        }
        std::cout << line << '\n';
    }
    return 0;
}

int RunUsm(const std::vector<std::string>& args) {
    ClientOptions options;
    std::vector<std::string> operands;
    std::string error;
    if (!ParseClientArgs(args, 161, options, operands, error)) {
        if (error == "help") {
            std::cout << kUsage << ClientOptionsHelp()
                      << "  -Co                change the user's own KeyChange objects\n"
                         "  -Ca, -Cx           change only the authentication / privacy key\n";
            return 0;
        }
        return UsmFail(error);
    }
    if (operands.empty() || operands[0] != "passwd") {
        return UsmFail("the only sub-command is passwd");
    }
    if (options.version != snmp::SnmpVersionV3 || options.user.auth == snmp::USMAuthNone) {
        return UsmFail("passwd needs SNMPv3 with authentication (-v 3 -a -A)");
    }
    snmp::SessionKeyChange change;
    bool authOnly = false;
    bool privOnly = false;
    std::vector<std::string> words;
    for (size_t i = 1; i < operands.size(); ++i) {
        const std::string& w = operands[i];
        if (w == "-Co") {
            change.own = true;
        } else if (w == "-Ca") {
            authOnly = true;
        } else if (w == "-Cx") {
            privOnly = true;
        } else if (w.size() > 1 && w[0] == '-') {
            return UsmFail("unknown passwd option '" + w + "'");
        } else {
            words.push_back(w);
        }
    }
    if (words.size() < 2 || words.size() > 3) {
        return UsmFail("expected OLD-PASSPHRASE NEW-PASSPHRASE [USER]");
    }
    if (words[1].size() < 8) {
        return UsmFail("the new passphrase needs at least 8 characters");
    }
    const bool both = !authOnly && !privOnly;
    const bool priv = options.user.priv != snmp::USMPrivNone;
    if (privOnly && !priv) {
        return UsmFail("-Cx needs a privacy protocol (-x)");
    }
    change.oldAuthPass = words[0];
    change.oldPrivPass = words[0];
    if (both || authOnly) {
        change.newAuthPass = words[1];
    }
    if ((both || privOnly) && priv) {
        change.newPrivPass = words[1];
    }
    if (words.size() == 3) {
        change.userName = words[2];
    }
    ClientSession session(options);
    if (!session.Open(error)) {
        return UsmFail(error);
    }
    snmp::SessionResult r;
    if (!session.Run([&change](snmp::Session& s,
                               snmp::Session::TargetId id) { return s.ChangeKeys(id, change); },
                     r, error)) {
        return UsmFail(error);
    }
    if (r.errorStatus != 0) {
        return UsmFail("Error in packet: " + ErrorStatusName(r.errorStatus));
    }
    std::cout << "SNMPv3 Key(s) successfully changed." << std::endl;
    return 0;
}

}  // namespace zksnmp
