// The up-time clock: time since the clock was created or last reset, in the
// unit of SNMP TimeTicks.
#ifndef KALRT_UP_TIME_H
#define KALRT_UP_TIME_H

#include "snmp/export.h"

namespace kalrt {

// A monotonic up-time clock. The unit is hundredths of a second (TimeTicks,
// as sysUpTime counts); the count starts at 0 when the clock is created and
// at each Reset(), is unaffected by changes of the wall clock, and wraps
// modulo 2^32 (after about 497 days). Safe to use from several threads.
class SNMP_API IUpTime {
public:
    // A new clock starting at 0, owned by the caller. Never returns null.
    static IUpTime* Create();

    IUpTime(const IUpTime&) = delete;
    IUpTime& operator=(const IUpTime&) = delete;

    // Hundredths of a second since creation or the last Reset().
    virtual unsigned int UpTime() const = 0;
    // Restarts the count from 0.
    virtual void Reset() = 0;
    virtual ~IUpTime() = default;

protected:
    IUpTime() = default;
};

}  // namespace kalrt

#endif
