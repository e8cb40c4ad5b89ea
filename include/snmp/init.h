// Process-wide start and stop of libZorKalSnmp and its two clocks.
#ifndef SNMP_INIT_H
#define SNMP_INIT_H

#include "snmp/export.h"

namespace snmp {

// Counts the caller in. The first call (count 0 -> 1) creates the up-time
// clock and makes the cryptographic algorithms (MD5, SHA-1, HMAC, DES-CBC,
// AES) ready for use from any thread. Always returns true on this platform:
// POSIX sockets need no start-up. Call Shutdown() once per successful Init().
// Init() and Shutdown() are serialised with each other and may be called from
// any thread, but the host should call them around, not during, its use of
// the library.
SNMP_API bool Init();

// Counts the caller out. The call that brings the count to 0 destroys the
// up-time clock and the process-wide stack-interface and statistics
// singletons; a later Init() starts again with a new clock. A call without
// a matching Init() (count already 0) does nothing.
SNMP_API void Shutdown();

// Hundredths of a second since the first Init() or the last Reset(); 0 while
// the library is not initialised.
SNMP_API unsigned int UpTime();

// Restarts the up-time clock from 0; does nothing while the library is not
// initialised.
SNMP_API void Reset();

// Seconds since 1970-01-01 00:00:00 UTC, truncated to 32 bits. Usable at any
// time, initialised or not.
SNMP_API unsigned int TimeStamp();

}  // namespace snmp

#endif
