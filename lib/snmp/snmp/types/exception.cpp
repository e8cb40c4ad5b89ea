// The message-processing error object: a type number and a bounded description.
#include "snmp/exception.h"

#include <cstring>

namespace snmp {

Exception::Exception(int type) : type_(type), descr_{} {}

Exception::Exception(int type, const char* descr) : type_(type), descr_{} {
    if (descr != nullptr) {
        // Copies at most kDescrSize-1 characters; descr_ is zero-filled, so the
        // text stays terminated when it is cut.
        std::strncpy(descr_, descr, kDescrSize - 1);
    }
}

}  // namespace snmp
