// CString's checked integer parsing in every base; splitting is exercised
// through MibNode's enumeration texts.
#include "kalrt/cstring.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using kalrt::CString;

TEST(CString, ToInt32AcceptsWholeNumbersInRangeOnly) {
    const struct {
        const char* text;
        int base, value;
    } valid[] = {{"42", 10, 42},
                 {"-42", 10, -42},
                 {"+42", 10, 42},
                 {"007", 10, 7},
                 {"2147483647", 10, INT_MAX},
                 {"-2147483648", 10, INT_MIN},
                 {"0x1F", 16, 31},
                 {"-80000000", 16, INT_MIN},
                 {"z", 36, 35},
                 {"0x10", 0, 16},
                 {"010", 0, 8}};
    for (const auto& c : valid) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" base " + std::to_string(c.base));
        int value = 12345;
        EXPECT_TRUE(CString(c.text).ToInt32(value, c.base));
        EXPECT_EQ(value, c.value);
    }
    const std::pair<const char*, int> invalid[] = {
        {"2147483648", 10}, {"-2147483649", 10}, {"99999999999999999999", 10},
        {"80000000", 16},   {"102", 2},          {"19", 8},
        {"", 10},           {"-", 10},           {" 1", 10},
        {"1 ", 10},         {"- 1", 10},         {"\t1", 10},
        {"1x", 10},         {"1.5", 10},         {"--1", 10},
        {"0x", 16},         {"10", 1},           {"10", 37},
        {"10", -1}};
    for (const auto& [text, base] : invalid) {
        SCOPED_TRACE(std::string("\"") + text + "\" base " + std::to_string(base));
        int value = 12345;
        EXPECT_FALSE(CString(text).ToInt32(value, base));
        EXPECT_EQ(value, 12345);  // untouched on failure
    }
    // An embedded NUL ("12", NUL, "3") is junk, not the end of the text.
    int value = 0;
    EXPECT_FALSE(CString(std::string("12\0003", 4)).ToInt32(value, 10));
}

}  // namespace
