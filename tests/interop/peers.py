"""Starting and stopping net-snmp peers (snmpd, snmptrapd) for interop tests.

Each peer runs in the foreground on 127.0.0.1 (or ::1) on a free high port with a
configuration written to a scratch directory: net-snmp is kept away from the
system's and the user's configuration (-C, SNMPCONFPATH) and from /var/lib/snmp
(SNMP_PERSISTENT_DIR), so tests never touch the machine's set-up and can run in
parallel. Use the classes as context managers; leaving the block stops the
process by its pid and removes the directory.
"""

import os
import shutil
import socket
import subprocess
import tempfile
import time

COMMUNITY_RO = "public"
COMMUNITY_RW = "private"
AGENT_ENGINE_ID = "80001f8880aabbccdd00445566"
TRAPD_ENGINE_ID = "80001f8880aabbccdd00778899"


def _user(auth, priv=None):
    """A user of USERS: its protocols in lower case without dashes and its passwords
    (md5user, shades, sha224aes256c; shaauthpass, shadespass)."""
    a = auth.lower().replace("-", "")
    name = a + (priv.lower().replace("-", "") if priv else "user")
    return name, (auth, a + "authpass", priv, name + "pass" if priv else None)


# name -> (auth protocol, auth password, priv protocol, priv password); the same users
# serve both directions of the tests. SHA-2 and AES go under net-snmp's names; the pairs
# include hashes shorter than the AES key (MD5, SHA, SHA-224 with AES-192/256), where both
# key extensions are at work, and longer ones, where none is.
USERS = dict([("noauthuser", (None, None, None, None))] + [_user(*p) for p in (
    ("MD5",), ("SHA",), ("MD5", "DES"), ("SHA", "DES"), ("SHA-224",), ("SHA-256",), ("SHA-384",),
    ("SHA-512",), ("SHA", "AES"), ("SHA-256", "AES"), ("MD5", "AES-192"), ("SHA", "AES-256"),
    ("SHA-256", "AES-256"), ("SHA-512", "AES-256"), ("MD5", "AES-192-C"), ("SHA", "AES-256-C"),
    ("SHA-224", "AES-256-C"), ("SHA-384", "AES-192-C"))])

# The part of snmpd's tree that the walk comparisons use: objects whose
# values do not change while two managers walk them one after the other
# (no clocks, no traffic counters, no process or socket tables).
STABLE_VIEW = [("included", ".1.3.6.1.2.1.1"), ("excluded", ".1.3.6.1.2.1.1.3"),
               ("included", ".1.3.6.1.6.3"), ("excluded", ".1.3.6.1.6.3.10.2.1.3"),
               ("excluded", ".1.3.6.1.6.3.15.1.1"), ("excluded", ".1.3.6.1.6.3.11.2.1")]


class PeerMissing(Exception):
    """A peer program is not installed; tests skip on it."""


def find_program(name):
    for d in os.environ.get("PATH", "").split(os.pathsep) + ["/usr/sbin", "/usr/bin"]:
        path = os.path.join(d, name)
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    raise PeerMissing("%s not found (install Debian's snmp / snmpd / snmptrapd packages)" % name)


def free_udp_port(ipv6=False):
    """A UDP port on 127.0.0.1 (or ::1) that nothing is bound to at the moment."""
    with socket.socket(socket.AF_INET6 if ipv6 else socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("::1" if ipv6 else "127.0.0.1", 0))
        return s.getsockname()[1]


def require_ipv6_loopback():
    """Raises PeerMissing (the cell skips) where ::1 cannot be bound."""
    try:
        free_udp_port(ipv6=True)
    except OSError as e:
        raise PeerMissing("IPv6 is not available on loopback (::1): %s" % e)


def stop_process(proc):
    """SIGTERM, and SIGKILL when the process has not ended 15 s later."""
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def isolated_env(workdir):
    """Environment for net-snmp programs: no system or user configuration,
    persistent state in `workdir`, no MIB files loaded (numeric OIDs)."""
    env = dict(os.environ)
    env.update(SNMPCONFPATH=workdir, SNMP_PERSISTENT_DIR=workdir, HOME=workdir, MIBS="",
               MIBDIRS=workdir)
    return env


def user_level(name):
    auth, _, priv, _ = USERS[name]
    return "noAuthNoPriv" if auth is None else "authNoPriv" if priv is None else "authPriv"


def access_line(keyword, name, *rest):
    """A user's access line in net-snmp's configuration: `keyword` user noauth|auth|priv ..."""
    word = {"noAuthNoPriv": "noauth", "authNoPriv": "auth", "authPriv": "priv"}[user_level(name)]
    return " ".join((keyword, name, word) + rest)


def v3_args(name, auth, apass, priv, ppass, level=None):
    """Options of net-snmp's tools for an SNMPv3 user at `level`, by default the
    highest its protocols allow."""
    level = level or ("noAuthNoPriv" if auth is None else "authNoPriv" if priv is None else "authPriv")
    args = ["-v", "3", "-u", name, "-l", level]
    if level != "noAuthNoPriv":
        args += ["-a", auth, "-A", apass]
    if level == "authPriv":
        args += ["-x", priv, "-X", ppass]
    return args


