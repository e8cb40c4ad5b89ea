#!/usr/bin/python3
"""Writes cases.txt: SNMPv1/v2c datagrams encoded by pysnmp/pyasn1, an encoder
independent of ours (README.md). Run with Debian's interpreter (python3-pysnmp4):
/usr/bin/python3 gen_golden.py; the output is deterministic.
"""

import os
import sys

from pyasn1.codec.ber import decoder, encoder
from pysnmp.proto import api, rfc1905

V1 = api.protoModules[api.protoVersion1]
V2 = api.protoModules[api.protoVersion2c]

# Tag numbers as written in the case file.
T_INT, T_OCT, T_NULL, T_OID = 0x02, 0x04, 0x05, 0x06
T_IP, T_CNT, T_GAU, T_TT, T_OPQ, T_C64 = 0x40, 0x41, 0x42, 0x43, 0x44, 0x46
T_NSO, T_NSI, T_EOM = 0x80, 0x81, 0x82
EMPTY = {T_NULL: None, T_NSO: rfc1905.NoSuchObject, T_NSI: rfc1905.NoSuchInstance,
         T_EOM: rfc1905.EndOfMibView}

SYS_DESCR = "1.3.6.1.2.1.1.1.0"
SYS_UPTIME = "1.3.6.1.2.1.1.3.0"


def make_value(mod, tag, value):
    """pysnmp object for (tag, value) in the protocol module `mod`."""
    if tag in EMPTY:
        return (EMPTY[tag] or mod.Null)("")
    v1 = mod is V1
    return {T_INT: mod.Integer, T_OCT: mod.OctetString, T_OID: mod.ObjectIdentifier,
            T_IP: mod.IpAddress, T_TT: mod.TimeTicks, T_OPQ: mod.Opaque,
            T_CNT: mod.Counter if v1 else mod.Counter32, T_GAU: mod.Gauge if v1 else mod.Gauge32,
            T_C64: getattr(mod, "Counter64", None)}[tag](value)


def value_text(tag, value):
    if tag in (T_OCT, T_OPQ, T_IP):
        return value.hex() if value else "-"
    return "-" if tag in EMPTY else value if tag == T_OID else str(value)


# PDU fields in the file's order -> pysnmp's setter names.
FIELDS = {0xA4: {"enterprise": "Enterprise", "agent-addr": "AgentAddr", "generic": "GenericTrap",
                 "specific": "SpecificTrap", "timestamp": "TimeStamp"},
          0xA5: {"request-id": "RequestID", "non-repeaters": "NonRepeaters", "max-repetitions": "MaxRepetitions"},
          None: {"request-id": "RequestID", "error-status": "ErrorStatus", "error-index": "ErrorIndex"}}


def keys_of(case):
    return FIELDS.get(case["pdu"], FIELDS[None])


def build(case):
    """Encodes one case; returns the datagram bytes."""
    mod = V1 if case["version"] == 0 else V2
    tag = case["pdu"]
    pdu = getattr(mod, {0xA0: "GetRequestPDU", 0xA1: "GetNextRequestPDU",
                        0xA2: "GetResponsePDU" if mod is V1 else "ResponsePDU",
                        0xA3: "SetRequestPDU", 0xA4: "TrapPDU", 0xA5: "GetBulkRequestPDU",
                        0xA6: "InformRequestPDU", 0xA7: "SNMPv2TrapPDU", 0xA8: "ReportPDU"}[tag])()
    api_pdu = {0xA4: mod.apiTrapPDU, 0xA5: getattr(mod, "apiBulkPDU", None)}.get(tag, mod.apiPDU)
    api_pdu.setDefaults(pdu)
    for key, setter in keys_of(case).items():
        value = case.get(key, 0)
        getattr(api_pdu, "set" + setter)(pdu, mod.IpAddress(value) if key == "agent-addr" else value)
    api_pdu.setVarBinds(pdu, [(oid, make_value(mod, t, val)) for oid, t, val in case["vbs"]])
    msg = mod.Message()
    mod.apiMessage.setDefaults(msg)
    mod.apiMessage.setCommunity(msg, case["community"])
    mod.apiMessage.setPDU(msg, pdu)
    data = encoder.encode(msg)
    # Round trip through pysnmp's own decoder so a case that pysnmp cannot read
    # back (and so is not a valid golden datagram) never reaches the file.
    back, rest = decoder.decode(data, asn1Spec=mod.Message())
    assert not rest and encoder.encode(back) == data, case["name"]
    return data


