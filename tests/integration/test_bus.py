"""Bus identity, announcements, shutdown, the policy, GPSData signal, introspection, xlocd-query."""
import calendar
import json
import pathlib
import pwd
import signal
import subprocess
import time

import dbus
import dbus.lowlevel
import pytest

import rig
from conftest import QUERY, XLOCD, config_text, gps_client

OBJ = "/zel/orb/xlocd/Object"
IDENTITY = ["xlocd", "v3_03r1", "unknown", "daemon provides GPS information on request"]
EPOCH = calendar.timegm((2026, 11, 30, 12, 34, 0, 0, 334, 0))
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
import dbus, dbus.lowlevel, sys, time
bus = dbus.bus.BusConnection(sys.argv[1])
for step in sys.argv[2:]:  # member@interface@path; an empty interface: none in the call
    member, interface, path = (step + "@@").split("@")[:3]
    start = time.monotonic()
    try:
        if member == "own":
            bus.request_name("zel.orb.xlocd")
        else:
            bus.send_message_with_reply_and_block(dbus.lowlevel.MethodCallMessage(
                "zel.orb.xlocd", path or OBJ, interface or None, member), 1)
        print("ok", end=" ")
    except dbus.DBusException as e:
        print(e.get_dbus_name().rsplit(".", 1)[1], end=" ")
    print(f"{(time.monotonic() - start) * 1000:.1f}ms", file=sys.stderr)
