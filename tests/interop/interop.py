#!/usr/bin/python3
"""Interop tests of zksnmp (and so of libZorKalSnmp) against real peers on
loopback: net-snmp's snmpd, snmptrapd and tools, and pysnmp. The cells come from
cells.txt; README.md says what each runner does.

  interop.py --list                 the cell names, one a line
  interop.py --zksnmp PATH CELL     runs one cell: exit 0 pass, 1 fail, 77 skip
"""

import contextlib
import json
import os
import re
import select
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import peers  # noqa: E402
from peers import (AGENT_ENGINE_ID, COMMUNITY_RO, COMMUNITY_RW, USERS,  # noqa: E402
                   NetSnmpAgent, NetSnmpTrapReceiver, PeerMissing, netsnmp_security_args, run_netsnmp)

SKIP = 77

# Cell suffix -> (version, user): v1, v2c, and v3_ with the protocols of one of
# peers.USERS without dashes (v3_SHA_DES, v3_SHA224_AES256C), or v3_noAuthNoPriv.
SECURITIES = {"v1": ("1", None), "v2c": ("2c", None)}
SECURITIES.update(("v3_" + ("_".join(p.replace("-", "") for p in (a, x) if p) or "noAuthNoPriv"),
                   ("3", name)) for name, (a, _, x, _) in USERS.items())

# The engine id our SNMPv3 traps are sent from (we are their authoritative
# engine); snmptrapd is told the users' keys for it.
SENDER_ENGINE_ID = "80001f8880aabbccdd00112299"
OUR_AGENT_ENGINE_ID = "80001f8880aabbccdd00334455"
TABLE_ROWS = 12

ZKSNMP = None
# True while a cell of a runner ending in 6 runs: every peer and server sits on ::1.
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


def zk_ok(args):
    """The output of a zksnmp run that must succeed."""
    rc, out, err = run_zksnmp(args)
    check(rc == 0, "zksnmp %s failed (%d): %s" % (" ".join(args), rc, err.strip()))
    return out


def netsnmp_ok(tool, args, env):
    """The output of a net-snmp tool's run that must succeed."""
    rc, out, err = run_netsnmp(tool, args, env)
    check(rc == 0, "%s failed (%d): %s %s" % (tool, rc, out, err.strip()))
    return out


def zk_json(args):
    return [normalise_json(b) for b in json.loads(zk_ok(args + ["--json"]))]


# ---- Normal form of bindings: (oid, tag, value text) ---------------------------------------------

TYPE_TAGS = {"INTEGER": 2, "STRING": 4, "Hex-STRING": 4, "NULL": 5, "OID": 6, "IpAddress": 64,
             "Counter32": 65, "Gauge32": 66, "Unsigned32": 66, "Timeticks": 67, "Opaque": 68,
             "Counter64": 70}


def normalise_json(b):
    tag = b["tag"]
    value = b["hex"] if tag in (4, 68, 3) else "" if tag in (5, 128, 129, 130) else str(b["value"])
    return (b["oid"], 66 if tag == 71 else tag, value)


def parse_netsnmp(out):
    """Bindings from net-snmp's -On -Ox output (hex strings may wrap)."""
    entries = []
    for line in out.splitlines():
        if line.startswith("."):
            entries.append(line)
        elif entries and line.strip() not in ("", "End of MIB"):  # SNMPv1 walks end with the latter
            entries[-1] += " " + line.strip()
    result = []
    for e in entries:
        oid, _, rest = e.partition(" = ")
        rest = rest.strip()
        if rest.startswith(("No more variables", "No Such")):
            continue
        word, _, value = ("STRING", "", '""') if rest == '""' else rest.partition(": ")
        check(word in TYPE_TAGS, "unexpected net-snmp output line: %s" % e)
        tag = TYPE_TAGS[word]
        value = value.strip()
        if word == "STRING":
            value = value.strip('"').encode().hex()
        elif tag in (4, 68):
            value = value.replace(" ", "").lower().replace("hex:", "", 1)
        elif tag == 67:
            value = re.match(r"\((\d+)\)", value).group(1)
        elif tag == 2:
            value = re.sub(r".*\((-?\d+)\)$", r"\1", value)  # up(1) -> 1
        result.append((oid, tag, value))
    return result


def netsnmp_json_like(tool, args, env):
    return parse_netsnmp(netsnmp_ok(tool, ["-On", "-Ox"] + args, env))


def compare(ours, theirs, what, ignore=lambda b: False):
    check(len(ours) > 0, "%s: no bindings" % what)
    a, b = ([x[:2] if ignore(x) else x for x in side] for side in (ours, theirs))
    for i, (x, y) in enumerate(zip(a, b)):
        check(x == y, "%s: binding %d differs: zksnmp %s, net-snmp %s" % (what, i, x, y))
    check(len(a) == len(b), "%s: zksnmp gave %d bindings, net-snmp %d" % (what, len(a), len(b)))


