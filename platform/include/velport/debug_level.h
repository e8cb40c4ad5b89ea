// The process-wide debug level that decides which log lines the library
// writes to standard output (0, the start value, writes none).
#ifndef VELPORT_DEBUG_LEVEL_H
#define VELPORT_DEBUG_LEVEL_H

#include "snmp/export.h"

// Set by the host, ideally before it starts a dispatcher: library threads
// read it without synchronisation. A log line of level n is written when
// the value is at least n.
extern SNMP_API int __Velmar_Debug_Level;

#endif
