"""Harness shared by the tests, the demo and the benchmark: a private system-like
bus, stand-in peers, gpsd feeds and the daemon.

Every process is started in its own process group and ended by PID, with a
SIGKILL fallback, so that a failed test leaves nothing running.
"""
import ctypes
import json
import os
import pathlib
import pwd
import select
import signal
import socket
import subprocess
import tempfile
import threading
import time

import dbus
import dbus.lowlevel

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The build under test: ctest names it; the demo run by hand uses the default folder.
BUILD = pathlib.Path(os.environ.get("BUILD_DIR", ROOT / "build")).resolve()
HERE = pathlib.Path(__file__).resolve().parent
# A cross build's programs run under qemu-user through this script (run-target in the
# build tree), and every wait of the tests stretches by one factor.
EMULATOR = os.environ.get("XLOCD_EMULATOR")
ROOT_USER = os.geteuid() == 0
SCALE = float(os.environ.get("XLOCD_TIME_SCALE", "1"))


def command(program, *args, argv0=None):
    """The argv that runs a built program, natively or under qemu-user."""
    program, args = str(program), [str(a) for a in args]
    if EMULATOR:
        return [EMULATOR, argv0 or program, program, *args]
    if argv0:
        return ["bash", "-c", 'exec -a "$0" "$@"', argv0, program, *args]
    return [program, *args]


def wait_for(predicate, timeout=5.0, step=0.02, what="condition"):
    """Polls until predicate() is truthy; returns its value or fails."""
    deadline = time.monotonic() + timeout * SCALE
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(step)


# How long "nothing more arrives" is watched for, once the awaited thing has come: the
# daemon answers within milliseconds, so a late extra would show well within it.
QUIET = 0.5 * SCALE


def stays(predicate, what="condition", quiet=QUIET):
    """Checks that predicate() holds throughout the quiet period."""
    deadline = time.monotonic() + quiet
    while time.monotonic() < deadline:
        assert predicate(), f"{what} no longer holds"
        time.sleep(0.02)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def _die_with_parent():
    """Even a test run that crashes leaves no child behind."""
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Proc:
    """A child in its own process group."""

    def __init__(self, args, env=None, stdout=None, stderr=None, **kw):
        self.args = [str(a) for a in args]
        self.p = subprocess.Popen(self.args, env=env, stdout=stdout, stderr=stderr,
                                  start_new_session=True, preexec_fn=_die_with_parent, **kw)
        self.pid = self.p.pid

    def alive(self):
        return self.p.poll() is None

    def stop(self, sig=signal.SIGTERM, timeout=5.0):
        """Signals the PID, waits, then SIGKILLs the PID and its group. Returns the status."""
        if self.alive():
            try:
                os.kill(self.pid, sig)
                self.p.wait(timeout)
            except subprocess.TimeoutExpired:
                os.kill(self.pid, signal.SIGKILL)
                self.p.wait()
            except ProcessLookupError:
                pass
        try:
            os.killpg(self.pid, signal.SIGKILL)  # leftovers such as shell children
        except (ProcessLookupError, PermissionError):
            pass
        for stream in (self.p.stdout, self.p.stderr):
            if stream:
                stream.close()
        return self.p.returncode


