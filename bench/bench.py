"""xlocd benchmark. Each figure is printed beside a floor measured in the same run
on the same machine, and their ratio:

  round trip    GetGPSData vs. a method call answered by the stand-in peer (a bare
                libdbus responder sending the same twelve strings), both through
                the same dbus-daemon
  burst of 100  100 calls sent at once, until the last answer; same floor
  lag at 20 Hz  NMEA sent to gpsd until GetGPSData shows it, vs. until a plain
                gpsd client (python3-gps) sees the same fix
  10 WhoIsThere  a burst of 10 broadcasts until the 10th HELLO (ten are answered at
                once, more at ten a second), vs. the stand-in peer answering each
                WhoIsThere with a HELLO
  idle CPU      % of one core over 30 s, gpsd connected, no calls (no floor)
  RSS           resident memory vs. the stand-in peer's
  exec -> HELLO exec until the first HELLO on the bus, vs. exec until the stand-in
                peer owns its name
  CPU at 20 Hz  % of one core over a 20 Hz NMEA feed with gps_data_signal=1, vs. the
                same daemon without it
  options on    GetGPSData round trip p50 with every field option and both bus
                options on, vs. the round trip p50 without them
  wake-ups      voluntary context switches per second over 20 s without bus traffic,
                and CPU seconds per hour, in four states; the floor is the design's
                pacing alone (bench/design_pace.c: a libdbus loop waiting at most
                50 ms a pass), run beside it on a bus of its own
  call after sleep  one GetGPSData round trip after 20 s asleep, vs. a call to the
                stand-in peer after the same sleep
  instructions  instructions a GetGPSData call costs the daemon (valgrind's callgrind,
                200 calls less none), vs. the stand-in peer answering the same twelve
                strings
"""
import argparse
import json
import os
import pathlib
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "harness"))
import rig  # noqa: E402

BUILD = ROOT / "build"
CLIENT = BUILD / "harness/gps_client"
PEER = BUILD / "harness/standin_peer"


def client(bus, *args):
    out = subprocess.run([CLIENT, *map(str, args)], capture_output=True, text=True,
                         env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address), timeout=120)
    return json.loads(out.stdout)


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p * len(values)))]


def measure_round_trips(bus, calls):
    own = client(bus, "--calls", calls)
    floor = client(bus, "--calls", calls, "--peer", "xcord", "--member", "Ping")
    burst = [client(bus, "--calls", 100, "--burst")["total_us"] for _ in range(5)]
    burst_floor = [client(bus, "--calls", 100, "--burst", "--peer", "xcord", "--member", "Ping")
                   ["total_us"] for _ in range(5)]
    return [("round trip p50", own["p50_us"], floor["p50_us"], "us"),
            ("round trip p99", own["p99_us"], floor["p99_us"], "us"),
            ("burst of 100", statistics.median(burst), statistics.median(burst_floor), "us")]


def measure_lag(bus, feed, daemon, epochs=60):
    import gps  # python3-gps
    sent, seen_daemon, seen_gpsd = {}, {}, {}
    stop = threading.Event()
    session = gps.gps(host="127.0.0.1", port=str(feed.port), mode=gps.WATCH_ENABLE | gps.WATCH_JSON)

    def watch_gpsd():
        while not stop.is_set():
            if session.waiting(0.05):
                report = session.next()
                if report.get("class") == "TPV" and "lat" in report:
                    seen_gpsd.setdefault(round(report["lat"], 6), time.monotonic())

    def watch_daemon():
        conn = rig.dbus.bus.BusConnection(bus.address)
        while not stop.is_set():
            lat = float(daemon.get_data(bus=conn)[1])
            seen_daemon.setdefault(round(lat, 6), time.monotonic())

    threads = [threading.Thread(target=watch_gpsd), threading.Thread(target=watch_daemon)]
    for t in threads:
        t.start()
    time.sleep(0.5)
    t0 = 1796042096.0
    for i in range(epochs):
        lat = round(47.0 + i * 0.001, 6)
        sent[lat] = time.monotonic()
        feed.send(rig.fix_sentences(t0 + i * 0.05, lat, 11.0, alt=500.0, knots=10.0, course=5.0))
        time.sleep(0.05)
    time.sleep(0.5)
    stop.set()
    for t in threads:
        t.join()
    lag = [(seen_daemon[k] - v) * 1e3 for k, v in sent.items() if k in seen_daemon]
    lag_floor = [(seen_gpsd[k] - v) * 1e3 for k, v in sent.items() if k in seen_gpsd]
    return [("lag at 20 Hz p50", statistics.median(lag), statistics.median(lag_floor), "ms"),
            ("lag at 20 Hz p99", pct(lag, 0.99), pct(lag_floor, 0.99), "ms"),
            ("fixes seen of 60", len(lag), len(lag_floor), "")]


