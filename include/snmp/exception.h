// The error object that message encoding, decoding and USM security processing
// throw: a signed type number and a short description.
#ifndef SNMP_EXCEPTION_H
#define SNMP_EXCEPTION_H

#include "snmp/export.h"

namespace snmp {

// A plain value type, copied by value. Type numbers in use: 0 to 14 for
// message encoding and decoding faults, 19 to 23 for security and handler
// faults, 200 to 205 for USM failures.
class SNMP_API Exception {
public:
    // The type and an empty description.
    explicit Exception(int type);
    // The type and a copy of at most 1023 characters of `descr` (null gives an
    // empty description).
    Exception(int type, const char* descr);

    int Type() const { return type_; }
    // The NUL-terminated description.
    const char* Descr() const { return descr_; }

private:
    static constexpr unsigned int kDescrSize = 1024;
    int type_;
    char descr_[kDescrSize];
};

}  // namespace snmp

#endif