class Bus:
    """A dbus-daemon with a system bus's default policy plus the project's policy."""

    def __init__(self, test_policy=HERE / "peers.conf", reply_timeout_ms=30000, parent=None,
                 limits=None):
        """test_policy None: the project's policy alone. reply_timeout_ms: after this the
        bus answers an unanswered call with NoReply itself. limits: more <limit>s."""
        # Mode 755 so an unprivileged prober can reach the socket.
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="xlocd-bus-", dir=parent))
        self.dir.chmod(0o755)
        conf = (HERE / "system-bus.conf.in").read_text()
        conf = conf.replace("@SOCKET@", str(self.dir / "system_bus_socket"))
        conf = conf.replace("@PROJECT_POLICY@", str(ROOT / "etc/dbus-1/system.d/zel.orb.xlocd.conf"))
        limits = {"reply_timeout": reply_timeout_ms, **(limits or {})}
        conf = conf.replace("@LIMITS@", "".join(f'<limit name="{name}">{value}</limit>'
                                                for name, value in limits.items()))
        conf = conf.replace("<include>@TEST_POLICY@</include>",
                            f"<include>{test_policy}</include>" if test_policy else "")
        if not ROOT_USER:  # a developer's run: the daemon runs as that user, not as xlocd
            user = pwd.getpwuid(os.geteuid()).pw_name
            conf = conf.replace("</busconfig>", f'<policy user="{user}"><allow own="zel.orb.xlocd"/>'
                                                "</policy></busconfig>")
        (self.dir / "system.conf").write_text(conf)
        self.proc = Proc(["dbus-daemon", "--config-file", self.dir / "system.conf",
                          "--nofork", "--print-address"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)  # only "cannot raise the fd limit"
        self.address = self.proc.p.stdout.readline().decode().strip()
        assert self.address.startswith("unix:"), "dbus-daemon did not start"
        self._client = None

    def client(self):
        """A connection of the test itself (no name owned)."""
        if self._client is None:
            self._client = dbus.bus.BusConnection(self.address)
        return self._client

    def has_owner(self, name):
        return bool(self.client().name_has_owner(name))

    def signal(self, interface, member, *args, path="/zel/orb/tester/Object"):
        msg = dbus.lowlevel.SignalMessage(path, interface, member)
        for a in args:
            msg.append(a)
        self.client().send_message(msg)
        self.client().flush()

    def stop(self):
        """Ends the bus; a second call does nothing."""
        if self._client is not None:
            self._client.close()
            self._client = None
        self.proc.stop()
        for f in self.dir.glob("*"):
            f.unlink()
        if self.dir.exists():
            self.dir.rmdir()


class Peer:
    """The stand-in peer: owns zel.orb.<name>, records what it sees, answers as told."""

    BROADCAST = "type='signal',interface='zel.orb.broadcast'"
    XCORD = "type='signal',interface='zel.orb.xcord'"
    XLOCD = "type='signal',interface='zel.orb.xlocd'"

    def __init__(self, peer_bin, record, name=None, replies=None, matches=(), hello_path=None,
                 bus=None, wrapper=()):
        self.record = pathlib.Path(record)
        self.record.touch()
        args = [*wrapper, *command(peer_bin, "--record", record)]
        if name:
            args += ["--name", name]
        for rule in matches:
            args += ["--match", rule]
        if hello_path:
            args += ["--hello", hello_path]
        for member, answer in (replies or {}).items():
            args += ["--reply", f"{member}={answer}"]
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address) if bus else None
        self.proc = Proc(args, env=env, stdout=subprocess.PIPE)
        line = self.proc.p.stdout.readline().decode()
        assert line.startswith("READY"), f"peer did not start: {line!r}"

    def messages(self, member=None):
        text = self.record.read_text()
        # A line that straddles a page can be read half written: it is read next time.
        out = [json.loads(l) for l in text[:text.rfind("\n") + 1].splitlines() if l]
        return [m for m in out if member is None or m["member"] == member]

    def wait(self, member, count=1, timeout=5.0):
        return wait_for(lambda: (lambda m: m if len(m) >= count else None)(self.messages(member)),
                        timeout, what=f"{count} x {member}")

    def stop(self):
        self.proc.stop()


def args_of(message):
    return [value for _type, value in message["args"]]


def types_of(message):
    return "".join(t for t, _value in message["args"])


def shape(message):
    """Where a recorded message came from and what it carried: path, interface, the
    arguments' types and their values."""
    return message["path"], message["interface"], types_of(message), args_of(message)


# Debian's /etc/hosts: localhost is ::1 as well as 127.0.0.1, and a client of gpsd
# tries both. Where the machine's file differs, daemons get this one in a mount
# namespace of their own (root only).
DEBIAN_HOSTS = HERE / "debian-hosts"


