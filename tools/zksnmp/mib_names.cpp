// MIB names for zksnmp on libsmi: module loading, OIDs typed by name, and
// bindings printed with what the MIB says of their objects.
#include "mib_names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>

#include "value_text.h"

#ifdef ZK_HAVE_LIBSMI
// smi.h names a parameter `class`, which C++ reserves.
#define class smi_class
#include <smi.h>
#undef class
#endif

#ifndef ZK_MIB_INSTALL_DIR
#define ZK_MIB_INSTALL_DIR "/usr/share/zksnmp/mibs"
#endif
// The shipped modules seen from the executable's directory ("../share/..."):
// an installed tree that was moved, and the build tree, where the build
// copies them to the same place beside the executable.
#ifndef ZK_MIB_RELATIVE_DIR
#define ZK_MIB_RELATIVE_DIR "../share/zksnmp/mibs"
#endif

namespace zksnmp {
namespace {

struct Config {
    std::string dirs;     // as -M / MIBDIRS
    std::string modules;  // as -m / MIBS
    bool configured = false;
    bool loaded = false;
    bool on = false;
};

Config& State() {
    static Config config;
    return config;
}

// The modules beside the running executable, empty when it cannot be told.
std::string ExeRelativeMibDir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return "";
    }
    std::string exe(buf, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "" : exe.substr(0, slash + 1) + ZK_MIB_RELATIVE_DIR;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

#ifdef ZK_HAVE_LIBSMI
// net-snmp's usual default set, less the modules of its own agent: those
// found are loaded, the others are skipped quietly.
const char* const kDefaultModules[] = {
    "SNMPv2-MIB",
    "IF-MIB",
    "IP-MIB",
    "TCP-MIB",
    "UDP-MIB",
    "HOST-RESOURCES-MIB",
    "NOTIFICATION-LOG-MIB",
    "DISMAN-EVENT-MIB",
    "DISMAN-SCHEDULE-MIB",
    "HOST-RESOURCES-TYPES",
    "SNMPv2-TC",
    "SNMP-TARGET-MIB",
    "SNMP-MPD-MIB",
    "SNMP-USER-BASED-SM-MIB",
    "SNMP-FRAMEWORK-MIB",
    "SNMP-VIEW-BASED-ACM-MIB",
    "SNMP-COMMUNITY-MIB",
    "SNMP-NOTIFICATION-MIB",
    "UCD-SNMP-MIB",
    "NET-SNMP-AGENT-MIB",
};

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(sep, start);
        const std::string part =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) {
            out.push_back(part);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return out;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return out;
    }
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const std::string path = dir + "/" + name;
        struct stat st {};
        if (name[0] != '.' && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            out.push_back(path);
        }
    }
    closedir(d);
    return out;
}

// A configured list: replaces the default, or is added to it after a '+'.
std::vector<std::string> Merge(const std::string& given, const std::vector<std::string>& base) {
    if (given.empty()) {
        return base;
    }
    std::vector<std::string> out;
    if (given[0] == '+') {
        out = Split(given.substr(1), ':');
        out.insert(out.end(), base.begin(), base.end());
    } else {
        out = Split(given, ':');
    }
    return out;
}

std::string Dec(unsigned long long v) {
    return std::to_string(v);
}

#endif

// Days:hours:minutes:seconds.centiseconds, as tables show TimeTicks.
std::string TicksCell(unsigned int t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u:%u:%02u:%02u.%02u", t / 8640000U, t / 360000U % 24U,
                  t / 6000U % 60U, t / 100U % 60U, t % 100U);
    return buf;
}

// Upper-case hex, a blank after each byte and a new line after sixteen, as
// the usual tools print bytes that are not text.
std::string HexLines(const snmp::OctetString& s) {
    std::string out;
    char buf[4];
    for (unsigned i = 0; i < s.Size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X ", s[static_cast<int>(i)]);
        out += buf;
        if (i % 16 == 15 && i + 1 < s.Size()) {
            out += '\n';
        }
    }
    return out;
}

#ifdef ZK_HAVE_LIBSMI

void Quiet(char*, int, int, char*, char*) {}

