#!/usr/bin/python3
"""Writes cases.txt and sha2_aes_cases.txt from datagrams of net-snmp's tools,
each checked independently first (README.md). Run: /usr/bin/python3 capture.py
[old|new] (needs snmp, python3-pysnmp4, python3-pycryptodome); no argument writes both.
"""

import hashlib
import hmac
import os
import shutil
import socket
import subprocess
import sys
import tempfile

from Cryptodome.Cipher import AES, DES
from pyasn1.codec.ber import decoder
from pyasn1.type import univ
from pysnmp.proto.mpmod import rfc3412
from pysnmp.proto.secmod.rfc3414.service import UsmSecurityParameters

ENGINE_ID = "80001f8880aabbccdd00112233"
BOOTS = 7
TIME = 1234
TRAP_UPTIME = 12345
# auth protocol -> (hash, MAC length)
HASHES = {"MD5": (hashlib.md5, 12), "SHA": (hashlib.sha1, 12), "SHA-224": (hashlib.sha224, 16),
          "SHA-256": (hashlib.sha256, 24), "SHA-384": (hashlib.sha384, 32),
          "SHA-512": (hashlib.sha512, 48)}
# priv protocol -> (key length, key extension); net-snmp's names
CIPHERS = {"DES": (16, None), "AES": (16, None), "AES-192": (24, "blumenthal"),
           "AES-256": (32, "blumenthal"), "AES-192-C": (24, "reeder"), "AES-256-C": (32, "reeder")}

# name: (auth, auth password, priv, priv password) for every pair, named by its protocols in
# lower case without dashes (e.g. sha256auth, md5aes192c); cases.txt's pairs keep older passwords.
USERS = {"plain": ("none", "", "none", "")}
for _auth in HASHES:
    for _priv in [None] + list(CIPHERS):
        _name = "".join(p.lower().replace("-", "") for p in (_auth, _priv or "auth"))
        _old = _auth in ("MD5", "SHA") and _priv in (None, "DES")
        USERS[_name] = (_auth, _auth.lower() + "authpass" if _old else _name + "-apass",
                        _priv or "none", _name + ("pass" if _old else "-ppass") if _priv else "")

REQUEST_VBS = {tool: args.split() for tool, args in {
    "snmpget": "1.3.6.1.2.1.1.1.0 1.3.6.1.2.1.1.3.0", "snmpgetnext": "1.3.6.1.2.1.1",
    "snmpbulkget": "-Cn1 -Cr5 1.3.6.1.2.1.1.3.0 1.3.6.1.2.1.2.2.1.2",
    "snmpset": "1.3.6.1.2.1.1.4.0 s admin@example.org 1.3.6.1.4.1.99999.1.0 i -42",
    "snmptrap": "%d 1.3.6.1.6.3.1.1.5.3 1.3.6.1.2.1.2.2.1.1.2 i 2" % TRAP_UPTIME,
    "snmpinform": "%d 1.3.6.1.6.3.1.1.5.4 1.3.6.1.2.1.2.2.1.1.2 i 2 1.3.6.1.4.1.99999.2.0 x 00ff80"
                  % TRAP_UPTIME}.items()}


def new_case_list():
    """A request from every new pair; traps (which carry boots and time, part
    of the AES IV) for every AES variant."""
    out = []
    for user, (auth, _, priv, _) in USERS.items():
        if auth in ("none", "MD5", "SHA") and priv in ("none", "DES"):
            continue
        out.append(("%s_get" % user, "snmpget", user, []))
        if priv.startswith("AES") and (auth == "SHA-256" or priv == "AES"):
            out.append(("%s_trap" % user, "snmptrap", user, []))
    return out


