// The commands that are one library-session operation each: `zksnmp table`
// (a table in snmptable's manner, or its columns as rows) and `zksnmp usm passwd` (an SNMPv3 user's
// passwords changed with the KeyChange objects of RFC 3414, in the manner of
// the usual snmpusm).
#include <algorithm>
#include <iostream>

#include "commands.h"
#include "mib_names.h"
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

namespace {

// snmptable's layout: a title, then the columns right-aligned under their
// names, or joined by `separator` when one is given.
void PrintTable(const std::string& title, const std::vector<std::string>& headers,
                const std::vector<std::vector<std::string>>& rows, const std::string& separator,
                bool withHeaders) {
    std::vector<size_t> width(headers.size(), 0);
    for (size_t c = 0; c < headers.size(); ++c) {
        width[c] = withHeaders ? headers[c].size() : 0;
        for (const auto& row : rows) {
            width[c] = std::max(width[c], row[c].size());
        }
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (size_t c = 0; c < cells.size(); ++c) {
            if (!separator.empty()) {
                out += (c == 0 ? "" : separator) + cells[c];
            } else {
                out += " " + std::string(width[c] - std::min(width[c], cells[c].size()), ' ') +
                       cells[c];
            }
        }
        std::cout << out << '\n';
    };
    if (withHeaders) {
        std::cout << "SNMP table: " << title << "\n\n";
        line(headers);
    }
    for (const auto& row : rows) {
        line(row);
    }
}

}  // namespace

int RunTable(const std::vector<std::string>& given) {
    // The layout switches of snmptable come out before the common options.
    std::vector<std::string> args;
    std::string separator;
    bool showIndex = false;
    bool withHeaders = true;
    for (size_t i = 0; i < given.size(); ++i) {
        const std::string& a = given[i];
        if (a == "-Ci") {
            showIndex = true;
        } else if (a == "-CH") {
            withHeaders = false;
        } else if (a.rfind("-Cf", 0) == 0) {
            separator = a.size() > 3 ? a.substr(3) : i + 1 < given.size() ? given[++i] : "";
            if (separator.empty()) {
                std::cerr << "zksnmp table: -Cf needs a separator" << std::endl;
                return 1;
            }
        } else {
            args.push_back(a);
        }
    }
    ClientOptions options;
    std::vector<std::string> operands;
    std::string error;
    if (!ParseClientArgs(args, 161, options, operands, error)) {
        if (error == "help") {
            std::cout << "usage: zksnmp table [options] AGENT TABLE|ENTRY [COLUMN...]\n"
                      << ClientOptionsHelp()
                      << "  --bulk             walk with GetBulk (-Cr repetitions)\n"
                         "  -Ci                add the index column\n"
                         "  -Cf SEP            columns joined by SEP instead of aligned\n"
                         "  -CH                no title and no column names\n"
                         "Prints the table as snmptable does, with the columns' MIB names\n"
                         "(all columns found when none is given, else those named). With\n"
                         "COLUMNs given by number, or without MIB names, one line per row:\n"
                         "the index, then COLUMN=value for each column.\n";
            return 0;
        }
        std::cerr << "zksnmp table: " << error << std::endl;
        return 1;
    }
    snmp::ObjectId entry;
    if (operands.empty()) {
        std::cerr << "zksnmp table: expected TABLE|ENTRY [COLUMN...]" << std::endl;
        return 1;
    }
    if (!ResolveOid(operands[0], entry, error)) {
        std::cerr << "zksnmp table: " << error << std::endl;
        return 1;
    }
    if (IsTableNode(entry)) {
        entry += 1;
    }
    std::vector<unsigned int> columns;
    bool numbered = operands.size() > 1;
    for (size_t i = 1; i < operands.size(); ++i) {
        unsigned long long n = 0;
        if (ParseUnsigned(operands[i], 0xFFFFFFFFULL, n)) {
            columns.push_back(static_cast<unsigned int>(n));
            continue;
        }
        numbered = false;
        snmp::ObjectId column;
        if (!ResolveOid(operands[i], column, error) || column.Length() != entry.Length() + 1 ||
            column.Compare(entry, entry.Length()) != 0) {
            std::cerr << "zksnmp table: bad column '" << operands[i] << "'"
                      << (error.empty() ? "" : ": " + error) << std::endl;
            return 1;
        }
        columns.push_back(column[static_cast<int>(entry.Length())]);
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
    const std::string title = TableName(entry);
    if (numbered || title.empty() || options.oidStyle == OidStyle::Numeric) {
        for (const snmp::SessionRow& row : r.rows) {
            std::string line = OidText(row.index);
            for (size_t i = 0; i < row.cells.size(); ++i) {
                line += " " + std::to_string(r.columns[i]) + "=" + ValueText(row.cells[i]);
            }
            std::cout << line << '\n';
        }
        return 0;
    }
    std::vector<std::string> headers;
    if (showIndex) {
        headers.push_back("index");
    }
    std::vector<snmp::ObjectId> columnOids;
    for (unsigned int c : r.columns) {
        snmp::ObjectId oid = entry;
        oid += c;
        const std::string name = ObjectName(oid);
        headers.push_back(name.empty() ? std::to_string(c) : name);
        columnOids.push_back(oid);
    }
    std::vector<std::vector<std::string>> rows;
    for (const snmp::SessionRow& row : r.rows) {
        std::vector<std::string> cells;
        if (showIndex) {
            cells.push_back(OidText(row.index).substr(1));
        }
        for (size_t i = 0; i < row.cells.size(); ++i) {
            snmp::ObjectId instance = columnOids[i];
            instance += row.index;
            cells.push_back(CellText(instance, row.cells[i]));
        }
        rows.push_back(cells);
    }
    PrintTable(title, headers, rows, separator, withHeaders);
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