def compare_walks(sec, addr, env, root, tool="snmpwalk", zk_options=(), ignore=lambda b: False):
    """zksnmp's walk (with `zk_options`) and net-snmp's `tool` over `root`,
    compared binding for binding; returns both."""
    ours = zk_json(["walk"] + list(zk_options) + sec_args(sec) + [addr, root])
    theirs = netsnmp_json_like(tool, sec_args(sec) + [addr, root], env)
    compare(ours, theirs, "%s of %s" % (tool, root), ignore)
    return ours, theirs


def user_spec(name, auth, apass, priv, ppass):
    """A user as zksnmp's --user option takes it: NAME[:AUTH:PASS[:PRIV:PASS]]."""
    return ":".join([name] + ([auth, apass] if auth else []) + ([priv, ppass] if priv else []))


# ---- Our processes -------------------------------------------------------------------------------

class ZkServer:
    """`zksnmp agent` or `zksnmp listen` on a free port; the port is read from
    the first line it prints."""

    def __init__(self, command, extra):
        self.command, self.extra, self.proc, self.port = command, extra, None, None

    def __enter__(self):
        users = sum((["--rw-user" if self.command == "agent" else "--user", user_spec(name, *user)]
                     for name, user in USERS.items()), [])
        listen = "[::1]:0" if IPV6 else "127.0.0.1:0"
        args = [ZKSNMP, self.command, "--listen", listen, "--community", COMMUNITY_RO] + users
        if self.command == "agent":
            args += ["--rw-community", COMMUNITY_RW, "--engine-id", OUR_AGENT_ENGINE_ID,
                     "--rows", str(TABLE_ROWS)]
        else:
            args += ["--json"]
        self.proc = subprocess.Popen(args + self.extra, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline()
        m = re.search(r"\[::1\]:(\d+)" if IPV6 else r"127\.0\.0\.1:(\d+)", first)
        if not m:
            self.__exit__()
            raise Failure("zksnmp %s did not start: %s %s" % (self.command, first, self.proc.stderr.read()))
        self.port = int(m.group(1))
        return self

    def __exit__(self, *exc):
        peers.stop_process(self.proc)

    @property
    def address(self):
        return ("[::1]:%d" if IPV6 else "127.0.0.1:%d") % self.port

    def read_json_line(self, timeout=10):
        """The next JSON line the listener prints."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            ready, _, _ = select.select([self.proc.stdout], [], [], 0.2)
            if ready:
                line = self.proc.stdout.readline()
                if line.strip():
                    return json.loads(line)
        raise Failure("the listener printed nothing within %d s" % timeout)


@contextlib.contextmanager
def client_env():
    """A scratch directory and net-snmp's environment for the tools run from it."""
    with tempfile.TemporaryDirectory(prefix="zk-client-", ignore_cleanup_errors=True) as workdir:
        yield workdir, peers.isolated_env(workdir)


# ---- zksnmp against net-snmp's snmpd -------------------------------------------------------------

# Operation -> (net-snmp's tool, options of both, names asked for).
AGENT_READS = {
    "get": ("snmpget", [], ["1.3.6.1.2.1.1.5.0", "1.3.6.1.6.3.10.2.1.1.0", "1.3.6.1.2.1.1.2.0"]),
    "getnext": ("snmpgetnext", [], ["1.3.6.1.2.1.1.4", "1.3.6.1.6.3.10.2.1", "1.3.6.1.2.1.1.9.1.3.3"]),
    "getbulk": ("snmpbulkget", ["-Cn1", "-Cr6"], ["1.3.6.1.2.1.1.4", "1.3.6.1.2.1.1.9.1.2"]),
}


def netsnmp_agent(op, sec):
    with NetSnmpAgent(ipv6=IPV6) as agent:
        env, addr = agent.env, agent.address
        ours_sec = sec_args(sec, write=(op == "set"))
        if op in AGENT_READS:
            tool, options, oids = AGENT_READS[op]
            ours = zk_json([op] + options + ours_sec + [addr] + oids)
            compare(ours, netsnmp_json_like(tool, options + sec_args(sec) + [addr] + oids, env), op)
            check(op != "get" or ours[1][2] == AGENT_ENGINE_ID,
                  "snmpEngineID %s, expected %s" % (ours[1][2], AGENT_ENGINE_ID))
        elif op == "set":
            text = "room %s" % sec
            zk_ok(["set"] + ours_sec + [addr, "1.3.6.1.2.1.1.6.0", "s", text])
            got = netsnmp_json_like("snmpget", sec_args(sec) + [addr, "1.3.6.1.2.1.1.6.0"], env)
            check(got == [(".1.3.6.1.2.1.1.6.0", 4, text.encode().hex())], "sysLocation reads %s" % got)
            rc, out, err = run_zksnmp(["set"] + ours_sec + [addr, "1.3.6.1.2.1.1.1.0", "s", "x"])
            expected = "noSuchName" if sec == "v1" else "notWritable"
            check(rc != 0 and expected in err, "set of sysDescr.0: rc %d, %s (expected %s)" % (rc, err.strip(), expected))
        elif op in ("walk", "bulkwalk"):
            ours, _ = compare_walks(sec, addr, env, ".1", "snmp" + op, ["--bulk"] if op == "bulkwalk" else [])
            check(len(ours) > 100, "only %d bindings in the walk" % len(ours))
            # A walk of an instance shows the instance, as net-snmp's does.
            compare_walks(sec, addr, env, "1.3.6.1.2.1.1.5.0", "snmp" + op)


# ---- The library session against snmpd: tables and key change ---------------------------------

TABLE_VIEW = ["view zkview included .1.3.6.1.2.1.2.2", "view zkview included .1.3.6.1.2.1.25.4.2"]


def zk_table(args):
    """Rows of `zksnmp table` over a table whose column 1 is its index: {index: {column: value text}}."""
    rows = {}
    for line in zk_ok(["table"] + args).splitlines():
        index, *cells = line.split(" ", 1)
        rows[index] = dict(re.findall(r"(\d+)=(\S+)", cells[0] if cells else ""))
        check(rows[index].get("1") == index[1:], "row %s: %s" % (index, rows[index]))
    return rows


def session_tables(op, sec):
    with NetSnmpAgent(extra=TABLE_VIEW) as agent:
        env, addr = agent.env, agent.address
        for bulk in ([], ["--bulk", "-Cr", "4"]):
            # ifTable: the walk matches net-snmp's binding for binding (counters by type only).
            _, theirs = compare_walks(sec, addr, env, "1.3.6.1.2.1.2.2", zk_options=bulk, ignore=volatile)
            rows = zk_table(bulk + sec_args(sec) + [addr, "1.3.6.1.2.1.2.2.1", "1", "3"])
            indexes = [b[0].rsplit(".", 1)[1] for b in theirs if b[0].startswith(".1.3.6.1.2.1.2.2.1.1.")]
            check(sorted(rows) == sorted("." + i for i in indexes), "ifTable rows %s, net-snmp %s" % (sorted(rows), indexes))
            check(all("3" in cells for cells in rows.values()), "ifTable rows without ifType: %s" % rows)
            # hrSWRunTable changes as processes come and go: every row is
            # consistent in itself and snmpd's own row is there.
            rows = zk_table(bulk + sec_args(sec) + [addr, "1.3.6.1.2.1.25.4.2.1", "1", "2"])
            check(len(rows) > 1, "only %d hrSWRunTable rows" % len(rows))
            check(any(c.get("2") == '"snmpd"' for c in rows.values()), "no snmpd row: %s" % rows)


def session_keychange(op, sec):
    """A user created on snmpd (cloned from shades by net-snmp's snmpusm: snmpd
    refuses KeyChange writes to users of its configuration file) has its
    passwords changed by `zksnmp usm passwd`: polls with the new ones work,
    polls with the old ones fail."""
    with NetSnmpAgent(extra=["rwuser kcuser priv -V zkview"]) as agent:
        env, addr = agent.env, agent.address
        rc, out, err = run_netsnmp("snmpusm", netsnmp_security_args("shauser") + [addr, "create", "kcuser", "shades"], env)
        check(rc == 0 and "created" in out, "snmpusm create: %s %s" % (out, err))

        def user(apass, ppass):
            return peers.v3_args("kcuser", "SHA", apass, "DES", ppass)

        def poll(args):
            return run_zksnmp(["get", "-r", "0", "-t", "2"] + args + [addr, "1.3.6.1.2.1.1.5.0"])[0] == 0

        check(poll(user("shaauthpass", "shadespass")), "kcuser does not answer before the change")
        # Another user (shauser) changes the authentication key through
        # usmUserAuthKeyChange, then kcuser its own privacy key through
        # usmUserOwnPrivKeyChange.
        rc, out, err = run_zksnmp(["usm"] + netsnmp_security_args("shauser") + [addr, "passwd", "-Ca", "shaauthpass", "kcnewauth1", "kcuser"])
        check(rc == 0 and "successfully changed" in out, "auth key change: %d %s" % (rc, err))
        check(poll(user("kcnewauth1", "shadespass")), "the new authentication password does not work")
        rc, out, err = run_zksnmp(["usm"] + user("kcnewauth1", "shadespass") + [addr, "passwd", "-Co", "-Cx", "shadespass", "kcnewpriv1"])
        check(rc == 0 and "successfully changed" in out, "own priv key change: %d %s" % (rc, err))
        check(poll(user("kcnewauth1", "kcnewpriv1")), "the new passwords do not work")
        check(not poll(user("shaauthpass", "shadespass")), "the old passwords still work")
        check(not poll(user("kcnewauth1", "shadespass")), "the old privacy password still works")
        netsnmp_ok("snmpget", user("kcnewauth1", "kcnewpriv1") + [addr, "1.3.6.1.2.1.1.5.0"], env)


# ---- Named output: zksnmp walk and snmpwalk, line for line, with the same modules ----------------

NAMED_TREES = {"system": ".1.3.6.1.2.1.1", "interfaces": ".1.3.6.1.2.1.2", "hrswrun": ".1.3.6.1.2.1.25.4"}
NAMED_MODULES = "SNMPv2-MIB:IF-MIB"
# hrSWRunStatus, by name or, without HOST-RESOURCES-MIB, under mib-2.
STATUS = r"::(hrSWRunStatus|mib-2\.25\.4\.2\.1\.6)\."


def netsnmp_names(op, sec):
    """zksnmp walk and snmpwalk in named output over one tree of snmpd (README.md);
    of clocks only the printed form counts, and snmpd's own hrSWRun row must be there."""
    mibs = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "zksnmp", "mibs")
    tree = NAMED_TREES[op]
    with NetSnmpAgent(extra=["view zkview included %s" % t for t in NAMED_TREES.values()]) as agent:
        options = ["-M", mibs, "-m", NAMED_MODULES] + sec_args(sec) + [agent.address, tree]
        rc, out, err = run_zksnmp(["walk"] + options)
        check(rc == 0 and not err, "zksnmp walk (%d): %s" % (rc, err.strip()))
        rc, theirs, err = run_netsnmp("snmpwalk", options, agent.env)
        check(rc == 0 and not err, "snmpwalk (%d): %s" % (rc, err.strip()))

    def entries(text):
        # name -> (type, value); a value may go on over further lines.
        result = {}
        for line in re.split(r"\n(?=.* = )", text.rstrip("\n")):
            name, _, rest = line.partition(" = ")
            word, _, value = rest.partition(": ")
            volatile = word in ("Counter32", "Counter64") or re.search(STATUS, name)
            # A clock read by two walks moves too: only its printed form must agree.
            result[name] = (word, None if volatile else
                            re.sub(r"\d", "9", value) if word == "Timeticks" else value)
        return result

    ours, theirs = entries(out), entries(theirs)
    check(len(theirs) > 5, "snmpwalk gave only %d bindings" % len(theirs))
    if op == "hrswrun":
        check(any(v == ('STRING', '"snmpd"') for v in ours.values()), "no snmpd row in zksnmp's walk")
        ours = {k: v for k, v in ours.items() if k in theirs}
        theirs = {k: v for k, v in theirs.items() if k in ours}
    for name in list(theirs) + [k for k in ours if k not in theirs]:
        check(ours.get(name) == theirs.get(name), "%s: zksnmp %s, snmpwalk %s" % (
            name, ours.get(name), theirs.get(name)))
    check(list(ours) == list(theirs), "the bindings come in another order")


