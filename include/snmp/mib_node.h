// Description of one MIB object for hosts that work with MIB definitions: its
// identifier, label, SNMP type, enumeration, textual convention, display hint
// and value range. The library itself neither creates nor reads one.
#ifndef SNMP_MIB_NODE_H
#define SNMP_MIB_NODE_H

#include <map>
#include <string>

#include "kalrt/cstring.h"
#include "snmp/asn_value.h"
#include "snmp/export.h"
#include "snmp/object_id.h"

namespace snmp {

class SNMP_API MibNode {
public:
    // Type NULL (0x05); empty id, label, enumeration, TC and hint; range 0..0.
    MibNode();
    MibNode(const MibNode& other);
    MibNode& operator=(const MibNode& other);
    virtual ~MibNode();

    // The node's SNMP type, as a BER tag.
    unsigned int Type() const;
    void SetType(unsigned int type);

    const ObjectId& Id() const { return id_; }
    void SetId(const ObjectId& id) { id_ = id; }

    const std::string& Label() const { return label_; }
    void SetLabel(const std::string& label) { label_ = label; }

    // Named values of an enumerated INTEGER: number -> label.
    const std::map<int, std::string>& Enums() const { return enums_; }

    const std::string& TC() const { return tc_; }
    void SetTC(const std::string& tc) { tc_ = tc; }

    const std::string& DisplayHint() const { return displayHint_; }
    void SetDisplayHint(const std::string& hint) { displayHint_ = hint; }

    unsigned int RangeLow() const { return rangeLow_; }
    void SetRangeLow(unsigned int low) { rangeLow_ = low; }
    unsigned int RangeHigh() const { return rangeHigh_; }
    void SetRangeHigh(unsigned int high) { rangeHigh_ = high; }

    // Maps `value` to `label`. Returns false, changing nothing, when `value`
    // already has a label; labels may repeat.
    bool SetEnum(const std::string& label, int value);

    // Adds the named values of a text "label=number;label=number;..." in order
    // (numbers in decimal, optionally signed; no blanks are trimmed). Returns
    // false at the first item that is not exactly one label and one number, or
    // whose number already has a label; the items before it stay added and
    // those after it are not read. An empty piece (as from a trailing ';') is
    // such a failing item.
    bool SetEnums(const kalrt::CString& text);

private:
    AsnValue value_;
    ObjectId id_;
    std::string label_;
    std::map<int, std::string> enums_;
    std::string tc_;
    std::string displayHint_;
    unsigned int rangeLow_ = 0;
    unsigned int rangeHigh_ = 0;
};

}  // namespace snmp

#endif