def debian_hosts():
    """A wrapper that runs a program with Debian's /etc/hosts, or () without root."""
    if not ROOT_USER:
        return ()
    return ("unshare", "-m", "--propagation", "private", "sh", "-c",
            f'mount --bind {DEBIAN_HOSTS} /etc/hosts && exec "$@"', "sh")


class Daemon:
    """xlocd started with a config file written for the test."""

    def __init__(self, xlocd_bin, workdir, bus, config, env=None, wait_name=True, args=None,
                 wrapper=(), start_timeout=5.0):
        self.dir = pathlib.Path(workdir)
        self.bus = bus
        self.config = self.dir / "xlocd.config"
        self.config.write_text(config, encoding="latin-1")  # any byte can be written
        self.log = self.dir / "xlocd.log"
        self.stdout = self.dir / "xlocd.stdout"
        self.stderr = self.dir / "xlocd.stderr"
        full_env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address)
        full_env.update(env or {})
        full_env = {k: v for k, v in full_env.items() if v is not None}  # None removes
        with open(self.stdout, "wb") as out, open(self.stderr, "wb") as err:
            self.proc = Proc([*wrapper, *command(xlocd_bin, *(args or [self.config]))], env=full_env,
                             stdout=out, stderr=err, cwd=self.dir)
        self.status = None
        if wait_name:
            wait_for(lambda: bus.has_owner("zel.orb.xlocd") or not self.proc.alive(),
                     start_timeout, what="zel.orb.xlocd on the bus")  # scaled by wait_for
            assert self.proc.alive(), self.stdout.read_text() + self.stderr.read_text()

    def get_data(self, timeout=5.0, bus=None):
        conn = bus or self.bus.client()
        return [str(s) for s in conn.call_blocking(
            "zel.orb.xlocd", "/zel/orb/xlocd/Object", "zel.orb.xlocd", "GetGPSData", "", [],
            timeout=timeout)]

    def wait_data(self, predicate, timeout=5.0, what="GetGPSData's answer"):
        """GetGPSData's twelve texts, once predicate(texts) holds."""
        return wait_for(lambda: (lambda d: d if predicate(d) else None)(self.get_data()),
                        timeout, what=what)

    def log_lines(self):
        """Log lines without their 17-character time stamp and blank."""
        if not self.log.exists():
            return []
        return [l[18:] for l in self.log.read_text().split("\n")[:-1]]

    def wait_log(self, text, timeout=5.0):
        return wait_for(lambda: text in self.log_lines(), timeout, what=f"log line {text!r}")

    def usage(self):
        """(RSS in kB, open descriptors, CPU seconds) of the daemon."""
        return process_usage(self.proc.pid)

    def terminate(self, sig=signal.SIGTERM, timeout=10.0):
        self.status = self.proc.stop(sig, timeout)
        return self.status


class Driver:
    """The plain-C driver of the framework library (tests/peers/orb_driver.c)."""

    def __init__(self, driver_bin, bus):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address)
        self.proc = Proc(command(driver_bin), env=env, stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE)
        self.pending = b""

    def do(self, line, timeout=40.0):
        """Sends one command; returns the lines it printed, the result line last."""
        self.proc.p.stdin.write((line + "\n").encode())
        self.proc.p.stdin.flush()
        out = []
        fd = self.proc.p.stdout.fileno()
        deadline = time.monotonic() + timeout * SCALE
        while time.monotonic() < deadline:
            while b"\n" in self.pending:
                text, self.pending = self.pending.split(b"\n", 1)
                out.append(text.decode())
                if out[-1].startswith(("result", "unknown")):
                    return out
            if select.select([fd], [], [], 0.1)[0]:
                chunk = os.read(fd, 65536)
                if not chunk:
                    break
                self.pending += chunk
        raise AssertionError(f"driver gave no result for {line!r}: {out}")

    def result(self, line, timeout=40.0):
        return int(self.do(line, timeout)[-1].split()[1])

    def stop(self):
        self.proc.p.stdin.close()
        self.proc.stop()


# ---- gpsd -------------------------------------------------------------------

def nmea(body):
    checksum = 0
    for ch in body.encode():
        checksum ^= ch
    return f"${body}*{checksum:02X}\r\n"


