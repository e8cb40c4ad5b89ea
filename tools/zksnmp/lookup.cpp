// The SNMPv3 target stores of zksnmp.
#include "lookup.h"

#include <random>

#include "protocols.h"
#include "snmp/asn.h"
#include "snmp/message.h"

namespace zksnmp {
namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find(sep, start);
        parts.push_back(text.substr(start, pos - start));
        if (pos == std::string::npos) {
            return parts;
        }
        start = pos + 1;
    }
}

std::string Key(const snmp::OctetString& s) {
    return s.Empty() ? std::string()
                     : std::string(reinterpret_cast<const char*>(s.Data()), s.Size());
}

// Engine boots and time from the msgSecurityParameters octets of a received
// message. False when they cannot be read.
bool ReadBootsAndTime(const snmp::OctetString& params, unsigned int& boots, unsigned int& time) {
    const unsigned char* p = params.Data();
    unsigned int left = params.Size();
    if (p == nullptr) {
        return false;
    }
    try {
        unsigned int type = 0;
        unsigned int length = 0;
        AsnDecodeType(p, left, type);
        AsnDecodeLength(p, left, length);
        AsnDecodeType(p, left, type);
        unsigned char engine[64];
        unsigned int size = sizeof engine;
        AsnDecode(p, left, engine, size);
        AsnDecodeType(p, left, type);
        AsnDecode(p, left, boots);
        AsnDecodeType(p, left, type);
        AsnDecode(p, left, time);
        return true;
    } catch (const EAsnException&) {
        return false;
    }
}

snmp::Target* NewUserTarget(const UserSpec& user, const snmp::OctetString& engineId) {
    auto* t = new snmp::Target();
    t->SetVersion(snmp::SnmpVersionV3);
    t->SetSecAttributes(MakeAttributes(user));
    t->SetSecLevel(LevelOf(user));
    t->SetEngineId(engineId);
    if (user.auth != snmp::USMAuthNone) {
        t->CalculateKeys();
    }
    return t;
}

}  // namespace

bool ParseUserSpec(const std::string& text, UserSpec& out, std::string& error) {
    const std::vector<std::string> parts = Split(text, ':');
    UserSpec user;
    user.name = parts[0];
    if (user.name.empty() || user.name.size() > 32) {
        error = "bad user '" + text + "': the name must have 1 to 32 characters";
        return false;
    }
    if (parts.size() != 1 && parts.size() != 3 && parts.size() != 5) {
        error = "bad user '" + text + "': expected NAME[:AUTH:AUTHPASS[:PRIV:PRIVPASS]]";
        return false;
    }
    if (parts.size() >= 3) {
        if (!ParseAuthProtocol(parts[1], user.auth)) {
            error = "bad user '" + text + "': unknown authentication protocol '" + parts[1] +
                    "' (use " + AuthProtocolChoices() + ")";
            return false;
        }
        user.authPass = parts[2];
        if (user.authPass.size() < 8) {
            error = "bad user '" + text + "': passwords need at least 8 characters";
            return false;
        }
    }
    if (parts.size() == 5) {
        if (!ParsePrivProtocol(parts[3], user.priv)) {
            error = "bad user '" + text + "': unknown privacy protocol '" + parts[3] + "' (use " +
                    PrivProtocolChoices() + ")";
            return false;
        }
        user.privPass = parts[4];
        if (user.privPass.size() < 8) {
            error = "bad user '" + text + "': passwords need at least 8 characters";
            return false;
        }
    }
    out = user;
    return true;
}

snmp::USMAttributes* MakeAttributes(const UserSpec& user) {
    auto* a = new snmp::USMAttributes(user.auth, user.priv);
    a->SetUserName(user.name);
    if (user.auth != snmp::USMAuthNone) {
        a->SetAuthPass(user.authPass);
    }
    if (user.priv != snmp::USMPrivNone) {
        a->SetPrivPass(user.privPass);
    }
    return a;
}

snmp::v3SecurityLevel LevelOf(const UserSpec& user) {
    if (user.auth == snmp::USMAuthNone) {
        return snmp::SecLevelNoAuthNoPriv;
    }
    return user.priv == snmp::USMPrivNone ? snmp::SecLevelAuthNoPriv : snmp::SecLevelAuthPriv;
}

