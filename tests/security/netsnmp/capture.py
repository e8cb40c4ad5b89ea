#!/usr/bin/python3
"""Captures SNMPv3 datagrams sent by net-snmp's command-line tools and writes
cases.txt, so our USM decoding, digest checks and decryption can be tested
against a real peer's bytes without running it.

Each tool is pointed at a UDP socket of ours on 127.0.0.1 and given the
authoritative engine id and boots/time (-e, -Z), so it sends its message at once
without a discovery exchange; the first datagram is recorded and the tool is left
to time out. Every datagram is checked independently before it is written: the
digest is recomputed with Python's hmac over keys localised by pysnmp, and the
scoped PDU is decrypted with pycryptodome's DES, so the file records the
plaintext request fields next to the bytes.

Run with Debian's interpreter: /usr/bin/python3 capture.py  (needs snmp,
python3-pysnmp4, python3-pycryptodome). Output: cases.txt beside this script.
"""

import hashlib
import hmac
import os
import shutil
import socket
import subprocess
import sys
import tempfile

from Cryptodome.Cipher import DES
from pyasn1.codec.ber import decoder
from pyasn1.type import univ
from pysnmp.proto.mpmod import rfc3412
from pysnmp.proto.secmod.rfc3414 import localkey
from pysnmp.proto.secmod.rfc3414.service import UsmSecurityParameters

ENGINE_ID = "80001f8880aabbccdd00112233"
BOOTS = 7
TIME = 1234
TRAP_UPTIME = 12345
HASHES = {"MD5": hashlib.md5, "SHA": hashlib.sha1}

USERS = {
    # name: (auth, auth password, priv, priv password)
    "plain": ("none", "", "none", ""),
    "md5auth": ("MD5", "md5authpass", "none", ""),
    "shaauth": ("SHA", "shaauthpass", "none", ""),
    "md5des": ("MD5", "md5authpass", "DES", "md5despass"),
    "shades": ("SHA", "shaauthpass", "DES", "shadespass"),
}

