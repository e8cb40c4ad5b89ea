// MibNode: defaults, deep copies, and reading enumerations from their text form.
#include "snmp/mib_node.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace snmp {
namespace {

using EnumMap = std::map<int, std::string>;

TEST(MibNodeTest, EnumerationsKeepTheFirstLabelOfANumberAndStopAtTheFirstBadItem) {
    MibNode node;
    EXPECT_TRUE(node.SetEnum("up", 1));
    EXPECT_TRUE(node.SetEnum("up", 2));  // labels may repeat
    EXPECT_FALSE(node.SetEnum("down", 1));
    EXPECT_FALSE(node.SetEnums("one=1;two=2;three=3"));  // 2 is taken: stops there
    EXPECT_EQ(node.Enums(), (EnumMap{{1, "up"}, {2, "up"}}));

    struct Case {
        const char* text;
        bool result;
        EnumMap added;
    };
    const Case cases[] = {
        {"up=1;down=2", true, {{1, "up"}, {2, "down"}}},
        {"neg=-1;pos=+3", true, {{-1, "neg"}, {3, "pos"}}},
        {"min=-2147483648", true, {{-2147483647 - 1, "min"}}},
        {"=5", true, {{5, ""}}},
        {" up=1", true, {{1, " up"}}},  // labels are not trimmed
        {"up=1;down=1", false, {{1, "up"}}},
        {"up=1;down", false, {{1, "up"}}},
        {"up=1;bad=x;later=3", false, {{1, "up"}}},
        {"a=1=2", false, {}},
        {"up=", false, {}},
        {"up = 1", false, {}},
        {"up=1;", false, {{1, "up"}}},  // the empty last piece is an item
        {"up=1;;down=2", false, {{1, "up"}}},
        {";up=1", false, {}},
        {"", false, {}},
        {"big=2147483648", false, {}},
        {"junk=12x", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        MibNode fresh;
        EXPECT_EQ(fresh.SetEnums(c.text), c.result);
        EXPECT_EQ(fresh.Enums(), c.added);
    }
}

}  // namespace
}  // namespace snmp
