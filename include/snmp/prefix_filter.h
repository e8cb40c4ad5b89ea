// Host filters written as a network and a prefix length ("2001:db8::/32",
// "10.0.0.0/8"), the usual way to name an IPv6 network.
#ifndef SNMP_PREFIX_FILTER_H
#define SNMP_PREFIX_FILTER_H

#include "brask/ip_addr.h"
#include "snmp/export.h"
#include "snmp/watch.h"

namespace snmp {

// A network filter on `network` whose mask has the first `length` bits of the
// network's family set (brask::IpAddr::PrefixMask); a length beyond the
// family's width gives a host filter.
SNMP_API Filter PrefixFilter(const brask::IpAddr& network, unsigned int length);

}  // namespace snmp

#endif
