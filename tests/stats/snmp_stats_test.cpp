// The statistics watch: which counter each received, decoded, sent or failed
// message moves, the USM counter lookup, the OID texts and the singleton.
#include "snmp/snmp_stats.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <thread>
#include <vector>

#include "snmp/exception.h"
#include "snmp/message.h"

namespace snmp {
namespace {

using Getter = unsigned int (SnmpStats::*)() const;

struct NamedGetter {
    const char* name;
    Getter get;
};

// Every counter, so that a test can check that only the expected ones moved.
const std::vector<NamedGetter>& AllCounters() {
    static const std::vector<NamedGetter> all = {
        {"InPkts", &SnmpStats::InPkts},
        {"OutPkts", &SnmpStats::OutPkts},
        {"InBadVers", &SnmpStats::InBadVers},
        {"InBadCommStrs", &SnmpStats::InBadCommStrs},
        {"InBadCommUses", &SnmpStats::InBadCommUses},
        {"InAsnParseErrs", &SnmpStats::InAsnParseErrs},
        {"InTooBigs", &SnmpStats::InTooBigs},
        {"InNoSuchNames", &SnmpStats::InNoSuchNames},
        {"InBadValues", &SnmpStats::InBadValues},
        {"InReadOnlys", &SnmpStats::InReadOnlys},
        {"InGenErrs", &SnmpStats::InGenErrs},
        {"InTotalReqVars", &SnmpStats::InTotalReqVars},
        {"InTotalSetVars", &SnmpStats::InTotalSetVars},
        {"InGets", &SnmpStats::InGets},
        {"InGetNexts", &SnmpStats::InGetNexts},
        {"InSets", &SnmpStats::InSets},
        {"InGetResponses", &SnmpStats::InGetResponses},
        {"InTraps", &SnmpStats::InTraps},
        {"OutTooBigs", &SnmpStats::OutTooBigs},
        {"OutNoSuchNames", &SnmpStats::OutNoSuchNames},
        {"OutBadValues", &SnmpStats::OutBadValues},
        {"OutReadOnlys", &SnmpStats::OutReadOnlys},
        {"OutGenErrs", &SnmpStats::OutGenErrs},
        {"OutGets", &SnmpStats::OutGets},
        {"OutGetNexts", &SnmpStats::OutGetNexts},
        {"OutSets", &SnmpStats::OutSets},
        {"OutGetResponses", &SnmpStats::OutGetResponses},
        {"OutTraps", &SnmpStats::OutTraps},
        {"SilentDrops", &SnmpStats::SilentDrops},
        {"ProxyDrops", &SnmpStats::ProxyDrops},
        {"UnknownSecLevel", &SnmpStats::UnknownSecLevel},
        {"InvalidMessges", &SnmpStats::InvalidMessges},
        {"UnknownHandler", &SnmpStats::UnknownHandler},
        {"UnsupportedSecLevel", &SnmpStats::UnsupportedSecLevel},
        {"NotInTimeWindow", &SnmpStats::NotInTimeWindow},
        {"UnknownUser", &SnmpStats::UnknownUser},
        {"UnknownEngineId", &SnmpStats::UnknownEngineId},
        {"WrongDigest", &SnmpStats::WrongDigest},
        {"DecryptErrors", &SnmpStats::DecryptErrors},
    };
    return all;
}

std::vector<unsigned int> Snapshot(const SnmpStats& s) {
    std::vector<unsigned int> v;
    for (const auto& c : AllCounters()) v.push_back((s.*c.get)());
    return v;
}

struct Delta {
    const char* name;
    unsigned int by;
};

// Checks that exactly the named counters grew by the given amounts.
void ExpectDeltas(const std::vector<unsigned int>& before, const SnmpStats& s,
                  const std::vector<Delta>& expected) {
    const auto after = Snapshot(s);
    for (size_t i = 0; i < AllCounters().size(); ++i) {
        unsigned int want = 0;
        for (const auto& d : expected) {
            if (std::string(d.name) == AllCounters()[i].name) want = d.by;
        }
        EXPECT_EQ(after[i] - before[i], want) << AllCounters()[i].name;
    }
}

Message MakeMessage(SnmpVersion version, unsigned int type, int errStat, int bindings) {
    Message m;
    m.SetVersion(version);
    m.SetType(type);
    m.SetErrStat(errStat);
    for (int i = 0; i < bindings; ++i) {
        ObjectId oid;
        oid.Set("1.3.6.1.2.1.1.1.0");
        m.AddVarBind(VarBind(oid, AsnValue(0x05)));
    }
    return m;
}

class SnmpStatsTest : public ::testing::Test {
protected:
    void SetUp() override { SnmpStats::Destroy(); }
    void TearDown() override { SnmpStats::Destroy(); }
};

TEST_F(SnmpStatsTest, FailuresCountByExceptionTypeAndVersion) {
    struct Case {
        int type;
        SnmpVersion version;
        std::vector<Delta> deltas;
    };
    const std::vector<Case> cases = {
        {0, SnmpVersionV2c, {{"InAsnParseErrs", 1}}},
        {1, SnmpVersionV2c, {{"InAsnParseErrs", 1}}},
        {2, SnmpVersionV2c, {{"InBadVers", 1}}},
        {3, SnmpVersionV1, {{"InAsnParseErrs", 1}}},
        {4, SnmpVersionV2c, {{"InAsnParseErrs", 1}}},
        {5, SnmpVersionV3, {{"InAsnParseErrs", 1}}},
        {6, SnmpVersionV2c, {{"InAsnParseErrs", 1}}},
        {7, SnmpVersionV2c, {{"InAsnParseErrs", 1}}},
        {8, SnmpVersionV2c, {{"InAsnParseErrs", 1}}},
        {9, SnmpVersionV1, {{"InBadCommStrs", 1}}},
        {10, SnmpVersionV1, {{"InBadCommUses", 1}}},
        {11, SnmpVersionV2c, {}},
        {14, SnmpVersionV2c, {}},
        {20, SnmpVersionV3, {}},
        {21, SnmpVersionV3, {{"UnknownSecLevel", 1}}},
        {22, SnmpVersionV3, {{"InvalidMessges", 1}}},
        {23, SnmpVersionV2c, {{"InAsnParseErrs", 1}}},
        {23, SnmpVersionV1, {{"InAsnParseErrs", 1}}},
        {23, SnmpVersionV3, {{"UnknownHandler", 1}}},
        {24, SnmpVersionV3, {}},
        {199, SnmpVersionV3, {}},
        {200, SnmpVersionV3, {{"UnknownEngineId", 1}}},
        {201, SnmpVersionV3, {{"UnknownUser", 1}}},
        {202, SnmpVersionV3, {{"UnsupportedSecLevel", 1}}},
        {203, SnmpVersionV3, {{"WrongDigest", 1}}},
        {204, SnmpVersionV3, {{"NotInTimeWindow", 1}}},
        {205, SnmpVersionV3, {{"DecryptErrors", 1}}},
        {206, SnmpVersionV3, {}},
        {-1, SnmpVersionV3, {}},
    };
    SnmpStats* stats = SnmpStats::Instance();
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " version " +
                     std::to_string(static_cast<int>(c.version)));
        const auto before = Snapshot(*stats);
        stats->OnExcept(MakeMessage(c.version, 0xA0, 0, 0), Exception(c.type));
        ExpectDeltas(before, *stats, c.deltas);
    }
}