PeerLookup::PeerLookup(const snmp::Target& target)
    : snmp::TargetLookup(snmp::TypeClient), target_(target) {}

snmp::Target* PeerLookup::FindTarget(const snmp::Message&) {
    return &target_;
}

void PeerLookup::UpdateTarget(snmp::Target* target, const snmp::Message&) {
    Lock();
    target_ = *target;
    Unlock();
}

snmp::Target PeerLookup::Current() {
    Lock();
    snmp::Target copy(target_);
    Unlock();
    return copy;
}

LocalUserLookup::LocalUserLookup(const snmp::OctetString& engineId, unsigned int boots,
                                 std::function<unsigned int()> engineTime,
                                 const std::vector<UserSpec>& users)
    : snmp::TargetLookup(snmp::TypeServer),
      engineId_(engineId),
      boots_(boots),
      engineTime_(std::move(engineTime)) {
    for (const UserSpec& u : users) {
        users_[u.name] = u;
        local_[u.name].reset(NewUserTarget(u, engineId_));
    }
    anonymous_.SetVersion(snmp::SnmpVersionV3);
    anonymous_.SetEngineId(engineId_);
}

snmp::Target* LocalUserLookup::FindTarget(const snmp::Message& msg) {
    const std::string& name = msg.UserName();
    auto user = users_.find(name);
    if (user == users_.end()) {
        // An unknown user still gets its Report (unauthenticated, from the
        // local engine); every other message for it fails as unknown.
        if (msg.Type() != snmp::PduReport) {
            return nullptr;
        }
        anonymous_.SetSecAttributes(new snmp::USMAttributes(snmp::USMAuthNone, snmp::USMPrivNone));
        anonymous_.SetUserName(name);
        anonymous_.SetEngineBoots(boots_);
        anonymous_.SetEngineTime(engineTime_());
        return &anonymous_;
    }
    // Only the sender of an unconfirmed message (a trap) is its
    // authoritative engine. A reportable message - a request or an inform -
    // naming another engine is checked against the local keys, so it fails:
    // accepting it would answer requests captured at another agent with the
    // same credentials, outside any time window, and let every made-up
    // engine id cost a key derivation. The PDU type is not decoded yet when
    // the security processing asks, so the reportable flag decides.
    const snmp::OctetString& engine = msg.EngineId();
    if (!engine.Empty() && engine != engineId_ && !msg.Reportable() &&
        msg.Type() != snmp::PduReport) {
        return ForeignEngine(msg, user->second);
    }
    snmp::Target* t = local_[name].get();
    t->SetEngineBoots(boots_);
    t->SetEngineTime(engineTime_());
    return t;
}

snmp::Target* LocalUserLookup::ForeignEngine(const snmp::Message& msg, const UserSpec& user) {
    // Keys are localised once per engine; a flood of made-up engine ids must
    // not grow the cache without bound.
    constexpr size_t kMaxForeign = 256;
    auto key = std::make_pair(Key(msg.EngineId()), user.name);
    auto it = foreign_.find(key);
    if (it == foreign_.end()) {
        if (foreign_.size() >= kMaxForeign) {
            foreign_.clear();
        }
        it = foreign_
                 .emplace(key, std::unique_ptr<snmp::Target>(NewUserTarget(user, msg.EngineId())))
                 .first;
    }
    unsigned int boots = 0;
    unsigned int time = 0;
    if (ReadBootsAndTime(msg.SecurityParams(), boots, time)) {
        it->second->SetEngineBoots(boots);
        it->second->SetEngineTime(time);
    }
    return it->second.get();
}

snmp::OctetString NewEngineId() {
    std::random_device rd;
    snmp::OctetString id;
    for (unsigned char b : {0x80, 0x00, 0x1F, 0x88, 0x80}) {
        id += b;
    }
    for (int i = 0; i < 8; ++i) {
        id += static_cast<unsigned char>(rd() & 0xFF);
    }
    return id;
}

}  // namespace zksnmp