def _deg(value, lat):
    hemi = ("N" if value >= 0 else "S") if lat else ("E" if value >= 0 else "W")
    value = abs(value)
    deg = int(value)
    minutes = (value - deg) * 60
    return (f"{deg:02d}{minutes:07.4f}" if lat else f"{deg:03d}{minutes:07.4f}"), hemi


def fix_sentences(t, lat, lon, alt=None, knots=0.0, course=0.0, sats=7, fix=True,
                  quality=1, rmc_mode="A"):
    """RMC, GGA, GSA and GSV for one epoch at t: a UTC struct_time, or seconds since
    1970 with a fraction (for rates above 1 Hz). quality and rmc_mode are GGA's fix
    quality and RMC's mode indicator (6 and E: dead reckoning; 8 and S: simulated)."""
    if isinstance(t, (int, float)):
        centis = int(round((t % 1) * 100)) % 100
        t = time.gmtime(int(t))
    else:
        centis = 0
    hms = time.strftime("%H%M%S", t) + f".{centis:02d}"
    dmy = time.strftime("%d%m%y", t)
    la, ns = _deg(lat, True)
    lo, ew = _deg(lon, False)
    if not fix:
        return (nmea(f"GPRMC,{hms},V,,,,,,,{dmy},,,N") +
                nmea(f"GPGGA,{hms},,,,,0,00,99.9,,M,,M,,") +
                nmea("GPGSA,A,1,,,,,,,,,,,,,99.9,99.9,99.9"))
    alt_text = f"{alt:.1f}" if alt is not None else ""
    used = list(range(1, min(sats, 12) + 1))
    gsv = ""
    groups = [used[i:i + 4] for i in range(0, len(used), 4)] or [[]]
    for n, group in enumerate(groups, 1):
        views = "".join(f",{prn:02d},{30 + prn},{(prn * 30) % 360:03d},40" for prn in group)
        gsv += nmea(f"GPGSV,{len(groups)},{n},{len(used):02d}{views}")
    mode = "3" if alt is not None else "2"
    prns = ",".join(f"{n + 1:02d}" for n in range(min(sats, 12))) + "," * (12 - min(sats, 12))
    rmc = f"GPRMC,{hms},A,{la},{ns},{lo},{ew},{knots:.1f},{course:.1f},{dmy},,,{rmc_mode}"
    gga = f"GPGGA,{hms},{la},{ns},{lo},{ew},{quality},{sats:02d},0.9,{alt_text},M,47.0,M,,"
    return (nmea(rmc) + nmea(gga) +
            nmea(f"GPGSA,A,{mode},{prns},1.5,0.9,1.2") + gsv)


class GpsdFeed:
    """A real gpsd reading NMEA from a TCP source that this object serves."""

    def __init__(self, workdir, port=None, wrapper=()):
        self.port = port or free_port()
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        src = self.listener.getsockname()[1]
        self.log = open(pathlib.Path(workdir) / f"gpsd-{self.port}.log", "wb")
        self.proc = Proc([*wrapper, "gpsd", "-N", "-n", "-b", "-S", self.port,
                          f"tcp://127.0.0.1:{src}"],
                         stdout=self.log, stderr=subprocess.STDOUT)
        self.listener.settimeout(10)
        self.source, _ = self.listener.accept()
        wait_for(self._accepts_clients, what="gpsd listening")

    def _accepts_clients(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), 0.2).close()
            return True
        except OSError:
            return False

    def send(self, text):
        self.source.sendall(text.encode())

    def stop(self):
        self.proc.stop()
        self.source.close()
        self.listener.close()
        self.log.close()


def feed_until(feed, predicate, timeout=10.0, start=1796042040.0, **fix):
    """Sends one epoch a second of gpsd time every 0.2 s until predicate() holds:
    gpsd forwards reports only once the daemon's watch request has reached it. The
    fix is at 1.5 N 2.5 E, 3 m up, unless told otherwise."""
    deadline = time.monotonic() + timeout
    t = start
    while True:
        feed.send(fix_sentences(t, **{"lat": 1.5, "lon": 2.5, "alt": 3.0, **fix}))
        if wait_until(predicate, 0.2):
            return t
        if time.monotonic() > deadline:
            raise AssertionError(f"gpsd fixes never showed after {timeout}s")
        t += 1


