// `zksnmp usm passwd`: changes an SNMPv3 user's passwords on an agent with
// the KeyChange objects of RFC 3414, in the manner of the usual snmpusm.
#include <iostream>

#include "commands.h"
#include "snmp/session.h"

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
