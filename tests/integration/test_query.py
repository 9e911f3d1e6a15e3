"""xlocd-query: the twelve fields once, repeatedly, and as GPSData signals come."""
import json
import signal
import subprocess

import dbus
import dbus.lowlevel
import pytest

import rig
from conftest import QUERY

KEYS = ["status", "latitude", "longitude", "altitude", "time", "satellites", "quality", "warn",
        "speed", "course", "date", "UTC"]


def query(*args):
    return subprocess.run(rig.command(QUERY, *args), capture_output=True, text=True,
                          timeout=30 * rig.SCALE)


def follow(*args):
    return rig.Proc(rig.command(QUERY, "--follow", *args), stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE, text=True)


def unique_name_of(bus, pid):
    """The tool's connection, once it is on the bus (it is after its handlers are set)."""
    names = bus.client().list_names()
    return next((n for n in names if n.startswith(":") and bus.client().call_blocking(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", "s", [n]) == pid), None)


def forged(destination, member, interface, *args, signature):
    message = dbus.lowlevel.SignalMessage("/org/freedesktop/DBus", interface, member)
    message.set_destination(destination)  # straight to the tool
    message.append(*args, signature=signature)
    return message


def test_query_prints_the_twelve_fields_as_text_and_as_json(served):
    server, daemon = served()
    server.send(rig.tpv())
    answer = daemon.wait_data(lambda d: d[0] == "NMEA")
    assert query().stdout == "".join(f"{k:12}{v}\n" for k, v in zip(KEYS, answer)) + "\n"
    assert json.loads(query("--json").stdout) == dict(zip(KEYS, answer))


def test_follow_prints_the_owners_signals_and_nothing_a_forger_sends(served, bus):
    server, _ = served(env={"TZ": "UTC"}, gps_data_signal=1)
    tool = follow("--json")
    assert json.loads(tool.p.stdout.readline())["time"] == "000000"  # the polled answer
    name = unique_name_of(bus, tool.pid)
    bus.client().send_message(forged(name, "GPSData", "zel.orb.xlocd", *["FORGED"] * 12,
                                     signature="s" * 12))
    for _ in range(200):  # a new owner each time, were the tool to believe it
        bus.client().send_message(forged(name, "NameOwnerChanged", "org.freedesktop.DBus",
                                         "zel.orb.xlocd", ":1.1", ":1.2", signature="sss"))
    for second in (56, 57):
        server.send(rig.tpv(time_=f"2026-03-05T12:34:{second}.000Z"))
        assert json.loads(tool.p.stdout.readline())["time"] == f"1234{second}"
    assert tool.stop() == 0


def test_follow_asks_a_restarted_daemon_anew(served, xlocd):
    server, first = served(gps_data_signal=1)
    tool = follow()
    fields = [tool.p.stdout.readline() for _ in range(13)]
    first.terminate()
    xlocd(gps_port=server.port, gps_data_signal=1)  # its first texts come without a signal
    assert [tool.p.stdout.readline() for _ in range(13)] == fields  # asked anew
    # Past the tool's two-second look and the second it allows for a signal.
    rig.stays(tool.alive, "--follow running", quiet=3.5 * rig.SCALE)
    assert tool.stop() == 0


def test_follow_without_the_signal_says_why(served):
    server, _ = served()
    tool = follow()
    tool.p.stdout.readline()  # the first fields are out
    server.send(rig.tpv())
    _, err = tool.p.communicate(timeout=10 * rig.SCALE)
    assert tool.p.returncode == 4 and "xlocd sends no GPSData signal" in err, err


def test_query_gives_up_on_a_daemon_that_does_not_answer(xlocd):
    daemon = xlocd()
    daemon.proc.p.send_signal(signal.SIGSTOP)  # holds the name, answers nothing
    try:
        out = query("--timeout", "300")
        assert out.returncode == 2 and "did not answer within 300 ms" in out.stderr
    finally:
        daemon.proc.p.send_signal(signal.SIGCONT)


@pytest.mark.parametrize("args,status,text", [
    ([], 1, "xlocd is not running"), (["--bogus"], 64, "Usage:"),
    (["--watch", "300000000"], 64, "--watch takes a whole number from 0 to 86400"),
    (["--watch", "1s"], 64, "not '1s'"), (["--timeout", "0"], 64, "--timeout takes"),
    *[(["--watch", n], 64, f"not '{n}'") for n in (" 5", "+1", "-0")],
    (["-h"], 0, "Usage:"), (["--help"], 0, "Usage:")])
def test_query_without_the_daemon_and_with_bad_options(bus, args, status, text):
    out = query(*args)
    assert out.returncode == status and text in out.stdout + out.stderr, out.stderr