def old_case_list():
    out = [("noauth_get", "snmpget", "plain", []), ("noauth_trap", "snmptrap", "plain", []),
           ("md5_context_get", "snmpget", "md5auth", ["-n", "ctx1"]),
           ("md5_getnext", "snmpgetnext", "md5auth", []),
           ("sha_des_getbulk", "snmpbulkget", "shades", [])]
    for user, label in (("md5auth", "md5"), ("shaauth", "sha"), ("md5des", "md5_des"),
                        ("shades", "sha_des")):
        out += [("%s_%s" % (label, tool[4:]), tool, user, [])
                for tool in ("snmpget", "snmpset", "snmptrap", "snmpinform")]
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
    special = {"noSuchObject": 128, "noSuchInstance": 129, "endOfMibView": 130, "unSpecified": 5}
    if val.getName() in special:
        return special[val.getName()], "-"
    inner = val.getComponent()
    while isinstance(inner, univ.Choice):
        inner = inner.getComponent()
    tag = inner.tagSet[0]
    tagnum = tag[2] | (0x40 if tag[0] == 0x40 else 0)
    if isinstance(inner, univ.OctetString):
        return tagnum, inner.asOctets().hex() or "-"
    if isinstance(inner, univ.Null):
        return tagnum, "-"
    return tagnum, str(inner) if isinstance(inner, univ.ObjectIdentifier) else str(int(inner))