REQUEST_VBS = {
    "snmpget": ["1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0"],
    "snmpgetnext": ["1.3.6.1.2.1.1"],
    "snmpbulkget": ["-Cn1", "-Cr5", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.2.2.1.2"],
    "snmpset": ["1.3.6.1.2.1.1.4.0", "s", "admin@example.org",
                "1.3.6.1.4.1.99999.1.0", "i", "-42"],
    "snmptrap": [str(TRAP_UPTIME), "1.3.6.1.6.3.1.1.5.3",
                 "1.3.6.1.2.1.2.2.1.1.2", "i", "2"],
    "snmpinform": [str(TRAP_UPTIME), "1.3.6.1.6.3.1.1.5.4",
                   "1.3.6.1.2.1.2.2.1.1.2", "i", "2", "1.3.6.1.4.1.99999.2.0", "x", "00ff80"],
}


def case_list():
    out = [("noauth_get", "snmpget", "plain", []),
           ("noauth_trap", "snmptrap", "plain", []),
           ("md5_context_get", "snmpget", "md5auth", ["-n", "ctx1"]),
           ("md5_getnext", "snmpgetnext", "md5auth", []),
           ("sha_des_getbulk", "snmpbulkget", "shades", [])]
    for user in ("md5auth", "shaauth", "md5des", "shades"):
        label = {"md5auth": "md5", "shaauth": "sha", "md5des": "md5_des", "shades": "sha_des"}[user]
        for tool in ("snmpget", "snmpset", "snmptrap", "snmpinform"):
            out.append(("%s_%s" % (label, tool[4:]), tool, user, []))
    return out


def level_args(user):
    auth, apass, priv, ppass = USERS[user]
    if auth == "none":
        return ["-l", "noAuthNoPriv"]
    if priv == "none":
        return ["-l", "authNoPriv", "-a", auth, "-A", apass]
    return ["-l", "authPriv", "-a", auth, "-A", apass, "-x", priv, "-X", ppass]


def capture(tool, args, env):
    """Runs the tool against a fresh socket; returns its first datagram."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    sock.settimeout(10)
    port = sock.getsockname()[1]
    cmd = [tool] + args[:-1] + ["udp:127.0.0.1:%d" % port] + args[-1]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    try:
        data, _ = sock.recvfrom(65535)
    finally:
        out, err = proc.communicate(timeout=30)
        sock.close()
    return data, " ".join(cmd[:-len(args[-1]) - 1] + ["udp:127.0.0.1:PORT"] + args[-1])


def value_text(val):
    """(tag, text) of a decoded binding value, in the golden file's notation."""
    inner = val.getComponent()
    name = val.getName()
    if name in ("noSuchObject", "noSuchInstance", "endOfMibView", "unSpecified"):
        return {"noSuchObject": 128, "noSuchInstance": 129, "endOfMibView": 130,
                "unSpecified": 5}[name], "-"
    while isinstance(inner, univ.Choice):
        inner = inner.getComponent()
    tag = inner.tagSet[0]
    tagnum = tag[2] | (0x40 if tag[0] == 0x40 else 0)
    if isinstance(inner, univ.OctetString):
        return tagnum, inner.asOctets().hex() or "-"
    if isinstance(inner, univ.ObjectIdentifier):
        return tagnum, str(inner)
    if isinstance(inner, univ.Null):
        return tagnum, "-"
    return tagnum, str(int(inner))


def analyse(data, user):
    """Checks the datagram and returns the fields to record."""
    auth, apass, priv, ppass = USERS[user]
    msg, rest = decoder.decode(data, asn1Spec=rfc3412.SNMPv3Message())
    assert not rest
    hdr = msg["msgGlobalData"]
    sec, rest = decoder.decode(bytes(msg["msgSecurityParameters"]), asn1Spec=UsmSecurityParameters())
    assert not rest
    engine = bytes(sec["msgAuthoritativeEngineId"])
    f = {"msg-id": int(hdr["msgID"]), "msg-max-size": int(hdr["msgMaxSize"]),
         "msg-flags": bytes(hdr["msgFlags"])[0],
         "sec-engine-id": engine.hex() or "-",
         "sec-boots": int(sec["msgAuthoritativeEngineBoots"]),
         "sec-time": int(sec["msgAuthoritativeEngineTime"]),
         "sec-user": bytes(sec["msgUserName"]).decode()}
    authparams = bytes(sec["msgAuthenticationParameters"])
    privparams = bytes(sec["msgPrivacyParameters"])
    f["auth-params"] = authparams.hex() or "-"
    f["priv-params"] = privparams.hex() or "-"
    if auth != "none":
        h = HASHES[auth]
        key = localkey.localizeKey(localkey.hashPassphrase(apass, h), univ.OctetString(engine), h).asOctets()
        f["auth-key"] = key.hex()
        # The digest covers the whole message with its own 12 octets zeroed.
        pos = data.find(authparams)
        assert pos > 0 and data.find(authparams, pos + 1) < 0
        zeroed = data[:pos] + bytes(12) + data[pos + 12:]
        assert hmac.new(key, zeroed, h).digest()[:12] == authparams, "digest check failed"
    scoped = msg["msgData"]
    if priv != "none":
        h = HASHES[auth]
        pkey = localkey.localizeKey(localkey.hashPassphrase(ppass, h), univ.OctetString(engine), h).asOctets()
        f["priv-key"] = pkey.hex()
        iv = bytes(a ^ b for a, b in zip(pkey[8:16], privparams))
        plain = DES.new(pkey[:8], DES.MODE_CBC, iv).decrypt(bytes(scoped["encryptedPDU"]))
        f["plaintext"] = plain.hex()
        spdu, _ = decoder.decode(plain, asn1Spec=rfc3412.ScopedPDU())
    else:
        spdu = scoped["plaintext"]
    f["context-engine-id"] = bytes(spdu["contextEngineId"]).hex() or "-"
    f["context-name"] = bytes(spdu["contextName"]).decode() or "-"
    pdu = spdu["data"].getComponent()
    f["pdu"] = pdu.tagSet[0][2] | 0xA0
    f["request-id"] = int(pdu["request-id"])
    if f["pdu"] == 0xA5:
        f["non-repeaters"] = int(pdu["non-repeaters"])
        f["max-repetitions"] = int(pdu["max-repetitions"])
    else:
        f["error-status"] = int(pdu["error-status"])
        f["error-index"] = int(pdu["error-index"])
    f["vbs"] = []
    for vb in pdu["variable-bindings"]:
        tag, text = value_text(vb[1])
        f["vbs"].append("%s %d %s" % (vb[0], tag, text))
    return f


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    workdir = tempfile.mkdtemp(prefix="zk-capture-")
    # Keep net-snmp away from the user's and the system's configuration and
    # from /var/lib/snmp: its persistent state goes to a scratch directory.
    env = dict(os.environ, SNMPCONFPATH=workdir, SNMP_PERSISTENT_DIR=workdir, HOME=workdir)
    blocks = ["# SNMPv3 datagrams sent by net-snmp tools; written by capture.py, see README.md\n"]
    try:
        for name, tool, user, extra in case_list():
            auth, apass, priv, ppass = USERS[user]
            args = ["-v3", "-r", "0", "-t", "1", "-u", user] + level_args(user) + extra + \
                   ["-e", "0x" + ENGINE_ID, "-Z", "%d,%d" % (BOOTS, TIME), REQUEST_VBS[tool]]
            data, cmdline = capture(tool, args, env)
            f = analyse(data, user)
            lines = ["name " + name, "tool " + tool, "command " + cmdline, "user " + user,
                     "auth " + auth, "auth-pass " + (apass or "-"),
                     "priv " + priv, "priv-pass " + (ppass or "-"),
                     "engine-id " + ENGINE_ID, "boots %d" % BOOTS, "time %d" % TIME]
            for key in ("msg-id", "msg-max-size", "msg-flags", "sec-engine-id", "sec-boots",
                        "sec-time", "sec-user", "auth-params", "priv-params", "auth-key",
                        "priv-key", "plaintext", "context-engine-id", "context-name", "pdu",
                        "request-id", "error-status", "error-index", "non-repeaters",
                        "max-repetitions"):
                if key in f:
                    lines.append("%s %s" % (key, f[key]))
            lines += ["vb " + vb for vb in f["vbs"]]
            lines.append("hex " + data.hex())
            blocks.append("\n".join(lines) + "\n")
            print("captured %s (%d bytes)" % (name, len(data)), file=sys.stderr)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    with open(os.path.join(here, "cases.txt"), "w") as out:
        out.write("\n".join(blocks))


if __name__ == "__main__":
    main()
