// One SNMP peer as a host program describes it: address, port, version,
// community, the host's time-out settings, and for SNMPv3 the user, the peer's
// engine data and the keys localised to that engine.
#ifndef SNMP_TARGET_H
#define SNMP_TARGET_H

#include <memory>
#include <ostream>
#include <string>

#include "brask/ip_addr.h"
#include "snmp/export.h"
#include "snmp/message.h"
#include "snmp/octet_string.h"
#include "snmp/usm_attributes.h"

namespace snmp {

// A value class. A version-3 target normally holds security attributes
// (SetSecAttributes); the target owns them and deletes them.
class SNMP_API Target {
public:
    // Invalid address, port 161, community "quorum", SNMPv1, time-out 100,
    // no retries, GetBulk off, noAuthNoPriv, no attributes, no engine data.
    Target();
    explicit Target(brask::IpAddr addr);
    // As Target(addr), with `port` and GetBulk on.
    Target(brask::IpAddr addr, unsigned short port);
    // Copies address, port, community, version, time-out, retries and GetBulk.
    // Only for version 3 it also copies the security level, a deep copy of
    // the attributes, context name, engine id, user id, engine boots, time,
    // last time and time stamp, the update flag and both keys; a copied
    // version-1/2c target therefore has an empty context name.
    Target(const Target& other);
    // Copies address, port, community, version, time-out, retries, GetBulk and
    // context name for every version. Only when the new version is 3 it also
    // copies security level, engine data, user id, update flag and keys, and
    // replaces its attributes by a deep copy of the other's (or by none).
    // For other versions the security fields of this target stay as they were.
    Target& operator=(const Target& other);
    virtual ~Target();

    brask::IpAddr Addr() const { return addr_; }
    void SetAddr(brask::IpAddr addr) { addr_ = addr; }
    unsigned short Port() const { return port_; }
    void SetPort(unsigned short port) { port_ = port; }
    const std::string& Community() const { return community_; }
    void SetCommunity(const std::string& community) { community_ = community; }
    SnmpVersion Version() const { return version_; }
    void SetVersion(SnmpVersion version) { version_ = version; }
    // The host's settings; stored and copied, never interpreted.
    unsigned int Timeout() const { return timeout_; }
    void SetTimeout(unsigned int timeout) { timeout_ = timeout; }
    unsigned int Retries() const { return retries_; }
    void SetRetries(unsigned int retries) { retries_ = retries; }
    bool GetBulk() const { return getBulk_; }
    void SetGetBulk(bool getBulk) { getBulk_ = getBulk; }

    v3SecurityLevel SecLevel() const { return secLevel_; }
    void SetSecLevel(v3SecurityLevel level) { secLevel_ = level; }
    // The user's attributes, or null; the target keeps ownership.
    USMAttributes* SecAttributes() const { return attributes_.get(); }
    // Takes ownership of `attributes` and deletes the object held before (if
    // it is a different one).
    void SetSecAttributes(USMAttributes* attributes);

    const OctetString& EngineId() const { return engineId_; }
    void SetEngineId(const OctetString& engineId) { engineId_ = engineId; }
    const std::string& ContextName() const { return contextName_; }
    void SetContextName(const std::string& name) { contextName_ = name; }
    // A further user identification, compared by operator== for SNMPv3.
    const std::string& UserId() const { return userId_; }
    void SetUserId(const std::string& userId) { userId_ = userId; }
    // The user name lives in the attributes: UserName() is empty without
    // them, and SetUserName() then creates noAuthNoPriv attributes to hold it.
    const std::string& UserName() const;
    void SetUserName(const std::string& name);

    unsigned int EngineBoots() const { return engineBoots_; }
    void SetEngineBoots(unsigned int boots) { engineBoots_ = boots; }
    unsigned int EngineTime() const { return engineTime_; }
    // Stores the engine time and stamps it with snmp::TimeStamp(), so that the
    // peer's current time can later be estimated from the two.
    void SetEngineTime(unsigned int engineTime);
    // The latest engine time received from the peer (RFC 3414
    // latestReceivedEngineTime).
    unsigned int LastEngineTime() const { return lastEngineTime_; }
    void SetLastEngineTime(unsigned int engineTime) { lastEngineTime_ = engineTime; }
    // snmp::TimeStamp() when the engine time was last set; 0 means never.
    unsigned int TimeStamp() const { return timeStamp_; }

    // The localised keys: the auth key is as long as the authentication
    // hash's output (16 octets for MD5 to 64 for SHA-512); the privacy key
    // too, or exactly the cipher's key length when an AES-192/256 protocol
    // had to extend it.
    const OctetString& AuthKey() const { return authKey_; }
    void SetAuthKey(const OctetString& key) { authKey_ = key; }
    const OctetString& PrivKey() const { return privKey_; }
    void SetPrivKey(const OctetString& key) { privKey_ = key; }
    // A flag for the host; stored, copied and printed only.
    bool Update() const { return update_; }
    void SetUpdate(bool update) { update_ = update; }

    // Derives the user's keys from the attributes' passwords and localises
    // them to EngineId() with the authentication protocol's hash (the privacy
    // key too, as RFC 3414 prescribes, then lengthened by the privacy
    // protocol when its cipher needs more octets than the hash gives).
    // Returns false without attributes or authentication protocol (nothing
    // changes), or when a derivation step fails (empty password, empty engine
    // id); the auth key may then already have been replaced, the privacy key
    // is replaced only when all of its steps succeed.
    bool CalculateKeys();

    // Equal addresses, ports and context names, and then equal user ids when
    // this target is version 3, else equal communities.
    bool operator==(const Target& other) const;
    // Orders by address, then by port among equal addresses (a strict weak
    // order, usable as a map key).
    bool operator<(const Target& other) const;

private:
    // The SNMPv3 engine fields and keys, which copy and assignment both take
    // from a version-3 source.
    void CopyEngineState(const Target& other);

    brask::IpAddr addr_;
    unsigned short port_ = 161;
    std::string community_ = "quorum";
    SnmpVersion version_ = SnmpVersionV1;
    unsigned int timeout_ = 100;
    unsigned int retries_ = 0;
    bool getBulk_ = false;
    v3SecurityLevel secLevel_ = SecLevelNoAuthNoPriv;
    std::unique_ptr<USMAttributes> attributes_;
    OctetString engineId_;
    std::string contextName_;
    std::string userId_;
    unsigned int engineBoots_ = 0;
    unsigned int engineTime_ = 0;
    unsigned int lastEngineTime_ = 0;
    unsigned int timeStamp_ = 0;
    bool update_ = false;
    OctetString authKey_;
    OctetString privKey_;
};

// The diagnostic multi-line form of a target; the pointer form prints
// "NULL snmp target" for null. Both return `os`.
SNMP_API std::ostream& operator<<(std::ostream& os, const Target& target);
SNMP_API std::ostream& operator<<(std::ostream& os, const Target* target);

}  // namespace snmp

#endif
