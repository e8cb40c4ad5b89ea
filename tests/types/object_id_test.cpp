// Tests of ObjectId (dotted text, ordering, string indexes) and snmp::Exception.
#include "snmp/object_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "snmp/exception.h"

namespace {

using snmp::ObjectId;

std::vector<unsigned int> Arcs(const ObjectId& oid) {
    std::vector<unsigned int> v;
    for (unsigned int i = 0; i < oid.Length(); ++i) v.push_back(oid[static_cast<int>(i)]);
    return v;
}

ObjectId Oid(const char* text) {
    ObjectId oid;
    EXPECT_TRUE(oid.Set(text)) << text;
    return oid;
}

TEST(ObjectIdTest, ParsesDottedText) {
    struct Case {
        const char* text;
        std::vector<unsigned int> arcs;
    };
    const Case cases[] = {
        {"1.3.6.1.2.1.1.3.0", {1, 3, 6, 1, 2, 1, 1, 3, 0}},
        {".1.3.6.1.2.1.1.3.0", {1, 3, 6, 1, 2, 1, 1, 3, 0}},
        {".1.3.6.1.", {1, 3, 6, 1}},
        {"0", {0}},
        {"01.002", {1, 2}},
        {"4294967295", {4294967295U}},
        {"1.00000000004294967295", {1, 4294967295U}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ObjectId oid;
        EXPECT_TRUE(oid.Set(c.text));
        EXPECT_EQ(Arcs(oid), c.arcs);
        ObjectId viaString;
        EXPECT_TRUE(viaString.Set(std::string(c.text)));
        EXPECT_EQ(Arcs(viaString), c.arcs);
    }
}

TEST(ObjectIdTest, RejectsMalformedTextAndKeepsPreviousValue) {
    const char* const bad[] = {
        "",
        "..",
        ".",
        "1..3",
        "1.3..",
        "a",
        "1.a.3",
        "1. 3",
        " 1.3",
        "1.3 ",
        "-1.3",
        "+1",
        "1.3.6.x",
        "1,3",
        "4294967296",
        "4294967297",
        "1.99999999999999999999",
        "..1",
        "1.3.6.1\n",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(std::string("'") + text + "'");
        ObjectId oid = Oid("1.3.6");
        EXPECT_FALSE(oid.Set(text));
        EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 3, 6}));
    }
    ObjectId oid = Oid("9.9");
    EXPECT_FALSE(oid.Set(static_cast<const char*>(nullptr)));
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{9, 9}));
}

TEST(ObjectIdTest, SetFromArrayAndEditing) {
    const unsigned int ids[] = {1, 3, 6, 1};
    ObjectId oid(ids, 4);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 3, 6, 1}));
    EXPECT_EQ(oid.Id()[3], 1U);

    EXPECT_FALSE(oid.Set(nullptr, 4));
    EXPECT_EQ(oid.Length(), 4U) << "a null array must change nothing";
    EXPECT_FALSE(oid.Set(ids, 0));
    EXPECT_TRUE(oid.Empty());
    EXPECT_EQ(oid.Id(), nullptr);

    oid.Set(ids, 2);
    oid += 6U;
    oid += Oid("1.4");
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 3, 6, 1, 4}));
    oid += oid;
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 3, 6, 1, 4, 1, 3, 6, 1, 4}));
    oid.Resize(2);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 3}));
    oid.Resize(4);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 3, 0, 0}));
    oid.Resize(-1);
    EXPECT_TRUE(oid.Empty());

    ObjectId front = Oid("1.3.6");
    EXPECT_EQ(front.PopFront(), 1U);
    EXPECT_EQ(Arcs(front), (std::vector<unsigned int>{3, 6}));
    EXPECT_EQ(front.PopFront(), 3U);
    EXPECT_EQ(front.PopFront(), 6U);
    EXPECT_EQ(front.PopFront(), 0U) << "popping an empty identifier";
    EXPECT_TRUE(front.Empty());

    ObjectId source = Oid("1.2.3");
    ObjectId copy(source);
    copy[0] = 7;
    ObjectId assigned;
    assigned = source;
    assigned += 4U;
    EXPECT_EQ(Arcs(source), (std::vector<unsigned int>{1, 2, 3}));
}

