// Text forms of SNMP values for zksnmp: the familiar `OID = TYPE: value`
// lines, JSON objects for scripts, the typed values of `set` (i, u, c, g, t,
// a, o, s, x, C) and the `OID TYPE VALUE` lines of MIB dump files.
#ifndef ZKSNMP_VALUE_TEXT_H
#define ZKSNMP_VALUE_TEXT_H

#include <string>

#include "snmp/asn_value.h"
#include "snmp/object_id.h"
#include "snmp/octet_string.h"
#include "snmp/var_bind.h"

namespace zksnmp {

// ".1.3.6.1"; "." for an empty identifier.
std::string OidText(const snmp::ObjectId& oid);
// Dotted text with or without a leading dot; false for anything else.
bool ParseOid(const std::string& text, snmp::ObjectId& out);

// The type word printed before the value: "INTEGER", "STRING", "Hex-STRING"
// (for an OCTET STRING that is not printable text), "OID", "IpAddress",
// "Counter32", "Gauge32", "Timeticks", "Opaque", "Counter64", "NULL", "BITS";
// empty for the three exception values.
std::string TypeWord(const snmp::AsnValue& value);
// The value as printed after "TYPE: " (strings quoted, Timeticks as
// "(N) H:MM:SS.cc"), or the exception's sentence ("No Such Object available
// on this agent at this OID", ...).
std::string ValueText(const snmp::AsnValue& value);
// "OID = TYPE: value", or "OID = sentence" for the exception values.
std::string FormatBinding(const snmp::VarBind& vb);
// {"oid":".1.3","tag":4,"type":"STRING","value":"text","hex":"74657874"}; the
// hex member only for byte-string types; value null for NULL and exceptions.
// A non-empty `name` (the OID by MIB names) follows the oid as "name".
std::string JsonBinding(const snmp::VarBind& vb, const std::string& name = "");
// A JSON string literal of the bytes of `text` (control and non-ASCII bytes
// as \u00XX).
std::string JsonString(const std::string& text);

// Text that a terminal shows as it is: printable ASCII and common white space.
bool IsPrintable(const snmp::OctetString& s);
// The bytes of `s` as they are.
std::string Bytes(const snmp::OctetString& s);

// Lower-case hex, optionally with a blank between bytes.
std::string HexText(const snmp::OctetString& bytes, bool spaced);
// Hex digits in pairs, optionally led by "0x" and with blanks or colons
// between bytes; false for an odd digit count or another character.
bool ParseHex(const std::string& text, snmp::OctetString& out);

// Decimal text of an unsigned number not above `max`.
bool ParseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out);
// Decimal text of a signed 32-bit number.
bool ParseInt32(const std::string& text, int& out);

// A value of `set` or of a dump line. `type` is one of the letters i (INTEGER),
// u (Unsigned32), c (Counter32), g (Gauge32), t (TimeTicks), a (IpAddress),
// o (OID), s (STRING), x (hex STRING), C (Counter64), n (NULL), or one of the
// printed type words above (and "Integer32", "Unsigned32", "OCTET", "Counter",
// "Gauge", "TimeTicks"); printed forms such as "up(1)" and "(123) 0:00:01.23"
// are read for their number. False with a one-line reason in `error`.
bool ParseTypedValue(const std::string& type, const std::string& text, snmp::AsnValue& out,
                     std::string& error);

// One line of a MIB dump: `OID TYPE VALUE` (OIDs as ResolveOid reads them), or the `OID = TYPE:
// VALUE` form that walks print. Sets `skip` (and returns true) for blank and comment lines and for
// lines that carry no value (end of view, no such object).
bool ParseDumpLine(const std::string& line, snmp::VarBind& out, bool& skip, std::string& error);

}  // namespace zksnmp

#endif
