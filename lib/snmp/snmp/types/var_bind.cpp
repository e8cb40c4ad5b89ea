// Variable bindings and the binding list.
#include "snmp/var_bind.h"

namespace snmp {

VarBind::~VarBind() = default;

bool VarBind::operator==(const VarBind& other) const {
    return objid_ == other.objid_ && value_.Type() == other.value_.Type() &&
           value_.Compare(other.value_) == 0;
}

VarBindList::~VarBindList() = default;

}  // namespace snmp
