// zksnmp's MIB names: OIDs typed by name, bindings printed with enumeration
// labels and DISPLAY-HINTs, over the modules shipped with the tool.
#include "mib_names.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "value_text.h"

namespace zksnmp {
namespace {

using zktest::Octets;
using zktest::Oid;

TEST(MibNamesTest, HintsShowValuesAsTheTextualConventionsSay) {
    struct Case {
        const char* hint;
        const char* bytes;  // hex for an octet-string hint, nullptr for an integer one
        long long value;
        bool ok;
        const char* text;
    };
    const Case cases[] = {
        {"1x:", "02fc00000001", 0, true, "2:fc:0:0:0:1"},
        {"255a", "65746830", 0, true, "eth0"},
        {"1d.1d.1d.1d", "c0000201", 0, true, "192.0.2.1"},
        {"2d-1d-1d,1d:1d:1d.1d,1a1d:1d", "07ea0c07080503002b0100", 0, true,
         "2026-12-7,8:5:3.0,+1:0"},
        // A repeat count, the terminator after the group, the last spec again.
        {"*1d./", "020a14011e", 0, true, "10.20/30"},
        {"1x:", "", 0, true, ""},
        {"x", "01", 0, false, ""},
        {"1q", "01", 0, false, ""},
        {"d-2", nullptr, 1234, true, "12.34"},
        {"d-2", nullptr, -5, true, "-0.05"},
        {"d-3", nullptr, 7, true, "0.007"},
        {"x", nullptr, 255, true, "ff"},
        {"o", nullptr, 8, true, "10"},
        {"b", nullptr, 5, true, "101"},
        {"d-x", nullptr, 1, false, ""},
        {"q", nullptr, 1, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hint) + " " + (c.bytes ? c.bytes : std::to_string(c.value)));
        std::string out;
        EXPECT_EQ(c.bytes ? ApplyOctetHint(c.hint, Octets(c.bytes), out)
                          : ApplyIntegerHint(c.hint, c.value, out),
                  c.ok);
        EXPECT_EQ(out, c.text);
    }
}

#ifdef ZK_HAVE_LIBSMI
class ShippedModulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigureMibs(ZK_TEST_MIB_DIR, "SNMPv2-MIB:IF-MIB");
        ASSERT_TRUE(MibNamesOn());
    }
};