def password_to_key(password, h):
    """RFC 3414 A.2.1 with any hash: the password repeated over 1 MiB."""
    pw = password if isinstance(password, bytes) else password.encode()
    expanded = (pw * (1048576 // len(pw) + 1))[:1048576]
    return h(expanded).digest()


def localize(ku, engine, h):
    return h(ku + engine + ku).digest()


def privacy_key(priv, password, engine, h):
    """The privacy key localised with the auth hash and extended as the cipher
    needs: Blumenthal appends H(key so far), Reeder appends the previous block
    put through password-to-key and localisation again; an extended key is
    cut to the cipher's key length."""
    length, extension = CIPHERS[priv]
    key = localize(password_to_key(password, h), engine, h)
    if len(key) >= length:
        return key  # recorded whole; the cipher uses its first octets
    block = key
    while len(key) < length:
        if extension == "blumenthal":
            block = h(key).digest()
        else:
            block = localize(password_to_key(block, h), engine, h)
        key += block
    return key[:length]


def analyse(data, user):
    """Checks the datagram and returns the fields to record."""
    auth, apass, priv, ppass = USERS[user]
    msg, rest = decoder.decode(data, asn1Spec=rfc3412.SNMPv3Message())
    hdr = msg["msgGlobalData"]
    sec, rest2 = decoder.decode(bytes(msg["msgSecurityParameters"]), asn1Spec=UsmSecurityParameters())
    assert not rest and not rest2
    engine = bytes(sec["msgAuthoritativeEngineId"])
    authparams = bytes(sec["msgAuthenticationParameters"])
    privparams = bytes(sec["msgPrivacyParameters"])
    f = {"msg-id": int(hdr["msgID"]), "msg-max-size": int(hdr["msgMaxSize"]),
         "msg-flags": bytes(hdr["msgFlags"])[0], "sec-engine-id": engine.hex() or "-",
         "sec-boots": int(sec["msgAuthoritativeEngineBoots"]),
         "sec-time": int(sec["msgAuthoritativeEngineTime"]),
         "sec-user": bytes(sec["msgUserName"]).decode(),
         "auth-params": authparams.hex() or "-", "priv-params": privparams.hex() or "-"}
    if auth != "none":
        h, maclen = HASHES[auth]
        key = localize(password_to_key(apass, h), engine, h)
        f["auth-key"] = key.hex()
        # The digest covers the whole message with its own octets zeroed.
        pos = data.find(authparams)
        assert len(authparams) == maclen and pos > 0 and data.find(authparams, pos + 1) < 0
        zeroed = data[:pos] + bytes(maclen) + data[pos + maclen:]
        assert hmac.new(key, zeroed, h).digest()[:maclen] == authparams, "digest check failed"
    if priv == "none":
        spdu = msg["msgData"]["plaintext"]
    else:
        pkey = privacy_key(priv, ppass, engine, HASHES[auth][0])
        f["priv-key"] = pkey.hex()
        cipher = bytes(msg["msgData"]["encryptedPDU"])
        if priv == "DES":
            iv = bytes(a ^ b for a, b in zip(pkey[8:16], privparams))
            plain = DES.new(pkey[:8], DES.MODE_CBC, iv).decrypt(cipher)
        else:
            # RFC 3826: IV = boots | time | salt, CFB with 128-bit segments.
            iv = f["sec-boots"].to_bytes(4, "big") + f["sec-time"].to_bytes(4, "big") + privparams
            aes = AES.new(pkey[:CIPHERS[priv][0]], AES.MODE_CFB, iv=iv, segment_size=128)
            plain = aes.decrypt(cipher)
        f["plaintext"] = plain.hex()
        spdu, _ = decoder.decode(plain, asn1Spec=rfc3412.ScopedPDU())
    f["context-engine-id"] = bytes(spdu["contextEngineId"]).hex() or "-"
    f["context-name"] = bytes(spdu["contextName"]).decode() or "-"
    pdu = spdu["data"].getComponent()
    f["pdu"] = pdu.tagSet[0][2] | 0xA0
    fields = ["non-repeaters", "max-repetitions"] if f["pdu"] == 0xA5 else ["error-status", "error-index"]
    for key in ["request-id"] + fields:
        f[key] = int(pdu[key])
    f["vbs"] = ["%s %d %s" % ((vb[0],) + value_text(vb[1])) for vb in pdu["variable-bindings"]]
    return f


def tool_args(tool, user, extra):
    return ["-v3", "-r", "0", "-t", "1", "-u", user] + level_args(user) + extra + \
        ["-e", "0x" + ENGINE_ID, "-Z", "%d,%d" % (BOOTS, TIME), REQUEST_VBS[tool]]


def case_block(name, tool, user, cmdline, data):
    """The case's lines: what the tool was given, then the checked fields."""
    auth, apass, priv, ppass = USERS[user]
    f = analyse(data, user)
    lines = ["name " + name, "tool " + tool, "command " + cmdline, "user " + user,
             "auth " + auth, "auth-pass " + (apass or "-"), "priv " + priv,
             "priv-pass " + (ppass or "-"), "engine-id " + ENGINE_ID, "boots %d" % BOOTS,
             "time %d" % TIME]
    # The fields in the order analyse() found them.
    lines += ["%s %s" % (key, value) for key, value in f.items() if key != "vbs"]
    return "\n".join(lines + ["vb " + vb for vb in f["vbs"]] + ["hex " + data.hex()]) + "\n"


def write_cases(case_list, path):
    workdir = tempfile.mkdtemp(prefix="zk-capture-")
    # Keep net-snmp away from the user's and the system's configuration and
    # from /var/lib/snmp: its persistent state goes to a scratch directory.
    env = dict(os.environ, SNMPCONFPATH=workdir, SNMP_PERSISTENT_DIR=workdir, HOME=workdir)
    blocks = ["# SNMPv3 datagrams sent by net-snmp tools; written by capture.py, see README.md\n"]
    try:
        for name, tool, user, extra in case_list:
            data, cmdline = capture(tool, tool_args(tool, user, extra), env)
            blocks.append(case_block(name, tool, user, cmdline, data))
            print("captured %s (%d bytes)" % (name, len(data)), file=sys.stderr)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    with open(path, "w") as out:
        out.write("\n".join(blocks))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    which = sys.argv[1:] or ["old", "new"]
    if "old" in which:
        write_cases(old_case_list(), os.path.join(here, "cases.txt"))
    if "new" in which:
        write_cases(new_case_list(), os.path.join(here, "sha2_aes_cases.txt"))


if __name__ == "__main__":
    main()