def netsnmp_security_args(name, version="3", community=COMMUNITY_RO):
    """Command-line options of net-snmp's tools for a version and user."""
    if version in ("1", "2c"):
        return ["-v", version, "-c", community]
    return v3_args(name, *USERS[name])


def create_user_line(name, engine_id=None):
    auth, apass, priv, ppass = USERS[name]
    words = ["createUser"] + (["-e", "0x" + engine_id] if engine_id else []) + [name]
    return " ".join(words + ([auth, apass] if auth else []) + ([priv, ppass] if priv else []))


class _Peer:
    program = None

    def __init__(self, ipv6=False):
        if ipv6:
            require_ipv6_loopback()
        self.host = "::1" if ipv6 else "127.0.0.1"
        self.workdir = tempfile.mkdtemp(prefix="zk-%s-" % self.program)
        self.env = isolated_env(self.workdir)
        self.port = free_udp_port(ipv6)
        self.proc = None

    def _start_with(self, lines, extra_args=()):
        """Writes `lines` as the configuration file and starts the program on it
        in the foreground (-C: no system configuration; -Lf: log to our file)."""
        conf = os.path.join(self.workdir, self.program + ".conf")
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        args = ["-f", "-C", "-c", conf, "-Lf", os.path.join(self.workdir, "log"),
                "-p", os.path.join(self.workdir, "pid")] + list(extra_args)
        with open(os.path.join(self.workdir, "stdout"), "w") as out:
            self.proc = subprocess.Popen([find_program(self.program)] + args, stdout=out,
                                         stderr=subprocess.STDOUT, env=self.env, cwd=self.workdir)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("%s exited at start-up: %s" % (self.program, self.output()))
            if "NET-SNMP version" in self.output():
                return
            time.sleep(0.05)
        raise RuntimeError("%s did not start: %s" % (self.program, self.output()))

    def output(self):
        text = ""
        for name in ("stdout", "log"):
            path = os.path.join(self.workdir, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text += f.read()
        return text

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        stop_process(self.proc)
        shutil.rmtree(self.workdir, ignore_errors=True)

    @property
    def address(self):
        """The address as net-snmp's tools and configuration take it: udp6:[::1]:PORT for IPv6."""
        return ("udp6:[%s]:%d" if ":" in self.host else "%s:%d") % (self.host, self.port)


class NetSnmpAgent(_Peer):
    """net-snmp's snmpd with read-only and read-write communities and the USERS
    (each read-write over STABLE_VIEW), or with `access`: configuration lines
    of views, communities and users in their place."""
    program = "snmpd"

    def __init__(self, access=None, extra=(), ipv6=False):
        super().__init__(ipv6)
        self.access = access
        self.extra = list(extra)  # further snmpd.conf lines

    def start(self):
        six = "6" if ":" in self.host else ""
        lines = ["agentAddress %s" % self.address,
                 "exactEngineID 0x%s" % AGENT_ENGINE_ID]
        if self.access is not None:
            self._start_with(lines + self.access)
            return
        lines += ["view zkview %s %s" % entry for entry in STABLE_VIEW]
        lines += ["rocommunity%s %s %s -V zkview" % (six, COMMUNITY_RO, self.host),
                  "rwcommunity%s %s %s -V zkview" % (six, COMMUNITY_RW, self.host)]
        for name in USERS:
            lines += [create_user_line(name), access_line("rwuser", name, "-V zkview")]
        self._start_with(lines + self.extra)


class NetSnmpTrapReceiver(_Peer):
    """net-snmp's snmptrapd logging every notification it accepts (numeric
    OIDs) to its log file. `sender_engine_id` is the engine id our traps carry
    (the trap sender is authoritative); informs use snmptrapd's own engine."""
    program = "snmptrapd"

    def __init__(self, sender_engine_id, ipv6=False):
        super().__init__(ipv6)
        self.sender_engine_id = sender_engine_id

    def start(self):
        lines = ["snmpTrapdAddr %s" % self.address,
                 "authCommunity log %s" % COMMUNITY_RO,
                 "oldEngineID 0x%s" % TRAPD_ENGINE_ID]
        for name in USERS:
            lines += [create_user_line(name, self.sender_engine_id), create_user_line(name),
                      access_line("authUser log", name)]
        self._start_with(lines, ["-On", "-n", "-F", "NOTIFICATION from %b security [%P] enterprise %N "
                                 "generic %w specific %q bindings %V| %v\\n"])

    def wait_for(self, text, timeout=15):
        """True once `text` appears in the log."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if text in self.output():
                return True
            time.sleep(0.1)
        return False


def run_netsnmp(tool, args, env, timeout=60):
    """Runs one of net-snmp's command-line tools; returns (rc, stdout, stderr)."""
    exe = find_program(tool)
    p = subprocess.run([exe] + args, capture_output=True, text=True, env=env, timeout=timeout)
    return p.returncode, p.stdout, p.stderr