""".replace("OBJ", repr(OBJ))
INTROSPECT, PING = "Introspect@org.freedesktop.DBus.Introspectable", "Ping@org.freedesktop.DBus.Peer"


def probe(bus, *steps, user="daemon"):
    """Runs the steps as an ordinary user; returns the outcome of each."""
    uid = pwd.getpwnam(user).pw_uid
    out = subprocess.run(["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups",
                          "/usr/bin/python3", "-c", PROBE, bus.address, *steps],
                         capture_output=True, text=True, timeout=30)
    print(dict(zip(steps, out.stderr.split())))  # seconds each call took
    return out.stdout.split()


@pytest.mark.parametrize("key,policies,answers", [
    (None, [], ["ok"] + ["AccessDenied"] * 7),
    (1, ["zel.orb.xlocd-introspection.conf"], ["ok", "AccessDenied", "AccessDenied", "AccessDenied",
                                               "ok", "ok", "UnknownObject", "AccessDenied"])])
def test_shipped_policy_admits_only_calls_the_daemon_answers(tmp_path, key, policies, answers):
    """The installed policy file, and the example the README names for introspection=1."""
    conf = tmp_path / "extra.conf"
    conf.write_text("<busconfig>" + "".join(
        f"<include>{rig.ROOT / 'etc/examples' / p}</include>" for p in policies) + "</busconfig>")
    bus = rig.Bus(test_policy=conf)
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, rig.free_port(),
                                                              introspection=key))
        assert probe(bus, "GetGPSData@zel.orb.xlocd", "GetGPSData@", "GetGPSData@other.iface",
                     "Other@zel.orb.xlocd", INTROSPECT, PING, INTROSPECT + "@/elsewhere", "own") == answers
        assert daemon.terminate() == 0
    finally:
        bus.stop()


def test_with_introspection_every_call_that_reaches_the_daemon_is_answered(xlocd, bus):
    """On the test bus 'nobody' may send the daemon anything."""
    daemon = xlocd(introspection=1)
    assert probe(bus, "GetGPSData@", "GetGPSData@other.iface", "Other@zel.orb.xlocd",
                 "GetAll@org.freedesktop.DBus.Properties", "Other@org.freedesktop.DBus.Peer",
                 INTROSPECT + "@/zel/orb/other", "Ping@org.freedesktop.DBus.Peer@/anywhere",
                 user="nobody") == ["ok", "UnknownInterface", "UnknownMethod", "UnknownInterface",
                                    "UnknownMethod", "UnknownObject", "ok"]
    out = subprocess.run(["gdbus", "introspect", "--address", bus.address, "--dest",
                          "zel.orb.xlocd", "--object-path", "/", "--recurse"],  # from "/" down
                         capture_output=True, text=True, timeout=20).stdout
    assert "GetGPSData" in out and "GPSData" in out.replace("GetGPSData", ""), out
    machine_id = pathlib.Path("/var/lib/dbus/machine-id")
    assert daemon_call(bus, "org.freedesktop.DBus.Peer", "GetMachineId", path="/") == (
        machine_id if machine_id.exists() else pathlib.Path("/etc/machine-id")).read_text().strip()


def test_without_introspection_other_calls_stay_unanswered(xlocd, bus):
    xlocd()
    with pytest.raises(dbus.DBusException, match="NoReply"):  # the test bus's 2 s
        daemon_call(bus, "org.freedesktop.DBus.Introspectable", "Introspect", timeout=5)


def daemon_call(bus, interface, member, path=OBJ, timeout=1):
    return bus.client().call_blocking("zel.orb.xlocd", path, interface, member, "", [],
                                      timeout=timeout)


@pytest.mark.parametrize("key", [1, None])
def test_gpsdata_signal_carries_each_change_only_with_its_key(xlocd, json_gpsd, peers, key):
    watcher = peers(matches=["type='signal',interface='zel.orb.xlocd'"])
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env={"TZ": "UTC"}, gps_data_signal=key)
    answers = []
    for second in (56, 56, 57):  # the second fold changes nothing
        server.send(rig.tpv(time_=f"2026-03-05T12:34:{second}.000Z"))
        time.sleep(0.6)
        answers.append(daemon.get_data())
    signals = watcher.messages("GPSData")
    assert [rig.args_of(s) for s in signals] == ([answers[0], answers[2]] if key else [])
    assert {(s["path"], s["interface"]) for s in signals} <= {(OBJ, "zel.orb.xlocd")}


def test_gpsdata_signal_on_a_real_receiver_leaves_the_answer_as_it_was(xlocd, gpsd, peers):
    """The signal's texts come from a store of its own: a 3D fix seen only by the signal
    leaves no altitude in a later answer after a 2D fix."""
    watcher = peers(matches=["type='signal',interface='zel.orb.xlocd'"])
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, env={"TZ": "UTC"}, gps_data_signal=1)
    texts = lambda: [rig.args_of(s) for s in watcher.messages("GPSData")]
    t = rig.feed_until(feed, lambda: any(s[3] == "522" for s in texts()), start=EPOCH, lat=1.5,
                       lon=2.5, alt=521.6)
    rig.feed_until(feed, lambda: texts()[-1][4] == time.strftime("%H%M%S", time.gmtime(t + 2)),
                   start=t + 1, lat=1.5, lon=2.5)  # 2D
    assert daemon.get_data()[3] == "" and texts()[-1][3] == "522"


def query(*args):
    return subprocess.run(rig.command(QUERY, *args), capture_output=True, text=True, timeout=30)


def unique_name_of(bus, pid):
    names = bus.client().list_names()
    return next(n for n in names if n.startswith(":") and bus.client().call_blocking(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", "s", [n]) == pid)


def test_follow_prints_the_owners_signals_and_nobody_elses(xlocd, json_gpsd, bus):
    server = json_gpsd()
    xlocd(gps_port=server.port, env={"TZ": "UTC"}, gps_data_signal=1)
    follow = rig.Proc(rig.command(QUERY, "--follow", "--json"), stdout=subprocess.PIPE,
                      text=True)
    assert json.loads(follow.p.stdout.readline())["time"] == "000000"  # the polled answer
    forged = dbus.lowlevel.SignalMessage(OBJ, "zel.orb.xlocd", "GPSData")
    forged.set_destination(unique_name_of(bus, follow.pid))  # straight to the tool
    forged.append(*["FORGED"] * 12, signature="s" * 12)
    bus.client().send_message(forged)
    for second in (56, 57):
        server.send(rig.tpv(time_=f"2026-03-05T12:34:{second}.000Z"))
        assert json.loads(follow.p.stdout.readline())["time"] == f"1234{second}"
    assert follow.stop() == 0


def test_follow_asks_a_restarted_daemon_anew_and_ends_quietly_without_a_reader(
        xlocd, json_gpsd):
    server = json_gpsd()
    first = xlocd(gps_port=server.port, gps_data_signal=1)
    follow = rig.Proc(rig.command(QUERY, "--follow"), stdout=subprocess.PIPE,
                      stderr=subprocess.PIPE, text=True)
    follow.p.stdout.readline()
    first.terminate()
    xlocd(gps_port=server.port, gps_data_signal=1)  # its first texts come without a signal
    time.sleep(3.5)  # past the two-second look and the second it allows for a signal
    assert follow.alive()
    follow.p.stdout.close()  # the reader goes away; the next print finds no reader
    server.send(rig.tpv(time_="2026-03-05T12:35:00.000Z"))
    assert follow.p.wait(5) == 0 and follow.p.stderr.read() == ""


def test_follow_without_the_signal_says_why(xlocd, json_gpsd):
    server = json_gpsd()
    xlocd(gps_port=server.port)
    follow = rig.Proc(rig.command(QUERY, "--follow"), stdout=subprocess.PIPE,
                      stderr=subprocess.PIPE, text=True)
    time.sleep(0.3)
    server.send(rig.tpv())
    _, err = follow.p.communicate(timeout=10)
    assert follow.p.returncode == 4 and "xlocd sends no GPSData signal" in err, err


def test_query_prints_the_twelve_fields_as_text_json_and_repeatedly(xlocd, json_gpsd):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port)
    server.send(rig.tpv())
    answer = rig.wait_for(lambda: (lambda d: d if d[0] == "NMEA" else None)(daemon.get_data()))
    assert query().stdout == "".join(f"{k:12}{v}\n" for k, v in zip(KEYS, answer)) + "\n"
    assert json.loads(query("--json").stdout) == dict(zip(KEYS, answer))
    watch = rig.Proc(rig.command(QUERY, "--json", "--watch", "1"), stdout=subprocess.PIPE)
    lines = [watch.p.stdout.readline() for _ in range(2)]
    assert watch.stop() == 0 and [json.loads(l)["status"] for l in lines] == ["NMEA"] * 2


def test_query_gives_up_on_a_daemon_that_does_not_answer(xlocd):
    daemon = xlocd()
    daemon.proc.p.send_signal(signal.SIGSTOP)  # holds the name, answers nothing
    try:
        out = query("--timeout", "300")
        assert out.returncode == 2 and "did not answer within 300 ms" in out.stderr
        waiting = rig.Proc(rig.command(QUERY, "--timeout", "600000"))
        time.sleep(0.3)
        start = time.monotonic()
        assert waiting.stop(signal.SIGINT) == 130 and time.monotonic() - start < 1.0
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
