// Targets: SNMP peers with their SNMPv3 user, engine data and localised keys.
#include "snmp/target.h"

#include "snmp/init.h"
#include "snmp/security/usm_auth.h"
#include "snmp/security/usm_priv.h"

namespace snmp {

Target::Target() = default;

Target::Target(brask::IpAddr addr) : addr_(addr) {}

Target::Target(brask::IpAddr addr, unsigned short port)
    : addr_(addr), port_(port), getBulk_(true) {}

Target::Target(const Target& other)
    : addr_(other.addr_),
      port_(other.port_),
      community_(other.community_),
      version_(other.version_),
      timeout_(other.timeout_),
      retries_(other.retries_),
      getBulk_(other.getBulk_) {
    if (version_ != SnmpVersionV3) return;
    secLevel_ = other.secLevel_;
    if (other.attributes_) attributes_ = std::make_unique<USMAttributes>(*other.attributes_);
    contextName_ = other.contextName_;
    CopyEngineState(other);
}

Target& Target::operator=(const Target& other) {
    if (this == &other) return *this;
    addr_ = other.addr_;
    port_ = other.port_;
    community_ = other.community_;
    version_ = other.version_;
    timeout_ = other.timeout_;
    retries_ = other.retries_;
    getBulk_ = other.getBulk_;
    contextName_ = other.contextName_;
    if (version_ != SnmpVersionV3) return *this;
    secLevel_ = other.secLevel_;
    CopyEngineState(other);
    if (attributes_.get() != other.attributes_.get()) {
        attributes_.reset(other.attributes_ ? new USMAttributes(*other.attributes_) : nullptr);
    }
    return *this;
}

Target::~Target() = default;

void Target::CopyEngineState(const Target& other) {
    engineId_ = other.engineId_;
    userId_ = other.userId_;
    engineBoots_ = other.engineBoots_;
    engineTime_ = other.engineTime_;
    lastEngineTime_ = other.lastEngineTime_;
    timeStamp_ = other.timeStamp_;
    update_ = other.update_;
    authKey_ = other.authKey_;
    privKey_ = other.privKey_;
}

void Target::SetSecAttributes(USMAttributes* attributes) {
    // Handing the target the object it already owns must not delete it.
    if (attributes != attributes_.get()) attributes_.reset(attributes);
}

const std::string& Target::UserName() const {
    static const std::string kNoUser;
    return attributes_ ? attributes_->UserName() : kNoUser;
}

void Target::SetUserName(const std::string& name) {
    if (!attributes_) attributes_ = std::make_unique<USMAttributes>(USMAuthNone, USMPrivNone);
    attributes_->SetUserName(name);
}

void Target::SetEngineTime(unsigned int engineTime) {
    engineTime_ = engineTime;
    timeStamp_ = snmp::TimeStamp();
}

bool Target::CalculateKeys() {
    if (!attributes_) return false;
    USMAuth* auth = attributes_->Auth();
    if (auth == nullptr) return false;
    OctetString ku;
    bool ok = auth->PasswordToKey(attributes_->AuthPass(), ku);
    if (ok) ok = auth->LocalizeKey(engineId_, ku, authKey_);
    USMPriv* priv = attributes_->Priv();
    if (ok && priv != nullptr) {
        // RFC 3414: the privacy key is derived with the authentication hash,
        // and lengthened by the privacy protocol when the cipher needs more.
        OctetString kp;
        OctetString localized;
        ok = auth->PasswordToKey(attributes_->PrivPass(), kp) &&
             auth->LocalizeKey(engineId_, kp, localized) &&
             priv->ExtendKey(*auth, engineId_, localized);
        if (ok) privKey_ = localized;
    }
    return ok;
}

bool Target::operator==(const Target& other) const {
    if (!(addr_ == other.addr_) || port_ != other.port_ || contextName_ != other.contextName_)
        return false;
    return version_ == SnmpVersionV3 ? userId_ == other.userId_ : community_ == other.community_;
}

bool Target::operator<(const Target& other) const {
    if (addr_ < other.addr_) return true;
    if (other.addr_ < addr_) return false;
    return port_ < other.port_;
}

std::ostream& operator<<(std::ostream& os, const Target& t) {
    // An IPv6 address goes in brackets so that its colons stay apart from the port's.
    os << "Target: " << brask::IpEndpoint(t.Addr(), t.Port()).ToString() << "\n";
    os << t.Version() << "\n";
    if (!t.Community().empty())
        os << "community string: '" << t.Community() << "'"
           << "\n";
    if (t.Version() != SnmpVersionV3) return os;
    os << "SNMPv3 target details:\n" << static_cast<int>(t.SecLevel()) << "\n";
    os << (t.SecAttributes() == nullptr ? "NULL USM attributes\n" : "USM attributes known\n");
    os << (t.EngineId().Empty() ? "Unknown engine ID\n" : "Engine ID known\n");
    os << "Context name: " << t.ContextName() << "\n";
    os << "User name: " << t.UserId() << "\n";
    os << "SNMP engine boots: " << t.EngineBoots() << "\n";
    os << "SNMP engine time: " << t.EngineTime() << "\n";
    os << "last SNMP engine time: " << t.LastEngineTime() << "\n";
    os << (t.Update() ? "update on\n" : "update off\n");
    os << (t.AuthKey().Empty() ? "Empty auth key \n" : "Auth key known\n");
    os << (t.PrivKey().Empty() ? "Empty priv key \n" : "Priv key known\n");
    return os;
}

std::ostream& operator<<(std::ostream& os, const Target* t) {
    if (t == nullptr) return os << "NULL snmp target";
    return os << *t;
}

}  // namespace snmp
