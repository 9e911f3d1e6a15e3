"""Bus identity, announcements, shutdown, the policy, GPSData signal, introspection, xlocd-query."""
import json
import pathlib
import pwd
import signal
import subprocess
import time
from xml.etree import ElementTree

import dbus
import pytest

import rig
from conftest import QUERY, XLOCD, config_text, gps_client

OBJ = "/zel/orb/xlocd/Object"
IDENTITY = ["xlocd", "v3_03r1", "unknown", "daemon provides GPS information on request"]
KEYS = ["status", "latitude", "longitude", "altitude", "time", "satellites", "quality", "warn",
        "speed", "course", "date", "UTC"]


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM])
def test_announcements_whoisthere_a_refused_second_instance_and_the_stop(
        xlocd, recorder, bus, tmp_path, sig):
    daemon = xlocd()
    hello = recorder.wait("HELLO")[0]
    assert (hello["path"], hello["interface"], rig.types_of(hello), rig.args_of(hello)) == (
        "/zel/orb/xlocd/Object", "zel.orb.broadcast", "ssss", IDENTITY)
    bus.signal("zel.orb.broadcast", "WhoIsThere", "a", "b", path="/zel/orb/other/Object")
    bus.signal("zel.orb.broadcast", "HELLO", "peer")  # not a question
    bus.signal("zel.orb.xlocd", "WhoIsThere")  # another interface
    for _ in range(100):
        bus.signal("zel.orb.broadcast", "WhoIsThere")
    recorder.wait("HELLO", 1 + 101 + 1)  # the recorder also sees the test's HELLO
    time.sleep(0.3)  # and not one more
    assert [m["path"] for m in recorder.messages("HELLO")].count("/zel/orb/xlocd/Object") == 102
    (tmp_path / "second").mkdir()
    second = rig.Daemon(XLOCD, tmp_path / "second", bus,
                        config_text(tmp_path / "second", rig.free_port()), wait_name=False)
    assert (second.proc.p.wait(10), second.stderr.read_text(), second.log_lines()) == (
        0, "Register xlocd on DBUS failed", ["Register xlocd on DBUS failed"])
    recorder.wait("GOODBYE")  # the refused instance had a connection all the same
    assert gps_client(calls=20, burst=True)["twelve"] == 20  # one call per pass
    start = time.monotonic()
    assert daemon.terminate(sig) == 0 and time.monotonic() - start < 2.0  # gpsd is absent
    assert [rig.args_of(m) for m in recorder.messages("GOODBYE")] == [IDENTITY] * 2


PROBE = """
import dbus, dbus.lowlevel, sys
bus = dbus.bus.BusConnection(sys.argv[1])
call = lambda interface, member: bus.send_message_with_reply_and_block(
    dbus.lowlevel.MethodCallMessage("zel.orb.xlocd", "/zel/orb/xlocd/Object", interface, member), 1)
for member, _, interface in (step.partition("@") for step in sys.argv[2:]):  # "@": no interface
    try:
        bus.request_name("zel.orb.xlocd") if member == "own" else call(interface or None, member)
        print("ok")
    except dbus.DBusException as e:
        print(e.get_dbus_name().rsplit(".", 1)[1])
"""


def test_shipped_policy_lets_everyone_call_getgpsdata_only(tmp_path):
    """The project's policy file alone, as installed; 'daemon' is an ordinary user."""
    bus = rig.Bus(test_policy=None)
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, rig.free_port()))
        uid = pwd.getpwnam("daemon").pw_uid
        steps = ["GetGPSData@zel.orb.xlocd", "GetGPSData@", "Other@zel.orb.xlocd", "Other@", "own"]
        out = subprocess.run(["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups",
                              "/usr/bin/python3", "-c", PROBE, bus.address, *steps],
                             capture_output=True, text=True, timeout=20)
        assert out.stdout.split() == ["ok", "ok"] + ["AccessDenied"] * 3, out.stderr
        assert daemon.terminate() == 0
    finally:
        bus.stop()


def query(*args):
    return subprocess.run(rig.command(QUERY, *args), capture_output=True, text=True, timeout=30)