TEST_F(SnmpStatsTest, DecodedMessagesCountByPduTypeStatusAndBindings) {
    struct Case {
        unsigned int type;
        int errStat;
        int bindings;
        std::vector<Delta> deltas;
    };
    const std::vector<Case> cases = {
        {0xA0, 0, 2, {{"InGets", 1}, {"InTotalReqVars", 2}}},
        {0xA1, 0, 4, {{"InGetNexts", 1}, {"InTotalReqVars", 4}}},
        {0xA2, 0, 1, {{"InGetResponses", 1}}},
        {0xA2, 1, 1, {{"InGetResponses", 1}, {"InTooBigs", 1}}},
        {0xA2, 2, 1, {{"InGetResponses", 1}, {"InNoSuchNames", 1}}},
        {0xA2, 3, 1, {{"InGetResponses", 1}, {"InBadValues", 1}}},
        {0xA2, 4, 1, {{"InGetResponses", 1}, {"InReadOnlys", 1}}},
        {0xA2, 5, 1, {{"InGetResponses", 1}, {"InGenErrs", 1}}},
        {0xA2, 6, 1, {{"InGetResponses", 1}}},
        {0xA3, 0, 3, {{"InSets", 1}, {"InTotalSetVars", 3}}},
        {0xA4, 0, 1, {{"InTraps", 1}}},
        {0xA5, 0, 3, {{"InTotalReqVars", 3}}},
        {0xA6, 0, 2, {}},
        {0xA7, 0, 2, {{"InTraps", 1}}},
        {0xA8, 0, 1, {}},
        {5, 0, 1, {}},
    };
    SnmpStats* stats = SnmpStats::Instance();
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " status " + std::to_string(c.errStat));
        const auto before = Snapshot(*stats);
        stats->OnDecode(MakeMessage(SnmpVersionV2c, c.type, c.errStat, c.bindings));
        ExpectDeltas(before, *stats, c.deltas);
    }
    // Receipt alone is InPkts' business, not the decoder's.
    const auto before = Snapshot(*stats);
    stats->OnReceive(Message());
    ExpectDeltas(before, *stats, {{"InPkts", 1}});
}

