// The pieces the libFuzzer harnesses share (see fuzz_support.h).
#include "fuzz_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>

#include "brask/ip_addr.h"
#include "snmp/asn.h"
#include "snmp/dispatcher/client.h"
#include "snmp/dispatcher/server.h"
#include "snmp/exception.h"
#include "snmp/init.h"

namespace zkfuzz {

const snmp::OctetString& EngineId() {
    static const snmp::OctetString id(
        std::string("\x80\x00\x1f\x88\x80\xaa\xbb\xcc\xdd\x00\x11\x22\x33", 13));
    return id;
}

std::vector<User> SeedUsers() {
    return {
        {"plain", snmp::USMAuthNone, snmp::USMPrivNone, "", ""},
        {"md5auth", snmp::USMAuthMD5, snmp::USMPrivNone, "md5authpass", ""},
        {"shaauth", snmp::USMAuthSHA1, snmp::USMPrivNone, "shaauthpass", ""},
        {"md5des", snmp::USMAuthMD5, snmp::USMPrivDES, "md5authpass", "md5despass"},
        {"shades", snmp::USMAuthSHA1, snmp::USMPrivDES, "shaauthpass", "shadespass"},
    };
}

std::vector<User> DispatcherUsers() {
    std::vector<User> users = SeedUsers();
    users.erase(std::remove_if(users.begin(), users.end(),
                               [](const User& u) { return u.name == "shaauth"; }),
                users.end());
    return users;
}

const EVP_MD* DigestOf(snmp::USMAuthProtocol auth, unsigned int& macLength) {
    switch (auth) {
        case snmp::USMAuthMD5:
            macLength = 12;
            return EVP_md5();
        case snmp::USMAuthSHA1:
            macLength = 12;
            return EVP_sha1();
        case snmp::USMAuthSHA224:
            macLength = 16;
            return EVP_sha224();
        case snmp::USMAuthSHA256:
            macLength = 24;
            return EVP_sha256();
        case snmp::USMAuthSHA384:
            macLength = 32;
            return EVP_sha384();
        default:
            macLength = 48;
            return EVP_sha512();
    }
}

snmp::Target& UserTable::Add(const User& user, std::unique_ptr<snmp::Target> target) {
    target->SetVersion(snmp::SnmpVersionV3);
    auto* attributes = new snmp::USMAttributes(user.auth, user.priv);
    attributes->SetUserName(user.name);
    if (user.auth != snmp::USMAuthNone) Require(attributes->SetAuthPass(user.authPass));
    if (user.priv != snmp::USMPrivNone) Require(attributes->SetPrivPass(user.privPass));
    target->SetSecAttributes(attributes);
    if (user.auth != snmp::USMAuthNone) Require(target->CalculateKeys());
    snmp::Target& added = *target;
    targets_[user.name] = std::move(target);
    return added;
}

snmp::Target* UserTable::Find(const std::string& name) const {
    auto it = targets_.find(name);
    return it == targets_.end() ? nullptr : it->second.get();
}

namespace {

unsigned int Expect(const unsigned char*& p, unsigned int& left, unsigned int tag) {
    unsigned int type = 0;
    unsigned int length = 0;
    AsnDecodeType(p, left, type);
    if (type != tag) throw CAsnException("unexpected tag");
    AsnDecodeLength(p, left, length);
    return length;
}

void Skip(const unsigned char*& p, unsigned int& left, unsigned int n) {
    if (n > left) throw CAsnException("[AsnDecode] expected larger buffer");
    p += n;
    left -= n;
}

}  // namespace

// The digest is the HMAC over the whole datagram with the digest octets zeroed.
void RecomputeDigest(std::vector<unsigned char>& datagram, const UserTable& users) {
    const unsigned char* p = datagram.data();
    auto left = static_cast<unsigned int>(datagram.size());
    std::string user;
    size_t digestAt = 0;
    unsigned int digestLength = 0;
    try {
        Expect(p, left, 0x30);                 // message
        Skip(p, left, Expect(p, left, 0x02));  // msgVersion
        Skip(p, left, Expect(p, left, 0x30));  // msgGlobalData
        Expect(p, left, 0x04);                 // msgSecurityParameters
        Expect(p, left, 0x30);                 // UsmSecurityParameters
        Skip(p, left, Expect(p, left, 0x04));  // engine id
        Skip(p, left, Expect(p, left, 0x02));  // boots
        Skip(p, left, Expect(p, left, 0x02));  // time
        const unsigned int nameLength = Expect(p, left, 0x04);
        const unsigned char* name = p;
        Skip(p, left, nameLength);
        user.assign(reinterpret_cast<const char*>(name), nameLength);
        digestLength = Expect(p, left, 0x04);
        digestAt = static_cast<size_t>(p - datagram.data());
        Skip(p, left, digestLength);
    } catch (const EAsnException&) {
        return;
    }
    const snmp::Target* target = users.Find(user);
    if (target == nullptr || target->AuthKey().Empty()) return;
    unsigned int expectedLength = 0;
    const EVP_MD* md = DigestOf(target->SecAttributes()->AuthProtocol(), expectedLength);
    if (digestLength != expectedLength) return;
    const auto at = datagram.begin() + static_cast<std::ptrdiff_t>(digestAt);
    std::fill_n(at, digestLength, 0);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    const snmp::OctetString& key = target->AuthKey();
    if (HMAC(md, key.Data(), static_cast<int>(key.Size()), datagram.data(), datagram.size(), mac,
             &macLength) == nullptr)
        return;
    std::copy(mac, mac + digestLength, at);
}

Stack::Stack(snmp::Type type, snmp::TargetLookup* lookup, snmp::ServerRequestor* host) {
    Require(snmp::Init());
    dispatcher = std::make_unique<snmp::DispatcherImp>(type, 0, 0);
    dispatcher->SetTargetLookup(lookup);
    if (host != nullptr) dispatcher->SetServerRequestor(host);
    Require(dispatcher->Start());
    if (type == snmp::TypeServer)
        queue = std::make_unique<snmp::Server>(dispatcher.get());
    else
        queue = std::make_unique<snmp::Client>(dispatcher.get());
    receiver = std::make_unique<snmp::MsgReceiver>(&endpoints, 0, queue.get());
    encode = snmp::Message::AllocEnc();
    buffer.resize(snmp::Message::MaxMessageSize());
}

void Stack::Deliver(const uint8_t* data, size_t size, unsigned short fromPort,
                    unsigned short localPort) {
    snmp::UdpDataItem item;
    item.data = new unsigned char[size];
    if (size != 0) std::memcpy(item.data, data, size);
    item.length = static_cast<int>(size);
    brask::ToSockAddr(brask::IpEndpoint(brask::IpAddr(INADDR_LOOPBACK), fromPort), item.from);
    item.localPort = localPort;
    item.consumer = receiver.get();
    receiver->OnUdpData(item);
    delete[] item.data;
}

void Stack::EncodeAndDrop(snmp::Message* out) {
    out->SetEnc(encode);
    auto length = static_cast<unsigned int>(buffer.size());
    try {
        out->Encode(reinterpret_cast<unsigned char*>(&buffer[0]), length, false);
    } catch (const snmp::Exception&) {
        // Not encodable: the sender would report it and drop it.
    }
    delete out;
}

void Stack::SendResponses(const std::function<void(const snmp::Message&)>& inspect) {
    int last = 0;
    bool first = true;
    while (snmp::Message* out = dispatcher->NextResponse()) {
        Require(first || out->RequestId() > last);
        first = false;
        last = out->RequestId();
        if (inspect) inspect(*out);
        EncodeAndDrop(out);
    }
}

}  // namespace zkfuzz
