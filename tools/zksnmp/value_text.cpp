// Text forms of SNMP values for zksnmp.
#include "value_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mib_names.h"

namespace zksnmp {
namespace {

constexpr unsigned kInteger = 0x02, kBits = 0x03, kOctets = 0x04, kNull = 0x05, kOid = 0x06;
constexpr unsigned kIpAddr = 0x40, kCounter = 0x41, kGauge = 0x42, kTicks = 0x43, kOpaque = 0x44;
constexpr unsigned kCounter64 = 0x46, kUnsigned32 = 0x47;
constexpr unsigned kNoSuchObject = 0x80, kNoSuchInstance = 0x81, kEndOfMibView = 0x82;

std::string Trim(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])) != 0) {
        ++b;
    }
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])) != 0) {
        --e;
    }
    return s.substr(b, e - b);
}

std::string TicksText(unsigned int ticks) {
    const unsigned days = ticks / 8640000U;
    const unsigned hours = ticks / 360000U % 24U;
    const unsigned minutes = ticks / 6000U % 60U;
    const unsigned seconds = ticks / 100U % 60U;
    const unsigned centi = ticks % 100U;
    char buf[96];
    if (days > 0) {
        std::snprintf(buf, sizeof buf, "(%u) %u day%s, %u:%02u:%02u.%02u", ticks, days,
                      days == 1 ? "" : "s", hours, minutes, seconds, centi);
    } else {
        std::snprintf(buf, sizeof buf, "(%u) %u:%02u:%02u.%02u", ticks, hours, minutes, seconds,
                      centi);
    }
    return buf;
}

// The number in "(123) ..." or "up(1)", or the whole text.
std::string NumberPart(const std::string& text) {
    const size_t open = text.find('(');
    const size_t close = text.find(')', open == std::string::npos ? 0 : open);
    if (open != std::string::npos && close != std::string::npos && close > open + 1) {
        return text.substr(open + 1, close - open - 1);
    }
    return text;
}

// Removes the quotes of a printed string and its backslash escapes.
std::string Unquote(const std::string& text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return text;
    }
    std::string out;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\' && i + 2 < text.size()) {
            ++i;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

