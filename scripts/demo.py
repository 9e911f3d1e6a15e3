"""The demo behind scripts/demo; see there."""
import argparse
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "harness"))
import rig  # noqa: E402

BUILD = rig.BUILD
NAMES = ["status", "latitude", "longitude", "altitude", "time", "satellites", "quality", "warn",
         "speed", "course", "date", "UTC"]


# One per user: /tmp is shared, and another user's log cannot be written.
LOG = pathlib.Path(tempfile.gettempdir()) / (
    "xlocd-demo.log" if os.geteuid() == 0 else f"xlocd-demo-{os.geteuid()}.log")


def demo_config(gps_port):
    """etc/xlocd.config with the demo's log, gpsd port and watchdog, and the GPSData
    signal and introspection turned on."""
    text = (ROOT / "etc/xlocd.config").read_text()
    values = {"Log_File": str(LOG), "gps_tcp_port": str(gps_port),
              "watchdog_interval": "10", "RTC_path": ""}
    for key, value in values.items():
        text = re.sub(rf"^{key}=.*$", f"{key}={value}", text, flags=re.M)
    return text + "gps_data_signal=1\nintrospection=1\n"


def follow(query_bin, bus):
    """Prints each GPSData signal as xlocd-query --follow sees it, beside the polled lines."""
    proc = rig.Proc([query_bin, "--follow", "--json"], stdout=subprocess.PIPE, text=True,
                    env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))

    def show_signals():
        proc.p.stdout.readline()  # the fields at the start; the polled lines show them
        for line in proc.p.stdout:
            data = json.loads(line)
            print(f"[signal] status={data['status'] or '-'}  time={data['time']}  "
                  f"latitude={data['latitude']}  longitude={data['longitude']}", flush=True)

    threading.Thread(target=show_signals, daemon=True).start()
    return proc


def epochs():
    """The drive, one list of sentences per second (each epoch starts with RMC)."""
    text = (ROOT / "demo/drive.nmea").read_text()
    parts = text.split("$GPRMC")
    return ["$GPRMC" + p for p in parts[1:]]


def show(query_bin, bus, second):
    out = subprocess.run([query_bin, "--json", "--timeout", "1000"], capture_output=True,
                         text=True, env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))
    if out.returncode != 0:
        print(f"[{second:3d}s] {out.stderr.strip()}", flush=True)
        return
    data = json.loads(out.stdout)
    print(f"[{second:3d}s] " + "  ".join(f"{n}={data[n] or '-'}" for n in NAMES), flush=True)


def main():
    parser = argparse.ArgumentParser(description="xlocd demo on loopback")
    parser.add_argument("--forever", action="store_true", help="run until Ctrl-C")
    parser.add_argument("--seconds", type=int, default=40)
    args = parser.parse_args()

    workdir = pathlib.Path(tempfile.mkdtemp(prefix="xlocd_demo_"))
    started = []
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    try:
        bus = rig.Bus()
        started.append(bus)
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address
        xcord = rig.Peer(BUILD / "harness/standin_peer", workdir / "xcord.jsonl", "xcord",
                         {"RegisterWatchdog": "text:OK", "CancelWatchdog": "text:OK",
                          "GetIgnition": "text:ON"}, [rig.Peer.XCORD])
        started.append(xcord)
        feed = rig.GpsdFeed(workdir)
        started.append(feed)
        LOG.write_text("")  # the daemon appends; each demo starts a fresh log
        daemon = rig.Daemon(BUILD / "src/xlocd", workdir, bus, demo_config(feed.port),
                            env={"TZ": "UTC"})
        started.append(daemon)
        print(f"xlocd runs with bus {bus.address}, gpsd port {feed.port}")
        print(f"log: {LOG}")
        started.append(follow(BUILD / "tools/xlocd-query", bus))
        drive = epochs()
        second = 0
        while args.forever or second < args.seconds:
            feed.send(drive[second % len(drive)])
            time.sleep(0.5)
            show(BUILD / "tools/xlocd-query", bus, second)
            time.sleep(0.5)
            second += 1
        triggers = len(xcord.messages("TriggerWatchdog"))
        print(f"xcord saw RegisterWatchdog and {triggers} TriggerWatchdog signals")
    except KeyboardInterrupt:
        print("\nstopping")
    finally:
        for item in reversed(started):
            item.terminate() if isinstance(item, rig.Daemon) else item.stop()
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
