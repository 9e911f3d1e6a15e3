import json
import os
import pathlib
import subprocess
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "harness"))
import rig  # noqa: E402

XLOCD = os.path.abspath(os.environ.get("XLOCD_BIN", rig.ROOT / "build/src/xlocd"))
PEER = os.path.abspath(os.environ.get("PEER_BIN", rig.ROOT / "build/harness/standin_peer"))
DRIVER = os.path.abspath(os.environ.get("DRIVER_BIN", rig.ROOT / "build/tests/orb_driver"))
CLIENT = os.path.abspath(os.environ.get("CLIENT_BIN", rig.ROOT / "build/harness/gps_client"))


def gps_client(bus, calls=1, burst=False, timeout_ms=5000):
    """Runs the C++ load client; returns its JSON summary."""
    args = [CLIENT, "--calls", str(calls), "--timeout-ms", str(timeout_ms)]
    if burst:
        args.append("--burst")
    out = subprocess.run(args, capture_output=True, text=True, timeout=120,
                         env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))
    return json.loads(out.stdout)


@pytest.fixture(scope="session")
def bus():
    b = rig.Bus()
    os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = b.address
    yield b
    b.stop()


@pytest.fixture
def peers(bus, tmp_path):
    """peers(name=None, replies={}, matches=...) starts a stand-in peer."""
    started = []

    def start(name=None, replies=None, matches=(rig.Peer.BROADCAST, rig.Peer.XCORD)):
        record = tmp_path / f"{name or 'recorder'}-{len(started)}.jsonl"
        peer = rig.Peer(PEER, record, name, replies, matches)
        started.append(peer)
        return peer

    yield start
    for peer in started:
        peer.stop()


@pytest.fixture
def recorder(peers):
    """Records broadcast and xcord signals."""
    return peers()


def config_text(tmp_path, gps_port, **keys):
    lines = {"Log_File": str(tmp_path / "xlocd.log"), "gps_tcp_port": str(gps_port),
             "RTC_path": ""}
    lines.update(keys)
    return "".join(f"{k}={v}\n" for k, v in lines.items() if v is not None)


@pytest.fixture
def xlocd(bus, tmp_path):
    """xlocd(config=None, gps_port=..., env=None, **keys) starts the daemon."""
    started = []

    def start(config=None, gps_port=None, env=None, wait_name=True, args=None, wrapper=(),
              start_timeout=5.0, **keys):
        text = config if config is not None else config_text(
            tmp_path, gps_port or rig.free_port(), **keys)
        daemon = rig.Daemon(XLOCD, tmp_path, bus, text, env, wait_name, args, wrapper,
                            start_timeout)
        started.append(daemon)
        return daemon

    yield start
    for daemon in started:
        daemon.terminate(timeout=30)
    rig.wait_for(lambda: not bus.has_owner("zel.orb.xlocd"), what="name released")
    for daemon in started:  # the sanitizer build reports into the daemon's stderr
        err = daemon.stderr.read_text(errors="replace")
        assert "Sanitizer" not in err and "runtime error" not in err, err


@pytest.fixture
def gpsd(tmp_path):
    feeds = []

    def start(port=None):
        feed = rig.GpsdFeed(tmp_path, port)
        feeds.append(feed)
        return feed

    yield start
    for feed in feeds:
        feed.stop()


@pytest.fixture
def json_gpsd():
    servers = []

    def start(port=None, hang_up=False):
        server = rig.JsonGpsd(port, hang_up)
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.stop()


@pytest.fixture
def driver(bus):
    """driver() starts the plain-C library driver, registered as zel.orb.<name>."""
    started = []

    def start(name="testapp1"):
        d = rig.Driver(DRIVER, bus)
        started.append(d)
        if name:
            assert d.result(f"register {name}") == 0
        return d

    yield start
    for d in started:
        d.stop()
