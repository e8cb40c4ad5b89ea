// CString: lower-casing, formatting of long output, splitting with empty
// pieces, and checked integer parsing.
#include "kalrt/cstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

using kalrt::CString;
using kalrt::CStringList;

TEST(CString, SplitKeepsPiecesInOrderIncludingEmptyOnes) {
    struct Case {
        const char* text;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {{"up=1;down=2", {"up=1", "down=2"}},
                          {"a;;b", {"a", "", "b"}},
                          {"a;", {"a", ""}},
                          {";a", {"", "a"}},
                          {"", {""}},
                          {";", {"", ""}},
                          {"none", {"none"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        CStringList pieces{CString("stale")};
        EXPECT_EQ(CString(c.text).Split(pieces, ';'), c.pieces.size());
        EXPECT_EQ(std::vector<std::string>(pieces.begin(), pieces.end()), c.pieces);
    }
}

TEST(CString, ToInt32AcceptsWholeNumbersInRangeOnly) {
    struct Case {
        const char* text;
        int base;
        bool ok;
        int value;
    };
    const Case cases[] = {{"42", 10, true, 42},
                          {"-42", 10, true, -42},
                          {"+42", 10, true, 42},
                          {"007", 10, true, 7},
                          {"2147483647", 10, true, INT_MAX},
                          {"-2147483648", 10, true, INT_MIN},
                          {"2147483648", 10, false, 0},
                          {"-2147483649", 10, false, 0},
                          {"99999999999999999999", 10, false, 0},
                          {"0x1F", 16, true, 31},
                          {"-80000000", 16, true, INT_MIN},
                          {"80000000", 16, false, 0},
                          {"102", 2, false, 0},
                          {"z", 36, true, 35},
                          {"0x10", 0, true, 16},
                          {"010", 0, true, 8},
                          {"19", 8, false, 0},
                          {"", 10, false, 0},
                          {"-", 10, false, 0},
                          {" 1", 10, false, 0},
                          {"1 ", 10, false, 0},
                          {"- 1", 10, false, 0},
                          {"\t1", 10, false, 0},
                          {"1x", 10, false, 0},
                          {"1.5", 10, false, 0},
                          {"--1", 10, false, 0},
                          {"0x", 16, false, 0},
                          {"10", 1, false, 0},
                          {"10", 37, false, 0},
                          {"10", -1, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" base " + std::to_string(c.base));
        int value = 12345;
        EXPECT_EQ(CString(c.text).ToInt32(value, c.base), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 12345);  // untouched on failure
    }
    // An embedded NUL is junk, not the end of the text.
    int value = 0;
    EXPECT_FALSE(CString(std::string("12\0"
                                     "3",
                                     4))
                     .ToInt32(value, 10));
}

}  // namespace