# ---- net-snmp's tools against zksnmp agent -------------------------------------------------------

def volatile(b):
    # Clocks and traffic counters move between two walks.
    return b[1] in (65, 67) or b[0] == ".1.3.6.1.6.3.10.2.1.3.0"


def netsnmp_manager(op, sec):
    with client_env() as (workdir, env):
        with ZkServer("agent", []) as agent:
            addr = agent.address
            if op == "get":
                want = [(".1.3.6.1.2.1.1.5.0", 4, b"zksnmp".hex()),
                        (".1.3.6.1.4.1.99999.2.1.1.2.3", 4, b"row-3".hex()),
                        (".1.3.6.1.4.1.99999.2.1.1.6.3", 64, "10.0.0.3"),
                        (".1.3.6.1.4.1.99999.2.1.1.8.3", 70, str((3 << 32) + 3))][:3 if sec == "v1" else 4]
                got = netsnmp_json_like("snmpget", sec_args(sec) + [addr] + [w[0][1:] for w in want], env)
                check(got == want, "snmpget gave %s" % got)
                for oid, v2text in (("1.3.6.1.2.1.1.99.0", "No Such Object"), ("1.3.6.1.2.1.1.5.1", "No Such Instance")):
                    rc, out, err = run_netsnmp("snmpget", ["-On"] + sec_args(sec) + [addr, oid], env)
                    check(("noSuchName" in out + err) if sec == "v1" else (v2text in out),
                          "get of %s: %s %s" % (oid, out, err))
            elif op == "getnext":
                got = netsnmp_json_like("snmpgetnext", sec_args(sec) + [addr, "1.3.6.1.4.1.99999.2.1.1.1",
                                                                         "1.3.6.1.2.1.1.7.0"], env)
                check(got == [(".1.3.6.1.4.1.99999.2.1.1.1.1", 2, "1"), (".1.3.6.1.2.1.1.8.0", 67, "0")],
                      "snmpgetnext gave %s" % got)
                rc, out, err = run_netsnmp("snmpgetnext", ["-On"] + sec_args(sec) + [addr, "1.3.6.1.6.3.99"], env)
                check(("noSuchName" in out + err) if sec == "v1" else ("No more variables" in out),
                      "getnext past the end: %s %s" % (out, err))
            elif op in ("walk", "bulkwalk"):
                _, theirs = compare_walks(sec, addr, env, ".1", "snmp" + op,
                                          ["--bulk"] if op == "bulkwalk" else [], volatile)
                table = [b for b in theirs if b[0].startswith(".1.3.6.1.4.1.99999.2.1.1.")]
                columns = 8 if sec == "v1" else 9
                check(len(table) == TABLE_ROWS * columns, "%d table cells walked, expected %d" % (
                    len(table), TABLE_ROWS * columns))
            elif op == "set":
                w = sec_args(sec, write=True)
                netsnmp_ok("snmpset", ["-On"] + w + [addr, "1.3.6.1.2.1.1.4.0", "s", "ops@" + sec,
                                                     "1.3.6.1.2.1.1.6.0", "s", "rack 7"], env)
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
                # The option changed, the counter that must move and net-snmp's complaint. A wrong
                # password's Report goes out unauthenticated, so net-snmp can read it and names
                # the cause instead of "Authentication failed for".
                option, value, counter, text = {
                    "wrongpass": ("-A", "not-the-password", "1.3.6.1.6.3.15.1.1.5.0",
                                  "Authentication failure (incorrect password, community or key)"),
                    "unknownuser": ("-u", "nobody", "1.3.6.1.6.3.15.1.1.3.0", "Unknown user name")}[op]
                args = netsnmp_security_args(SECURITIES[sec][1])
                args[args.index(option) + 1] = value
                rc, out, err = run_netsnmp("snmpget", ["-r", "0", "-t", "2"] + args + [addr, "1.3.6.1.2.1.1.5.0"], env)
                check(rc != 0 and text in err, "snmpget rc %d: %s %s (expected %r)" % (rc, out, err, text))
                got = zk_json(["get"] + sec_args(sec) + [addr, counter])
                check(got[0][1] == 65 and int(got[0][2]) >= 1, "the counter %s reads %s" % (counter, got))
            elif op == "replay":
                with NetSnmpAgent() as snmpd:
                    # The file is the plain walk output a user would record;
                    # the hex form is what the replay is compared with.
                    recording = netsnmp_ok("snmpwalk", ["-On", "-v2c", "-c", COMMUNITY_RO, snmpd.address, ".1"],
                                           snmpd.env)
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


