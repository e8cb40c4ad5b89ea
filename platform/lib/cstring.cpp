// CString operations: lower-casing, formatting, splitting, integer parsing.
#include "kalrt/cstring.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace kalrt {

CString& CString::MakeLower() {
    for (char& c : *this) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return *this;
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        clear();
        return;
    }
    // vsnprintf writes the terminating NUL too; std::string keeps room for it
    // past size() since C++11.
    std::string out(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, again);
    va_end(again);
    assign(std::move(out));
}

std::size_t CString::Split(CStringList& pieces, char separator) const {
    pieces.clear();
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = find(separator, begin);
        if (end == npos) {
            pieces.emplace_back(substr(begin));
            return pieces.size();
        }
        pieces.emplace_back(substr(begin, end - begin));
        begin = end + 1;
    }
}

bool CString::ToInt32(int& value, int base) const {
    if (empty() || (base != 0 && (base < 2 || base > 36))) {
        return false;
    }
    // strtoll skips leading blanks and would accept them; blanks are junk here.
    // It also takes a sign only in front, so a first character that is neither
    // sign nor alphanumeric (or a blank after the sign) fails.
    std::size_t first = (front() == '+' || front() == '-') ? 1 : 0;
    if (first >= size() || !std::isalnum(static_cast<unsigned char>((*this)[first]))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(c_str(), &end, base);
    if (errno == ERANGE || end != c_str() + size() || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace kalrt