bool LoadModules() {
    Config& c = State();
    const char* envDirs = std::getenv("MIBDIRS");
    const char* envMods = std::getenv("MIBS");
    const std::string dirsText = !c.dirs.empty() ? c.dirs : envDirs != nullptr ? envDirs : "";
    const std::string modsText = !c.modules.empty() ? c.modules : envMods != nullptr ? envMods : "";
    std::vector<std::string> dirs;
    for (const std::string& d : Merge(dirsText, DefaultMibDirs())) {
        if (IsDirectory(d)) {
            dirs.push_back(d);
        }
    }
    std::vector<std::string> base(std::begin(kDefaultModules), std::end(kDefaultModules));
    const std::vector<std::string> modules = Merge(modsText, base);
    std::string path;
    for (const std::string& d : dirs) {
        path += (path.empty() ? "" : ":") + d;
    }
    smiInit("zksnmp");
    smiSetErrorLevel(0);
    smiSetErrorHandler(Quiet);
    smiSetPath(path.c_str());
    // libsmi cannot cope with modules whose base module is missing (it
    // crashes on their imports), so without SNMPv2-SMI nothing is loaded.
    if (smiLoadModule("SNMPv2-SMI") == nullptr) {
        std::cerr << "zksnmp: MIB names are off (numeric OIDs only): no SNMPv2-SMI module in "
                  << (path.empty() ? "(no directory)" : path) << std::endl;
        return false;
    }
    // Only the modules the user named are missed aloud; the default set is
    // whatever of it is there.
    const std::vector<std::string> asked =
        Split(!modsText.empty() && modsText[0] == '+' ? modsText.substr(1) : modsText, ':');
    // libsmi looks for a module under some ten file names in every
    // directory; asking it only for the default modules that have a file
    // saves a one-shot command about a thousand failed look-ups.
    std::set<std::string> present;
    for (const std::string& d : dirs) {
        for (const std::string& f : FilesIn(d)) {
            const std::string name = f.substr(f.rfind('/') + 1);
            present.insert(name.substr(0, name.find('.')));
        }
    }
    int loaded = 0;
    for (const std::string& m : modules) {
        const bool named = std::find(asked.begin(), asked.end(), m) != asked.end();
        if (m != "ALL" && !named && present.count(m) == 0) {
            continue;
        }
        if (m == "ALL") {
            for (const std::string& d : dirs) {
                for (const std::string& f : FilesIn(d)) {
                    loaded += smiLoadModule(f.c_str()) != nullptr ? 1 : 0;
                }
            }
        } else if (smiLoadModule(m.c_str()) != nullptr) {
            ++loaded;
        } else if (named) {
            std::cerr << "zksnmp: MIB module '" << m << "' not found in "
                      << (path.empty() ? "(no directory)" : path) << std::endl;
        }
    }
    if (loaded == 0) {
        std::cerr << "zksnmp: MIB names are off (numeric OIDs only): no MIB module found in "
                  << (path.empty() ? "(no directory)" : path) << std::endl;
        return false;
    }
    return true;
}

SmiNode* NodeOf(const snmp::ObjectId& oid) {
    if (oid.Empty() || !MibNamesOn()) {
        return nullptr;
    }
    std::vector<SmiSubid> arcs(oid.Id(), oid.Id() + oid.Length());
    SmiNode* node = smiGetNodeByOID(oid.Length(), arcs.data());
    if (node == nullptr || node->oidlen == 0 || node->oidlen > oid.Length() ||
        node->name == nullptr) {
        return nullptr;
    }
    for (unsigned i = 0; i < node->oidlen; ++i) {
        if (node->oid[i] != oid[static_cast<int>(i)]) {
            return nullptr;
        }
    }
    return node;
}

std::string ModuleOf(SmiNode* node) {
    SmiModule* m = smiGetNodeModule(node);
    return m != nullptr && m->name != nullptr ? m->name : "";
}

// The object type of a scalar or column instance, when the value's tag
// agrees with the MIB (an agent may answer with another type).
SmiType* InstanceType(const snmp::VarBind& vb, SmiNode** nodeOut = nullptr) {
    SmiNode* node = NodeOf(vb.Objid());
    if (node == nullptr ||
        (node->nodekind != SMI_NODEKIND_SCALAR && node->nodekind != SMI_NODEKIND_COLUMN)) {
        return nullptr;
    }
    if (nodeOut != nullptr) {
        *nodeOut = node;
    }
    return smiGetNodeType(node);
}

std::string HintOf(SmiType* type) {
    for (SmiType* t = type; t != nullptr; t = smiGetParentType(t)) {
        if (t->format != nullptr && *t->format != '\0') {
            return t->format;
        }
    }
    return "";
}

std::string LabelOf(SmiType* type, int value) {
    for (SmiType* t = type; t != nullptr; t = smiGetParentType(t)) {
        SmiNamedNumber* n = smiGetFirstNamedNumber(t);
        if (n == nullptr) {
            continue;
        }
        for (; n != nullptr; n = smiGetNextNamedNumber(n)) {
            if (n->value.value.integer32 == value) {
                return n->name;
            }
        }
        return "";
    }
    return "";
}

