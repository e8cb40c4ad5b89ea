// The manager commands of zksnmp.
#include "commands.h"

#include <cstdio>
#include <iostream>

#include "mib_names.h"
#include "snmp/asn_value.h"
#include "snmp/init.h"
#include "snmp/message.h"
#include "value_text.h"

namespace zksnmp {
namespace {

// Collects the output of a command: text lines as they come, or one JSON
// array at the end.
class Printer {
public:
    Printer(bool json, OidStyle style) : json_(json), style_(style) {}
    ~Printer() {
        if (json_) {
            std::cout << "[" << items_ << "]" << std::endl;
        }
    }
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;
    void Add(const snmp::VarBind& vb) {
        if (json_) {
            const bool named = style_ != OidStyle::Numeric && MibNamesOn();
            items_ += (items_.empty() ? "" : ",") +
                      JsonBinding(vb, named ? OidName(vb.Objid(), style_) : std::string());
        } else {
            std::cout << NamedBinding(vb, style_) << '\n';
        }
    }

private:
    bool json_;
    OidStyle style_;
    std::string items_;
};

int Fail(const std::string& cmd, const std::string& message) {
    std::cerr << "zksnmp " << cmd << ": " << message << std::endl;
    return 1;
}

// Parses the options; prints help or the error. `rc` is the exit status when
// false is returned.
bool Setup(const std::string& cmd, const std::string& operandsHelp,
           const std::vector<std::string>& args, unsigned short defaultPort, ClientOptions& options,
           std::vector<std::string>& operands, int& rc) {
    std::string error;
    if (ParseClientArgs(args, defaultPort, options, operands, error)) {
        return true;
    }
    if (error == "help") {
        std::cout << "usage: zksnmp " << cmd << " [options] AGENT " << operandsHelp << "\n"
                  << ClientOptionsHelp();
        if (cmd == "getbulk" || cmd == "walk") {
            std::cout << "  -Cn N              non-repeaters (default 0)\n"
                         "  -Cr N              max-repetitions (default 10)\n";
        }
        if (cmd == "trap") {
            std::cout << "  (SNMPv3 traps are sent from this side's engine: -e gives its id, "
                         "default random)\n";
        }
        if (cmd == "walk") {
            std::cout << "  --bulk             walk with GetBulk instead of GetNext\n";
        }
        rc = 0;
        return false;
    }
    rc = Fail(cmd, error);
    return false;
}

bool Open(const std::string& cmd, ClientSession& session, int& rc) {
    std::string error;
    if (!session.Open(error)) {
        rc = Fail(cmd, error);
        return false;
    }
    return true;
}

bool OidList(const std::string& cmd, const std::vector<std::string>& words, snmp::VarBindList& vbs,
             int& rc) {
    if (words.empty()) {
        rc = Fail(cmd, "no OID given");
        return false;
    }
    for (const std::string& w : words) {
        snmp::ObjectId oid;
        std::string error;
        if (!ResolveOid(w, oid, error)) {
            rc = Fail(cmd, error);
            return false;
        }
        vbs.push_back(snmp::VarBind(oid, snmp::AsnValue()));
    }
    return true;
}

// Prints a response, or its error-status; returns the exit status.
int Report(const std::string& cmd, const snmp::Message& response, const ClientOptions& options) {
    if (response.ErrStat() != 0) {
        std::string where;
        int i = 1;
        for (const auto& vb : response.VarBinds()) {
            if (i++ == response.ErrIndex()) {
                where = " at " + OidName(vb.Objid(), options.oidStyle);
            }
        }
        return Fail(cmd, "Error in packet: " + ErrorStatusName(response.ErrStat()) + " (index " +
                             std::to_string(response.ErrIndex()) + where + ")");
    }
    Printer printer(options.json, options.oidStyle);
    for (const auto& vb : response.VarBinds()) {
        printer.Add(vb);
    }
    return 0;
}

int Simple(const std::string& cmd, unsigned int pduType, const std::vector<std::string>& args) {
    ClientOptions options;
    std::vector<std::string> operands;
    int rc = 0;
    if (!Setup(cmd, "OID...", args, 161, options, operands, rc)) {
        return rc;
    }
    if (pduType == snmp::PduGetBulkRequest && options.version == snmp::SnmpVersionV1) {
        return Fail(cmd, "GetBulk needs SNMPv2c or SNMPv3");
    }
    snmp::VarBindList vbs;
    if (!OidList(cmd, operands, vbs, rc)) {
        return rc;
    }
    ClientSession session(options);
    if (!Open(cmd, session, rc)) {
        return rc;
    }
    std::string error;
    auto response = session.Request(pduType, vbs, error);
    if (!response) {
        return Fail(cmd, error);
    }
    return Report(cmd, *response, options);
}

bool UpTimeValue(const std::string& text, unsigned int& out) {
    if (text.empty()) {
        out = snmp::UpTime();
        return true;
    }
    unsigned long long n = 0;
    if (!ParseUnsigned(text, 0xFFFFFFFFULL, n)) {
        return false;
    }
    out = static_cast<unsigned int>(n);
    return true;
}

// The bindings of an SNMPv2 notification: sysUpTime.0, snmpTrapOID.0, then
// the given ones. Reads UPTIME TRAPOID [OID TYPE VALUE]...
bool NotificationBindings(const std::string& cmd, const std::vector<std::string>& operands,
                          unsigned int& upTime, snmp::ObjectId& trapOid, snmp::VarBindList& extra,
                          int& rc) {
    if (operands.size() < 2) {
        rc = Fail(cmd, "expected UPTIME TRAPOID [OID TYPE VALUE]...");
        return false;
    }
    if (!UpTimeValue(operands[0], upTime)) {
        rc = Fail(cmd, "bad uptime '" + operands[0] + "'");
        return false;
    }
    std::string why;
    if (!ResolveOid(operands[1], trapOid, why)) {
        rc = Fail(cmd, "bad trap OID: " + why);
        return false;
    }
    std::string error;
    if (!ParseSetTriples(operands, 2, extra, error)) {
        rc = Fail(cmd, error);
        return false;
    }
    return true;
}

}  // namespace

bool ParseSetTriples(const std::vector<std::string>& words, size_t first, snmp::VarBindList& out,
                     std::string& error) {
    if ((words.size() - first) % 3 != 0) {
        error = "expected OID TYPE VALUE triples";
        return false;
    }
    snmp::VarBindList vbs;
    for (size_t i = first; i < words.size(); i += 3) {
        snmp::ObjectId oid;
        if (!ResolveOid(words[i], oid, error)) {
            return false;
        }
        snmp::AsnValue value;
        if (words[i + 1].size() != 1 ||
            !ParseTypedValue(words[i + 1], words[i + 2], value, error)) {
            if (words[i + 1].size() != 1) {
                error = "bad type '" + words[i + 1] + "' (use i, u, c, g, t, a, o, s, x, C or n)";
            }
            error += " for " + words[i];
            return false;
        }
        vbs.push_back(snmp::VarBind(oid, value));
    }
    out = vbs;
    return true;
}

WalkEnd Walk(ClientSession& session, const snmp::ObjectId& root,
             const std::function<void(const snmp::VarBind&)>& sink, std::string& error) {
    snmp::SessionResult r;
    const bool ok = session.Run(
        [&root](snmp::Session& s, snmp::Session::TargetId id) { return s.Walk(id, root); }, r,
        error);
    if (ok && r.errorStatus != 0) {
        error = "Error in packet: " + ErrorStatusName(r.errorStatus);
    }
    // What came before a failure is shown too, as the usual tools do.
    for (const snmp::VarBind& vb : r.vbs) {
        sink(vb);
    }
    return ok && r.errorStatus == 0 ? WalkEnd::Done : WalkEnd::Error;
}

int RunGet(const std::vector<std::string>& args) {
    return Simple("get", snmp::PduGetRequest, args);
}

int RunGetNext(const std::vector<std::string>& args) {
    return Simple("getnext", snmp::PduGetNextRequest, args);
}

int RunGetBulk(const std::vector<std::string>& args) {
    return Simple("getbulk", snmp::PduGetBulkRequest, args);
}

int RunWalk(const std::vector<std::string>& args) {
    const std::string cmd = "walk";
    ClientOptions options;
    std::vector<std::string> operands;
    int rc = 0;
    if (!Setup(cmd, "[OID]", args, 161, options, operands, rc)) {
        return rc;
    }
    if (operands.size() > 1) {
        return Fail(cmd, "at most one OID");
    }
    snmp::ObjectId root;
    root.Set("1.3.6.1.2.1");
    std::string why;
    if (!operands.empty() && !ResolveOid(operands[0], root, why)) {
        return Fail(cmd, why);
    }
    ClientSession session(options);
    if (!Open(cmd, session, rc)) {
        return rc;
    }
    std::string error;
    WalkEnd end = WalkEnd::Done;
    {
        Printer printer(options.json, options.oidStyle);
        unsigned int count = 0;
        end = Walk(
            session, root,
            [&printer, &count](const snmp::VarBind& vb) {
                printer.Add(vb);
                ++count;
            },
            error);
        // Nothing below the OID: it may name an instance itself, which a
        // walk of it should show, as the usual tools do.
        if (end == WalkEnd::Done && count == 0) {
            snmp::VarBindList vbs;
            vbs.push_back(snmp::VarBind(root, snmp::AsnValue()));
            auto response = session.Request(snmp::PduGetRequest, vbs, error);
            if (response && response->ErrStat() == 0 && response->VarBinds().size() == 1 &&
                response->VarBinds().front().Value().Type() < 0x80) {
                printer.Add(response->VarBinds().front());
            }
        }
    }
    return end == WalkEnd::Done ? 0 : Fail(cmd, error);
}

int RunSet(const std::vector<std::string>& args) {
    const std::string cmd = "set";
    ClientOptions options;
    std::vector<std::string> operands;
    int rc = 0;
    if (!Setup(cmd, "OID TYPE VALUE...", args, 161, options, operands, rc)) {
        return rc;
    }
    snmp::VarBindList vbs;
    std::string error;
    if (operands.empty() || !ParseSetTriples(operands, 0, vbs, error)) {
        return Fail(cmd, operands.empty() ? "expected OID TYPE VALUE triples" : error);
    }
    ClientSession session(options);
    if (!Open(cmd, session, rc)) {
        return rc;
    }
    auto response = session.Request(snmp::PduSetRequest, vbs, error);
    if (!response) {
        return Fail(cmd, error);
    }
    return Report(cmd, *response, options);
}

int RunTrap(const std::vector<std::string>& args) {
    const std::string cmd = "trap";
    ClientOptions options;
    std::vector<std::string> operands;
    int rc = 0;
    if (!Setup(cmd,
               "(SNMPv1: ENTERPRISE AGENT-ADDR GENERIC SPECIFIC UPTIME; else UPTIME TRAPOID) "
               "[OID TYPE VALUE]...",
               args, 162, options, operands, rc)) {
        return rc;
    }
    auto trap = std::make_unique<snmp::Message>();
    if (options.version == snmp::SnmpVersionV1) {
        if (operands.size() < 5) {
            return Fail(
                cmd, "expected ENTERPRISE AGENT-ADDR GENERIC SPECIFIC UPTIME [OID TYPE VALUE]...");
        }
        snmp::ObjectId enterprise;
        std::string why;
        if (!ResolveOid(operands[0], enterprise, why)) {
            return Fail(cmd, "bad enterprise OID: " + why);
        }
        unsigned int agentAddr = 0;
        std::string error;
        if (!ParseTrapAgentAddr(operands[1], options.addr, agentAddr, error)) {
            return Fail(cmd, error);
        }
        unsigned long long generic = 0;
        unsigned long long specific = 0;
        if (!ParseUnsigned(operands[2], 6, generic)) {
            return Fail(cmd, "bad generic trap '" + operands[2] + "' (0 to 6)");
        }
        if (!ParseUnsigned(operands[3], 2147483647ULL, specific)) {
            return Fail(cmd, "bad specific trap '" + operands[3] + "'");
        }
        unsigned int upTime = 0;
        if (!UpTimeValue(operands[4], upTime)) {
            return Fail(cmd, "bad uptime '" + operands[4] + "'");
        }
        snmp::VarBindList vbs;
        if (!ParseSetTriples(operands, 5, vbs, error)) {
            return Fail(cmd, error);
        }
        trap->Init(snmp::PduV1Trap, enterprise, agentAddr, static_cast<unsigned int>(generic),
                   static_cast<unsigned int>(specific), upTime, vbs);
    } else {
        unsigned int upTime = 0;
        snmp::ObjectId trapOid;
        snmp::VarBindList vbs;
        if (!NotificationBindings(cmd, operands, upTime, trapOid, vbs, rc)) {
            return rc;
        }
        trap->Init(options.version, snmp::PduV2Trap, trapOid, upTime, vbs);
    }
    ClientSession session(options);
    if (!Open(cmd, session, rc)) {
        return rc;
    }
    std::string error;
    if (!session.SendTrap(std::move(trap), error)) {
        return Fail(cmd, error);
    }
    return 0;
}

int RunInform(const std::vector<std::string>& args) {
    const std::string cmd = "inform";
    ClientOptions options;
    std::vector<std::string> operands;
    int rc = 0;
    if (!Setup(cmd, "UPTIME TRAPOID [OID TYPE VALUE]...", args, 162, options, operands, rc)) {
        return rc;
    }
    if (options.version == snmp::SnmpVersionV1) {
        return Fail(cmd, "informs need SNMPv2c or SNMPv3");
    }
    unsigned int upTime = 0;
    snmp::ObjectId trapOid;
    snmp::VarBindList extra;
    if (!NotificationBindings(cmd, operands, upTime, trapOid, extra, rc)) {
        return rc;
    }
    snmp::Message shape;
    shape.Init(options.version, snmp::PduInformRequest, trapOid, upTime, extra);
    ClientSession session(options);
    if (!Open(cmd, session, rc)) {
        return rc;
    }
    std::string error;
    auto response = session.Request(snmp::PduInformRequest, shape.VarBinds(), error);
    if (!response) {
        return Fail(cmd, error);
    }
    if (response->ErrStat() != 0) {
        return Fail(cmd, "Error in packet: " + ErrorStatusName(response->ErrStat()));
    }
    return 0;
}

}  // namespace zksnmp