def settled(read, interval=0.3, timeout=5.0):
    """Returns read() once two reads interval apart agree."""
    def same():
        first = read()
        time.sleep(interval)
        return first if first == read() else None
    return wait_for(same, timeout, step=0, what="a settled value")


def wait_until(predicate, timeout, step=0.02):
    """Like wait_for, but returns False instead of failing."""
    deadline = time.monotonic() + timeout * SCALE
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return False


class JsonGpsd:
    """A scripted server that speaks gpsd's JSON lines, for exact corner cases."""

    def __init__(self, port=None, hang_up=False, silent=False):
        """hang_up: accept each client, then close its connection at once. silent:
        accept and never speak."""
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port or 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.hang_up, self.silent = hang_up, silent
        self.clients, self.accepted, self.requests = [], 0, []
        self.watching = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.accepted += 1
            if self.hang_up or self.silent:
                (conn.close() if self.hang_up else self.clients.append(conn))
                self.watching.set()
                continue
            conn.sendall(b'{"class":"VERSION","release":"3.22","rev":"3.22",'
                         b'"proto_major":3,"proto_minor":14}\r\n')
            conn.settimeout(5)
            try:
                request = conn.recv(4096)
            except OSError:
                request = b""
            self.requests.append(request)
            if b"?WATCH" in request:
                conn.sendall(b'{"class":"DEVICES","devices":[]}\r\n'
                             b'{"class":"WATCH","enable":true,"json":true}\r\n')
                self.clients.append(conn)
                self.watching.set()

    def send(self, *objects):
        self.send_raw("".join(json_line(o) for o in objects))

    def send_raw(self, text):
        assert self.watching.wait(10), "no client is watching"
        for conn in list(self.clients):
            try:
                conn.sendall(text.encode())
            except OSError:  # a daemon that has gone
                self.clients.remove(conn)

    def stop(self):
        self.listener.close()
        for conn in self.clients:
            conn.close()


def json_line(obj):
    """One report as gpsd writes it."""
    return json.dumps(obj, separators=(",", ":")) + "\r\n"


def tpv(mode=3, status=None, time_="2026-11-30T12:34:56.000Z", lat=48.1234567, lon=11.5,
        altMSL=521.6, track=90.5, speed=10.0, **extra):
    """A TPV object; None leaves a member out, as gpsd does for unknown values."""
    obj = {"class": "TPV", "device": "/dev/test", "mode": mode, "status": status,
           "time": time_, "lat": lat, "lon": lon, "altMSL": altMSL, "track": track,
           "speed": speed}
    obj.update(extra)
    return {k: v for k, v in obj.items() if v is not None}


def process_usage(pid):
    """(RSS in kB, open descriptors, CPU seconds) of a running process."""
    status = pathlib.Path(f"/proc/{pid}/status").read_text()
    rss = int(next(l.split()[1] for l in status.splitlines() if l.startswith("VmRSS:")))
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    stat = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    cpu = (int(stat[11]) + int(stat[12])) / os.sysconf("SC_CLK_TCK")
    return rss, fds, cpu


class NmeaStream:
    """Feeds a GpsdFeed with fixes at a given rate from a thread."""

    def __init__(self, feed, hz=20.0, start=1796042096.0):
        self.feed, self.period, self.t = feed, 1.0 / hz, start
        self.stop_event = threading.Event()
        self.sent = 0
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        next_time = time.monotonic()
        while not self.stop_event.is_set():
            try:
                self.feed.send(fix_sentences(self.t, 48.0 + self.sent * 1e-5, 11.0, alt=500.0,
                                             knots=20.0, course=45.0))
            except OSError:
                return
            self.sent += 1
            self.t += self.period
            next_time += self.period
            time.sleep(max(0.0, next_time - time.monotonic()))

    def stop(self):
        self.stop_event.set()
        self.thread.join(5)