// The value as the MIB shows it: `label` set for an enumeration, `text` for
// a DISPLAY-HINT. False when the MIB adds nothing.
bool MibText(const snmp::VarBind& vb, std::string& label, std::string& text) {
    SmiType* type = InstanceType(vb);
    if (type == nullptr) {
        return false;
    }
    const snmp::AsnValue& v = vb.Value();
    if (v.Type() == 0x02) {
        label = LabelOf(type, v.Integer());
        if (!label.empty()) {
            return true;
        }
        const std::string hint = HintOf(type);
        return !hint.empty() && hint != "d" && ApplyIntegerHint(hint, v.Integer(), text);
    }
    if (v.Type() == 0x04) {
        const std::string hint = HintOf(type);
        return !hint.empty() && ApplyOctetHint(hint, v.String(), text);
    }
    return false;
}

#endif

}  // namespace

void ConfigureMibs(const std::string& dirs, const std::string& modules) {
    Config& c = State();
    if (!dirs.empty()) {
        c.dirs = dirs;
    }
    if (!modules.empty()) {
        c.modules = modules;
    }
}

std::vector<std::string> DefaultMibDirs() {
    std::vector<std::string> out;
    if (const char* home = std::getenv("HOME")) {
        out.push_back(std::string(home) + "/.snmp/mibs");
    }
    for (const char* d :
         {"/usr/share/snmp/mibs", "/usr/share/snmp/mibs/iana", "/usr/share/snmp/mibs/ietf"}) {
        out.push_back(d);
    }
    DIR* d = opendir("/usr/share/mibs");
    if (d != nullptr) {
        std::vector<std::string> subs;
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name[0] != '.' && IsDirectory("/usr/share/mibs/" + name)) {
                subs.push_back("/usr/share/mibs/" + name);
            }
        }
        closedir(d);
        std::sort(subs.begin(), subs.end());
        out.insert(out.end(), subs.begin(), subs.end());
    }
    out.push_back(ZK_MIB_INSTALL_DIR);
    const std::string beside = ExeRelativeMibDir();
    if (!beside.empty()) {
        out.push_back(beside);
    }
    return out;
}

bool MibNamesOn() {
    Config& c = State();
    if (!c.loaded) {
        c.loaded = true;
#ifdef ZK_HAVE_LIBSMI
        c.on = LoadModules();
#else
        std::cerr << "zksnmp: MIB names are off (numeric OIDs only): built without libsmi"
                  << std::endl;
        c.on = false;
#endif
    }
    return c.on;
}

bool ResolveOid(const std::string& text, snmp::ObjectId& out, std::string& error) {
    if (ParseOid(text, out)) {
        return true;
    }
    if (text.empty()) {
        error = "empty OID";
        return false;
    }
    // Dotted numbers gone wrong are no names: no modules are loaded for them.
    const size_t first = text[0] == '.' ? 1 : 0;
    if (first >= text.size() || std::isdigit(static_cast<unsigned char>(text[first])) != 0) {
        error = "bad OID '" + text + "'";
        return false;
    }
    if (!MibNamesOn()) {
        error = "bad OID '" + text + "' (MIB names are off)";
        return false;
    }
#ifdef ZK_HAVE_LIBSMI
    std::string module;
    std::string rest = text;
    const size_t colons = text.find("::");
    if (colons != std::string::npos) {
        module = text.substr(0, colons);
        rest = text.substr(colons + 2);
    }
    const std::vector<std::string> parts = Split(rest, '.');
    if (parts.empty()) {
        error = "bad OID '" + text + "'";
        return false;
    }
    SmiNode* node = nullptr;
    size_t i = 0;
    if (!module.empty()) {
        SmiModule* m = smiGetModule(module.c_str());
        if (m == nullptr) {
            error = "unknown MIB module '" + module + "' in '" + text + "'";
            return false;
        }
        node = smiGetNode(m, parts[0].c_str());
        if (node == nullptr) {
            error = "unknown object name '" + parts[0] + "' in module " + module;
            return false;
        }
        i = 1;
    }
    // Names lead, numbers follow: every name after the first is a child of
    // the one before it (".iso.org.dod" or "system.sysDescr.0").
    std::vector<unsigned int> arcs;
    for (; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        const bool numeric = p.find_first_not_of("0123456789") == std::string::npos;
        if (numeric) {
            unsigned long long n = 0;
            if (!ParseUnsigned(p, 0xFFFFFFFFULL, n)) {
                error = "bad arc '" + p + "' in '" + text + "'";
                return false;
            }
            arcs.push_back(static_cast<unsigned int>(n));
            continue;
        }
        if (!arcs.empty()) {
            error = "name '" + p + "' after numbers in '" + text + "'";
            return false;
        }
        SmiNode* next = nullptr;
        if (node == nullptr) {
            next = smiGetNode(nullptr, p.c_str());
        } else {
            for (SmiNode* ch = smiGetFirstChildNode(node); ch != nullptr;
                 ch = smiGetNextChildNode(ch)) {
                if (ch->name != nullptr && p == ch->name) {
                    next = ch;
                    break;
                }
            }
        }
        if (next == nullptr) {
            error = "unknown object name '" + p + "'";
            return false;
        }
        node = next;
    }
    snmp::ObjectId oid;
    if (node != nullptr) {
        oid = snmp::ObjectId(node->oid, node->oidlen);
    }
    for (unsigned int a : arcs) {
        oid += a;
    }
    if (oid.Empty()) {
        error = "bad OID '" + text + "'";
        return false;
    }
    out = oid;
    return true;
#else
    return false;
#endif
}

