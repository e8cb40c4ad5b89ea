// Object identifiers: dotted-text parsing and printing, string indexes and
// the SNMP ordering used by walks.
#include "snmp/object_id.h"

#include <algorithm>
#include <climits>

namespace snmp {

ObjectId::ObjectId(const unsigned int* ids, unsigned int n) {
    Set(ids, n);
}

ObjectId::~ObjectId() = default;

bool ObjectId::Set(const char* text) {
    if (text == nullptr) {
        return false;
    }
    std::vector<unsigned int> scratch;
    const char* p = text;
    while (*p != '\0') {
        if (*p == '.') {
            ++p;
            if (*p == '.') {
                return false;
            }
            continue;
        }
        if (*p < '0' || *p > '9') {
            return false;
        }
        unsigned long long arc = 0;
        while (*p >= '0' && *p <= '9') {
            arc = arc * 10 + static_cast<unsigned long long>(*p - '0');
            if (arc > UINT_MAX) {
                return false;  // the arc does not fit 32 bits
            }
            ++p;
        }
        scratch.push_back(static_cast<unsigned int>(arc));
    }
    if (scratch.empty()) {
        return false;
    }
    arcs_ = std::move(scratch);
    return true;
}

bool ObjectId::Set(const unsigned int* ids, unsigned int n) {
    if (ids == nullptr) {
        return false;
    }
    arcs_.assign(ids, ids + n);
    return !arcs_.empty();
}

void ObjectId::Resize(int n) {
    arcs_.resize(n > 0 ? static_cast<size_t>(n) : 0U, 0U);
}

ObjectId& ObjectId::operator+=(unsigned int arc) {
    arcs_.push_back(arc);
    return *this;
}

ObjectId& ObjectId::operator+=(const ObjectId& other) {
    if (&other == this) {
        const std::vector<unsigned int> copy(arcs_);
        arcs_.insert(arcs_.end(), copy.begin(), copy.end());
    } else {
        arcs_.insert(arcs_.end(), other.arcs_.begin(), other.arcs_.end());
    }
    return *this;
}

unsigned int ObjectId::PopFront() {
    if (arcs_.empty()) {
        return 0;
    }
    const unsigned int first = arcs_.front();
    arcs_.erase(arcs_.begin());
    return first;
}

int ObjectId::Compare(const ObjectId& other) const {
    const size_t common = std::min(arcs_.size(), other.arcs_.size());
    for (size_t i = 0; i < common; ++i) {
        if (arcs_[i] != other.arcs_[i]) {
            return arcs_[i] < other.arcs_[i] ? -1 : 1;
        }
    }
    const long long diff =
        static_cast<long long>(arcs_.size()) - static_cast<long long>(other.arcs_.size());
    return static_cast<int>(std::clamp<long long>(diff, INT_MIN, INT_MAX));
}

int ObjectId::Compare(const ObjectId& other, unsigned int n) const {
    const size_t limit = std::min({arcs_.size(), other.arcs_.size(), static_cast<size_t>(n)});
    for (size_t i = 0; i < limit; ++i) {
        if (arcs_[i] != other.arcs_[i]) {
            return arcs_[i] < other.arcs_[i] ? -1 : 1;
        }
    }
    return 0;
}

void ObjectId::MakeStr(std::string& out) const {
    for (const unsigned int arc : arcs_) {
        out += '.';
        out += std::to_string(arc);
    }
}

void ObjectId::MakeIndex(const std::string& s) {
    arcs_.assign(s.size(), 0U);
    for (size_t i = 0; i < s.size(); ++i) {
        arcs_[i] = static_cast<unsigned char>(s[i]);
    }
}

void ObjectId::MakeIndex(const std::string& s, unsigned int n) {
    arcs_.assign(s.size() + 1, 0U);
    arcs_[0] = n;
    // A prefix longer than the string cannot be copied; only the bytes held are.
    const size_t count = std::min(static_cast<size_t>(n), s.size());
    for (size_t i = 0; i < count; ++i) {
        arcs_[i + 1] = static_cast<unsigned char>(s[i]);
    }
}

std::ostream& operator<<(std::ostream& os, const ObjectId& oid) {
    for (unsigned int i = 0; i < oid.Length(); ++i) {
        if (i != 0) {
            os << '.';
        }
        os << oid[static_cast<int>(i)];
    }
    return os;
}

}  // namespace snmp