def time_hello_burst(bus, workdir, path, tag, count=10):
    """ms from the first of `count` WhoIsThere until the last HELLO from path."""
    recorder = rig.Peer(PEER, workdir / f"burst-{tag}.jsonl", matches=[rig.Peer.BROADCAST])
    start = time.monotonic()
    for _ in range(count):
        bus.signal("zel.orb.broadcast", "WhoIsThere", "bench")
    hellos = rig.wait_for(lambda: (lambda h: h if len(h) >= count else None)(
        [m for m in recorder.messages("HELLO") if m["path"] == path]), 30, what=f"{count} HELLO")
    recorder.stop()
    return (hellos[count - 1]["t"] - start) * 1e3


def measure_start(bus, workdir, runs=5):
    own, floor = [], []
    for i in range(runs):
        record = workdir / f"hello-{i}.jsonl"
        recorder = rig.Peer(PEER, record, matches=[rig.Peer.BROADCAST])
        start = time.monotonic()
        d = rig.Daemon(BUILD / "src/xlocd", workdir, bus,
                       f"Log_File={workdir / 'start.log'}\nRTC_path=\ngps_tcp_port={rig.free_port()}\n",
                       wait_name=False)
        hello = recorder.wait("HELLO")[0]["t"]
        own.append((hello - start) * 1e3)
        d.terminate()
        recorder.stop()
        start = time.monotonic()
        peer = rig.Peer(PEER, workdir / f"peer-{i}.jsonl", name="testapp2")
        floor.append((time.monotonic() - start) * 1e3)
        peer.stop()
    return [("exec -> first HELLO", statistics.median(own), statistics.median(floor), "ms")]


OPTIONS = ("gpsd_reconnect=5\nfix_max_age=5\nclock_min_fixes=3\nclock_not_before=\n"
           "gps_data_signal=1\nintrospection=1\n")


def start_daemon(bus, workdir, feed, extra=""):
    daemon = rig.Daemon(BUILD / "src/xlocd", workdir, bus, f"Log_File={workdir / 'xlocd.log'}\n"
                        f"RTC_path=\ngps_tcp_port={feed.port}\n{extra}")
    daemon.wait_log("Established connection to gpsd")
    return daemon


def cpu_at_20hz(bus, workdir, feed, extra, seconds):
    """% of a core over a 20 Hz feed, and the round trip p50 meanwhile."""
    daemon = start_daemon(bus, workdir, feed, extra)
    stream = rig.NmeaStream(feed, hz=20)
    try:
        rig.wait_for(lambda: daemon.get_data()[0] == "NMEA", 20, what="fixes")
        _, _, cpu0 = daemon.usage()
        time.sleep(seconds)
        _, _, cpu1 = daemon.usage()
        return (cpu1 - cpu0) / seconds * 100
    finally:
        stream.stop()
        daemon.terminate()


def measure_options(bus, workdir, feed, calls, seconds):
    cpu = {extra: cpu_at_20hz(bus, workdir, feed, extra, seconds) for extra in ("", OPTIONS)}
    trips = {}
    for extra in ("", OPTIONS):
        daemon = start_daemon(bus, workdir, feed, extra)
        trips[extra] = client(bus, "--calls", calls)["p50_us"]
        daemon.terminate()
    return [("CPU at 20 Hz, signal on", cpu[OPTIONS], cpu[""], "% core"),
            ("round trip, options on", trips[OPTIONS], trips[""], "us")]


WAKE_CASES = [  # (name, gpsd: "1hz", "silent" or None, config lines, with xcord)
    ("gpsd 1 Hz, keys absent", "1hz", "", False),
    ("gpsd silent", "silent", "", False),
    ("gpsd absent, reconnect 5", None, "gpsd_reconnect=5\n", False),
    ("watchdog 10, gpsd silent", "silent", "watchdog_interval=10\n", True),
    # systemd's watchdog as the unit sets it (WatchdogSec=10), a manager's socket that reads
    ("systemd watchdog, gpsd 1 Hz", "1hz", "", "notify"),
    ("systemd watchdog, gpsd silent", "silent", "", "notify")]


