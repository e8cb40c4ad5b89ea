// Tests of VarBind and VarBindList: copies, equality and list ordering.
#include "snmp/var_bind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using snmp::AsnValue;
using snmp::ObjectId;
using snmp::OctetString;
using snmp::VarBind;
using snmp::VarBindList;
using Names = std::vector<std::string>;

ObjectId Oid(const char* text) {
    ObjectId oid;
    EXPECT_TRUE(oid.Set(text));
    return oid;
}

VarBind Bind(const char* name, int n, unsigned int type = 0x02) {
    AsnValue v(type);
    v.SetInteger(n);
    return VarBind(Oid(name), v);
}

VarBind Text(const char* name, const std::string& s) {
    AsnValue v(0x04);
    v.SetString(OctetString(s));
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
        {"string lengths", Text("1.3", "ab"), Text("1.3", "abc"), false},
        {"null values", VarBind(Oid("1.3"), AsnValue()), VarBind(Oid("1.3"), AsnValue()), true}};
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

    // std::sort misbehaves on anything weaker than a strict weak order.
    std::vector<VarBind> many;
    for (int i = 40; i > 0; --i) {
        many.push_back(Bind("1.3.6.1", 0));
        many.back().Objid() += static_cast<unsigned int>(i % 7);
        many.back().Objid() += static_cast<unsigned int>(i);
    }
    std::sort(many.begin(), many.end());
    EXPECT_TRUE(std::is_sorted(many.begin(), many.end()));
}

}  // namespace
