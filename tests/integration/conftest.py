import os
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "harness"))
import rig  # noqa: E402

BUILD = rig.BUILD
XLOCD = str(BUILD / "src/xlocd")
PEER = str(BUILD / "harness/standin_peer")
DRIVER = str(BUILD / "tests/orb_driver")
CLIENT = str(BUILD / "harness/gps_client")
QUERY = str(BUILD / "tools/xlocd-query")
SHIM = str(BUILD / "tests/librtc_shim.so")
BOOT_SHIM = str(BUILD / "tests/libboot_shim.so")
FAKETIME = os.environ.get("XLOCD_FAKETIME", "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")
SANITIZED = os.environ.get("XLOCD_SANITIZED") == "ON"
SD_NOTIFY = os.environ.get("XLOCD_SD_NOTIFY") == "1"  # built with libsystemd


def config_text(tmp_path, gps_port, **keys):
    lines = {"Log_File": tmp_path / "xlocd.log", "gps_tcp_port": gps_port, "RTC_path": "", **keys}
    return "".join(f"{k}={v}\n" for k, v in lines.items() if v is not None)  # None drops a key


@pytest.fixture(scope="session")
def bus():
    # Outside /tmp, which some daemons get a mount of; an unanswered call fails after 2 s.
    b = rig.Bus(reply_timeout_ms=2000, parent="/var/tmp")
    os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = b.address
    yield b
    b.stop()


def started(make, stop):
    """A fixture body: yields a starter and stops whatever it started."""
    items = []
    yield lambda *a, **kw: items.append(make(*a, **kw)) or items[-1]
    for item in items:
        stop(item)


@pytest.fixture
def peers(bus, tmp_path):
    """peers(name=None, replies={}, matches=...) starts a stand-in peer."""
    count = iter(range(100))
    yield from started(lambda name=None, replies=None, matches=(rig.Peer.BROADCAST, rig.Peer.XCORD):
                       rig.Peer(PEER, tmp_path / f"{name}-{next(count)}.jsonl", name, replies,
                                matches), rig.Peer.stop)


@pytest.fixture
def recorder(peers):
    """Records broadcast and xcord signals."""
    return peers()


@pytest.fixture
def xcord(peers):
    """xcord(replies) starts a stand-in xcord; by default it accepts the watchdog."""
    return lambda replies=None: peers("xcord", replies or {"RegisterWatchdog": "text:OK",
                                                           "CancelWatchdog": "text:OK"})


@pytest.fixture
def own_bus():
    """own_bus(**options) starts a bus of the test's own (rig.Bus's options)."""
    yield from started(lambda **options: rig.Bus(**options), rig.Bus.stop)


@pytest.fixture
def xlocd(bus, tmp_path):
    """xlocd(gps_port=..., env=None, wrapper=(), on=bus, **keys) starts the daemon."""
    daemons = []

    def start(gps_port=None, env=None, wrapper=(), on=bus, **keys):
        daemons.append(rig.Daemon(XLOCD, tmp_path, on, config_text(
            tmp_path, gps_port or rig.free_port(), **keys), env,
            wrapper=(*rig.debian_hosts(), *wrapper), start_timeout=30 if wrapper else 5))
        return daemons[-1]

    yield start
    for daemon in daemons:
        daemon.terminate(timeout=30)
    rig.wait_for(lambda: not bus.has_owner("zel.orb.xlocd"), what="name released")
    for daemon in daemons:  # the sanitizer build reports into the daemon's stderr
        err = daemon.stderr.read_text(errors="replace")
        assert "Sanitizer" not in err and "runtime error" not in err, err


@pytest.fixture
def gpsd(tmp_path):
    """gpsd(port=None, wrapper=()) starts a real gpsd fed by the test."""
    yield from started(lambda port=None, wrapper=(): rig.GpsdFeed(tmp_path, port, wrapper),
                       rig.GpsdFeed.stop)


@pytest.fixture
def json_gpsd():
    yield from started(rig.JsonGpsd, rig.JsonGpsd.stop)


@pytest.fixture
def served(xlocd, json_gpsd):
    """served(**keys): a scripted gpsd (rig.JsonGpsd) and the daemon reading it."""
    def start(**keys):
        server = json_gpsd()
        return server, xlocd(gps_port=server.port, **keys)
    return start


@pytest.fixture
def driver(bus):
    """driver(name) starts the plain-C library driver, registered as zel.orb.<name>."""
    def start(name="testapp1"):
        d = rig.Driver(DRIVER, bus)
        assert not name or d.result(f"register {name}") == 0
        return d
    yield from started(start, rig.Driver.stop)
