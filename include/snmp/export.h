// The one export macro of libZorKalSnmp: the library is built with hidden
// visibility and only what carries SNMP_API is visible to host programs.
#ifndef SNMP_EXPORT_H
#define SNMP_EXPORT_H

#define SNMP_API __attribute__((visibility("default")))

#endif
