#!/usr/bin/python3
"""Interop tests of zksnmp (and so of libZorKalSnmp) against real peers:
net-snmp's snmpd, snmptrapd and command-line tools, and pysnmp.

Every cell of the matrix is one test, named peer_direction_operation_version
[_security], e.g. netsnmp_agent_get_v3_SHA_DES:
  netsnmp_agent_*    zksnmp as manager against net-snmp's snmpd
  netsnmp_manager_*  net-snmp's tools as managers against `zksnmp agent`
  netsnmp_listen_*   net-snmp's snmptrap/snmpinform to `zksnmp listen`
  netsnmp_trapd_*    zksnmp trap/inform to net-snmp's snmptrapd
  pysnmp_manager_*   pysnmp as manager against `zksnmp agent`
  zksnmp_*           the tool on its own: time-outs, bad input, the demo
A cell ending in _ipv6 runs the same exchange over ::1 (net-snmp's
udp6:[::1]:PORT, our [::1]:PORT) and checks that it went over IPv6; it skips
where ::1 is missing.

  interop.py --list                 the cell names, one a line
  interop.py --zksnmp PATH CELL     runs one cell: exit 0 pass, 1 fail, 77 skip

Peers run on 127.0.0.1 (or ::1) on free high ports with scratch configuration and are
stopped when the cell ends.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peers  # noqa: E402
from peers import (AGENT_ENGINE_ID, COMMUNITY_RO, COMMUNITY_RW, USERS,  # noqa: E402
                   NetSnmpAgent, NetSnmpTrapReceiver, PeerMissing, netsnmp_security_args,
                   run_netsnmp)

SKIP = 77

# Cell suffix -> (version, user); the users are those of peers.USERS.
SECURITIES = {
    "v1": ("1", None),
    "v2c": ("2c", None),
    "v3_noAuthNoPriv": ("3", "noauthuser"),
    "v3_MD5": ("3", "md5user"),
    "v3_SHA": ("3", "shauser"),
    "v3_MD5_DES": ("3", "md5des"),
    "v3_SHA_DES": ("3", "shades"),
}
V2_AND_V3 = [s for s in SECURITIES if s != "v1"]
V3 = [s for s in SECURITIES if s.startswith("v3")]

# SHA-2 authentication and AES privacy: every new protocol, with and without a
# key extension, in a smaller set of cells per pair (see cells()).
MODERN = {
    "v3_SHA224": ("3", "sha224user"),
    "v3_SHA256": ("3", "sha256user"),
    "v3_SHA384": ("3", "sha384user"),
    "v3_SHA512": ("3", "sha512user"),
    "v3_SHA_AES": ("3", "shaaes"),
    "v3_SHA256_AES": ("3", "sha256aes"),
    "v3_MD5_AES192": ("3", "md5aes192"),
    "v3_SHA_AES256": ("3", "shaaes256"),
    "v3_SHA256_AES256": ("3", "sha256aes256"),
    "v3_SHA512_AES256": ("3", "sha512aes256"),
    "v3_MD5_AES192C": ("3", "md5aes192c"),
    "v3_SHA_AES256C": ("3", "shaaes256c"),
    "v3_SHA224_AES256C": ("3", "sha224aes256c"),
    "v3_SHA384_AES192C": ("3", "sha384aes192c"),
}
SECURITIES.update(MODERN)

# The engine id our SNMPv3 traps are sent from (we are their authoritative
# engine); snmptrapd is told the users' keys for it.
SENDER_ENGINE_ID = "80001f8880aabbccdd00112299"
OUR_AGENT_ENGINE_ID = "80001f8880aabbccdd00334455"
TABLE_ROWS = 12

ZKSNMP = None
# True while an _ipv6 cell runs: every peer and server sits on ::1.
IPV6 = False


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def sec_args(sec, write=False):
    version, user = SECURITIES[sec]
    return netsnmp_security_args(user, version, COMMUNITY_RW if write else COMMUNITY_RO)


def run_zksnmp(args, timeout=60):
    p = subprocess.run([ZKSNMP] + args, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def zk_json(args):
    rc, out, err = run_zksnmp(args + ["--json"])
    check(rc == 0, "zksnmp %s failed (%d): %s" % (" ".join(args), rc, err.strip()))
    return [normalise_json(b) for b in json.loads(out)]


# ---- Normal form of bindings: (oid, tag, value text) ---------------------------------------------

TYPE_TAGS = {"INTEGER": 2, "STRING": 4, "Hex-STRING": 4, "NULL": 5, "OID": 6, "IpAddress": 64,
             "Counter32": 65, "Gauge32": 66, "Unsigned32": 66, "Timeticks": 67, "Opaque": 68,
             "Counter64": 70}


def normalise_json(b):
    tag = b["tag"]
    if tag in (4, 68, 3):
        value = b["hex"]
    elif tag in (5, 128, 129, 130):
        value = ""
    else:
        value = str(b["value"])
    return (b["oid"], 66 if tag == 71 else tag, value)


def parse_netsnmp(out):
    """Bindings from net-snmp's -On -Ox output (hex strings may wrap)."""
    entries = []
    for line in out.splitlines():
        if line.startswith("."):
            entries.append(line)
        elif line.strip() == "End of MIB":
            # SNMPv1 walks end with this line of their own.
            continue
        elif entries and line.strip():
            entries[-1] += " " + line.strip()
    result = []
    for e in entries:
        oid, _, rest = e.partition(" = ")
        rest = rest.strip()
        if rest.startswith("No more variables") or rest.startswith("No Such"):
            continue
        if rest == '""':
            result.append((oid, 4, ""))
            continue
        word, _, value = rest.partition(": ")
        check(word in TYPE_TAGS, "unexpected net-snmp output line: %s" % e)
        tag = TYPE_TAGS[word]
        value = value.strip()
        if tag in (4, 68):
            if word == "STRING":
                value = value.strip('"').encode().hex()
            else:
                value = value.replace(" ", "").lower()
                if value.startswith("hex:"):
                    value = value[4:]
        elif tag == 67:
            value = re.match(r"\((\d+)\)", value).group(1)
        elif tag == 2:
            m = re.search(r"\((-?\d+)\)", value)
            value = m.group(1) if m else value
        result.append((oid, tag, value))
    return result


