// MIB names for zksnmp, read from MIB module files through libsmi: object
// names typed for OIDs (`IF-MIB::ifDescr.2`, `sysUpTime.0`), and bindings
// printed the way the usual SNMP tools print them (`MODULE::name.index =
// TYPE: value` with enumeration labels and DISPLAY-HINTs). Only the tool uses
// libsmi; without it, or without module files, everything stays numeric.
#ifndef ZKSNMP_MIB_NAMES_H
#define ZKSNMP_MIB_NAMES_H

#include <string>
#include <vector>

#include "snmp/asn_value.h"
#include "snmp/object_id.h"
#include "snmp/var_bind.h"

namespace zksnmp {

// How OIDs are printed: -On numeric, -Of the full path of names, -Os the name
// alone, default (-OS) `MODULE::name` with the rest of the arcs.
enum class OidStyle { Module, Full, Short, Numeric };

// Where modules are searched and which are loaded, as -M and -m (or the
// MIBDIRS and MIBS environment variables) give them: a colon-separated list,
// replacing the default unless it starts with '+'; "ALL" loads every module
// file of the directories. Takes effect when names are first needed.
void ConfigureMibs(const std::string& dirs, const std::string& modules);

// The directories searched when nothing is configured: ~/.snmp/mibs,
// /usr/share/snmp/mibs (and its iana, ietf subdirectories), every
// subdirectory of /usr/share/mibs, and the modules installed with zksnmp
// (at the install prefix, then beside the executable: ../share/zksnmp/mibs).
std::vector<std::string> DefaultMibDirs();

// Loads the configured modules on first use; false when names are off
// (libsmi not built in, or no module found), and then once per process a
// line on stderr says why.
bool MibNamesOn();

// Reads an OID typed by a user: dotted numbers (with or without a leading
// dot), `MODULE::name[.arcs]`, `name[.arcs]` or a path of names
// (`.iso.org.dod...`). False with a reason naming the unknown name.
bool ResolveOid(const std::string& text, snmp::ObjectId& out, std::string& error);

// The OID in the given style (numeric when names are off).
std::string OidName(const snmp::ObjectId& oid, OidStyle style);
// The name of the object an OID belongs to ("ifDescr"), empty when unknown.
std::string ObjectName(const snmp::ObjectId& oid);
// The name of the table above an entry or table OID with its module
// ("IF-MIB::ifTable"), empty when unknown.
std::string TableName(const snmp::ObjectId& entryOrTable);
// True when `oid` names a table (not its entry): the entry is oid.1.
bool IsTableNode(const snmp::ObjectId& oid);

// "TYPE: value" for the binding's value with what the MIB says of the
// object `vb.Objid()` belongs to: enumeration labels ("INTEGER: up(1)"),
// DISPLAY-HINTs ("STRING: 2:fc:0:0:0:1"), OID values in `style`; the
// exception sentences as they are.
std::string NamedValue(const snmp::VarBind& vb, OidStyle style);
// The value alone as tables show it: labels without numbers, text unquoted.
std::string CellText(const snmp::ObjectId& column, const snmp::AsnValue& value);
// "OID = TYPE: value" in `style` (FormatBinding when numeric).
std::string NamedBinding(const snmp::VarBind& vb, OidStyle style);

// Octets shown by a DISPLAY-HINT of an OCTET STRING textual convention
// ("1x:", "255a", "2d-1d-1d,1d:1d:1d.1d,1a1d:1d"). False when the hint is
// malformed.
bool ApplyOctetHint(const std::string& hint, const snmp::OctetString& bytes, std::string& out);
// An INTEGER shown by a DISPLAY-HINT ("d-2" -> "12.34", "x", "o", "b").
bool ApplyIntegerHint(const std::string& hint, long long value, std::string& out);

}  // namespace zksnmp

#endif