def switches_and_cpu(pid):
    status = pathlib.Path(f"/proc/{pid}/status").read_text()
    switches = int(status.split("voluntary_ctxt_switches:")[1].split()[0])
    cpu_ns = int(pathlib.Path(f"/proc/{pid}/schedstat").read_text().split()[0])
    return switches, cpu_ns / 1e9


class WakeRun:
    """xlocd in one state, on a bus of its own."""

    def __init__(self, workdir, gpsd, extra, with_xcord):
        workdir.mkdir()
        self.bus, self.stack = rig.Bus(), []
        self.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.bus.address)
        port = rig.free_port()
        if gpsd:
            feed = rig.GpsdFeed(workdir)
            self.stack.append(feed)
            port = feed.port
            if gpsd == "1hz":
                self.stack.append(rig.NmeaStream(feed, hz=1))
        env = None
        if with_xcord == "notify":
            self.manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            self.manager.bind(str(workdir / "notify"))
            self.stack.append(self.manager)
            env = {"NOTIFY_SOCKET": str(workdir / "notify"), "WATCHDOG_USEC": "10000000"}
        elif with_xcord:
            self.xcord = rig.Peer(PEER, workdir / "xcord.jsonl", "xcord",
                                  {"RegisterWatchdog": "text:OK", "CancelWatchdog": "text:OK"},
                                  [rig.Peer.XCORD], bus=self.bus)
            self.stack.append(self.xcord)
        self.daemon = rig.Daemon(BUILD / "src/xlocd", workdir, self.bus,
                                 f"Log_File={workdir / 'log'}\nRTC_path=\ngps_tcp_port={port}\n{extra}",
                                 env)
        self.pid = self.daemon.proc.pid

    def first_call_us(self, *args):
        out = subprocess.run([CLIENT, "--calls", "1", *args], capture_output=True, text=True,
                             env=self.env, timeout=60)
        return json.loads(out.stdout)["p50_us"]

    def stop(self):
        self.daemon.terminate()
        for item in reversed(self.stack):
            if isinstance(item, socket.socket):
                item.close()
            else:
                item.stop()
        self.bus.stop()


class FloorRun(WakeRun):
    """The design's pacing alone, beside a stand-in peer to call after the sleep."""

    def __init__(self, workdir):  # pylint: disable=super-init-not-called
        workdir.mkdir()
        self.bus = rig.Bus()
        self.env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.bus.address)
        self.peer = rig.Peer(PEER, "/dev/null", "xcord", {"Ping": "twelve"}, [], bus=self.bus)
        self.pace = rig.Proc([BUILD / "bench/design_pace"], env=self.env, stdout=subprocess.PIPE)
        self.pace.p.stdout.readline()
        self.pid = self.pace.pid

    def first_call_us(self, *args):
        return super().first_call_us("--peer", "xcord", "--member", "Ping")

    def stop(self):
        self.pace.stop()
        self.peer.stop()
        self.bus.stop()


def measure_wakeups(workdir, seconds):
    rows = []
    for i, (name, gpsd, extra, with_xcord) in enumerate(WAKE_CASES):
        runs = [WakeRun(workdir / f"wake-{i}", gpsd, extra, with_xcord),
                FloorRun(workdir / f"floor-{i}")]
        try:
            time.sleep(3)  # past start-up and the first fixes
            before = [switches_and_cpu(r.pid) for r in runs]
            time.sleep(seconds)
            after = [switches_and_cpu(r.pid) for r in runs]
            rate = [(a[0] - b[0]) / seconds for a, b in zip(after, before)]
            cpu = [(a[1] - b[1]) / seconds * 3600 for a, b in zip(after, before)]
            rows += [(f"wake-ups: {name}", rate[0], rate[1], "/s"),
                     (f"CPU/h: {name}", cpu[0], cpu[1], "s/h")]
            if gpsd == "silent" and not with_xcord:
                rows.append(("call after sleep", *[r.first_call_us() for r in runs], "us"))
            if with_xcord is True:  # the first gap depends on where in the second the start fell
                triggers = runs[0].xcord.messages("TriggerWatchdog")
                gaps = [b["t"] - a["t"] for a, b in zip(triggers[1:], triggers[2:])]
                rows.append(("watchdog gap, max", max(gaps), None, "s"))
        finally:
            for r in runs:
                r.stop()
    return rows


