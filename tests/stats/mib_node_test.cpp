// MibNode: defaults, copying, and reading enumerations from their text form.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "snmp/mib_node.h"

namespace snmp {
namespace {

using EnumMap = std::map<int, std::string>;

TEST(MibNodeTest, NewNodeIsEmptyNullTyped) {
    MibNode node;
    EXPECT_EQ(node.Type(), 0x05u);
    EXPECT_TRUE(node.Id().Empty());
    EXPECT_TRUE(node.Label().empty());
    EXPECT_TRUE(node.Enums().empty());
    EXPECT_TRUE(node.TC().empty());
    EXPECT_TRUE(node.DisplayHint().empty());
    EXPECT_EQ(node.RangeLow(), 0u);
    EXPECT_EQ(node.RangeHigh(), 0u);
}

TEST(MibNodeTest, CopiesAreDeepAndIndependent) {
    MibNode node;
    node.SetType(0x02);
    ObjectId id;
    ASSERT_TRUE(id.Set("1.3.6.1.2.1.2.2.1.8"));
    node.SetId(id);
    node.SetLabel("ifOperStatus");
    node.SetTC("IfOperStatus");
    node.SetDisplayHint("d");
    node.SetRangeLow(1);
    node.SetRangeHigh(7);
    ASSERT_TRUE(node.SetEnums("up=1;down=2"));

    MibNode copy(node);
    MibNode assigned;
    assigned = node;
    for (const MibNode* n : {&copy, &assigned}) {
        EXPECT_EQ(n->Type(), 0x02u);
        EXPECT_EQ(n->Id(), id);
        EXPECT_EQ(n->Label(), "ifOperStatus");
        EXPECT_EQ(n->TC(), "IfOperStatus");
        EXPECT_EQ(n->DisplayHint(), "d");
        EXPECT_EQ(n->RangeLow(), 1u);
        EXPECT_EQ(n->RangeHigh(), 7u);
        EXPECT_EQ(n->Enums(), (EnumMap{{1, "up"}, {2, "down"}}));
    }

    // Changing the original leaves the copies alone.
    ASSERT_TRUE(node.SetEnum("testing", 3));
    node.SetLabel("changed");
    EXPECT_EQ(copy.Enums().size(), 2u);
    EXPECT_EQ(assigned.Label(), "ifOperStatus");
}

TEST(MibNodeTest, SetEnumKeepsTheFirstLabelOfANumber) {
    MibNode node;
    EXPECT_TRUE(node.SetEnum("up", 1));
    EXPECT_TRUE(node.SetEnum("up", 2));  // labels may repeat
    EXPECT_FALSE(node.SetEnum("down", 1));
    EXPECT_TRUE(node.SetEnum("negative", -5));
    EXPECT_EQ(node.Enums(), (EnumMap{{-5, "negative"}, {1, "up"}, {2, "up"}}));
}

TEST(MibNodeTest, SetEnumsReadsUntilTheFirstBadItem) {
    struct Case {
        const char* text;
        bool result;
        EnumMap added;
    };
    const Case cases[] = {
        {"up=1;down=2", true, {{1, "up"}, {2, "down"}}},
        {"up=1;up=2", true, {{1, "up"}, {2, "up"}}},
        {"single=42", true, {{42, "single"}}},
        {"neg=-1;pos=+3", true, {{-1, "neg"}, {3, "pos"}}},
        {"up=1;down=1", false, {{1, "up"}}},
        {"up=1;down", false, {{1, "up"}}},
        {"up=x", false, {}},
        {"up=1;bad=x;later=3", false, {{1, "up"}}},
        {"a=1=2", false, {}},
        {"=5", true, {{5, ""}}},
        {"up=", false, {}},
        {"up = 1", false, {}},
        {" up=1", true, {{1, " up"}}},
        {"up=1;", false, {{1, "up"}}},
        {"up=1;;down=2", false, {{1, "up"}}},
        {"", false, {}},
        {"big=2147483648", false, {}},
        {"min=-2147483648", true, {{-2147483647 - 1, "min"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        MibNode node;
        EXPECT_EQ(node.SetEnums(c.text), c.result);
        EXPECT_EQ(node.Enums(), c.added);
    }
}

TEST(MibNodeTest, SetEnumsDoesNotReplaceExistingNumbers) {
    MibNode node;
    ASSERT_TRUE(node.SetEnum("old", 2));
    EXPECT_FALSE(node.SetEnums("one=1;two=2;three=3"));
    EXPECT_EQ(node.Enums(), (EnumMap{{1, "one"}, {2, "old"}}));
}

}  // namespace
}  // namespace snmp
