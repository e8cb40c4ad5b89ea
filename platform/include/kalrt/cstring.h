// The runtime's string class: a std::string with lower-casing, printf-style
// formatting, splitting and checked integer parsing.
#ifndef KALRT_CSTRING_H
#define KALRT_CSTRING_H

#include <string>
#include <vector>

#include "snmp/export.h"

namespace kalrt {

class CStringList;

// A std::string (it is one, so every std::string operation applies) with the
// few extra operations the library needs.
class SNMP_API CString : public std::string {
public:
    CString() = default;
    CString(const std::string& text) : std::string(text) {}  // implicit by design
    CString(const char* text) : std::string(text) {}         // implicit by design; not null

    // Lower-cases the ASCII letters A-Z in place; other bytes are kept.
    CString& MakeLower();

    // Replaces the contents with the printf-style formatting of the arguments.
    // Output of any length is kept whole. On a formatting error (an encoding
    // error of vsnprintf) the string becomes empty.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Clears `pieces` and fills it with the pieces between the separators, in
    // order. Empty pieces are kept: n separators always give n + 1 pieces, so
    // "" gives one empty piece, "a;" gives "a" and "", "a;;b" gives "a", "", "b".
    // Returns the number of pieces.
    std::size_t Split(CStringList& pieces, char separator) const;

    // Parses the whole string as a signed 32-bit integer in `base` (2 to 36, or
    // 0 for the C prefixes: "0x" hexadecimal, "0" octal). An optional leading
    // '+' or '-' is accepted; base 16 also accepts a "0x"/"0X" prefix. Blanks
    // anywhere, an empty text, trailing characters, a value outside
    // [-2147483648, 2147483647] or an invalid base fail. Returns true and sets
    // `value` on success; on failure returns false and leaves `value` alone.
    bool ToInt32(int& value, int base) const;
};

// An ordered list of strings.
class SNMP_API CStringList : public std::vector<CString> {
public:
    using std::vector<CString>::vector;
};

}  // namespace kalrt

#endif