std::string OidName(const snmp::ObjectId& oid, OidStyle style) {
    if (style == OidStyle::Numeric) {
        return OidText(oid);
    }
#ifdef ZK_HAVE_LIBSMI
    SmiNode* node = NodeOf(oid);
    if (node == nullptr) {
        return OidText(oid);
    }
    std::string out;
    if (style == OidStyle::Full) {
        for (SmiNode* n = node; n != nullptr; n = smiGetParentNode(n)) {
            out =
                "." + std::string(n->name != nullptr ? n->name : Dec(n->oid[n->oidlen - 1])) + out;
            if (n->oidlen <= 1) {
                break;
            }
        }
    } else {
        const std::string module = ModuleOf(node);
        out = (style == OidStyle::Module && !module.empty() ? module + "::" : "") + node->name;
    }
    for (unsigned i = node->oidlen; i < oid.Length(); ++i) {
        out += "." + Dec(oid[static_cast<int>(i)]);
    }
    return out;
#else
    return OidText(oid);
#endif
}

std::string ObjectName(const snmp::ObjectId& oid) {
#ifdef ZK_HAVE_LIBSMI
    SmiNode* node = NodeOf(oid);
    if (node != nullptr && node->oidlen == oid.Length()) {
        return node->name;
    }
#else
    (void)oid;
#endif
    return "";
}

bool IsTableNode(const snmp::ObjectId& oid) {
#ifdef ZK_HAVE_LIBSMI
    SmiNode* node = NodeOf(oid);
    return node != nullptr && node->oidlen == oid.Length() && node->nodekind == SMI_NODEKIND_TABLE;
#else
    (void)oid;
    return false;
#endif
}

std::string TableName(const snmp::ObjectId& entryOrTable) {
#ifdef ZK_HAVE_LIBSMI
    SmiNode* node = NodeOf(entryOrTable);
    if (node != nullptr && node->oidlen == entryOrTable.Length() &&
        node->nodekind == SMI_NODEKIND_ROW) {
        node = smiGetParentNode(node);
    }
    if (node != nullptr && node->nodekind == SMI_NODEKIND_TABLE) {
        return ModuleOf(node) + "::" + node->name;
    }
#else
    (void)entryOrTable;
#endif
    return "";
}

std::string NamedValue(const snmp::VarBind& vb, OidStyle style) {
    const snmp::AsnValue& v = vb.Value();
    const std::string word = TypeWord(v);
    if (word.empty()) {
        return ValueText(v);
    }
    if (v.Type() == 0x05) {
        return "NULL";
    }
    if (v.Type() == 0x06) {
        return word + ": " + OidName(v.Objid(), style);
    }
#ifdef ZK_HAVE_LIBSMI
    std::string label;
    std::string text;
    if (style != OidStyle::Numeric && MibText(vb, label, text)) {
        return label.empty() ? (v.Type() == 0x04 ? "STRING: " : word + ": ") + text
                             : word + ": " + label + "(" + std::to_string(v.Integer()) + ")";
    }
#endif
    if (v.Type() == 0x04 && v.String().Empty()) {
        return "\"\"";  // as the usual tools print an empty string of no known type
    }
    if (word == "Hex-STRING") {
        return word + ": " + HexLines(v.String());
    }
    return word + ": " + ValueText(v);
}