# ---- Notifications -------------------------------------------------------------------------------

def notification_operands(sec, addr, marker):
    """What a trap or inform carries: an SNMPv1 trap, or sysUpTime 4321 and linkUp."""
    if sec == "v1":
        return [addr, "1.3.6.1.4.1.99999", "127.0.0.1", "6", "17", "4321", "1.3.6.1.2.1.1.5.0", "s", marker]
    return [addr, "4321", "1.3.6.1.6.3.1.1.5.3", "1.3.6.1.2.1.1.5.0", "s", marker]


def binding(b, oid):
    return next((x for x in b["bindings"] if x["oid"] == oid), None)


def netsnmp_listen(op, sec):
    with client_env() as (workdir, env):
        with ZkServer("listen", []) as listener:
            addr = listener.address
            marker = "%s-%s" % (op, sec)
            if sec == "v1":
                netsnmp_ok("snmptrap", sec_args(sec) + notification_operands(sec, addr, marker), env)
                n = listener.read_json_line()
                check(n["pdu"] == "SNMPv1-Trap" and n["version"] == "1", "got %s" % n)
                check(n["enterprise"] == ".1.3.6.1.4.1.99999" and n["generic"] == 6 and n["specific"] == 17
                      and n["timestamp"] == 4321 and n["agent-addr"] == "127.0.0.1", "trap fields %s" % n)
            else:
                tool = "snmptrap" if op == "trap" else "snmpinform"
                netsnmp_ok(tool, ["-r", "1", "-t", "3"] + sec_args(sec) + notification_operands(
                    sec, addr, marker) + ["1.3.6.1.2.1.2.2.1.1.3", "i", "3"], env)
                n = listener.read_json_line()
                check(n["pdu"] == ("SNMPv2-Trap" if op == "trap" else "Inform"), "got %s" % n)
                for oid, value in ((".1.3.6.1.2.1.1.3.0", 4321), (".1.3.6.1.6.3.1.1.4.1.0", ".1.3.6.1.6.3.1.1.5.3"),
                                   (".1.3.6.1.2.1.2.2.1.1.3", 3)):
                    check(binding(n, oid)["value"] == value, "%s in %s" % (oid, n))
                user = SECURITIES[sec][1]
                check((n["user"], n["level"]) == (user, peers.user_level(user)) if user else
                      n["community"] == COMMUNITY_RO, "security of %s" % n)
            check(binding(n, ".1.3.6.1.2.1.1.5.0")["value"] == marker, "bindings of %s" % n)
            check(n["source"].startswith("[::1]:" if IPV6 else "127.0.0.1:"), "source of %s" % n)