TEST_F(SnmpStatsTest, SentMessagesCountByPduTypeAndStatus) {
    struct Case {
        unsigned int type;
        int errStat;
        std::vector<Delta> deltas;
    };
    const std::vector<Case> cases = {
        {0xA0, 0, {{"OutPkts", 1}, {"OutGets", 1}}},
        {0xA1, 0, {{"OutPkts", 1}, {"OutGetNexts", 1}}},
        {0xA2, 0, {{"OutPkts", 1}, {"OutGetResponses", 1}}},
        {0xA2, 1, {{"OutPkts", 1}, {"OutGetResponses", 1}, {"OutTooBigs", 1}}},
        {0xA2, 2, {{"OutPkts", 1}, {"OutGetResponses", 1}, {"OutNoSuchNames", 1}}},
        {0xA2, 3, {{"OutPkts", 1}, {"OutGetResponses", 1}, {"OutBadValues", 1}}},
        {0xA2, 4, {{"OutPkts", 1}, {"OutGetResponses", 1}, {"OutReadOnlys", 1}}},
        {0xA2, 5, {{"OutPkts", 1}, {"OutGetResponses", 1}, {"OutGenErrs", 1}}},
        {0xA3, 0, {{"OutPkts", 1}, {"OutSets", 1}}},
        {0xA4, 0, {{"OutPkts", 1}, {"OutTraps", 1}}},
        {0xA5, 0, {{"OutPkts", 1}}},
        {0xA6, 0, {{"OutPkts", 1}}},
        {0xA7, 0, {{"OutPkts", 1}, {"OutTraps", 1}}},
        {0xA8, 0, {{"OutPkts", 1}}},
    };
    SnmpStats* stats = SnmpStats::Instance();
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " status " + std::to_string(c.errStat));
        const auto before = Snapshot(*stats);
        stats->OnSend(MakeMessage(SnmpVersionV2c, c.type, c.errStat, 2));
        ExpectDeltas(before, *stats, c.deltas);
    }
}