std::string CellText(const snmp::ObjectId& column, const snmp::AsnValue& value) {
    const snmp::VarBind vb(column, value);
#ifdef ZK_HAVE_LIBSMI
    std::string label;
    std::string text;
    if (MibText(vb, label, text)) {
        return label.empty() ? text : label;
    }
#endif
    switch (value.Type()) {
        case 0x04:
            return IsPrintable(value.String()) ? Bytes(value.String())
                                               : HexText(value.String(), true);
        case 0x06:
            return OidName(value.Objid(), OidStyle::Module);
        case 0x43:
            return TicksCell(value.Ticks());
        case 0x81:
            return "?";
        default:
            return ValueText(value);
    }
}

std::string NamedBinding(const snmp::VarBind& vb, OidStyle style) {
    if (style == OidStyle::Numeric || !MibNamesOn()) {
        return FormatBinding(vb);
    }
    return OidName(vb.Objid(), style) + " = " + NamedValue(vb, style);
}

bool ApplyOctetHint(const std::string& hint, const snmp::OctetString& bytes, std::string& out) {
    struct Spec {
        bool star = false;
        unsigned len = 0;
        char fmt = 0;
        char sep = 0;
        char term = 0;
    };
    std::vector<Spec> specs;
    size_t h = 0;
    while (h < hint.size()) {
        Spec s;
        if (hint[h] == '*') {
            s.star = true;
            ++h;
        }
        size_t digits = h;
        while (h < hint.size() && std::isdigit(static_cast<unsigned char>(hint[h])) != 0) {
            s.len = s.len * 10 + static_cast<unsigned>(hint[h++] - '0');
        }
        if (h == digits || h >= hint.size() || s.len == 0 ||
            std::string("dxoat").find(hint[h]) == std::string::npos) {
            return false;
        }
        s.fmt = hint[h++];
        auto plain = [&](size_t at) {
            return at < hint.size() && std::isdigit(static_cast<unsigned char>(hint[at])) == 0 &&
                   hint[at] != '*';
        };
        if (plain(h)) {
            s.sep = hint[h++];
            if (s.star && plain(h)) {
                s.term = hint[h++];
            }
        }
        specs.push_back(s);
    }
    if (specs.empty()) {
        return false;
    }
    std::string text;
    const unsigned n = bytes.Size();
    unsigned pos = 0;
    size_t si = 0;
    while (pos < n) {
        const Spec& s = specs[std::min(si++, specs.size() - 1)];
        unsigned reps = 1;
        if (s.star) {
            reps = bytes[static_cast<int>(pos++)];
        }
        for (unsigned r = 0; r < reps && pos < n; ++r) {
            const unsigned take = std::min(s.len, n - pos);
            if (s.fmt == 'a' || s.fmt == 't') {
                for (unsigned k = 0; k < take; ++k) {
                    text += static_cast<char>(bytes[static_cast<int>(pos + k)]);
                }
            } else {
                unsigned long long v = 0;
                for (unsigned k = 0; k < take && k < 8; ++k) {
                    v = v << 8 | bytes[static_cast<int>(pos + k)];
                }
                char buf[32];
                std::snprintf(buf, sizeof buf,
                              s.fmt == 'd'   ? "%llu"
                              : s.fmt == 'x' ? "%llx"
                                             : "%llo",
                              v);
                text += buf;
            }
            pos += take;
            if (pos < n) {
                if (s.star && r + 1 == reps && s.term != 0) {
                    text += s.term;
                } else if (s.sep != 0) {
                    text += s.sep;
                }
            }
        }
    }
    out = text;
    return true;
}

bool ApplyIntegerHint(const std::string& hint, long long value, std::string& out) {
    if (hint.empty()) {
        return false;
    }
    const unsigned long long mag = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    const std::string sign = value < 0 ? "-" : "";
    char buf[80];
    switch (hint[0]) {
        case 'x':
        case 'o':
            if (hint.size() != 1) return false;
            std::snprintf(buf, sizeof buf, hint[0] == 'x' ? "%llx" : "%llo", mag);
            out = sign + buf;
            return true;
        case 'b': {
            if (hint.size() != 1) return false;
            std::string bits;
            for (unsigned long long m = mag; m != 0; m >>= 1)
                bits.insert(bits.begin(), m & 1 ? '1' : '0');
            out = sign + (bits.empty() ? "0" : bits);
            return true;
        }
        case 'd': {
            unsigned long long places = 0;
            if (hint.size() > 1 && (hint[1] != '-' || !ParseUnsigned(hint.substr(2), 30, places))) {
                return false;
            }
            std::string digits = std::to_string(mag);
            if (places > 0) {
                if (digits.size() <= places) {
                    digits.insert(0, places + 1 - digits.size(), '0');
                }
                digits.insert(digits.size() - places, ".");
            }
            out = sign + digits;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace zksnmp