def netsnmp_trapd(op, sec):
    with NetSnmpTrapReceiver(SENDER_ENGINE_ID, IPV6) as trapd:
        addr = trapd.address
        marker = "zk-%s-%s" % (op, sec)
        version, user = SECURITIES[sec]
        extra = ["-e", SENDER_ENGINE_ID] if op == "trap" and user else []
        options = [] if sec == "v1" else extra + ["-t", "3", "-r", "1"]
        zk_ok([op] + sec_args(sec) + options + notification_operands(sec, addr, marker))
        check(trapd.wait_for(marker), "snmptrapd did not log it: %s" % trapd.output())
        line = next(l for l in trapd.output().splitlines() if marker in l)
        check(("UDP/IPv6: [::1]" in line) == IPV6, "sender address in %s" % line)
        if sec == "v1":
            check("[TRAP, SNMP v1, community %s] enterprise .1.3.6.1.4.1.99999 generic 6 specific" % COMMUNITY_RO
                  in line and line.split(" specific ")[1].split()[0].strip(".") == "17", "v1 trap line: %s" % line)
        else:
            check(".1.3.6.1.2.1.1.3.0 = Timeticks: (4321)" in line, "sysUpTime.0 in %s" % line)
            check(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.3" in line, "snmpTrapOID.0 in %s" % line)
            security = "SNMP v3, user %s" % user if user else "SNMP v2c, community %s" % COMMUNITY_RO
            check("%s, %s" % ("TRAP2" if op == "trap" else "INFORM", security) in line, "security in %s" % line)


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
            # pysnmp's "Blumenthal" AES-192/256 extend the key by hashing,
            # its plain ones by re-localising (net-snmp's -C forms).
            auth_name = {"MD5": "HMACMD5", "SHA": "HMACSHA", "SHA-224": "HMAC128SHA224",
                         "SHA-256": "HMAC192SHA256", "SHA-384": "HMAC256SHA384", "SHA-512": "HMAC384SHA512"}
            priv_name = {None: "NoPriv", "DES": "DESPriv", "AES": "AesCfb128", "AES-192": "AesBlumenthalCfb192",
                         "AES-256": "AesBlumenthalCfb256", "AES-192-C": "AesCfb192", "AES-256-C": "AesCfb256"}
            auth_data = write_data = hlapi.UsmUserData(
                user, apass, ppass, authProtocol=getattr(hlapi, "usm%sAuthProtocol" % auth_name[auth]),
                privProtocol=getattr(hlapi, "usm%sProtocol" % priv_name[priv]))
        else:
            auth_data, write_data = hlapi.CommunityData(COMMUNITY_RO), hlapi.CommunityData(COMMUNITY_RW)
        engine = hlapi.SnmpEngine()
        target = hlapi.UdpTransportTarget(("127.0.0.1", agent.port), timeout=3, retries=1)

        def result(gen):
            err_ind, err_stat, err_idx, vbs = next(gen)
            check(err_ind is None and int(err_stat) == 0, "pysnmp: %s %s" % (err_ind, err_stat))
            return [(str(o), v) for o, v in vbs]

        def obj(oid, *value):
            return hlapi.ObjectType(hlapi.ObjectIdentity(oid), *value)

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
        bad = ["get -v 4 127.0.0.1 1.3.6.1", "get 127.0.0.1 1.3.x", "get 127.0.0.1:99999 1.3.6.1",
               "set 127.0.0.1 1.3.6.1.2.1.1.4.0 i notanumber", "set 127.0.0.1 1.3.6.1.2.1.1.4.0 s",
               "getbulk -v 1 127.0.0.1 1.3.6.1", "inform -v 1 127.0.0.1 0 1.3.6.1.6.3.1.1.5.1",
               "trap -v 1 127.0.0.1 1.3.6.1.4.1 127.0.0.1 7 0 0",
               "get -v 3 -u bob -l authPriv -a MD5 -A password1 127.0.0.1 1.3",
               "agent --user bob:SHA:short", "listen --bogus", "nosuchcommand"]
        for args in map(str.split, bad):
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
        # sets and traps; 44 bulk walks and informs. Over ::1, one row set
        # per version: 4 for v1, 6 each for v2c and v3.
        ipv6 = 0 if "IPv6 rows skipped" in out else 16
        check(len(rows) == 45 * 4 + 44 * 2 + ipv6 and all(" ok " in r for r in rows), "demo table:\n%s" % out)
        check(len([r for r in rows if "[::1]" in r]) == ipv6, "demo IPv6 rows:\n%s" % out)
        for pair in ("SHA-512/AES-256-C", "MD5/AES-192", "SHA-224 "):
            check(pair in out, "the demo table has no %s row:\n%s" % (pair, out))
        check(re.search(r"usmStatsUnknownEngineIDs\s+[1-9]", out), "no discovery counted:\n%s" % out)


# ---- Access control: our agent and snmpd configured alike, asked alike --------------------------

# Users: (auth, auth password, priv, priv password, read-write, lowest level); a view for some
# users and one community. The same principals in snmpd's words and in zksnmp agent options.
ACCESS_USERS = {
    "privuser": ("SHA", "privauthpass", "AES", "privprivpass", True, "priv"),
    "authuser": ("SHA", "authauthpass", None, None, True, "auth"),
    "rouser": ("SHA", "roauthpass", "AES", "roprivpass", False, "priv"),
    "viewuser": ("SHA", "viewauthpass", None, None, True, "auth"),
    "lowuser": ("SHA", "lowauthpass", "AES", "lowprivpass", True, "auth"),
}
ACCESS_VIEW = [".1.3.6.1.2.1.1.5", ".1.3.6.1.6.3.10.2.1.1"]  # sysName, snmpEngineID
VIEWED = {"viewuser", "viewed"}
LEVELS = {"noauth": "noAuthNoPriv", "auth": "authNoPriv", "priv": "authPriv"}


def access_netsnmp_conf():
    lines = ["view sysname included %s" % root for root in ACCESS_VIEW]
    lines += ["rocommunity %s 127.0.0.1" % COMMUNITY_RO, "rwcommunity viewed 127.0.0.1 -V sysname"]
    for name, (auth, apass, priv, ppass, rw, level) in ACCESS_USERS.items():
        lines.append("createUser %s %s %s" % (name, auth, apass) + (" %s %s" % (priv, ppass) if priv else ""))
        lines.append("%s %s %s" % ("rwuser" if rw else "rouser", name, level) +
                     (" -V sysname" if name in VIEWED else ""))
    return lines


def access_zksnmp_args():
    view = sum((["--view", root] for root in ACCESS_VIEW), [])
    args = ["--rw-community", "viewed"] + view
    for name, (auth, apass, priv, ppass, rw, level) in ACCESS_USERS.items():
        args += ["--rw-user" if rw else "--user", user_spec(name, auth, apass, priv, ppass)]
        if LEVELS[level] != ("authPriv" if priv else "authNoPriv"):
            args += ["--level", LEVELS[level]]
        if name in VIEWED:
            args += view
    return args


def access_sec(who, level=None, privpass=None):
    """net-snmp tool options: a community ("v1:public") or a user at a level."""
    if ":" in who:
        version, community = who.split(":")
        return netsnmp_security_args(None, version[1:], community)
    auth, apass, priv, ppass = ACCESS_USERS[who][:4]
    return peers.v3_args(who, auth, apass, "AES", privpass or ppass, level or ("authPriv" if priv else "authNoPriv"))


def outcome(rc, out, err):
    """What a tool run shows, without the values (the agents' data differ)."""
    lines = []
    for line in (out + err).splitlines():
        line = line.strip()
        if not line or line.startswith("Created directory"):  # net-snmp's first run in a workdir
            continue
        if line.startswith(".") and " = " in line:
            oid, _, rest = line.partition(" = ")
            word = rest.partition(":")[0] if not rest.startswith("No ") else rest
            lines.append("%s = %s" % (oid, word))
        else:
            lines.append(line.rstrip("."))
    return rc, lines


# Cell -> [(tool, security, operands, refused)]: each run must end alike against both agents,
# and be refused (an error, or an exception value for a binding) exactly when `refused` says,
# so that no case passes by both agents answering something else; a walk names the instances
# it must find instead.
SYSNAME, SYSDESCR, SYSCONTACT = "1.3.6.1.2.1.1.5.0", "1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.4.0"
ACCESS_CASES = {
    "below_level": [("snmpget", access_sec("privuser", "authNoPriv"), [SYSNAME], True),
                    ("snmpset", access_sec("privuser", "authNoPriv"), [SYSNAME, "s", "x"], True),
                    ("snmpgetnext", access_sec("authuser", "noAuthNoPriv"), [SYSNAME], True)],
    "unsupported_level": [("snmpget", access_sec("authuser", "authPriv", "authprivpass"), [SYSNAME], True)],
    "readonly_set": [("snmpset", access_sec("rouser"), [SYSNAME, "s", "x"], True),
                     ("snmpset", access_sec("v2c:public"), [SYSNAME, "s", "x"], True),
                     ("snmpset", access_sec("v1:public"), [SYSNAME, "s", "x"], True)],
    "view_get": [("snmpget", access_sec(who), [SYSNAME, SYSDESCR], True)
                 for who in ("v1:viewed", "v2c:viewed", "viewuser")],
    "view_walk": [("snmpwalk", access_sec(who), [".1"], [".1.3.6.1.2.1.1.5.0", ".1.3.6.1.6.3.10.2.1.1.0"])
                  for who in ("v1:viewed", "v2c:viewed", "viewuser")] +
                 [("snmpgetnext", access_sec(who), [".1.3.6.1.6.3.10.2.1.1.0"], True)
                  for who in ("v1:viewed", "v2c:viewed", "viewuser")],
    "view_set": [("snmpset", access_sec(who), [oid, "s", "x"], oid == SYSCONTACT)
                 for who in ("v1:viewed", "v2c:viewed", "viewuser") for oid in (SYSCONTACT, SYSNAME)],
    "allowed": [("snmpget", access_sec("privuser"), [SYSNAME], False),
                ("snmpget", access_sec("authuser"), [SYSNAME], False),
                ("snmpget", access_sec("lowuser", "authNoPriv"), [SYSNAME], False),
                ("snmpset", access_sec("lowuser", "authNoPriv"), [SYSNAME, "s", "x"], False),
                ("snmpset", access_sec("lowuser"), [SYSNAME, "s", "x"], False)],
}


def netsnmp_access(op, sec):
    with client_env() as (workdir, env):
        with NetSnmpAgent(access_netsnmp_conf()) as theirs, \
                ZkServer("agent", access_zksnmp_args()) as ours:
            for tool, security, operands, refused in ACCESS_CASES[op]:
                what = "%s %s %s" % (tool, " ".join(security), " ".join(operands))
                results = []
                for agent in (theirs, ours):
                    args = ["-On", "-t", "1", "-r", "1"] + security + [agent.address] + operands
                    results.append(outcome(*run_netsnmp(tool, args, env)))
                check(results[0] == results[1], "%s: snmpd %s, zksnmp agent %s" % (what, results[0], results[1]))
                rc, lines = results[0]
                if isinstance(refused, list):
                    found = [l.partition(" = ")[0] for l in lines if " = " in l and " = No " not in l]
                    check(rc == 0 and found == refused, "%s: found %s" % (what, lines))
                    continue
                failed = rc != 0 or any(word in l for l in lines
                                        for word in ("Error", "No Such", "No more variables"))
                check(failed == refused, "%s: %s where %s was expected: %s" % (
                    what, "refused" if failed else "answered", "refusal" if refused else "an answer", lines))


# ---- The matrix ----------------------------------------------------------------------------------

RUNNERS = {"netsnmp_agent": netsnmp_agent, "netsnmp_manager": netsnmp_manager,
           "netsnmp_listen": netsnmp_listen, "netsnmp_trapd": netsnmp_trapd,
           "pysnmp_manager": pysnmp_manager, "zksnmp": zksnmp_alone,
           "netsnmp_access": netsnmp_access, "netsnmp_names": netsnmp_names,
           # The library's session layer against snmpd: walks and tables, or a key change.
           "netsnmp_session": lambda op, sec: (session_tables if op == "tables" else session_keychange)(op, sec)}
# These runners' exchanges run over ::1 too, as the runner of the same name ending in 6.
IPV6_RUNNERS = ("netsnmp_agent", "netsnmp_manager", "netsnmp_listen", "netsnmp_trapd")
CELLS_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cells.txt")


def cells():
    """Cell name -> (runner, over ::1, operation, security or None), from cells.txt."""
    out, sets = {}, {}
    with open(CELLS_FILE) as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue

            def fail(why):
                raise SystemExit("cells.txt:%d: %s: %r" % (number, why, line))
            secs = []
            for w in words[2:]:
                if w in sets:
                    secs += sets[w]
                elif w.startswith("-") and w[1:] in secs:
                    secs.remove(w[1:])
                elif w in SECURITIES or w == "-":
                    secs.append(w)
                else:
                    fail("unknown security or set %s" % w)
            if words[1:2] == ["="]:
                sets[words[0]] = secs
                continue
            runner = words[0]
            over_ipv6 = runner.endswith("6") and runner[:-1] in IPV6_RUNNERS
            if not secs or (runner not in RUNNERS and not over_ipv6):
                fail("expected RUNNER OPERATION,... SECURITY...")
            for op in words[1].split(","):
                for sec in secs:
                    name = "_".join([runner, op] + ([sec] if sec != "-" else []))
                    if name in out:
                        fail("%s twice" % name)
                    out[name] = (runner[:-1] if over_ipv6 else runner, over_ipv6, op,
                                 None if sec == "-" else sec)
    return out


def main(argv):
    global ZKSNMP, IPV6
    matrix = cells()
    if argv[1:] == ["--list"]:
        print("\n".join(sorted(matrix)))
        return 0
    if len(argv) != 4 or argv[1] != "--zksnmp":
        print(__doc__, file=sys.stderr)
        return 2
    ZKSNMP, cell = argv[2], argv[3]
    if cell not in matrix:
        print("unknown cell %s" % cell, file=sys.stderr)
        return 2
    runner, IPV6, op, sec = matrix[cell]
    try:
        if IPV6:  # every peer and server of the cell sits on ::1
            peers.require_ipv6_loopback()
        RUNNERS[runner](op, sec)
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