TEST(ObjectIdTest, CompareUsesSnmpOrdering) {
    struct Case {
        const char* a;
        const char* b;
        int full;
        unsigned int n;
        int prefix;
    };
    const Case cases[] = {
        {"1.3.6", "1.3.6.1.2", -2, 3, 0},  {"1.3.6.1.2", "1.3.6", 2, 5, 0},
        {"1.3.7", "1.3.6.1", 1, 4, 1},     {"1.3.6.1.2", "1.3.6.1", 1, 4, 0},
        {"1.3.6.1", "1.3.6.1", 0, 4, 0},   {"1.3.6.1", "1.3.6.2", -1, 3, 0},
        {"1.3.6.1", "1.3.6.2", -1, 4, -1}, {"1.4294967295", "1.2", 1, 2, 1},
        {"2", "1.9.9.9", 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const ObjectId a = Oid(c.a);
        const ObjectId b = Oid(c.b);
        EXPECT_EQ(a.Compare(b), c.full);
        EXPECT_EQ(a < b, c.full < 0);
        EXPECT_EQ(a == b, c.full == 0);
        EXPECT_EQ(a.Compare(b, c.n), c.prefix);
    }
    EXPECT_EQ(ObjectId().Compare(ObjectId()), 0);
    EXPECT_EQ(ObjectId().Compare(Oid("1.3")), -2);
}

TEST(ObjectIdTest, SubtreeTestWithPrefixCompare) {
    const ObjectId root = Oid("1.3.6.1.2.1.2");
    struct Case {
        const char* oid;
        bool inside;
    };
    const Case cases[] = {
        {"1.3.6.1.2.1.2.2.1.1.1", true},
        {"1.3.6.1.2.1.2", true},
        {"1.3.6.1.2.1.3.1", false},
        {"1.3.6.1.2.1.1.9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oid);
        EXPECT_EQ(Oid(c.oid).Compare(root, root.Length()) == 0, c.inside);
    }
}

TEST(ObjectIdTest, TextForms) {
    struct Case {
        std::vector<unsigned int> arcs;
        std::string dotted;
        std::string streamed;
    };
    const Case cases[] = {
        {{1, 3, 6, 1}, ".1.3.6.1", "1.3.6.1"},
        {{0}, ".0", "0"},
        {{4294967295U, 0}, ".4294967295.0", "4294967295.0"},
        {{}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.streamed);
        const ObjectId oid(c.arcs.data(), static_cast<unsigned int>(c.arcs.size()));
        std::string out = "prefix";
        oid.MakeStr(out);
        EXPECT_EQ(out, "prefix" + c.dotted);
        std::ostringstream os;
        os << oid;
        EXPECT_EQ(os.str(), c.streamed);
        if (!c.arcs.empty()) {
            ObjectId back;
            EXPECT_TRUE(back.Set(c.dotted));
            EXPECT_EQ(back, oid) << "dotted text must parse back";
        }
    }
}

TEST(ObjectIdTest, MakeIndexFromStrings) {
    ObjectId oid = Oid("1.2.3");
    oid.MakeIndex("ab");
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{97, 98}));
    oid.MakeIndex("ab", 2);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{2, 97, 98}));
    oid.MakeIndex("\xE9", 1);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 233}));
    oid.MakeIndex(std::string("\xE9\x00", 2));
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{233, 0}));
    oid.MakeIndex("abc", 1);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1, 97, 0, 0}));
    oid.MakeIndex("");
    EXPECT_TRUE(oid.Empty());
    oid.MakeIndex("", 0);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{0}));
}

TEST(ObjectIdTest, MakeIndexWithLengthBeyondStringStaysInBounds) {
    ObjectId oid;
    oid.MakeIndex("ab", 1000);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{1000, 97, 98}));
    oid.MakeIndex("", 5);
    EXPECT_EQ(Arcs(oid), (std::vector<unsigned int>{5}));
}

TEST(ExceptionTest, KeepsTypeAndBoundedDescription) {
    const snmp::Exception plain(14);
    EXPECT_EQ(plain.Type(), 14);
    EXPECT_STREQ(plain.Descr(), "");

    const snmp::Exception negative(-3, "msgID negative");
    EXPECT_EQ(negative.Type(), -3);
    EXPECT_STREQ(negative.Descr(), "msgID negative");

    const std::string longText(2000, 'x');
    const snmp::Exception cut(0, longText.c_str());
    EXPECT_EQ(std::strlen(cut.Descr()), 1023U);
    EXPECT_EQ(std::string(cut.Descr()), longText.substr(0, 1023));

    const std::string exact(1023, 'y');
    EXPECT_EQ(std::string(snmp::Exception(1, exact.c_str()).Descr()), exact);

    EXPECT_STREQ(snmp::Exception(5, nullptr).Descr(), "");

    snmp::Exception copy = negative;
    EXPECT_EQ(copy.Type(), -3);
    copy = cut;
    EXPECT_EQ(copy.Type(), 0);
    EXPECT_EQ(std::strlen(copy.Descr()), 1023U);
}

}  // namespace