TEST_F(ShippedModulesTest, ReadsNamesNumbersAndPathsAndNamesWhatItCannotFind) {
    struct Case {
        const char* text;
        const char* oid;  // empty: an error naming `missing`
        const char* missing;
    };
    const Case cases[] = {
        {"SNMPv2-MIB::sysDescr.0", ".1.3.6.1.2.1.1.1.0", ""},
        {"ifDescr.2", ".1.3.6.1.2.1.2.2.1.2.2", ""},
        {"IF-MIB::ifTable", ".1.3.6.1.2.1.2.2", ""},
        {"system.sysName.0", ".1.3.6.1.2.1.1.5.0", ""},
        {".iso.org.dod.internet.mgmt.mib-2.system.sysName.0", ".1.3.6.1.2.1.1.5.0", ""},
        {".1.3.6.1.2.1.1.3.0", ".1.3.6.1.2.1.1.3.0", ""},
        {"1.3.6", ".1.3.6", ""},
        {"sysDescrr.0", "", "sysDescrr"},
        {"IF-MIB::sysDescr.0", "", "sysDescr"},
        {"NO-SUCH-MIB::sysDescr.0", "", "NO-SUCH-MIB"},
        {"system.nope.0", "", "nope"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        snmp::ObjectId oid;
        std::string error;
        const bool ok = ResolveOid(c.text, oid, error);
        EXPECT_EQ(ok, *c.oid != '\0') << error;
        if (ok) {
            EXPECT_EQ(OidText(oid), c.oid);
        } else {
            EXPECT_NE(error.find(c.missing), std::string::npos) << error;
        }
    }
}

TEST_F(ShippedModulesTest, PrintsBindingsAsTheUsualToolsDo) {
    struct Case {
        const char* oid;
        snmp::AsnValue value;
        OidStyle style;
        const char* line;
    };
    snmp::AsnValue up(0x02), odd(0x02), mac(0x04), descr(0x04), plain(0x04), empty(0x04), id(0x06);
    up.SetInteger(1);
    odd.SetInteger(9);
    mac.SetString(Octets("02fc00000001"));
    descr.SetString(snmp::OctetString("lo"));
    plain.SetString(snmp::OctetString("x"));
    id.SetObjid(Oid("1.3.6.1.4.1.8072.3.2.10"));
    const Case cases[] = {
        {"1.3.6.1.2.1.2.2.1.7.1", up, OidStyle::Module, "IF-MIB::ifAdminStatus.1 = INTEGER: up(1)"},
        {"1.3.6.1.2.1.2.2.1.7.1", odd, OidStyle::Module, "IF-MIB::ifAdminStatus.1 = INTEGER: 9"},
        {"1.3.6.1.2.1.2.2.1.6.4", mac, OidStyle::Module,
         "IF-MIB::ifPhysAddress.4 = STRING: 2:fc:0:0:0:1"},
        {"1.3.6.1.2.1.2.2.1.6.1", empty, OidStyle::Module, "IF-MIB::ifPhysAddress.1 = STRING: "},
        {"1.3.6.1.2.1.2.2.1.2.1", descr, OidStyle::Module, "IF-MIB::ifDescr.1 = STRING: lo"},
        // The agent's type wins over the MIB's: no hint applies to an INTEGER ifDescr.
        {"1.3.6.1.2.1.2.2.1.2.1", odd, OidStyle::Module, "IF-MIB::ifDescr.1 = INTEGER: 9"},
        {"1.3.6.1.2.1.25.4.2.1.2.1", plain, OidStyle::Module,
         "SNMPv2-SMI::mib-2.25.4.2.1.2.1 = STRING: \"x\""},
        {"1.3.6.1.2.1.25.4.2.1.4.2", empty, OidStyle::Module,
         "SNMPv2-SMI::mib-2.25.4.2.1.4.2 = \"\""},
        {"1.3.6.1.2.1.1.2.0", id, OidStyle::Module,
         "SNMPv2-MIB::sysObjectID.0 = OID: SNMPv2-SMI::enterprises.8072.3.2.10"},
        {"1.3.6.1.2.1.1.2.0", id, OidStyle::Short, "sysObjectID.0 = OID: enterprises.8072.3.2.10"},
        {"1.3.6.1.2.1.2.2.1.7.1", up, OidStyle::Full,
         ".iso.org.dod.internet.mgmt.mib-2.interfaces.ifTable.ifEntry.ifAdminStatus.1 = INTEGER: "
         "up(1)"},
        {"1.3.6.1.2.1.2.2.1.7.1", up, OidStyle::Numeric, ".1.3.6.1.2.1.2.2.1.7.1 = INTEGER: 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(NamedBinding(snmp::VarBind(Oid(c.oid), c.value), c.style), c.line);
    }
    EXPECT_EQ(TableName(Oid("1.3.6.1.2.1.2.2.1")), "IF-MIB::ifTable");
    EXPECT_EQ(CellText(Oid("1.3.6.1.2.1.2.2.1.7.1"), up), "up");
}

TEST_F(ShippedModulesTest, DumpLinesTakeNamedOidsAndValues) {
    snmp::VarBind vb;
    bool skip = true;
    std::string error;
    ASSERT_TRUE(
        ParseDumpLine("IF-MIB::ifSpecific.1 = OID: SNMPv2-SMI::zeroDotZero", vb, skip, error))
        << error;
    EXPECT_FALSE(skip);
    EXPECT_EQ(OidText(vb.Objid()), ".1.3.6.1.2.1.2.2.1.22.1");
    EXPECT_EQ(OidText(vb.Value().Objid()), ".0.0");
    EXPECT_FALSE(ParseDumpLine("IF-MIB::ifNope.1 i 1", vb, skip, error));
    EXPECT_NE(error.find("ifNope"), std::string::npos) << error;
}
#endif

}  // namespace
}  // namespace zksnmp
