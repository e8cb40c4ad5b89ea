// Object identifiers: dotted-text parsing and printing, string indexes and
// the SNMP ordering used by walks.
#include "snmp/object_id.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace snmp {

ObjectId::ObjectId(const unsigned int* ids, unsigned int n) {
    Set(ids, n);
}

ObjectId::ObjectId(const ObjectId& other) {
    Assign(other.Arcs(), other.size_);
}

ObjectId::ObjectId(ObjectId&& other) noexcept {
    *this = std::move(other);
}

ObjectId& ObjectId::operator=(const ObjectId& other) {
    if (&other != this) Assign(other.Arcs(), other.size_);
    return *this;
}

ObjectId& ObjectId::operator=(ObjectId&& other) noexcept {
    if (&other == this) return *this;
    if (other.OnHeap()) {
        Release();
        heap_ = other.heap_;
        capacity_ = other.capacity_;
        size_ = other.size_;
        other.capacity_ = kInline;
    } else {
        // Inline arcs always fit: this identifier holds at least kInline.
        std::memcpy(Arcs(), other.inline_, other.size_ * sizeof(unsigned int));
        size_ = other.size_;
    }
    other.size_ = 0;
    return *this;
}

ObjectId::~ObjectId() {
    Release();
}

void ObjectId::Release() noexcept {
    if (OnHeap()) delete[] heap_;
    capacity_ = kInline;
    size_ = 0;
}

void ObjectId::Reserve(unsigned int n) {
    if (n <= capacity_) return;
    const unsigned int capacity = std::max(n, capacity_ * 2);
    auto* arcs = new unsigned int[capacity];
    std::memcpy(arcs, Arcs(), size_ * sizeof(unsigned int));
    const unsigned int size = size_;
    Release();
    heap_ = arcs;
    capacity_ = capacity;
    size_ = size;
}

void ObjectId::Assign(const unsigned int* ids, unsigned int n) {
    if (n > capacity_) {
        size_ = 0;  // nothing to keep
        Reserve(n);
    }
    // `ids` may lie inside this identifier (Set(Id(), n)), so memmove.
    if (n != 0) std::memmove(Arcs(), ids, n * sizeof(unsigned int));
    size_ = n;
}

bool ObjectId::Set(const char* text) {
    if (text == nullptr) {
        return false;
    }
    ObjectId scratch;
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
        scratch += static_cast<unsigned int>(arc);
    }
    if (scratch.Empty()) {
        return false;
    }
    *this = std::move(scratch);
    return true;
}

bool ObjectId::Set(const unsigned int* ids, unsigned int n) {
    if (ids == nullptr) {
        return false;
    }
    Assign(ids, n);
    return size_ != 0;
}

void ObjectId::Resize(int n) {
    const unsigned int count = n > 0 ? static_cast<unsigned int>(n) : 0U;
    Reserve(count);
    if (count > size_) std::fill(Arcs() + size_, Arcs() + count, 0U);
    size_ = count;
}

ObjectId& ObjectId::operator+=(unsigned int arc) {
    Reserve(size_ + 1);
    Arcs()[size_++] = arc;
    return *this;
}

ObjectId& ObjectId::operator+=(const ObjectId& other) {
    const unsigned int n = other.size_;
    Reserve(size_ + n);
    // Read `other` after growing: it may be this identifier.
    if (n != 0) std::memcpy(Arcs() + size_, other.Arcs(), n * sizeof(unsigned int));
    size_ += n;
    return *this;
}

unsigned int ObjectId::PopFront() {
    if (size_ == 0) {
        return 0;
    }
    unsigned int* arcs = Arcs();
    const unsigned int first = arcs[0];
    std::memmove(arcs, arcs + 1, (size_ - 1) * sizeof(unsigned int));
    --size_;
    return first;
}

bool ObjectId::operator==(const ObjectId& other) const {
    return size_ == other.size_ &&
           (size_ == 0 || std::memcmp(Arcs(), other.Arcs(), size_ * sizeof(unsigned int)) == 0);
}

int ObjectId::Compare(const ObjectId& other) const {
    const unsigned int* a = Arcs();
    const unsigned int* b = other.Arcs();
    const unsigned int common = std::min(size_, other.size_);
    for (unsigned int i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    const long long diff = static_cast<long long>(size_) - static_cast<long long>(other.size_);
    return static_cast<int>(std::clamp<long long>(diff, INT_MIN, INT_MAX));
}

int ObjectId::Compare(const ObjectId& other, unsigned int n) const {
    const unsigned int* a = Arcs();
    const unsigned int* b = other.Arcs();
    const unsigned int limit = std::min({size_, other.size_, n});
    for (unsigned int i = 0; i < limit; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

void ObjectId::MakeStr(std::string& out) const {
    const unsigned int* arcs = Arcs();
    for (unsigned int i = 0; i < size_; ++i) {
        // ".4294967295" at most; written backwards into a small buffer.
        char text[12];
        char* end = text + sizeof text;
        char* q = end;
        unsigned int v = arcs[i];
        do {
            *--q = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        *--q = '.';
        out.append(q, static_cast<size_t>(end - q));
    }
}

void ObjectId::MakeIndex(const std::string& s) {
    Resize(0);
    Resize(static_cast<int>(s.size()));
    unsigned int* arcs = Arcs();
    for (size_t i = 0; i < s.size(); ++i) {
        arcs[i] = static_cast<unsigned char>(s[i]);
    }
}

void ObjectId::MakeIndex(const std::string& s, unsigned int n) {
    Resize(0);
    Resize(static_cast<int>(s.size() + 1));
    unsigned int* arcs = Arcs();
    arcs[0] = n;
    // A prefix longer than the string cannot be copied; only the bytes held are.
    const size_t count = std::min(static_cast<size_t>(n), s.size());
    for (size_t i = 0; i < count; ++i) {
        arcs[i + 1] = static_cast<unsigned char>(s[i]);
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
