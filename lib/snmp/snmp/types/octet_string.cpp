// Byte strings and bit strings: construction, editing, ordering and XOR.
#include "snmp/octet_string.h"

#include <algorithm>
#include <climits>

namespace snmp {

OctetString::OctetString(const unsigned char* data, unsigned int size) {
    Set(data, size);
}

OctetString::OctetString(const std::string& s) : bytes_(s.begin(), s.end()) {}

OctetString::~OctetString() = default;

OctetString& OctetString::operator=(const std::string& s) {
    bytes_.assign(s.begin(), s.end());
    return *this;
}

void OctetString::Set(const unsigned char* data, unsigned int size) {
    if (data == nullptr) {
        bytes_.clear();
        return;
    }
    // assign() copes with a source inside our own storage.
    bytes_.assign(data, data + size);
}

void OctetString::Set(unsigned int count, unsigned char value) {
    bytes_.assign(count, value);
}

void OctetString::Resize(int size) {
    bytes_.resize(size > 0 ? static_cast<size_t>(size) : 0U, 0);
}

OctetString& OctetString::operator+=(unsigned char byte) {
    bytes_.push_back(byte);
    return *this;
}

OctetString& OctetString::operator+=(char byte) {
    bytes_.push_back(static_cast<unsigned char>(byte));
    return *this;
}

OctetString& OctetString::operator+=(const OctetString& other) {
    if (&other == this) {
        // Inserting a range of our own storage would read it after reallocation.
        const std::vector<unsigned char> copy(bytes_);
        bytes_.insert(bytes_.end(), copy.begin(), copy.end());
    } else {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    }
    return *this;
}

bool OctetString::operator==(const std::string& s) const {
    return bytes_.size() == s.size() &&
           std::equal(bytes_.begin(), bytes_.end(), s.begin(),
                      [](unsigned char b, char c) { return b == static_cast<unsigned char>(c); });
}

int OctetString::Compare(const OctetString& other) const {
    const size_t common = std::min(bytes_.size(), other.bytes_.size());
    for (size_t i = 0; i < common; ++i) {
        if (bytes_[i] != other.bytes_[i]) {
            return bytes_[i] < other.bytes_[i] ? -1 : 1;
        }
    }
    const long long diff =
        static_cast<long long>(bytes_.size()) - static_cast<long long>(other.bytes_.size());
    return static_cast<int>(std::clamp<long long>(diff, INT_MIN, INT_MAX));
}

void OctetString::XOR(OctetString& out, const OctetString& a, const OctetString& b) {
    // Only indexes that all three strings hold are touched.
    const size_t n = std::min({a.bytes_.size(), b.bytes_.size(), out.bytes_.size()});
    for (size_t i = 0; i < n; ++i) {
        out.bytes_[i] = static_cast<unsigned char>(a.bytes_[i] ^ b.bytes_[i]);
    }
}

BitString::~BitString() = default;

}  // namespace snmp
