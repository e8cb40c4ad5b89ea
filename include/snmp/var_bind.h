// Variable bindings: a name (ObjectId) paired with a typed value, and the
// ordered list of bindings that every PDU carries.
#ifndef SNMP_VAR_BIND_H
#define SNMP_VAR_BIND_H

#include <list>

#include "snmp/asn_value.h"
#include "snmp/export.h"
#include "snmp/object_id.h"

namespace snmp {

// A name-value pair; a new binding has an empty name and a NULL value.
class SNMP_API VarBind {
public:
    VarBind() = default;
    VarBind(const ObjectId& objid, const AsnValue& value) : objid_(objid), value_(value) {}
    VarBind(const VarBind&) = default;
    VarBind(VarBind&&) noexcept = default;
    VarBind& operator=(const VarBind&) = default;
    VarBind& operator=(VarBind&&) noexcept = default;
    virtual ~VarBind();

    ObjectId& Objid() { return objid_; }
    const ObjectId& Objid() const { return objid_; }
    AsnValue& Value() { return value_; }
    const AsnValue& Value() const { return value_; }
    void SetObjId(const ObjectId& objid) { objid_ = objid; }
    void SetAsnValue(const AsnValue& value) { value_ = value; }

    // Equal names, equal tags and values that compare equal.
    bool operator==(const VarBind& other) const;
    // Orders by name in SNMP order (a strict weak ordering, so sorting a list
    // of bindings gives walk order).
    bool operator<(const VarBind& other) const { return objid_ < other.objid_; }

private:
    ObjectId objid_;
    AsnValue value_;
};

// The ordered list of bindings; every std::list operation is available.
class SNMP_API VarBindList : public std::list<VarBind> {
public:
    VarBindList() = default;
    VarBindList(const VarBindList&) = default;
    VarBindList(VarBindList&&) noexcept = default;
    VarBindList& operator=(const VarBindList&) = default;
    VarBindList& operator=(VarBindList&&) noexcept = default;
    virtual ~VarBindList();
};

}  // namespace snmp

#endif
