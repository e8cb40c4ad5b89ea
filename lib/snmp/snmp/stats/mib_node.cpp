// MibNode: plain storage plus the reading of an enumeration from its compact
// text form.
#include "snmp/mib_node.h"

namespace snmp {

MibNode::MibNode() : value_(0x05) {}

MibNode::MibNode(const MibNode& other) = default;

MibNode& MibNode::operator=(const MibNode& other) = default;

MibNode::~MibNode() = default;

unsigned int MibNode::Type() const {
    return value_.Type();
}

void MibNode::SetType(unsigned int type) {
    value_.SetType(type);
}

bool MibNode::SetEnum(const std::string& label, int value) {
    return enums_.emplace(value, label).second;
}

bool MibNode::SetEnums(const kalrt::CString& text) {
    kalrt::CStringList items;
    text.Split(items, ';');
    for (const kalrt::CString& item : items) {
        kalrt::CStringList parts;
        if (item.Split(parts, '=') != 2) {
            return false;
        }
        int number = 0;
        if (!parts[1].ToInt32(number, 10)) {
            return false;
        }
        if (!SetEnum(parts[0], number)) {
            return false;
        }
    }
    return true;
}

}  // namespace snmp