def callgrind_total(out):
    """The instruction count callgrind wrote when the program ended."""
    for line in out.read_text().splitlines():
        if line.startswith("summary:"):
            return int(line.split()[1])
    raise AssertionError(f"no summary in {out}")


def instructions_per_call(workdir, calls=200):
    """Instructions per call answered: the run with `calls` calls less the one without. On
    a bus of its own, where no xcord holds its name: CancelWatchdog is answered at once."""
    bus = rig.Bus()

    def count(tag, n):
        out = workdir / f"callgrind-{tag}-{n}.out"
        wrapper = ("valgrind", "--tool=callgrind", f"--callgrind-out-file={out}")
        if tag == "xlocd":  # gpsd absent, one attempt only: the loop itself costs nothing
            d = rig.Daemon(BUILD / "src/xlocd", workdir, bus, f"Log_File={workdir / 'ir.log'}\n"
                           f"RTC_path=\ngps_tcp_port={rig.free_port()}\ngpsd_reconnect=3600\n",
                           wrapper=wrapper, start_timeout=60)
            stop = d.terminate
        else:
            peer = rig.Peer(PEER, "/dev/null", "testapp2", {"Ping": "twelve"}, [], bus=bus,
                            wrapper=wrapper)
            stop = peer.stop
        if n:
            client(bus, "--calls", n, *(["--peer", "testapp2", "--member", "Ping"]
                                        if tag == "peer" else []))
        stop()
        rig.wait_for(lambda: out.exists() and "summary:" in out.read_text(), 30, what=str(out))
        return callgrind_total(out)
    try:
        return [("instructions a call", *[(count(tag, calls) - count(tag, 0)) / calls
                                          for tag in ("xlocd", "peer")], "")]
    finally:
        bus.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--idle-seconds", type=int, default=30)
    parser.add_argument("--wake-seconds", type=int, default=20)
    args = parser.parse_args()
    workdir = pathlib.Path(tempfile.mkdtemp(prefix="xlocd_bench_"))
    bus = rig.Bus()
    os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address
    stack = []
    try:
        xcord = rig.Peer(PEER, "/dev/null", "xcord", {"Ping": "twelve"}, [])
        stack.append(xcord)
        feed = rig.GpsdFeed(workdir)
        stack.append(feed)
        daemon = start_daemon(bus, workdir, feed)
        stack.append(daemon)
        rows = measure_round_trips(bus, args.calls)
        rows += measure_lag(bus, feed, daemon)
        _, _, cpu0 = daemon.usage()
        time.sleep(args.idle_seconds)
        rss, _, cpu1 = daemon.usage()
        rows.append((f"idle CPU over {args.idle_seconds} s", (cpu1 - cpu0) / args.idle_seconds * 100,
                     None, "% core"))
        rows.append(("RSS", rss, rig.process_usage(xcord.proc.pid)[0], "kB"))
        own = time_hello_burst(bus, workdir, "/zel/orb/xlocd/Object", "xlocd")
        daemon.terminate()
        stack.remove(daemon)
        floor_peer = rig.Peer(PEER, "/dev/null", matches=[rig.Peer.BROADCAST],
                              hello_path="/zel/orb/floor/Object")
        floor = time_hello_burst(bus, workdir, "/zel/orb/floor/Object", "floor")
        floor_peer.stop()
        rows.append(("10 WhoIsThere -> HELLO", own, floor, "ms"))
        rows += measure_start(bus, workdir)
        rows += measure_options(bus, workdir, feed, args.calls, args.idle_seconds // 3)
        rows += measure_wakeups(workdir, args.wake_seconds)
        rows += instructions_per_call(workdir)
    finally:
        for item in reversed(stack):
            item.terminate() if isinstance(item, rig.Daemon) else item.stop()
        bus.stop()
    print(f"{'figure':<36}{'xlocd':>12}{'floor':>12}{'ratio':>8}  unit")
    for name, value, floor, unit in rows:
        ratio = f"{value / floor:.2f}" if floor else "-"
        floor_text = f"{floor:.1f}" if floor is not None else "-"
        print(f"{name:<36}{value:>12.1f}{floor_text:>12}{ratio:>8}  {unit}")


if __name__ == "__main__":
    main()