@pytest.mark.parametrize("key", [1, None])
def test_signal_follow_introspection_and_peer_only_with_their_keys_and_the_query_tool(
        xlocd, json_gpsd, peers, bus, key):
    watcher = peers(matches=["type='signal',interface='zel.orb.xlocd'"])
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env={"TZ": "UTC"}, gps_data_signal=key,
                   introspection=key)
    follow = rig.Proc(rig.command(QUERY, "--follow", "--json"), stdout=subprocess.PIPE,
                      stderr=subprocess.PIPE, text=True)
    time.sleep(0.3)
    answers = []
    for second in (56, 56, 57, 58):  # the second fold changes nothing
        server.send(rig.tpv(time_=f"2026-03-05T12:34:{second}.000Z"))
        time.sleep(0.8)
        answers.append(daemon.get_data())
    signals = watcher.messages("GPSData")
    assert [rig.args_of(s) for s in signals] == ([answers[0], *answers[2:]] if key else [])
    assert {(s["path"], s["interface"]) for s in signals} <= {(OBJ, "zel.orb.xlocd")}
    if key:
        follow.p.terminate()
    out, err = follow.p.communicate(timeout=10)  # xlocd-query --follow: each signal, or why not
    times = [json.loads(line)["time"] for line in out.splitlines()]
    assert (follow.p.returncode, times) == (
        (0, ["000000", "123456", "123457", "123458"]) if key else (4, ["000000"])), err
    assert key or "xlocd sends no GPSData signal" in err
    call = lambda interface, member, sig="", args=(), path=OBJ: bus.client().call_blocking(
        "zel.orb.xlocd", path, interface, member, sig, args, timeout=1)  # arguments are ignored:
    assert list(call("zel.orb.xlocd", "GetGPSData", "sua{ss}", ["x", 1, {"k": "v"}])) == answers[-1]
    if not key:  # without the key, Introspect is one of the other messages: no answer
        with pytest.raises(dbus.DBusException, match="NoReply"):
            call("org.freedesktop.DBus.Introspectable", "Introspect")
        assert query().stdout == "".join(f"{k:12}{v}\n" for k, v in zip(KEYS, answers[-1])) + "\n"
        assert json.loads(query("--json").stdout) == dict(zip(KEYS, answers[-1]))
        watch = rig.Proc(rig.command(QUERY, "--json", "--watch", "1"), stdout=subprocess.PIPE)
        lines = [watch.p.stdout.readline() for _ in range(2)]
        assert watch.stop() == 0 and [json.loads(l)["status"] for l in lines] == ["NMEA"] * 2
        daemon.proc.p.send_signal(signal.SIGSTOP)  # holds the name, answers nothing
        try:
            out = query("--timeout", "300")
            assert out.returncode == 2 and "did not answer within 300 ms" in out.stderr
        finally:
            daemon.proc.p.send_signal(signal.SIGCONT)
        return
    xml = ElementTree.fromstring(call("org.freedesktop.DBus.Introspectable", "Introspect"))
    interface = xml.find("interface[@name='zel.orb.xlocd']")
    for item, io in (("method[@name='GetGPSData']", "out"), ("signal[@name='GPSData']", None)):
        args = interface.find(item).findall("arg")
        assert [a.get("name") for a in args] == ["acn_" + k for k in KEYS]
        assert {(a.get("direction"), a.get("type")) for a in args} == {(io, "s")}
    for tool in (["busctl", f"--address={bus.address}", "introspect", "zel.orb.xlocd",
                  "/zel/orb/xlocd/Object"],  # gdbus walks the tree from "/"
                 ["gdbus", "introspect", "--address", bus.address, "--dest", "zel.orb.xlocd",
                  "--object-path", "/", "--recurse"]):
        out = subprocess.run(tool, capture_output=True, text=True, timeout=20).stdout
        assert "GetGPSData" in out and "GPSData" in out.replace("GetGPSData", ""), out
    assert call("org.freedesktop.DBus.Peer", "Ping") is None
    machine_id = pathlib.Path("/var/lib/dbus/machine-id")
    assert call("org.freedesktop.DBus.Peer", "GetMachineId", path="/") == (
        machine_id if machine_id.exists() else pathlib.Path("/etc/machine-id")).read_text().strip()


@pytest.mark.parametrize("args,status,text", [
    ([], 1, "xlocd is not running"), (["--bogus"], 64, "Usage:"),
    (["--watch", "300000000"], 64, "--watch takes a whole number from 0 to 86400"),
    (["--watch", "1s"], 64, "not '1s'"), (["--timeout", "0"], 64, "--timeout takes")])
def test_query_without_the_daemon_and_with_bad_options(bus, args, status, text):
    out = query(*args)
    assert out.returncode == status and text in out.stderr, out.stderr