def netsnmp_json_like(tool, args, env):
    rc, out, err = run_netsnmp(tool, ["-On", "-Ox"] + args, env)
    check(rc == 0, "%s failed (%d): %s" % (tool, rc, err.strip()))
    return parse_netsnmp(out)


def compare(ours, theirs, what, ignore=lambda b: False):
    check(len(ours) > 0, "%s: no bindings" % what)
    a = [b if not ignore(b) else b[:2] for b in ours]
    b = [x if not ignore(x) else x[:2] for x in theirs]
    if a != b:
        for i, (x, y) in enumerate(zip(a, b)):
            if x != y:
                raise Failure("%s: binding %d differs: zksnmp %s, net-snmp %s" % (what, i, x, y))
        raise Failure("%s: zksnmp gave %d bindings, net-snmp %d" % (what, len(a), len(b)))


# ---- Our processes -------------------------------------------------------------------------------

class ZkServer:
    """`zksnmp agent` or `zksnmp listen` on a free port; the port is read from
    the first line it prints."""

    def __init__(self, command, extra):
        self.command = command
        self.extra = extra
        self.proc = None
        self.port = None
        self.lines = []

    def __enter__(self):
        users = []
        for name, (auth, apass, priv, ppass) in USERS.items():
            spec = name
            if auth:
                spec += ":%s:%s" % (auth, apass)
                if priv:
                    spec += ":%s:%s" % (priv, ppass)
            users += ["--user", spec]
        listen = "[::1]:0" if IPV6 else "127.0.0.1:0"
        args = [ZKSNMP, self.command, "--listen", listen, "--community", COMMUNITY_RO] + users
        if self.command == "agent":
            args += ["--rw-community", COMMUNITY_RW, "--engine-id", OUR_AGENT_ENGINE_ID,
                     "--rows", str(TABLE_ROWS)]
        else:
            args += ["--json"]
        self.proc = subprocess.Popen(args + self.extra, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
        first = self.proc.stdout.readline()
        m = re.search(r"\[::1\]:(\d+)" if IPV6 else r"127\.0\.0\.1:(\d+)", first)
        if not m:
            self.__exit__()
            raise Failure("zksnmp %s did not start: %s %s" % (self.command, first,
                                                               self.proc.stderr.read()))
        self.port = int(m.group(1))
        return self

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    @property
    def address(self):
        return ("[::1]:%d" if IPV6 else "127.0.0.1:%d") % self.port

    def read_json_line(self, timeout=10):
        """The next JSON line the listener prints."""
        import select
        deadline = time.time() + timeout
        while time.time() < deadline:
            ready, _, _ = select.select([self.proc.stdout], [], [], 0.2)
            if ready:
                line = self.proc.stdout.readline()
                if line.strip():
                    return json.loads(line)
        raise Failure("the listener printed nothing within %d s" % timeout)


def client_env():
    workdir = tempfile.mkdtemp(prefix="zk-client-")
    return workdir, peers.isolated_env(workdir)


# ---- zksnmp against net-snmp's snmpd -------------------------------------------------------------

def netsnmp_agent(op, sec):
    with NetSnmpAgent(IPV6) as agent:
        env = agent.env
        addr = agent.address
        ours_sec = sec_args(sec, write=(op == "set"))
        if op == "get":
            oids = ["1.3.6.1.2.1.1.5.0", "1.3.6.1.6.3.10.2.1.1.0", "1.3.6.1.2.1.1.2.0"]
            ours = zk_json(["get"] + ours_sec + [addr] + oids)
            theirs = netsnmp_json_like("snmpget", sec_args(sec) + [addr] + oids, env)
            compare(ours, theirs, "get")
            check(ours[1][2] == AGENT_ENGINE_ID, "snmpEngineID %s, expected %s" % (ours[1][2], AGENT_ENGINE_ID))
        elif op == "getnext":
            oids = ["1.3.6.1.2.1.1.4", "1.3.6.1.6.3.10.2.1", "1.3.6.1.2.1.1.9.1.3.3"]
            compare(zk_json(["getnext"] + ours_sec + [addr] + oids),
                    netsnmp_json_like("snmpgetnext", sec_args(sec) + [addr] + oids, env), "getnext")
        elif op == "getbulk":
            oids = ["1.3.6.1.2.1.1.4", "1.3.6.1.2.1.1.9.1.2"]
            compare(zk_json(["getbulk", "-Cn1", "-Cr6"] + ours_sec + [addr] + oids),
                    netsnmp_json_like("snmpbulkget", ["-Cn1", "-Cr6"] + sec_args(sec) + [addr] + oids, env),
                    "getbulk")
        elif op == "set":
            text = "room %s" % sec
            rc, out, err = run_zksnmp(["set"] + ours_sec + [addr, "1.3.6.1.2.1.1.6.0", "s", text])
            check(rc == 0, "set failed (%d): %s" % (rc, err.strip()))
            got = netsnmp_json_like("snmpget", sec_args(sec) + [addr, "1.3.6.1.2.1.1.6.0"], env)
            check(got == [(".1.3.6.1.2.1.1.6.0", 4, text.encode().hex())], "sysLocation reads %s" % got)
            rc, out, err = run_zksnmp(["set"] + ours_sec + [addr, "1.3.6.1.2.1.1.1.0", "s", "x"])
            expected = "noSuchName" if sec == "v1" else "notWritable"
            check(rc != 0 and expected in err, "set of sysDescr.0: rc %d, %s (expected %s)" % (rc, err.strip(), expected))
        elif op in ("walk", "bulkwalk"):
            ours = zk_json(["walk"] + (["--bulk"] if op == "bulkwalk" else []) + ours_sec + [addr, ".1"])
            tool = "snmpbulkwalk" if op == "bulkwalk" else "snmpwalk"
            theirs = netsnmp_json_like(tool, sec_args(sec) + [addr, ".1"], env)
            compare(ours, theirs, op)
            check(len(ours) > 100, "only %d bindings in the walk" % len(ours))
            # A walk of an instance shows the instance, as net-snmp's does.
            instance = "1.3.6.1.2.1.1.5.0"
            compare(zk_json(["walk"] + ours_sec + [addr, instance]),
                    netsnmp_json_like(tool, sec_args(sec) + [addr, instance], env), op + " of an instance")
        if IPV6:
            check("Connection from UDP/IPv6: [::1]" in agent.output(), "snmpd saw no IPv6 request:\n%s" %
                  agent.output())


# ---- net-snmp's tools against zksnmp agent -------------------------------------------------------

def volatile(b):
    # Clocks and traffic counters move between two walks.
    return b[1] in (65, 67) or b[0] == ".1.3.6.1.6.3.10.2.1.3.0"


def netsnmp_manager(op, sec):
    workdir, env = client_env()
    try:
        with ZkServer("agent", []) as agent:
            addr = agent.address
            if op == "get":
                oids = ["1.3.6.1.2.1.1.5.0", "1.3.6.1.4.1.99999.2.1.1.2.3", "1.3.6.1.4.1.99999.2.1.1.6.3"]
                if sec != "v1":
                    oids.append("1.3.6.1.4.1.99999.2.1.1.8.3")
                got = netsnmp_json_like("snmpget", sec_args(sec) + [addr] + oids, env)
                want = [(".1.3.6.1.2.1.1.5.0", 4, b"zksnmp".hex()),
                        (".1.3.6.1.4.1.99999.2.1.1.2.3", 4, b"row-3".hex()),
                        (".1.3.6.1.4.1.99999.2.1.1.6.3", 64, "10.0.0.3")]
                if sec != "v1":
                    want.append((".1.3.6.1.4.1.99999.2.1.1.8.3", 70, str((3 << 32) + 3)))
                check(got == want, "snmpget gave %s" % got)
                rc, out, err = run_netsnmp("snmpget", ["-On"] + sec_args(sec) + [addr, "1.3.6.1.2.1.1.99.0"], env)
                if sec == "v1":
                    check("noSuchName" in out + err, "v1 get of a missing object: %s %s" % (out, err))
                else:
                    check("No Such Object" in out, "get of a missing object: %s %s" % (out, err))
                rc, out, err = run_netsnmp("snmpget", ["-On"] + sec_args(sec) + [addr, "1.3.6.1.2.1.1.5.1"], env)
                if sec != "v1":
                    check("No Such Instance" in out, "get of a missing instance: %s %s" % (out, err))
            elif op == "getnext":
                got = netsnmp_json_like("snmpgetnext", sec_args(sec) + [addr, "1.3.6.1.4.1.99999.2.1.1.1",
                                                                         "1.3.6.1.2.1.1.7.0"], env)
                check(got == [(".1.3.6.1.4.1.99999.2.1.1.1.1", 2, "1"), (".1.3.6.1.2.1.1.8.0", 67, "0")],
                      "snmpgetnext gave %s" % got)
                rc, out, err = run_netsnmp("snmpgetnext", ["-On"] + sec_args(sec) + [addr, "1.3.6.1.6.3.99"], env)
                check(("noSuchName" in out + err) if sec == "v1" else ("No more variables" in out),
                      "getnext past the end: %s %s" % (out, err))
            elif op in ("walk", "bulkwalk"):
                tool = "snmpbulkwalk" if op == "bulkwalk" else "snmpwalk"
                theirs = netsnmp_json_like(tool, sec_args(sec) + [addr, ".1"], env)
                ours = zk_json(["walk"] + (["--bulk"] if op == "bulkwalk" else []) + sec_args(sec) + [addr, ".1"])
                compare(ours, theirs, op, ignore=volatile)
                table = [b for b in theirs if b[0].startswith(".1.3.6.1.4.1.99999.2.1.1.")]
                columns = 8 if sec == "v1" else 9
                check(len(table) == TABLE_ROWS * columns, "%d table cells walked, expected %d" % (
                    len(table), TABLE_ROWS * columns))
            elif op == "set":
                w = sec_args(sec, write=True)
                rc, out, err = run_netsnmp("snmpset", ["-On"] + w + [addr, "1.3.6.1.2.1.1.4.0", "s", "ops@" + sec,
                                                                     "1.3.6.1.2.1.1.6.0", "s", "rack 7"], env)
                check(rc == 0, "snmpset failed: %s %s" % (out, err))
                got = netsnmp_json_like("snmpget", sec_args(sec) + [addr, "1.3.6.1.2.1.1.4.0", "1.3.6.1.2.1.1.6.0"], env)
                check(got == [(".1.3.6.1.2.1.1.4.0", 4, ("ops@" + sec).encode().hex()),
                              (".1.3.6.1.2.1.1.6.0", 4, b"rack 7".hex())], "read back %s" % got)
                for oid, typ, value, v2err in (("1.3.6.1.2.1.1.1.0", "s", "x", "notWritable"),
                                               ("1.3.6.1.2.1.1.5.0", "i", "5", "wrongType")):
                    rc, out, err = run_netsnmp("snmpset", w + [addr, oid, typ, value], env)
                    want = "noSuchName" if sec == "v1" and v2err == "notWritable" else \
                        "badValue" if sec == "v1" else v2err
                    check(rc != 0 and want in out + err, "snmpset %s %s: rc %d %s %s (expected %s)" % (
                        oid, typ, rc, out, err, want))
                if sec in ("v1", "v2c"):
                    rc, out, err = run_netsnmp("snmpset", sec_args(sec) + [addr, "1.3.6.1.2.1.1.4.0", "s", "x"], env)
                    check(rc != 0, "a read-only community could set: %s" % out)
            elif op == "bigbulk":
                # A GetBulk asking for far more than fits: the answer is cut to the
                # message size, not refused, and a bulk walk still gets everything.
                with ZkServer("agent", ["--rows", "300"]) as big:
                    got = netsnmp_json_like("snmpbulkget", ["-Cr1000"] + sec_args(sec) + [
                        big.address, "1.3.6.1.4.1.99999.2.1.1.2"], env)
                    want = [(".1.3.6.1.4.1.99999.2.1.1.2.%d" % r, 4, ("row-%d" % r).encode().hex())
                            for r in range(1, len(got) + 1)]
                    check(20 < len(got) < 300 and got == want, "snmpbulkget -Cr1000 gave %d bindings: %s" % (
                        len(got), got[:3]))
                    walked = zk_json(["walk", "--bulk", "-Cr", "500"] + sec_args(sec) + [
                        big.address, "1.3.6.1.4.1.99999.2.1.1"])
                    check(len(walked) == 300 * 9, "bulk walk of the big table: %d bindings" % len(walked))
            elif op in ("wrongpass", "unknownuser"):
                version, user = SECURITIES[sec]
                args = netsnmp_security_args(user)
                if op == "wrongpass":
                    args[args.index("-A") + 1] = "not-the-password"
                    # The Report goes out unauthenticated, so net-snmp can read it
                    # and names the cause instead of "Authentication failed for".
                    counter = "1.3.6.1.6.3.15.1.1.5.0"
                    text = "Authentication failure (incorrect password, community or key)"
                else:
                    args[args.index("-u") + 1] = "nobody"
                    counter, text = "1.3.6.1.6.3.15.1.1.3.0", "Unknown user name"
                rc, out, err = run_netsnmp("snmpget", ["-r", "0", "-t", "2"] + args + [addr, "1.3.6.1.2.1.1.5.0"], env)
                check(rc != 0 and text in err, "snmpget rc %d: %s %s (expected %r)" % (rc, out, err, text))
                got = zk_json(["get"] + sec_args(sec) + [addr, counter])
                check(got[0][1] == 65 and int(got[0][2]) >= 1, "the counter %s reads %s" % (counter, got))
            elif op == "replay":
                with NetSnmpAgent(IPV6) as snmpd:
                    # The file is the plain walk output a user would record;
                    # the hex form is what the replay is compared with.
                    rc, recording, err = run_netsnmp("snmpwalk", ["-On", "-v2c", "-c", COMMUNITY_RO,
                                                                  snmpd.address, ".1"], snmpd.env)
                    check(rc == 0, "recording walk failed: %s" % err)
                    recorded = netsnmp_json_like("snmpwalk", ["-v2c", "-c", COMMUNITY_RO, snmpd.address, ".1"],
                                                 snmpd.env)
                dump = os.path.join(workdir, "recorded.txt")
                with open(dump, "w") as f:
                    f.write(recording)
                with ZkServer("agent", ["--mib", dump]) as replay:
                    theirs = netsnmp_json_like("snmpwalk", sec_args(sec) + [replay.address, ".1"], env)
                    served = {b[0]: b for b in theirs}
                    for b in recorded:
                        check(served.get(b[0]) == b, "replayed %s as %s" % (b, served.get(b[0])))
                    check(len(recorded) > 100, "only %d recorded bindings" % len(recorded))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


# ---- Notifications -------------------------------------------------------------------------------

def binding(b, oid):
    return next((x for x in b["bindings"] if x["oid"] == oid), None)


def netsnmp_listen(op, sec):
    workdir, env = client_env()
    try:
        with ZkServer("listen", []) as listener:
            addr = listener.address
            marker = "%s-%s" % (op, sec)
            if sec == "v1":
                args = sec_args(sec) + [addr, "1.3.6.1.4.1.99999", "127.0.0.1", "6", "17", "4321",
                                        "1.3.6.1.2.1.1.5.0", "s", marker]
                rc, out, err = run_netsnmp("snmptrap", args, env)
                check(rc == 0, "snmptrap failed: %s" % err)
                n = listener.read_json_line()
                check(n["pdu"] == "SNMPv1-Trap" and n["version"] == "1", "got %s" % n)
                check(n["enterprise"] == ".1.3.6.1.4.1.99999" and n["generic"] == 6 and n["specific"] == 17
                      and n["timestamp"] == 4321 and n["agent-addr"] == "127.0.0.1", "trap fields %s" % n)
            else:
                tool = "snmptrap" if op == "trap" else "snmpinform"
                args = ["-r", "1", "-t", "3"] + sec_args(sec) + [addr, "4321", "1.3.6.1.6.3.1.1.5.3",
                                                                 "1.3.6.1.2.1.1.5.0", "s", marker,
                                                                 "1.3.6.1.2.1.2.2.1.1.3", "i", "3"]
                rc, out, err = run_netsnmp(tool, args, env)
                check(rc == 0, "%s failed (the inform unanswered?): %s %s" % (tool, out, err))
                n = listener.read_json_line()
                check(n["pdu"] == ("SNMPv2-Trap" if op == "trap" else "Inform"), "got %s" % n)
                check(binding(n, ".1.3.6.1.2.1.1.3.0")["value"] == 4321, "sysUpTime.0 in %s" % n)
                check(binding(n, ".1.3.6.1.6.3.1.1.4.1.0")["value"] == ".1.3.6.1.6.3.1.1.5.3",
                      "snmpTrapOID.0 in %s" % n)
                check(binding(n, ".1.3.6.1.2.1.2.2.1.1.3")["value"] == 3, "ifIndex.3 in %s" % n)
                version, user = SECURITIES[sec]
                if user:
                    check(n["user"] == user and n["level"] == peers.user_level(user), "security of %s" % n)
                else:
                    check(n["community"] == COMMUNITY_RO, "community of %s" % n)
            check(binding(n, ".1.3.6.1.2.1.1.5.0")["value"] == marker, "bindings of %s" % n)
            check(n["source"].startswith("[::1]:" if IPV6 else "127.0.0.1:"), "source of %s" % n)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def netsnmp_trapd(op, sec):
    with NetSnmpTrapReceiver(SENDER_ENGINE_ID, IPV6) as trapd:
        addr = trapd.address
        marker = "zk-%s-%s" % (op, sec)
        version, user = SECURITIES[sec]
        extra = ["-e", SENDER_ENGINE_ID] if op == "trap" and user else []
        if sec == "v1":
            args = ["trap"] + sec_args(sec) + [addr, "1.3.6.1.4.1.99999", "127.0.0.1", "6", "17", "4321",
                                                "1.3.6.1.2.1.1.5.0", "s", marker]
        else:
            args = [op] + sec_args(sec) + extra + ["-t", "3", "-r", "1", addr, "4321", "1.3.6.1.6.3.1.1.5.3",
                                                   "1.3.6.1.2.1.1.5.0", "s", marker]
        rc, out, err = run_zksnmp(args)
        check(rc == 0, "zksnmp %s failed (%d): %s" % (op, rc, err.strip()))
        check(trapd.wait_for(marker), "snmptrapd did not log it: %s" % trapd.output())
        line = next(l for l in trapd.output().splitlines() if marker in l)
        check(("UDP/IPv6: [::1]" in line) == IPV6, "sender address in %s" % line)
        if sec == "v1":
            check("[TRAP, SNMP v1, community %s] enterprise .1.3.6.1.4.1.99999 generic 6 specific" % COMMUNITY_RO
                  in line and line.split(" specific ")[1].split()[0].strip(".") == "17", "v1 trap line: %s" % line)
        else:
            check(".1.3.6.1.2.1.1.3.0 = Timeticks: (4321)" in line, "sysUpTime.0 in %s" % line)
            check(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.3" in line, "snmpTrapOID.0 in %s" % line)
            kind = "TRAP2" if op == "trap" else "INFORM"
            if user:
                check("%s, SNMP v3, user %s" % (kind, user) in line, "security in %s" % line)
            else:
                check("%s, SNMP v2c, community %s" % (kind, COMMUNITY_RO) in line, "security in %s" % line)


# ---- pysnmp against zksnmp agent -----------------------------------------------------------------

def pysnmp_manager(op, sec):
    try:
        from pysnmp import hlapi
    except ImportError:
        raise PeerMissing("pysnmp is not installed (Debian package python3-pysnmp4)")
    with ZkServer("agent", []) as agent:
        version, user = SECURITIES[sec]
        if user:
            auth, apass, priv, ppass = USERS[user]
            auth_data = hlapi.UsmUserData(
                user, apass, ppass,
                authProtocol={"MD5": hlapi.usmHMACMD5AuthProtocol, "SHA": hlapi.usmHMACSHAAuthProtocol,
                              "SHA-224": hlapi.usmHMAC128SHA224AuthProtocol,
                              "SHA-256": hlapi.usmHMAC192SHA256AuthProtocol,
                              "SHA-384": hlapi.usmHMAC256SHA384AuthProtocol,
                              "SHA-512": hlapi.usmHMAC384SHA512AuthProtocol}[auth],
                # pysnmp's "Blumenthal" AES-192/256 extend the key by hashing,
                # its plain ones by re-localising (net-snmp's -C forms).
                privProtocol={None: hlapi.usmNoPrivProtocol, "DES": hlapi.usmDESPrivProtocol,
                              "AES": hlapi.usmAesCfb128Protocol,
                              "AES-192": hlapi.usmAesBlumenthalCfb192Protocol,
                              "AES-256": hlapi.usmAesBlumenthalCfb256Protocol,
                              "AES-192-C": hlapi.usmAesCfb192Protocol,
                              "AES-256-C": hlapi.usmAesCfb256Protocol}[priv])
            write_data = auth_data
        else:
            auth_data = hlapi.CommunityData(COMMUNITY_RO)
            write_data = hlapi.CommunityData(COMMUNITY_RW)
        engine = hlapi.SnmpEngine()
        target = hlapi.UdpTransportTarget(("127.0.0.1", agent.port), timeout=3, retries=1)

        def result(gen):
            err_ind, err_stat, err_idx, vbs = next(gen)
            check(err_ind is None and int(err_stat) == 0, "pysnmp: %s %s" % (err_ind, err_stat))
            return [(str(o), v) for o, v in vbs]

        def obj(oid, value=None):
            return hlapi.ObjectType(hlapi.ObjectIdentity(oid), value) if value is not None else \
                hlapi.ObjectType(hlapi.ObjectIdentity(oid))

        if op == "get":
            got = result(hlapi.getCmd(engine, auth_data, target, hlapi.ContextData(),
                                      obj("1.3.6.1.2.1.1.5.0"), obj("1.3.6.1.4.1.99999.2.1.1.8.2"),
                                      obj("1.3.6.1.4.1.99999.2.1.1.9.2"), lookupMib=False))
            check(got[0] == ("1.3.6.1.2.1.1.5.0", hlapi.OctetString(b"zksnmp")), "got %s" % got)
            check(int(got[1][1]) == (2 << 32) + 2, "Counter64 %s" % (got[1],))
            check(bytes(got[2][1]) == bytes([0, 0xFF, 2, 0x80]), "binary string %s" % (got[2],))
        elif op == "walk":
            names = []
            for err_ind, err_stat, err_idx, vbs in hlapi.nextCmd(
                    engine, auth_data, target, hlapi.ContextData(), obj("1.3.6.1.4.1.99999.2.1.1"),
                    lexicographicMode=False, lookupMib=False):
                check(err_ind is None and int(err_stat) == 0, "pysnmp walk: %s %s" % (err_ind, err_stat))
                names += [str(o) for o, v in vbs]
            check(len(names) == TABLE_ROWS * 9, "pysnmp walked %d cells" % len(names))
            check(names == sorted(names, key=lambda s: [int(x) for x in s.split(".")]), "walk order")
        elif op == "set":
            result(hlapi.setCmd(engine, write_data, target, hlapi.ContextData(),
                                obj("1.3.6.1.2.1.1.5.0", hlapi.OctetString("set-by-pysnmp")), lookupMib=False))
            got = result(hlapi.getCmd(engine, auth_data, target, hlapi.ContextData(), obj("1.3.6.1.2.1.1.5.0"),
                                      lookupMib=False))
            check(bytes(got[0][1]) == b"set-by-pysnmp", "read back %s" % got)


# ---- The tool on its own -------------------------------------------------------------------------

def zksnmp_alone(op, sec):
    if op == "timeout":
        # A port that nothing answers on: the tool resends, then gives up.
        silent = peers.free_udp_port()
        start = time.time()
        rc, out, err = run_zksnmp(["get"] + sec_args(sec) + ["-t", "0.3", "-r", "2", "127.0.0.1:%d" % silent,
                                                             "1.3.6.1.2.1.1.1.0"])
        check(rc != 0 and err.strip() == "zksnmp get: Timeout: No Response from 127.0.0.1:%d" % silent,
              "rc %d, stderr %r" % (rc, err))
        check(time.time() - start >= 0.8, "gave up before three attempts of 0.3 s")
    elif op == "errors":
        bad = [["get", "-v", "4", "127.0.0.1", "1.3.6.1"],
               ["get", "127.0.0.1", "1.3.x"],
               ["get", "127.0.0.1:99999", "1.3.6.1"],
               ["set", "127.0.0.1", "1.3.6.1.2.1.1.4.0", "i", "notanumber"],
               ["set", "127.0.0.1", "1.3.6.1.2.1.1.4.0", "s"],
               ["getbulk", "-v", "1", "127.0.0.1", "1.3.6.1"],
               ["inform", "-v", "1", "127.0.0.1", "0", "1.3.6.1.6.3.1.1.5.1"],
               ["trap", "-v", "1", "127.0.0.1", "1.3.6.1.4.1", "127.0.0.1", "7", "0", "0"],
               ["get", "-v", "3", "-u", "bob", "-l", "authPriv", "-a", "MD5", "-A", "password1", "127.0.0.1", "1.3"],
               ["agent", "--user", "bob:SHA:short"],
               ["listen", "--bogus"],
               ["nosuchcommand"]]
        for args in bad:
            rc, out, err = run_zksnmp(args)
            lines = err.strip().splitlines()
            check(rc != 0 and len(lines) == 1 and lines[0].startswith("zksnmp"),
                  "%s: rc %d, stderr %r" % (" ".join(args), rc, err))
        for cmd in ("get", "getnext", "getbulk", "walk", "set", "trap", "inform", "listen", "agent", "demo"):
            rc, out, err = run_zksnmp([cmd, "--help"])
            check(rc == 0 and "usage: zksnmp %s" % cmd in out, "%s --help: rc %d %r" % (cmd, rc, out))
    elif op == "demo":
        rc, out, err = run_zksnmp([], timeout=120)
        check(rc == 0, "the demo failed (%d): %s %s" % (rc, out, err))
        rows = [l for l in out.splitlines() if re.match(r"^(get|walk|bulkwalk|set|trap|inform) ", l)]
        # v1, v2c, noAuthNoPriv and 6 x 7 protocol pairs: 45 gets, walks,
        # sets and traps; 44 bulk walks and informs.
        # Where ::1 works, one IPv6 pass per version: v1 (4 rows), v2c and v3 (6 each).
        ipv6_rows = 0 if "IPv6 rows skipped" in out else 16
        check(len(rows) == 45 * 4 + 44 * 2 + ipv6_rows and all(" ok " in r for r in rows),
              "demo table:\n%s" % out)
        check(ipv6_rows == 0 or "get        v3 authPriv SHA/AES [::1]" in out, "no IPv6 rows:\n%s" % out)
        for pair in ("SHA-512/AES-256-C", "MD5/AES-192", "SHA-224 "):
            check(pair in out, "the demo table has no %s row:\n%s" % (pair, out))
        check(re.search(r"usmStatsUnknownEngineIDs\s+[1-9]", out), "no discovery counted:\n%s" % out)


# ---- The matrix ----------------------------------------------------------------------------------

def cells():
    out = {}
    classic = [sec for sec in SECURITIES if sec not in MODERN]
    for sec in classic:
        for op in ("get", "getnext", "set", "walk"):
            out["netsnmp_agent_%s_%s" % (op, sec)] = (netsnmp_agent, op, sec)
            out["netsnmp_manager_%s_%s" % (op, sec)] = (netsnmp_manager, op, sec)
        out["netsnmp_listen_trap_%s" % sec] = (netsnmp_listen, "trap", sec)
        out["netsnmp_trapd_trap_%s" % sec] = (netsnmp_trapd, "trap", sec)
    for sec in MODERN:
        # Both directions of requests and of notifications.
        for op in ("get", "set"):
            out["netsnmp_agent_%s_%s" % (op, sec)] = (netsnmp_agent, op, sec)
            out["netsnmp_manager_%s_%s" % (op, sec)] = (netsnmp_manager, op, sec)
        out["netsnmp_listen_inform_%s" % sec] = (netsnmp_listen, "inform", sec)
        out["netsnmp_trapd_trap_%s" % sec] = (netsnmp_trapd, "trap", sec)
        out["pysnmp_manager_get_%s" % sec] = (pysnmp_manager, "get", sec)
    for sec in ("v3_SHA256", "v3_SHA_AES256", "v3_MD5_AES192C"):
        out["netsnmp_manager_wrongpass_%s" % sec] = (netsnmp_manager, "wrongpass", sec)
    for sec in ("v3_SHA512_AES256", "v3_SHA224_AES256C"):
        out["netsnmp_agent_bulkwalk_%s" % sec] = (netsnmp_agent, "bulkwalk", sec)
        out["netsnmp_listen_trap_%s" % sec] = (netsnmp_listen, "trap", sec)
        out["netsnmp_trapd_inform_%s" % sec] = (netsnmp_trapd, "inform", sec)
    out["netsnmp_manager_bigbulk_v3_SHA512_AES256"] = (netsnmp_manager, "bigbulk", "v3_SHA512_AES256")
    out["pysnmp_manager_walk_v3_SHA512_AES256"] = (pysnmp_manager, "walk", "v3_SHA512_AES256")
    out["pysnmp_manager_set_v3_SHA256_AES"] = (pysnmp_manager, "set", "v3_SHA256_AES")
    for sec in V2_AND_V3:
        out["netsnmp_agent_getbulk_%s" % sec] = (netsnmp_agent, "getbulk", sec)
        out["netsnmp_agent_bulkwalk_%s" % sec] = (netsnmp_agent, "bulkwalk", sec)
        out["netsnmp_manager_bulkwalk_%s" % sec] = (netsnmp_manager, "bulkwalk", sec)
        out["netsnmp_listen_inform_%s" % sec] = (netsnmp_listen, "inform", sec)
        out["netsnmp_trapd_inform_%s" % sec] = (netsnmp_trapd, "inform", sec)
    for sec in ("v3_MD5", "v3_SHA", "v3_SHA_DES"):
        out["netsnmp_manager_wrongpass_%s" % sec] = (netsnmp_manager, "wrongpass", sec)
    out["netsnmp_manager_unknownuser_v3_SHA"] = (netsnmp_manager, "unknownuser", "v3_SHA")
    out["netsnmp_manager_replay_v2c"] = (netsnmp_manager, "replay", "v2c")
    for sec in ("v2c", "v3_SHA_DES"):
        out["netsnmp_manager_bigbulk_%s" % sec] = (netsnmp_manager, "bigbulk", sec)
    for sec in ("v2c", "v3_SHA_DES"):
        for op in ("get", "walk", "set"):
            out["pysnmp_manager_%s_%s" % (op, sec)] = (pysnmp_manager, op, sec)
    out["zksnmp_manager_timeout_v2c"] = (zksnmp_alone, "timeout", "v2c")
    out["zksnmp_manager_timeout_v3_SHA_DES"] = (zksnmp_alone, "timeout", "v3_SHA_DES")
    out["zksnmp_cli_errors"] = (zksnmp_alone, "errors", "v2c")
    out["zksnmp_demo"] = (zksnmp_alone, "demo", "v2c")
    # The same exchanges over ::1.
    for sec in ("v2c", "v3_SHA_AES"):
        for op in ("get", "bulkwalk"):
            out["netsnmp_agent_%s_%s_ipv6" % (op, sec)] = (netsnmp_agent, op, sec)
            out["netsnmp_manager_%s_%s_ipv6" % (op, sec)] = (netsnmp_manager, op, sec)
    out["netsnmp_listen_trap_v2c_ipv6"] = (netsnmp_listen, "trap", "v2c")
    out["netsnmp_listen_inform_v3_SHA_AES_ipv6"] = (netsnmp_listen, "inform", "v3_SHA_AES")
    out["netsnmp_trapd_trap_v2c_ipv6"] = (netsnmp_trapd, "trap", "v2c")
    out["netsnmp_trapd_inform_v3_SHA_AES_ipv6"] = (netsnmp_trapd, "inform", "v3_SHA_AES")
    return out


def main(argv):
    global ZKSNMP
    if argv[1:] == ["--list"]:
        print("\n".join(sorted(cells())))
        return 0
    if len(argv) != 4 or argv[1] != "--zksnmp":
        print(__doc__, file=sys.stderr)
        return 2
    ZKSNMP = argv[2]
    cell = argv[3]
    table = cells()
    if cell not in table:
        print("unknown cell %s" % cell, file=sys.stderr)
        return 2
    func, op, sec = table[cell]
    global IPV6
    IPV6 = cell.endswith("_ipv6")
    try:
        if IPV6:
            peers.require_ipv6_loopback()
        func(op, sec)
    except PeerMissing as e:
        print("SKIP %s: %s" % (cell, e))
        return SKIP
    except Failure as e:
        print("FAIL %s: %s" % (cell, e))
        return 1
    print("PASS %s" % cell)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
