// Tests of zksnmp's command-line parsing: manager options, agent addresses,
// server options and the protocol name table.
#include "options.h"

#include <gtest/gtest.h>

#include <tuple>

#include "protocols.h"
#include "server.h"
#include "test_util.h"

namespace zksnmp {
namespace {

using zktest::Oid;

TEST(OptionsTest, ManagerOptionsInBothSpellingsWithTheirDefaultsAndOneLineReasonsForBadOnes) {
    ClientOptions o;
    std::vector<std::string> operands;
    std::string error;
    const auto parse = [&](const std::vector<std::string>& args, unsigned short port = 161) {
        return ParseClientArgs(args, port, o, operands, error);
    };
    ASSERT_TRUE(parse({"-v1", "-cpriv", "-t", "0.5", "-r0", "127.0.0.1:1161", "1.3.6.1", "--json"}))
        << error;
    EXPECT_TRUE(o.version == snmp::SnmpVersionV1 && o.community == "priv" && o.json);
    EXPECT_TRUE(o.timeout == 0.5 && o.retries == 0 && o.addr == 0x7F000001U && o.port == 1161);
    EXPECT_EQ(operands, std::vector<std::string>{"1.3.6.1"});

    // Operands that look like options after the agent stay operands.
    ASSERT_TRUE(parse({"-Cn", "2", "-Cr30", "localhost", "1.3.6.1.2.1.1.4.0", "i", "-5"}, 162))
        << error;
    EXPECT_TRUE(o.nonRepeaters == 2 && o.maxRepetitions == 30 && o.port == 162);
    EXPECT_EQ(operands.back(), "-5");

    // Passwords alone choose MD5 and DES and the level follows them.
    ASSERT_TRUE(parse({"-v", "3", "-u", "bob", "-A", "password1", "-X", "password2", "10.1.2.3"}))
        << error;
    EXPECT_TRUE(o.user.auth == snmp::USMAuthMD5 && o.user.priv == snmp::USMPrivDES &&
                o.level == snmp::SecLevelAuthPriv);
    // An explicit lower level drops the protocols it does not use.
    ASSERT_TRUE(parse({"-v", "3", "-u", "bob", "-l", "authNoPriv", "-a", "sha", "-A", "password1",
                       "-X", "password2", "10.1.2.3"}))
        << error;
    EXPECT_TRUE(o.user.auth == snmp::USMAuthSHA1 && o.user.priv == snmp::USMPrivNone);

    const std::vector<std::vector<std::string>> bad = {
        {"-v", "2", "127.0.0.1"},
        {"-q", "127.0.0.1"},
        {"-c"},
        {"-v", "3", "127.0.0.1"},
        {"-v", "3", "-u", "bob", "-l", "authNoPriv", "127.0.0.1"},
        {"-v", "3", "-u", "bob", "-l", "authPriv", "-a", "MD5", "-A", "password1", "127.0.0.1"},
        {"-v", "3", "-u", "bob", "-a", "MD5", "-A", "short", "127.0.0.1"},
        {"-v", "3", "-u", "bob", "-a", "SHA-999", "127.0.0.1"},
        {"-e", "0x1234", "127.0.0.1"},
        {"-t", "0", "127.0.0.1"},
        {"-r", "-1", "127.0.0.1"},
        {"127.0.0.1:0"},
        {"-v", "2c"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(::testing::PrintToString(args));
        error.clear();
        EXPECT_FALSE(parse(args));
        EXPECT_TRUE(!error.empty() && error.find('\n') == std::string::npos) << error;
    }
}

TEST(OptionsTest, AgentAddressesOfBothFamiliesInTheUsualSpellings) {
    // text, address ("" when refused), port; the default port is 161.
    const std::vector<std::tuple<const char*, const char*, unsigned short>> cases = {
        {"127.0.0.1", "127.0.0.1", 161},
        {"127.0.0.1:1161", "127.0.0.1", 1161},
        {"udp:127.0.0.1:162", "127.0.0.1", 162},
        {"UDP:10.0.0.1", "10.0.0.1", 161},
        {"[::1]:1161", "::1", 1161},
        {"[::1]", "::1", 161},
        {"udp6:[::1]:1161", "::1", 1161},
        {"udpv6:[2001:db8::1]:9", "2001:db8::1", 9},
        {"udp6:::1", "::1", 161},
        {"::1", "::1", 161},
        {"fe80::1:161", "fe80::1:161", 161},  // bare IPv6 has no port
        {"udp:[::1]:161", "", 0},             // udp: is IPv4
        {"udp6:127.0.0.1:161", "", 0},
        {"[127.0.0.1]:161", "", 0},
        {"[::1]:65536", "", 0},
        {"[::1]:", "", 0},
        {"[::1", "", 0},
        {"[::1]161", "", 0},
        {"[]:161", "", 0},
        {"[fe80::1%lo]:161", "", 0},
        {"udp6:", "", 0},
        {"127.0.0.1:0", "", 0}};
    for (const auto& [text, want, wantPort] : cases) {
        SCOPED_TRACE(text);
        brask::IpAddr addr;
        unsigned short port = 0;
        std::string error;
        const bool ok = ParseAgentAddress(text, 161, addr, port, error);
        EXPECT_EQ(ok, *want != '\0') << error;
        if (ok) {
            EXPECT_EQ(addr, brask::IpAddr(want));
            EXPECT_EQ(port, wantPort);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_EQ(LocalEndpointFor(brask::IpAddr("::1")).Addr(), brask::IpAddr("::"));
    EXPECT_EQ(LocalEndpointFor(brask::IpAddr("10.0.0.1")).Addr(), brask::IpAddr("0.0.0.0"));
}

TEST(OptionsTest, TrapAgentAddrIsIPv4AndDefaultsByTheReceiversFamily) {
    unsigned int agentAddr = 1;
    std::string error;
    for (const auto& [text, receiver, want] : {std::tuple{"", "127.0.0.1", 0x7F000001U},
                                               {"", "::1", 0U},
                                               {"10.0.0.5", "::1", 0x0A000005U}}) {
        SCOPED_TRACE(receiver);
        EXPECT_TRUE(ParseTrapAgentAddr(text, brask::IpAddr(receiver), agentAddr, error));
        EXPECT_EQ(agentAddr, want);
    }
    EXPECT_FALSE(ParseTrapAgentAddr("::1", brask::IpAddr("::1"), agentAddr, error));
    EXPECT_EQ(error, "bad agent address '::1'");
}

TEST(OptionsTest, ServerOptionsAndUserSpecs) {
    ServerOptions o;
    std::string error;
    ASSERT_TRUE(
        ParseServerArgs({"--listen", "udp6:[::1]:0", "--user", "bob:SHA:secret111:DES:secret222",
                         "--user", "eve", "--engine-id", "80001f8880aabbccdd", "--rows", "3"},
                        true, o, error))
        << error;
    // --listen may ask for a system-chosen port.
    EXPECT_TRUE(o.addr == brask::IpAddr("::1") && o.port == 0);
    ASSERT_EQ(o.users.size(), 2U);
    EXPECT_TRUE(o.users[0].auth == snmp::USMAuthSHA1 && o.users[0].priv == snmp::USMPrivDES &&
                o.users[0].privPass == "secret222");
    EXPECT_EQ(LevelOf(o.users[1]), snmp::SecLevelNoAuthNoPriv);
    EXPECT_EQ(o.engineId.Size(), 9U);
    // The agent serves public/private unless told otherwise.
    EXPECT_EQ(o.roCommunities, std::vector<std::string>{"public"});
    EXPECT_EQ(o.rwCommunities, std::vector<std::string>{"private"});

    for (const char* spec :
         {"bob:SHA", "bob:SHA:short", "bob:XYZ:secret111", "bob:SHA:secret111:AES-512:secret222",
          ":SHA:secret111", "bob:MD5:secret111:DES"}) {
        SCOPED_TRACE(spec);
        UserSpec u;
        EXPECT_FALSE(ParseUserSpec(spec, u, error));
    }
    EXPECT_TRUE(o.rwUsers.empty() && o.minLevels.empty() && o.userViews.empty() &&
                o.communityViews.empty());

    // --view and --level belong to the community or user just before them.
    ASSERT_TRUE(ParseServerArgs({"--community", "pub", "--view", "1.3.6.1.2.1.1", "--rw-user",
                                 "rw:SHA:secret111:AES:secret222", "--level", "authNoPriv",
                                 "--view", "1.3.6.1.4", "--view", "1.3.6.1.6", "--user", "ro"},
                                true, o, error))
        << error;
    EXPECT_EQ(o.rwUsers, std::set<std::string>{"rw"});
    ASSERT_EQ(o.users.size(), 2U);
    EXPECT_EQ(o.minLevels,
              (std::map<std::string, snmp::v3SecurityLevel>{{"rw", snmp::SecLevelAuthNoPriv}}));
    ASSERT_EQ(o.communityViews.count("pub"), 1U);
    EXPECT_TRUE(o.communityViews["pub"].Contains(Oid("1.3.6.1.2.1.1.5.0")));
    EXPECT_FALSE(o.communityViews["pub"].Contains(Oid("1.3.6.1.4.1")));
    ASSERT_EQ(o.userViews.count("rw"), 1U);
    EXPECT_TRUE(o.userViews["rw"].Contains(Oid("1.3.6.1.4.1")) &&
                o.userViews["rw"].Contains(Oid("1.3.6.1.6.3")));
    EXPECT_FALSE(o.userViews["rw"].Contains(Oid("1.3.6.1.2.1.1.5.0")));
    EXPECT_EQ(o.userViews.count("ro"), 0U);

    const std::vector<std::vector<std::string>> refused = {
        {"--view", "1.3.6"},                                   // no principal yet
        {"--community", "c", "--level", "authNoPriv"},         // a level for a community
        {"--user", "u:SHA:secret111", "--level", "authPriv"},  // no privacy password
        {"--user", "u", "--level", "authNoPriv"},              // no authentication password
        {"--user", "u", "--level", "secret"},
        {"--user", "u", "--view", "1.x"},
        {"--rows", "100001"},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args.front() + " " + args.back());
        EXPECT_FALSE(ParseServerArgs(args, true, o, error) || error.empty());
    }
    EXPECT_FALSE(ParseServerArgs({"--user", "u", "--view", "1.3"}, false, o, error));
    EXPECT_FALSE(ParseServerArgs({"--mib", "x"}, false, o, error));
}

TEST(ProtocolsTest, NamesRoundTripThroughTheTable) {
    // Every protocol of the library has a name that reads back as itself.
    const auto roundTrip = [](auto first, auto last, auto name, auto parse) {
        for (int p = first; p <= last; ++p) {
            const auto protocol = static_cast<decltype(first)>(p);
            SCOPED_TRACE(name(protocol));
            decltype(first) back{};
            ASSERT_TRUE(parse(name(protocol), back));
            EXPECT_EQ(back, protocol);
        }
    };
    roundTrip(snmp::USMAuthMD5, snmp::USMAuthSHA512, AuthProtocolName, ParseAuthProtocol);
    roundTrip(snmp::USMPrivDES, snmp::USMPrivAES256C, PrivProtocolName, ParsePrivProtocol);
    // net-snmp's spellings, in any case.
    snmp::USMPrivProtocol priv = snmp::USMPrivNone;
    EXPECT_TRUE(ParsePrivProtocol("aes", priv) && priv == snmp::USMPrivAES128);
    EXPECT_TRUE(ParsePrivProtocol("AES-192-C", priv) && priv == snmp::USMPrivAES192C);
    snmp::USMAuthProtocol auth = snmp::USMAuthSHA384;
    EXPECT_FALSE(ParseAuthProtocol("none", auth) || ParseAuthProtocol("SHA-1024", auth));
    EXPECT_EQ(auth, snmp::USMAuthSHA384);
    EXPECT_EQ(AuthProtocolChoices(), "MD5|SHA|SHA1|SHA-224|SHA-256|SHA-384|SHA-512");
    EXPECT_EQ(PrivProtocolChoices(), "DES|AES|AES-128|AES-192|AES-256|AES-192-C|AES-256-C");
}

}  // namespace
}  // namespace zksnmp
