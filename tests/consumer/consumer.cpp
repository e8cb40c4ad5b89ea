// Links the installed library and uses a little of each layer a host needs
// first: start and stop, the BER codec, a value class and an endpoint.
#include <cstdio>
#include <cstring>

#include "brask/ip_addr.h"
#include "snmp/asn.h"
#include "snmp/init.h"

int main() {
    if (!snmp::Init()) {
        std::puts("snmp::Init failed");
        return 1;
    }
    unsigned char buf[8];
    unsigned char* p = buf;
    unsigned int left = sizeof buf;
    AsnEncode(p, left, 128, 0x02u);
    const unsigned char want[] = {0x02, 0x02, 0x00, 0x80};
    bool ok =
        static_cast<size_t>(p - buf) == sizeof want && std::memcmp(buf, want, sizeof want) == 0;

    brask::IpEndpoint ep(brask::IpAddr("127.0.0.1"), 161);
    ok = ok && ep.Port() == 161;
    snmp::Shutdown();
    std::puts(ok ? "consumer ok" : "consumer FAILED");
    return ok ? 0 : 1;
}