bool IsPrintable(const snmp::OctetString& s) {
    for (unsigned i = 0; i < s.Size(); ++i) {
        const unsigned char c = s[static_cast<int>(i)];
        if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    return true;
}

std::string Bytes(const snmp::OctetString& s) {
    return s.Empty() ? std::string()
                     : std::string(reinterpret_cast<const char*>(s.Data()), s.Size());
}

std::string OidText(const snmp::ObjectId& oid) {
    std::string out;
    oid.MakeStr(out);
    return out.empty() ? "." : out;
}

bool ParseOid(const std::string& text, snmp::ObjectId& out) {
    if (text.empty() || text.back() == '.' ||
        std::isdigit(static_cast<unsigned char>(text.back())) == 0) {
        return false;
    }
    snmp::ObjectId oid;
    if (!oid.Set(text)) {
        return false;
    }
    out = oid;
    return true;
}

std::string TypeWord(const snmp::AsnValue& value) {
    switch (value.Type()) {
        case kInteger:
            return "INTEGER";
        case kBits:
            return "BITS";
        case kOctets:
            return IsPrintable(value.String()) ? "STRING" : "Hex-STRING";
        case kNull:
            return "NULL";
        case kOid:
            return "OID";
        case kIpAddr:
            return "IpAddress";
        case kCounter:
            return "Counter32";
        case kGauge:
            return "Gauge32";
        case kUnsigned32:
            return "Unsigned32";
        case kTicks:
            return "Timeticks";
        case kOpaque:
            return "Opaque";
        case kCounter64:
        case 0x4A:
        case 0x4B:
            return "Counter64";
        default:
            return "";
    }
}

std::string ValueText(const snmp::AsnValue& value) {
    switch (value.Type()) {
        case kInteger:
            return std::to_string(value.Integer());
        case kBits:
            return HexText(value.Bits(), true);
        case kOctets: {
            if (!IsPrintable(value.String())) {
                return HexText(value.String(), true);
            }
            std::string out = "\"";
            for (char c : Bytes(value.String())) {
                if (c == '"' || c == '\\') {
                    out += '\\';
                }
                out += c;
            }
            return out + "\"";
        }
        case kNull:
            return "";
        case kOid:
            return OidText(value.Objid());
        case kIpAddr: {
            std::string out;
            value.MakeStr(out);
            return out.empty() ? HexText(value.IpAddr(), true) : out;
        }
        case kCounter:
        case kGauge:
        case kUnsigned32:
            return std::to_string(value.Unsigned());
        case kTicks:
            return TicksText(value.Ticks());
        case kOpaque:
            return HexText(value.String(), true);
        case kCounter64:
        case 0x4A:
        case 0x4B:
            return std::to_string(value.Counter64());
        case kNoSuchObject:
            return "No Such Object available on this agent at this OID";
        case kNoSuchInstance:
            return "No Such Instance currently exists at this OID";
        case kEndOfMibView:
            return "No more variables left in this MIB View (It is past the end of the MIB tree)";
        default:
            return "unknown value type " + std::to_string(value.Type());
    }
}

std::string FormatBinding(const snmp::VarBind& vb) {
    const std::string word = TypeWord(vb.Value());
    std::string out = OidText(vb.Objid()) + " = ";
    if (word.empty()) {
        return out + ValueText(vb.Value());
    }
    if (vb.Value().Type() == kNull) {
        return out + "NULL";
    }
    return out + word + ": " + ValueText(vb.Value());
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7E) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string JsonBinding(const snmp::VarBind& vb, const std::string& name) {
    const snmp::AsnValue& v = vb.Value();
    std::string type = TypeWord(v);
    if (type.empty()) {
        type = v.Type() == kNoSuchObject     ? "noSuchObject"
               : v.Type() == kNoSuchInstance ? "noSuchInstance"
               : v.Type() == kEndOfMibView   ? "endOfMibView"
                                             : "unknown";
    }
    std::string out = "{\"oid\":" + JsonString(OidText(vb.Objid())) +
                      (name.empty() ? std::string() : ",\"name\":" + JsonString(name)) +
                      ",\"tag\":" + std::to_string(v.Type()) + ",\"type\":" + JsonString(type) +
                      ",\"value\":";
    switch (v.Type()) {
        case kInteger:
            out += std::to_string(v.Integer());
            break;
        case kCounter:
        case kGauge:
        case kUnsigned32:
        case kTicks:
            out += std::to_string(v.Unsigned());
            break;
        case kCounter64:
        case 0x4A:
        case 0x4B:
            out += std::to_string(v.Counter64());
            break;
        case kOid:
            out += JsonString(OidText(v.Objid()));
            break;
        case kIpAddr:
            out += JsonString(ValueText(v));
            break;
        case kOctets:
        case kOpaque:
        case kBits:
            out += JsonString(Bytes(v.String())) +
                   ",\"hex\":" + JsonString(HexText(v.String(), false));
            break;
        default:
            out += "null";
            break;
    }
    return out + "}";
}

std::string HexText(const snmp::OctetString& bytes, bool spaced) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < bytes.Size(); ++i) {
        const unsigned char c = bytes[static_cast<int>(i)];
        if (spaced && i > 0) {
            out += ' ';
        }
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

bool ParseHex(const std::string& text, snmp::OctetString& out) {
    std::string digits;
    size_t start = 0;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        start = 2;
    }
    for (size_t i = start; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::isxdigit(c) != 0) {
            digits += static_cast<char>(c);
        } else if (c != ' ' && c != ':' && c != '\t') {
            return false;
        }
    }
    if (digits.size() % 2 != 0) {
        return false;
    }
    snmp::OctetString result;
    for (size_t i = 0; i < digits.size(); i += 2) {
        result +=
            static_cast<unsigned char>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16));
    }
    out = result;
    return true;
}

bool ParseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    unsigned long long v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') {
            return false;
        }
        const unsigned d = static_cast<unsigned>(ch - '0');
        if (d > max || v > (max - d) / 10) {
            return false;
        }
        v = v * 10 + d;
    }
    out = v;
    return true;
}

bool ParseInt32(const std::string& text, int& out) {
    const bool negative = !text.empty() && text[0] == '-';
    unsigned long long magnitude = 0;
    if (!ParseUnsigned(negative ? text.substr(1) : text, negative ? 2147483648ULL : 2147483647ULL,
                       magnitude)) {
        return false;
    }
    out = negative ? static_cast<int>(-static_cast<long long>(magnitude))
                   : static_cast<int>(magnitude);
    return true;
}