TEST_F(SnmpStatsTest, UsmStatReadsTheCounterOfEachReportType) {
    SnmpStats* stats = SnmpStats::Instance();
    const Message v3 = MakeMessage(SnmpVersionV3, 0xA0, 0, 0);
    // Distinct counts per type, so that a swapped mapping shows.
    const std::array<int, 8> types = {23, 200, 201, 202, 203, 204, 205, 21};
    for (size_t i = 0; i < types.size(); ++i) {
        for (size_t n = 0; n <= i; ++n) stats->OnExcept(v3, Exception(types[i]));
    }
    EXPECT_EQ(stats->USMStat(23), stats->UnknownHandler());
    EXPECT_EQ(stats->USMStat(200), stats->UnknownEngineId());
    EXPECT_EQ(stats->USMStat(201), stats->UnknownUser());
    EXPECT_EQ(stats->USMStat(202), stats->UnsupportedSecLevel());
    EXPECT_EQ(stats->USMStat(203), stats->WrongDigest());
    EXPECT_EQ(stats->USMStat(204), stats->NotInTimeWindow());
    EXPECT_EQ(stats->USMStat(205), stats->DecryptErrors());
    EXPECT_EQ(stats->USMStat(23), 1u);
    EXPECT_EQ(stats->USMStat(205), 7u);
    EXPECT_EQ(stats->UnknownSecLevel(), 8u);
    for (int other : {21, 22, 0, 199, 206, -200}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(stats->USMStat(other), 0u);
    }
}

TEST_F(SnmpStatsTest, SingletonCopyAndDestroy) {
    EXPECT_EQ(SnmpStats::_instance, nullptr);
    SnmpStats* a = SnmpStats::Instance();
    EXPECT_EQ(SnmpStats::_instance, a);
    EXPECT_EQ(SnmpStats::Instance(), a);
    a->OnReceive(Message());
    a->OnSend(MakeMessage(SnmpVersionV1, 0xA7, 0, 0));
    a->OnExcept(Message(), Exception(203));

    const SnmpStats copy(*a);
    EXPECT_EQ(Snapshot(copy), Snapshot(*a));

    SnmpStats::Destroy();
    EXPECT_EQ(SnmpStats::_instance, nullptr);
    SnmpStats::Destroy();  // nothing to destroy: no effect
    const SnmpStats* fresh = SnmpStats::Instance();
    for (unsigned int v : Snapshot(*fresh)) EXPECT_EQ(v, 0u);
    // The copy lives on with its own counts.
    EXPECT_EQ(copy.InPkts(), 1u);
    EXPECT_EQ(copy.OutTraps(), 1u);
    EXPECT_EQ(copy.WrongDigest(), 1u);
}

TEST_F(SnmpStatsTest, CountersCanBeReadWhileTrafficIsCounted) {
    SnmpStats* stats = SnmpStats::Instance();
    constexpr unsigned int kEvents = 2000;
    std::thread traffic([stats] {
        const Message get = MakeMessage(SnmpVersionV2c, 0xA0, 0, 1);
        for (unsigned int i = 0; i < kEvents; ++i) {
            stats->OnReceive(get);
            stats->OnDecode(get);
        }
    });
    // A reader (the host, or a dispatcher building a Report) never sees a
    // count go backwards or run ahead.
    unsigned int last = 0;
    while (last < kEvents) {
        const unsigned int now = stats->InPkts();
        ASSERT_GE(now, last);
        ASSERT_LE(now, kEvents);
        last = now;
        (void)stats->USMStat(200);
    }
    traffic.join();
    EXPECT_EQ(stats->InGets(), kEvents);
    EXPECT_EQ(stats->InTotalReqVars(), kEvents);
}

TEST_F(SnmpStatsTest, ConcurrentFirstUseBuildsOneInstance) {
    std::vector<SnmpStats*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = SnmpStats::Instance(); });
    for (auto& t : threads) t.join();
    for (SnmpStats* s : seen) EXPECT_EQ(s, SnmpStats::_instance);
}

}  // namespace
}  // namespace snmp
