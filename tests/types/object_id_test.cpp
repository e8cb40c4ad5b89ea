// Tests of ObjectId (dotted text, ordering, string indexes) and of VarBind and VarBindList
// (equality, list ordering).
#include "snmp/object_id.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "snmp/var_bind.h"
#include "test_util.h"

namespace {

using snmp::AsnValue;
using snmp::ObjectId;
using snmp::VarBind;
using snmp::VarBindList;
using Names = std::vector<std::string>;
using Arcs = std::vector<unsigned int>;
using zktest::NullBind;
using zktest::Oid;
using zktest::StringBind;

Arcs Of(const ObjectId& oid) {
    Arcs v;
    for (unsigned int i = 0; i < oid.Length(); ++i) v.push_back(oid[static_cast<int>(i)]);
    return v;
}

TEST(ObjectIdTest, ParsesAndPrintsDottedTextAndRejectsMalformedOrOverflowingArcs) {
    struct Case {
        const char* text;
        Arcs arcs;
    };
    const Case cases[] = {
        {"1.3.6.1.2.1.1.3.0", {1, 3, 6, 1, 2, 1, 1, 3, 0}},
        {".1.3.6.1.", {1, 3, 6, 1}},
        {"01.002", {1, 2}},
        {"4294967295", {4294967295U}},
        {"1.00000000004294967295", {1, 4294967295U}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ObjectId oid;
        EXPECT_TRUE(oid.Set(std::string(c.text)));
        EXPECT_EQ(Of(oid), c.arcs);
        // The dotted form appends a leading dot; the streamed form has none.
        std::string dotted = "x";
        oid.MakeStr(dotted);
        std::ostringstream streamed;
        streamed << oid;
        EXPECT_EQ(dotted, "x." + streamed.str());
        ObjectId back;
        EXPECT_TRUE(back.Set(dotted.substr(1)));
        EXPECT_EQ(back, oid);
    }
    std::string none = "x";
    ObjectId().MakeStr(none);
    EXPECT_EQ(none, "x");
    // clang-format off
    const char* const bad[] = {"4294967296", "1.99999999999999999999", "", ".", "..", "1..3",
                               "1.3..", "1.a.3", " 1.3", "1.3 ", "-1", "+1", "1,3", "1.3.6.1\n",
                               nullptr};
    // clang-format on
    for (const char* text : bad) {
        SCOPED_TRACE(text ? text : "null");
        ObjectId oid = Oid("9.9");
        EXPECT_FALSE(oid.Set(text));
        EXPECT_EQ(Of(oid), (Arcs{9, 9}));
    }
}

TEST(ObjectIdTest, CompareUsesSnmpOrderingAndPrefixes) {
    struct Case {
        const char* a;
        const char* b;
        int full;
        unsigned int n;
        int prefix;
    };
    const Case cases[] = {
        {"1.3.6", "1.3.6.1.2", -2, 3, 0},  {"1.3.6.1.2", "1.3.6", 2, 5, 0},
        {"1.3.7", "1.3.6.1", 1, 4, 1},     {"1.3.6.1", "1.3.6.1", 0, 4, 0},
        {"1.3.6.1", "1.3.6.2", -1, 4, -1}, {"1.4294967295", "1.2", 1, 2, 1},
        {"2", "1.9.9.9", 1, 0, 0},         {"1.3.6.1.2.1.1.9", "1.3.6.1.2.1.2", -1, 7, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const ObjectId a = Oid(c.a);
        const ObjectId b = Oid(c.b);
        EXPECT_EQ(a.Compare(b), c.full);
        EXPECT_EQ(a < b, c.full < 0);
        EXPECT_EQ(a == b, c.full == 0);
        EXPECT_EQ(a.Compare(b, c.n), c.prefix);
    }
    EXPECT_EQ(ObjectId().Compare(Oid("1.3")), -2);
}

TEST(ObjectIdTest, MakeIndexCopiesOnlyTheBytesTheStringHolds) {
    struct Case {
        std::string s;
        int n;  // -1: no length prefix
        Arcs arcs;
    };
    const Case cases[] = {
        {"ab", -1, {97, 98}},
        {std::string("\xE9\x00", 2), -1, {233, 0}},
        {"", -1, {}},
        {"ab", 2, {2, 97, 98}},
        {"abc", 1, {1, 97, 0, 0}},
        {"", 0, {0}},
        {"ab", 1000, {1000, 97, 98}},
        {"", 5, {5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.s + " / " + std::to_string(c.n));
        ObjectId oid = Oid("1.2.3");
        if (c.n < 0) {
            oid.MakeIndex(c.s);
        } else {
            oid.MakeIndex(c.s, static_cast<unsigned int>(c.n));
        }
        EXPECT_EQ(Of(oid), c.arcs);
    }
}

// Short identifiers live inside the object and long ones on the heap: every copy, move and growth
// across that boundary keeps the arcs and leaves the source as documented.
TEST(ObjectIdTest, CopyMoveAndGrowthKeepArcsAcrossTheInlineBoundary) {
    auto Seq = [](unsigned int n, unsigned int base) {
        Arcs a(n);
        for (unsigned int i = 0; i < n; ++i) a[i] = base + i;
        return a;
    };
    auto Make = [](const Arcs& a) {
        return ObjectId(a.data(), static_cast<unsigned int>(a.size()));
    };
    const unsigned int lengths[] = {0, 1, 15, 16, 17, 40};
    for (unsigned int from : lengths) {
        for (unsigned int to : lengths) {
            SCOPED_TRACE(std::to_string(from) + " onto " + std::to_string(to));
            const Arcs src = Seq(from, 100);
            ObjectId source = Make(src);
            ObjectId copy = Make(Seq(to, 7));
            copy = source;
            EXPECT_EQ(Of(copy), src);
            EXPECT_EQ(Of(ObjectId(source)), src);
            ObjectId moved = Make(Seq(to, 7));
            moved = std::move(source);
            EXPECT_EQ(Of(moved), src);
            EXPECT_TRUE(source.Empty());  // NOLINT(bugprone-use-after-move): left empty
            ObjectId built(std::move(moved));
            EXPECT_EQ(Of(built), src);
            EXPECT_EQ(moved.Length(), 0U);  // NOLINT(bugprone-use-after-move)
            // Appending an identifier to itself, then to another, then shrinking.
            built += built;
            Arcs twice = src;
            twice.insert(twice.end(), src.begin(), src.end());
            EXPECT_EQ(Of(built), twice);
            const Arcs tail = Seq(to, 7);
            built += Make(tail);
            twice.insert(twice.end(), tail.begin(), tail.end());
            EXPECT_EQ(Of(built), twice);
            built.Resize(static_cast<int>(from));
            EXPECT_EQ(Of(built), src);
            built.Resize(static_cast<int>(from + to));
            Arcs padded = src;
            padded.resize(from + to, 0U);
            EXPECT_EQ(Of(built), padded);
            if (from >= 2) {
                EXPECT_EQ(built.PopFront(), 100U);
                // Set from the identifier's own arcs.
                EXPECT_EQ(built.Set(built.Id() + 1, from - 2), from > 2);
                EXPECT_EQ(Of(built), Arcs(src.begin() + 2, src.end()));
            }
        }
    }
}

VarBind Bind(const char* name, int n, unsigned int type = 0x02) {
    AsnValue v(type);
    v.SetInteger(n);
    return VarBind(Oid(name), v);
}

Names NamesOf(const VarBindList& list) {
    Names names;
    for (const VarBind& vb : list) {
        vb.Objid().MakeStr(names.emplace_back());
    }
    return names;
}

TEST(VarBindTest, EqualityNeedsSameNameTypeAndValue) {
    struct Case {
        const char* what;
        VarBind a, b;
        bool equal;
    };
    const Case cases[] = {
        {"identical", Bind("1.3.6.1", 5), Bind("1.3.6.1", 5), true},
        {"other value", Bind("1.3.6.1", 5), Bind("1.3.6.1", 6), false},
        {"prefix name", Bind("1.3.6", 5), Bind("1.3.6.1", 5), false},
        {"other type", Bind("1.3.6.1", 5), Bind("1.3.6.1", 5, 0x41), false},
        {"string lengths", StringBind("1.3", "ab"), StringBind("1.3", "abc"), false},
        {"null values", NullBind("1.3"), NullBind("1.3"), true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.b == c.a, c.equal);
    }
}

TEST(VarBindListTest, OrderingIsAStrictWeakOrderByName) {
    VarBindList list;
    for (const char* name : {"1.3.6.1.2.1.2.2.1.10.2", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.2.2.1.10",
                             "1.3.6.1.2.1.2.2.1.2.1", "1.3.6.1.2.1.1.1.0"}) {
        list.push_back(Bind(name, 1));
    }
    for (const VarBind& a : list) {
        EXPECT_FALSE(a < a);
        for (const VarBind& b : list) {
            EXPECT_FALSE(a < b && b < a);
        }
    }
    list.sort();
    EXPECT_EQ(NamesOf(list),
              (Names{".1.3.6.1.2.1.1.1.0", ".1.3.6.1.2.1.1.3.0", ".1.3.6.1.2.1.2.2.1.2.1",
                     ".1.3.6.1.2.1.2.2.1.10", ".1.3.6.1.2.1.2.2.1.10.2"}));
}

}  // namespace
