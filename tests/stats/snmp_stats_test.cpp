// The statistics watch: which counters each received, decoded, sent or failed
// message moves, and the USM counter lookup.
#include "snmp/snmp_stats.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "snmp/exception.h"
#include "snmp/message.h"
#include "test_util.h"

namespace snmp {
namespace {

using Getter = unsigned int (SnmpStats::*)() const;

// Every counter, so that a test can check that only the expected ones moved.
#define ZK_COUNTER(name) \
    { #name, &SnmpStats::name }
const std::map<std::string, Getter>& AllCounters() {
    static const std::map<std::string, Getter> all = {
        ZK_COUNTER(InPkts),          ZK_COUNTER(OutPkts),
        ZK_COUNTER(InBadVers),       ZK_COUNTER(InBadCommStrs),
        ZK_COUNTER(InBadCommUses),   ZK_COUNTER(InAsnParseErrs),
        ZK_COUNTER(InTooBigs),       ZK_COUNTER(InNoSuchNames),
        ZK_COUNTER(InBadValues),     ZK_COUNTER(InReadOnlys),
        ZK_COUNTER(InGenErrs),       ZK_COUNTER(InTotalReqVars),
        ZK_COUNTER(InTotalSetVars),  ZK_COUNTER(InGets),
        ZK_COUNTER(InGetNexts),      ZK_COUNTER(InSets),
        ZK_COUNTER(InGetResponses),  ZK_COUNTER(InTraps),
        ZK_COUNTER(OutTooBigs),      ZK_COUNTER(OutNoSuchNames),
        ZK_COUNTER(OutBadValues),    ZK_COUNTER(OutReadOnlys),
        ZK_COUNTER(OutGenErrs),      ZK_COUNTER(OutGets),
        ZK_COUNTER(OutGetNexts),     ZK_COUNTER(OutSets),
        ZK_COUNTER(OutGetResponses), ZK_COUNTER(OutTraps),
        ZK_COUNTER(SilentDrops),     ZK_COUNTER(ProxyDrops),
        ZK_COUNTER(UnknownSecLevel), ZK_COUNTER(InvalidMessges),
        ZK_COUNTER(UnknownHandler),  ZK_COUNTER(UnsupportedSecLevel),
        ZK_COUNTER(NotInTimeWindow), ZK_COUNTER(UnknownUser),
        ZK_COUNTER(UnknownEngineId), ZK_COUNTER(WrongDigest),
        ZK_COUNTER(DecryptErrors),   ZK_COUNTER(ReceiveQueueDrops),
    };
    return all;
}
#undef ZK_COUNTER

std::map<std::string, unsigned int> Snapshot(const SnmpStats& s) {
    std::map<std::string, unsigned int> v;
    for (const auto& c : AllCounters()) v[c.first] = (s.*c.second)();
    return v;
}

// Runs `event` and checks that exactly the counters named in `deltas` grew:
// "InGets InTotalReqVars:2" means InGets by one and InTotalReqVars by two.
template <typename Event>
void ExpectDeltas(SnmpStats& s, const std::string& deltas, Event event) {
    std::map<std::string, unsigned int> want = Snapshot(s);
    std::istringstream in(deltas);
    for (std::string item; in >> item;) {
        const size_t colon = item.find(':');
        const std::string name = item.substr(0, colon);
        ASSERT_EQ(want.count(name), 1u) << name;
        want[name] += colon == std::string::npos ? 1 : std::stoul(item.substr(colon + 1));
    }
    event();
    EXPECT_EQ(Snapshot(s), want);
}

Message MakeMessage(SnmpVersion version, unsigned int type, int errStat, int bindings) {
    Message m;
    m.SetVersion(version);
    m.SetType(type);
    m.SetErrStat(errStat);
    for (int i = 0; i < bindings; ++i) m.AddVarBind(zktest::NullBind("1.3.6.1.2.1.1.1.0"));
    return m;
}

class SnmpStatsTest : public ::testing::Test {
protected:
    void SetUp() override { SnmpStats::Destroy(); }
    void TearDown() override { SnmpStats::Destroy(); }
};

TEST_F(SnmpStatsTest, FailuresCountByExceptionTypeAndVersion) {
    struct Case {
        SnmpVersion version;
        std::vector<int> types;
        const char* deltas;
    };
    const Case cases[] = {
        {SnmpVersionV2c, {0, 1, 4, 6, 7, 8, 23}, "InAsnParseErrs"},
        {SnmpVersionV1, {3, 23}, "InAsnParseErrs"},
        {SnmpVersionV3, {5}, "InAsnParseErrs"},
        {SnmpVersionV2c, {2}, "InBadVers"},
        {SnmpVersionV1, {9}, "InBadCommStrs"},
        {SnmpVersionV1, {10}, "InBadCommUses"},
        {SnmpVersionV3, {21}, "UnknownSecLevel"},
        {SnmpVersionV3, {22}, "InvalidMessges"},
        {SnmpVersionV3, {23}, "UnknownHandler"},
        {SnmpVersionV3, {200}, "UnknownEngineId"},
        {SnmpVersionV3, {201}, "UnknownUser"},
        {SnmpVersionV3, {202}, "UnsupportedSecLevel"},
        {SnmpVersionV3, {203}, "WrongDigest"},
        {SnmpVersionV3, {204}, "NotInTimeWindow"},
        {SnmpVersionV3, {205}, "DecryptErrors"},
        {SnmpVersionV2c, {11, 14}, ""},
        {SnmpVersionV3, {20, 24, 199, 206, -1}, ""},
    };
    SnmpStats* stats = SnmpStats::Instance();
    for (const auto& c : cases) {
        for (const int type : c.types) {
            SCOPED_TRACE("exception " + std::to_string(type) + " version " +
                         std::to_string(static_cast<int>(c.version)));
            const Message m = MakeMessage(c.version, 0xA0, 0, 0);
            ExpectDeltas(*stats, c.deltas, [&] { stats->OnExcept(m, Exception(type)); });
        }
    }
}

TEST_F(SnmpStatsTest, DecodedAndSentMessagesCountByPduTypeStatusAndBindings) {
    struct Case {
        unsigned int type;
        int errStat;
        const char* decoded;  // with three bindings
        const char* sent;
    };
    const Case cases[] = {
        {0xA0, 0, "InGets InTotalReqVars:3", "OutPkts OutGets"},
        {0xA1, 0, "InGetNexts InTotalReqVars:3", "OutPkts OutGetNexts"},
        {0xA2, 0, "InGetResponses", "OutPkts OutGetResponses"},
        {0xA2, 1, "InGetResponses InTooBigs", "OutPkts OutGetResponses OutTooBigs"},
        {0xA2, 2, "InGetResponses InNoSuchNames", "OutPkts OutGetResponses OutNoSuchNames"},
        {0xA2, 3, "InGetResponses InBadValues", "OutPkts OutGetResponses OutBadValues"},
        {0xA2, 4, "InGetResponses InReadOnlys", "OutPkts OutGetResponses OutReadOnlys"},
        {0xA2, 5, "InGetResponses InGenErrs", "OutPkts OutGetResponses OutGenErrs"},
        {0xA2, 6, "InGetResponses", "OutPkts OutGetResponses"},
        {0xA3, 0, "InSets InTotalSetVars:3", "OutPkts OutSets"},
        {0xA4, 0, "InTraps", "OutPkts OutTraps"},
        {0xA5, 0, "InTotalReqVars:3", "OutPkts"},
        {0xA6, 0, "", "OutPkts"},
        {0xA7, 0, "InTraps", "OutPkts OutTraps"},
        {0xA8, 0, "", "OutPkts"},
    };
    SnmpStats* stats = SnmpStats::Instance();
    for (const auto& c : cases) {
        SCOPED_TRACE("pdu " + std::to_string(c.type) + " status " + std::to_string(c.errStat));
        const Message m = MakeMessage(SnmpVersionV2c, c.type, c.errStat, 3);
        ExpectDeltas(*stats, c.decoded, [&] { stats->OnDecode(m); });
        ExpectDeltas(*stats, c.sent, [&] { stats->OnSend(m); });
    }
    // Receipt alone is InPkts' business, not the decoder's.
    ExpectDeltas(*stats, "InPkts", [&] { stats->OnReceive(Message()); });
}

TEST_F(SnmpStatsTest, UsmStatReadsTheCounterOfEachReportType) {
    SnmpStats* stats = SnmpStats::Instance();
    const Message v3 = MakeMessage(SnmpVersionV3, 0xA0, 0, 0);
    // Distinct counts per type, so that a swapped mapping shows.
    const int types[] = {23, 200, 201, 202, 203, 204, 205};
    for (unsigned int i = 0; i < 7; ++i) {
        for (unsigned int n = 0; n <= i; ++n) stats->OnExcept(v3, Exception(types[i]));
    }
    for (unsigned int i = 0; i < 7; ++i) {
        SCOPED_TRACE(types[i]);
        EXPECT_EQ(stats->USMStat(types[i]), i + 1);
    }
    for (int other : {21, 22, 0, 199, 206, -200}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(stats->USMStat(other), 0u);
    }
}

}  // namespace
}  // namespace snmp
