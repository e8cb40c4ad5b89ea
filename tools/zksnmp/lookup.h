// The SNMPv3 target stores of zksnmp: one peer for the manager commands, and
// the local users of the agent and the notification receiver.
#ifndef ZKSNMP_LOOKUP_H
#define ZKSNMP_LOOKUP_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "snmp/octet_string.h"
#include "snmp/target.h"
#include "snmp/target_lookup.h"
#include "snmp/usm_attributes.h"

namespace zksnmp {

// One SNMPv3 user as the options give it.
struct UserSpec {
    std::string name;
    snmp::USMAuthProtocol auth = snmp::USMAuthNone;
    std::string authPass;
    snmp::USMPrivProtocol priv = snmp::USMPrivNone;
    std::string privPass;
};

// Reads NAME[:AUTH:AUTHPASS[:PRIV:PRIVPASS]] (protocol names from the
// protocol table). False with a one-line reason in `error`.
bool ParseUserSpec(const std::string& text, UserSpec& out, std::string& error);
// New attributes for the user (passwords set).
snmp::USMAttributes* MakeAttributes(const UserSpec& user);
// The security level the user's protocols allow.
snmp::v3SecurityLevel LevelOf(const UserSpec& user);

// The manager side: a single target. FindTarget returns it for every message;
// UpdateTarget keeps what discovery and the time rules learn about the
// peer's engine, so later requests skip discovery.
class PeerLookup : public snmp::TargetLookup {
public:
    explicit PeerLookup(const snmp::Target& target);
    snmp::Target* FindTarget(const snmp::Message& msg) override;
    void UpdateTarget(snmp::Target* target, const snmp::Message& msg) override;
    // A copy of the target as it stands now.
    snmp::Target Current();

private:
    snmp::Target target_;
};

// The authoritative side (agent, notification receiver): the local engine id
// and its users. Requests from managers are checked against the local engine
// and its clock; messages that name another authoritative engine (SNMPv3
// traps) get the user's keys localised to that engine and are accepted with
// the boots and time they carry, as a receiver that keeps no history of the
// sender may.
class LocalUserLookup : public snmp::TargetLookup {
public:
    // `engineTime` gives the local engine's time in seconds.
    LocalUserLookup(const snmp::OctetString& engineId, unsigned int boots,
                    std::function<unsigned int()> engineTime, const std::vector<UserSpec>& users);
    snmp::Target* FindTarget(const snmp::Message& msg) override;

    const snmp::OctetString& EngineId() const { return engineId_; }

private:
    snmp::Target* ForeignEngine(const snmp::Message& msg, const UserSpec& user);

    snmp::OctetString engineId_;
    unsigned int boots_;
    std::function<unsigned int()> engineTime_;
    std::map<std::string, UserSpec> users_;
    std::map<std::string, std::unique_ptr<snmp::Target>> local_;
    // Targets of users at other engines, keyed by engine id and user name.
    std::map<std::pair<std::string, std::string>, std::unique_ptr<snmp::Target>> foreign_;
    // Answers (Reports) to users this side does not know.
    snmp::Target anonymous_;
};

// A random engine id of the enterprise-format kind (80 00 1F 88 80 + 8 bytes).
snmp::OctetString NewEngineId();

}  // namespace zksnmp

#endif