def block(case, data):
    lines = ["name " + case["name"], "version %d" % case["version"],
             "community " + case["community"].hex(), "pdu %d" % case["pdu"]]
    lines += ["%s %s" % (k, case.get(k, 0)) for k in keys_of(case)]
    lines += ["vb %s %d %s" % (oid, tag, value_text(tag, val)) for oid, tag, val in case["vbs"]]
    return "\n".join(lines + ["hex " + data.hex()]) + "\n"


def cases():
    out = []

    def add(name, version, pdu, vbs, community=b"public", **kw):
        c = {"name": name, "version": version, "pdu": pdu, "vbs": vbs, "community": community,
             "request-id": 1}
        c.update({k.replace("_", "-"): v for k, v in kw.items()})
        out.append(c)

    null_vb = [(SYS_DESCR, T_NULL, None)]

    # Every PDU type of each version.
    for v, vname in ((0, "v1"), (1, "v2c")):
        add(vname + "_get", v, 0xA0, null_vb)
        add(vname + "_getnext", v, 0xA1,
            [("1.3.6.1.2.1.1", T_NULL, None), ("1.3.6.1.2.1.2.2.1.2", T_NULL, None)],
            request_id=2147483647)
        add(vname + "_response", v, 0xA2,
            [(SYS_DESCR, T_OCT, b"Linux box"), (SYS_UPTIME, T_TT, 123456)], request_id=77)
        add(vname + "_set", v, 0xA3, [("1.3.6.1.2.1.1.4.0", T_OCT, b"admin@example.org")],
            community=b"private", request_id=0)
        add(vname + "_get_request_id_negative", v, 0xA0, null_vb, request_id=-1)
        add(vname + "_get_request_id_min", v, 0xA0, null_vb, request_id=-2147483648)
        add(vname + "_get_one_octet_community", v, 0xA0, null_vb, community=b"x")
        add(vname + "_get_binary_community", v, 0xA0, null_vb, community=bytes([0, 0xFF, 0x80, 0x7F]))
        add(vname + "_get_empty_varbinds", v, 0xA0, [], request_id=5)
    add("v1_response_error_nosuchname", 0, 0xA2, null_vb, request_id=9,
        error_status=2, error_index=1)
    add("v1_response_error_generr", 0, 0xA2, [(SYS_DESCR, T_NULL, None), (SYS_UPTIME, T_NULL, None)],
        request_id=10, error_status=5, error_index=2)
    add("v2c_response_error_notwritable", 1, 0xA2, [("1.3.6.1.2.1.1.1.0", T_OCT, b"x")],
        request_id=11, error_status=17, error_index=1)
    add("v2c_response_error_toobig", 1, 0xA2, [], request_id=12, error_status=1)

    add("v1_trap_coldstart", 0, 0xA4, [], enterprise="1.3.6.1.4.1.8072.3.2.10",
        agent_addr="192.168.1.20", generic=0, specific=0, timestamp=0)
    add("v1_trap_enterprise_specific", 0, 0xA4,
        [("1.3.6.1.2.1.2.2.1.1.3", T_INT, 3), ("1.3.6.1.4.1.99999.1", T_OCT, b"link down")],
        enterprise="1.3.6.1.4.1.99999.2", agent_addr="10.0.0.255", generic=6,
        specific=2147483647, timestamp=4294967295)
    add("v1_trap_linkdown", 0, 0xA4, [("1.3.6.1.2.1.2.2.1.1.2", T_INT, 2)],
        enterprise="1.3.6.1.6.3.1.1.5", agent_addr="127.0.0.1", generic=2, specific=0,
        timestamp=128)

    add("v2c_getbulk", 1, 0xA5, [(SYS_UPTIME, T_NULL, None), ("1.3.6.1.2.1.2.2.1", T_NULL, None)],
        request_id=3, non_repeaters=1, max_repetitions=10)
    add("v2c_getbulk_zero", 1, 0xA5, [("1.3.6.1", T_NULL, None)], request_id=4,
        non_repeaters=0, max_repetitions=0)
    add("v2c_getbulk_large", 1, 0xA5, [("1.3.6.1", T_NULL, None)], request_id=5,
        non_repeaters=2147483647, max_repetitions=2147483647)
    notif = [(SYS_UPTIME, T_TT, 4711), ("1.3.6.1.6.3.1.1.4.1.0", T_OID, "1.3.6.1.6.3.1.1.5.1"),
             ("1.3.6.1.2.1.1.5.0", T_OCT, b"host")]
    add("v2c_inform", 1, 0xA6, notif, request_id=21)
    add("v2c_trap", 1, 0xA7, notif, request_id=22)
    add("v2c_report", 1, 0xA8, [("1.3.6.1.6.3.15.1.1.4.0", T_CNT, 1)], request_id=23)

    # Value types at their boundaries: each binding in a Response of its own.
    def values(version, tag, name, samples):
        for label, val in samples:
            add("%s_value_%s_%s" % ("v1" if version == 0 else "v2c", name, label), version, 0xA2,
                [("1.3.6.1.4.1.99999.%d.0" % tag, tag, val)], request_id=100 + tag)

    unsigned = [("0", 0), ("127", 127), ("128", 128), ("2p31", 2 ** 31), ("max", 2 ** 32 - 1)]
    oids = [("short", "1.3"), ("zero", "0.0"), ("joint", "2.5.4.3"),
            ("arc1octet", "1.3.6.1.127"), ("arc2octets", "1.3.6.1.128.16383"),
            ("arc3octets", "1.3.6.1.16384.2097151"), ("arc4octets", "1.3.6.1.2097152.268435455"),
            ("arc5octets", "1.3.6.1.268435456"), ("arcmax", "1.3.6.1.4294967295"),
            ("long", ".".join(["1.3.6.1.4.1"] + [str(i) for i in range(1, 60)]))]
    octets = [("empty", b""), ("binary", bytes([0, 1, 0x7F, 0x80, 0xFE, 0xFF])),
              ("text", b"hello world"), ("127bytes", bytes(range(127))),
              ("128bytes", bytes(i % 251 for i in range(128))),
              ("1000bytes", bytes((i * 7) % 256 for i in range(1000)))]
    for version in (0, 1):
        values(version, T_INT, "integer", [("min", -2147483648), ("m1", -1), ("0", 0),
                                            ("127", 127), ("128", 128), ("m129", -129),
                                            ("max", 2147483647)])
        values(version, T_OCT, "octets", octets)
        values(version, T_NULL, "null", [("null", None)])
        values(version, T_OID, "oid", oids)
        values(version, T_IP, "ipaddress", [("zero", b"\x00\x00\x00\x00"),
                                             ("host", bytes([192, 168, 1, 20])),
                                             ("ones", b"\xff\xff\xff\xff")])
        for tag, name in ((T_CNT, "counter32"), (T_GAU, "gauge32"), (T_TT, "timeticks")):
            values(version, tag, name, unsigned)
        values(version, T_OPQ, "opaque", [("empty", b""), ("float", bytes.fromhex("9f780442f60000")),
                                           ("binary", bytes([0, 0xFF, 0x80]))])
    values(1, T_C64, "counter64", [("0", 0), ("127", 127), ("128", 128), ("2p32", 2 ** 32),
                                   ("2p63", 2 ** 63), ("max", 2 ** 64 - 1)])
    for tag, name in ((T_NSO, "nosuchobject"), (T_NSI, "nosuchinstance"), (T_EOM, "endofmibview")):
        values(1, tag, name, [("x", None)])

    # All types together in one message, as a walk response would carry them.
    mixed = [("1.3.6.1.4.1.99999.1.%d" % i, tag, val) for i, (tag, val) in enumerate([
        (T_INT, -5), (T_OCT, b"abc"), (T_NULL, None), (T_OID, "1.3.6.1.4.1.8072"),
        (T_IP, bytes([127, 0, 0, 1])), (T_CNT, 4000000000), (T_GAU, 7), (T_TT, 99),
        (T_OPQ, b"\x01\x02"), (T_C64, 2 ** 40), (T_NSO, None), (T_NSI, None), (T_EOM, None)])]
    add("v2c_response_all_types", 1, 0xA2, mixed, request_id=200)
    add("v1_response_all_types", 0, 0xA2, [vb for vb in mixed if vb[1] <= T_OPQ], request_id=201)
    return out


def main():
    all_cases = cases()
    names = {c["name"] for c in all_cases}
    assert len(names) == len(all_cases), "duplicate case names"
    head = "# SNMPv1/v2c datagrams encoded by pysnmp; written by gen_golden.py, see README.md\n"
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases.txt")
    with open(target, "w") as f:
        f.write("\n".join([head] + [block(c, build(c)) for c in all_cases]))
    print("%d cases written to %s" % (len(names), target), file=sys.stderr)


if __name__ == "__main__":
    main()
