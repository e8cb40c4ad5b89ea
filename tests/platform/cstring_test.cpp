// CString: lower-casing, formatting of long output, splitting with empty
// pieces, and checked integer parsing.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "kalrt/cstring.h"

namespace {

using kalrt::CString;
using kalrt::CStringList;

TEST(CString, MakeLowerChangesOnlyAsciiCapitals) {
    CString text(std::string("USM-Stats \xC4 ZZ@[`az"));
    EXPECT_EQ(&text.MakeLower(), &text);
    EXPECT_EQ(text, std::string("usm-stats \xC4 zz@[`az"));
}

TEST(CString, FormatReplacesContentsAndKeepsLongOutputWhole) {
    CString text("old contents");
    text.Format("Dest: %s:%i Pdu Type: %u", "10.0.0.1", 161, 160u);
    EXPECT_EQ(text, "Dest: 10.0.0.1:161 Pdu Type: 160");

    const std::string longPiece(5000, 'x');
    text.Format("[%s|%d]", longPiece.c_str(), -7);
    EXPECT_EQ(text, "[" + longPiece + "|-7]");

    text.Format("%s", "");
    EXPECT_TRUE(text.empty());
}

TEST(CString, SplitKeepsPiecesInOrderIncludingEmptyOnes) {
    struct Case {
        const char* text;
        char separator;
        std::vector<std::string> pieces;
    };
    const std::vector<Case> cases = {
        {"up=1;down=2", ';', {"up=1", "down=2"}},
        {"up=1", '=', {"up", "1"}},
        {"a;;b", ';', {"a", "", "b"}},
        {"a;", ';', {"a", ""}},
        {";a", ';', {"", "a"}},
        {"", ';', {""}},
        {";", ';', {"", ""}},
        {"no separator", ';', {"no separator"}},
        {"a=b=c", '=', {"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\" at '" + c.separator + "'");
        CStringList pieces{CString("stale")};
        EXPECT_EQ(CString(c.text).Split(pieces, c.separator), c.pieces.size());
        ASSERT_EQ(pieces.size(), c.pieces.size());
        for (size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i], c.pieces[i]) << "piece " << i;
        }
    }
}

TEST(CString, ToInt32AcceptsWholeNumbersInRangeOnly) {
    struct Case {
        const char* text;
        int base;
        bool ok;
        int value;
    };
    const std::vector<Case> cases = {
        {"0", 10, true, 0},
        {"42", 10, true, 42},
        {"-42", 10, true, -42},
        {"+42", 10, true, 42},
        {"007", 10, true, 7},
        {"2147483647", 10, true, INT_MAX},
        {"-2147483648", 10, true, INT_MIN},
        {"2147483648", 10, false, 0},
        {"-2147483649", 10, false, 0},
        {"99999999999999999999999", 10, false, 0},
        {"ff", 16, true, 255},
        {"0x1F", 16, true, 31},
        {"-80000000", 16, true, INT_MIN},
        {"80000000", 16, false, 0},
        {"101", 2, true, 5},
        {"102", 2, false, 0},
        {"z", 36, true, 35},
        {"0x10", 0, true, 16},
        {"010", 0, true, 8},
        {"12", 8, true, 10},
        {"19", 8, false, 0},
        {"", 10, false, 0},
        {"-", 10, false, 0},
        {"+", 10, false, 0},
        {" 1", 10, false, 0},
        {"1 ", 10, false, 0},
        {"- 1", 10, false, 0},
        {"\t1", 10, false, 0},
        {"1x", 10, false, 0},
        {"x", 10, false, 0},
        {"1.5", 10, false, 0},
        {"--1", 10, false, 0},
        {"0x", 16, false, 0},
        {"10", 1, false, 0},
        {"10", 37, false, 0},
        {"10", -1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\" base " + std::to_string(c.base));
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
