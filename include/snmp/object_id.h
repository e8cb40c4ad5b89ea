// Object identifiers of libZorKalSnmp: arrays of unsigned 32-bit arcs with
// dotted-text parsing and printing, string table indexes and SNMP ordering.
#ifndef SNMP_OBJECT_ID_H
#define SNMP_OBJECT_ID_H

#include <ostream>
#include <string>
#include <vector>  // users of this header have long had it from here

#include "snmp/export.h"

namespace snmp {

// A growable, owned, contiguous array of unsigned 32-bit arcs; may be empty.
class SNMP_API ObjectId {
public:
    // An empty identifier.
    ObjectId() {}
    // As Set(ids, n).
    ObjectId(const unsigned int* ids, unsigned int n);
    ObjectId(const ObjectId& other);
    // The moved-from identifier is left empty.
    ObjectId(ObjectId&& other) noexcept;
    ObjectId& operator=(const ObjectId& other);
    ObjectId& operator=(ObjectId&& other) noexcept;
    virtual ~ObjectId();

    // Parses dotted decimal text such as "1.3.6.1" or ".1.3.6.1." (one leading
    // and one trailing dot are accepted, leading zeros too). Returns false and
    // keeps the previous value for a null or empty text, a text of only dots,
    // two dots in a row, any character other than digits and dots, and an arc
    // above 4294967295.
    bool Set(const char* text);
    bool Set(const std::string& text) { return Set(text.c_str()); }
    // A null `ids` returns false and changes nothing; otherwise the content
    // becomes the `n` arcs and the result is true when at least one arc is held.
    bool Set(const unsigned int* ids, unsigned int n);

    // Grows (new arcs are 0) or shrinks to `n` arcs; a negative n empties.
    void Resize(int n);
    // Append one arc, or every arc of `other` (which may be this identifier).
    ObjectId& operator+=(unsigned int arc);
    ObjectId& operator+=(const ObjectId& other);
    // Removes and returns the first arc; on an empty identifier returns 0 and
    // changes nothing.
    unsigned int PopFront();

    // The arc at `index`. Not range-tested: `index` must be below Length().
    unsigned int& operator[](int index) { return Arcs()[index]; }
    const unsigned int& operator[](int index) const { return Arcs()[index]; }

    // Pointer to the first arc, or null when empty.
    const unsigned int* Id() const { return size_ == 0 ? nullptr : Arcs(); }
    unsigned int* Id() { return size_ == 0 ? nullptr : Arcs(); }
    unsigned int Length() const { return size_; }
    bool Empty() const { return size_ == 0; }

    // SNMP ordering: -1 or 1 at the first differing arc (unsigned); with a
    // common prefix, this length minus the other length (clamped to int), so a
    // proper prefix sorts first.
    int Compare(const ObjectId& other) const;
    // Compares at most the first `n` arcs and the arcs both hold: -1 or 1 at
    // the first difference, else 0 (also when the lengths differ).
    // Compare(root, root.Length()) == 0 tells whether this identifier lies in
    // the subtree of `root`, given it is at least as long.
    int Compare(const ObjectId& other, unsigned int n) const;
    bool operator<(const ObjectId& other) const { return Compare(other) < 0; }
    bool operator==(const ObjectId& other) const;
    bool operator!=(const ObjectId& other) const { return !(*this == other); }

    // Appends ".arc" for every arc to `out` (".1.3.6.1"); nothing when empty.
    void MakeStr(std::string& out) const;

    // Fixed-length string index: one arc per byte of `s` (values 0 to 255).
    void MakeIndex(const std::string& s);
    // Length-prefixed string index: s.size()+1 arcs, arc 0 is `n` and arcs 1
    // to n are the first n bytes of `s`; arcs beyond n are 0. An `n` above
    // s.size() copies only the bytes `s` holds.
    void MakeIndex(const std::string& s, unsigned int n);

private:
    // Names of MIB instances mostly have 8 to 16 arcs: these live in the
    // object itself, so building, copying and decoding bindings does not
    // allocate; a longer identifier moves to the heap.
    static constexpr unsigned int kInline = 16;
    bool OnHeap() const { return capacity_ > kInline; }
    unsigned int* Arcs() { return OnHeap() ? heap_ : inline_; }
    const unsigned int* Arcs() const { return OnHeap() ? heap_ : inline_; }
    // Room for `n` arcs; the arcs held are kept.
    void Reserve(unsigned int n);
    void Assign(const unsigned int* ids, unsigned int n);
    // Gives up the heap storage and leaves the identifier empty.
    void Release() noexcept;

    unsigned int size_ = 0;
    unsigned int capacity_ = kInline;
    union {
        unsigned int inline_[kInline];
        unsigned int* heap_;
    };
};

// Writes the dotted form without a leading dot ("1.3.6.1"); nothing when empty.
SNMP_API std::ostream& operator<<(std::ostream& os, const ObjectId& oid);

}  // namespace snmp

#endif