bool ParseTypedValue(const std::string& type, const std::string& rawText, snmp::AsnValue& out,
                     std::string& error) {
    const std::string text = Trim(rawText);
    unsigned long long n = 0;
    auto bad = [&](const char* what) {
        error = "bad " + std::string(what) + " value '" + text + "'";
        return false;
    };
    if (type == "i" || type == "INTEGER" || type == "Integer32") {
        int v = 0;
        if (!ParseInt32(NumberPart(text), v)) {
            return bad("INTEGER");
        }
        out = snmp::AsnValue(kInteger);
        out.SetInteger(v);
        return true;
    }
    struct Unsigned32Kind {
        const char* names[3];
        unsigned tag;
    };
    static const Unsigned32Kind kKinds[] = {
        {{"u", "Unsigned32", nullptr}, kGauge},
        {{"g", "Gauge32", "Gauge"}, kGauge},
        {{"c", "Counter32", "Counter"}, kCounter},
        {{"t", "Timeticks", "TimeTicks"}, kTicks},
    };
    for (const auto& kind : kKinds) {
        for (const char* name : kind.names) {
            if (name != nullptr && type == name) {
                if (!ParseUnsigned(NumberPart(text), 0xFFFFFFFFULL, n)) {
                    return bad(name);
                }
                out = snmp::AsnValue(kind.tag);
                out.SetUnsigned(static_cast<unsigned int>(n));
                return true;
            }
        }
    }
    if (type == "C" || type == "Counter64") {
        if (!ParseUnsigned(text, ~0ULL, n)) {
            return bad("Counter64");
        }
        out = snmp::AsnValue(kCounter64);
        out.SetCounter64(n);
        return true;
    }
    if (type == "a" || type == "IpAddress") {
        unsigned parts[4];
        char tail = 0;
        if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2],
                        &parts[3], &tail) != 4 ||
            parts[0] > 255 || parts[1] > 255 || parts[2] > 255 || parts[3] > 255 ||
            std::isdigit(static_cast<unsigned char>(text[0])) == 0) {
            return bad("IpAddress");
        }
        out = snmp::AsnValue(kIpAddr);
        out.SetIpAddr((parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]);
        return true;
    }
    if (type == "o" || type == "OID") {
        snmp::ObjectId oid;
        std::string unused;
        if (!ResolveOid(text, oid, unused)) {
            return bad("OID");
        }
        out = snmp::AsnValue(kOid);
        out.SetObjid(oid);
        return true;
    }
    if (type == "s" || type == "STRING" || type == "OCTET") {
        out = snmp::AsnValue(kOctets);
        out.SetString(snmp::OctetString(type == "s" ? rawText : Unquote(text)));
        return true;
    }
    if (type == "x" || type == "Hex-STRING" || type == "Opaque") {
        snmp::OctetString bytes;
        if (!ParseHex(text, bytes)) {
            return bad("hex");
        }
        out = snmp::AsnValue(type == "Opaque" ? kOpaque : kOctets);
        out.SetString(bytes);
        return true;
    }
    if (type == "n" || type == "NULL") {
        out = snmp::AsnValue(kNull);
        return true;
    }
    error = "unknown value type '" + type + "' (use i, u, c, g, t, a, o, s, x, C or n)";
    return false;
}

bool ParseDumpLine(const std::string& line, snmp::VarBind& out, bool& skip, std::string& error) {
    skip = false;
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#') {
        skip = true;
        return true;
    }
    const size_t sp = text.find_first_of(" \t");
    snmp::ObjectId oid;
    if (!ResolveOid(text.substr(0, sp), oid, error)) {
        return false;
    }
    std::string rest = sp == std::string::npos ? std::string() : Trim(text.substr(sp));
    if (!rest.empty() && rest[0] == '=') {
        rest = Trim(rest.substr(1));
    }
    if (rest.empty()) {
        error = "no value for " + OidText(oid);
        return false;
    }
    // Walk output: an empty string is printed without a type, and the
    // exception values as sentences; neither names a type word.
    if (rest == "\"\"") {
        out = snmp::VarBind(oid, snmp::AsnValue(kOctets));
        return true;
    }
    if (rest.rfind("No more variables", 0) == 0 || rest.rfind("No Such ", 0) == 0) {
        skip = true;
        return true;
    }
    const size_t end = rest.find_first_of(" \t");
    std::string type = rest.substr(0, end);
    std::string value = end == std::string::npos ? std::string() : Trim(rest.substr(end));
    if (!type.empty() && type.back() == ':') {
        type.pop_back();
    }
    if (type == "OCTET" && value.rfind("STRING", 0) == 0) {
        value = Trim(value.substr(6));
        if (!value.empty() && value[0] == ':') {
            value = Trim(value.substr(1));
        }
    }
    snmp::AsnValue v;
    if (!ParseTypedValue(type, value, v, error)) {
        error += " for " + OidText(oid);
        return false;
    }
    // A single-letter string type takes the value as written; a dump line
    // may still quote it.
    if (type == "s" && value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        v.SetString(snmp::OctetString(Unquote(value)));
    }
    out = snmp::VarBind(oid, v);
    return true;
}

}  // namespace zksnmp
