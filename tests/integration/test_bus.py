"""The daemon on the bus: announcements and WhoIsThere, start-up and stop, the policy,
introspection and the GPSData signal."""
import calendar
import json
import pwd
import signal
import socket
import subprocess
import time

import pytest

import rig
from conftest import CLIENT, SD_NOTIFY, XLOCD, config_text
from test_gps import full_listener

B = "zel.orb.broadcast"
OBJ = "/zel/orb/xlocd/Object"
IDENTITY = ["xlocd", "v3_03r1", "unknown", "daemon provides GPS information on request"]
EPOCH = calendar.timegm((2026, 11, 30, 12, 34, 0, 0, 334, 0))
NEEDS_ROOT = pytest.mark.skipif(not rig.ROOT_USER, reason="calls as 'nobody' need setpriv (root)")


def own_hellos(recorder):
    return [m for m in recorder.messages("HELLO") if m["path"] == OBJ]


def test_whoisthere_from_anyone_is_answered_and_nothing_else(xlocd, recorder, bus):
    xlocd()
    recorder.wait("HELLO")
    bus.signal(B, "HELLO", "peer")  # not a question
    bus.signal("zel.orb.xlocd", "WhoIsThere")  # another interface
    bus.signal(B, "WhoIsThere", "a", "b", path="/zel/orb/other/Object")
    rig.wait_for(lambda: len(own_hellos(recorder)) == 2, what="the answer")
    rig.stays(lambda: len(own_hellos(recorder)) == 2, "one answer")


def test_a_whoisthere_flood_gets_ten_hellos_a_second_the_last_after_it(xlocd, recorder, bus):
    """The cap is a difference from the design, against a local user's flood."""
    xlocd()
    recorder.wait("HELLO")
    for _ in range(300):
        bus.signal(B, "WhoIsThere")
    asked = recorder.wait("WhoIsThere", 300)[-1]["t"]
    rig.wait_for(lambda: own_hellos(recorder)[-1]["t"] >= asked, what="a HELLO after it")
    rig.stays(lambda: own_hellos(recorder)[-1]["t"] >= asked)
    answers = own_hellos(recorder)[1:]
    span = answers[-1]["t"] - answers[0]["t"]
    assert 10 < len(answers) <= 10 + 10 * span + 1, (len(answers), span)


def test_the_match_rules_are_in_place_before_the_registration(xlocd, peers, recorder, bus):
    """xcord never answers: while the daemon waits for it (2 s on the test bus), a
    WhoIsThere reaches the daemon only if its rule is there already."""
    cord = peers("xcord")
    xlocd(watchdog_interval=10)
    cord.wait("RegisterWatchdog")
    bus.signal(B, "WhoIsThere")
    rig.wait_for(lambda: len(own_hellos(recorder)) == 2, 10, what="the answer after the wait")


def test_a_second_instance_is_refused_and_says_goodbye(xlocd, recorder, bus, tmp_path):
    xlocd()
    (tmp_path / "second").mkdir()
    second = rig.Daemon(XLOCD, tmp_path / "second", bus,
                        config_text(tmp_path / "second", rig.free_port()), wait_name=False)
    refused = "Register xlocd on DBUS failed"
    assert second.proc.p.wait(10 * rig.SCALE) == 0
    assert (second.stderr.read_text(), second.log_lines()) == (refused, [refused])
    recorder.wait("GOODBYE")  # the refused instance had a connection all the same


def test_calls_sent_at_once_are_all_answered(xlocd):
    xlocd()  # the client sends all 20 before it reads; the daemon answers one call per pass
    out = subprocess.run(rig.command(CLIENT, "--calls", 20, "--burst"), capture_output=True,
                         timeout=60 * rig.SCALE)
    assert json.loads(out.stdout)["twelve"] == 20


@pytest.mark.parametrize("sig,gpsd", [(signal.SIGINT, "absent"), (signal.SIGTERM, "held"),
                                      (signal.SIGTERM, "silent")])
def test_a_stop_signal_ends_the_daemon_at_once_with_goodbye(xlocd, json_gpsd, recorder, sig, gpsd):
    """gpsd absent: an attempt every pass; held: the first attempt waits for its connect;
    silent: connected and no deadline, so the wait has no timeout."""
    server = json_gpsd() if gpsd == "silent" else None
    port = server.port if server else rig.free_port()
    listeners = full_listener(port) if gpsd == "held" else []
    daemon = xlocd(gps_port=port)
    if server:
        assert server.watching.wait(5 * rig.SCALE)
    start = time.monotonic()
    assert daemon.terminate(sig) == 0
    assert time.monotonic() - start < 0.5 * rig.SCALE  # the signal ends the wait at once
    assert [rig.shape(m) for m in recorder.wait("GOODBYE")] == [(OBJ, B, "ssss", IDENTITY)]
    for sock in listeners:
        sock.close()


@pytest.mark.skipif(not SD_NOTIFY, reason="built without libsystemd")
def test_the_service_manager_hears_ready_after_hello_then_pings_then_stopping(xlocd, recorder,
                                                                             tmp_path):
    manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    manager.bind(str(tmp_path / "notify"))
    manager.settimeout(10 * rig.SCALE)
    daemon = xlocd(env={"NOTIFY_SOCKET": str(tmp_path / "notify"), "WATCHDOG_USEC": "2000000"})
    assert manager.recv(64) == b"READY=1"
    daemon.proc.p.send_signal(signal.SIGSTOP)  # stopped at READY, it has sent HELLO before
    recorder.wait("HELLO")
    daemon.proc.p.send_signal(signal.SIGCONT)
    start = time.monotonic()
    assert [manager.recv(64) for _ in range(4)] == [b"WATCHDOG=1"] * 4
    assert time.monotonic() - start < 6 * rig.SCALE  # one a second, at half of WATCHDOG_USEC
    daemon.proc.p.send_signal(signal.SIGTERM)
    while (state := manager.recv(64)) == b"WATCHDOG=1":  # one may have come meanwhile
        pass
    assert state == b"STOPPING=1"


PROBE = """
import dbus, dbus.lowlevel, sys
bus = dbus.bus.BusConnection(sys.argv[1])
for step in sys.argv[2:]:  # member@interface@path; an empty interface: none in the call
    member, interface, path = (step + "@@").split("@")[:3]
    try:
        if member == "own":
            reply = [bus.request_name("zel.orb.xlocd")]
        else:
            reply = bus.send_message_with_reply_and_block(dbus.lowlevel.MethodCallMessage(
                "zel.orb.xlocd", path or OBJ, interface or None, member), 2).get_args_list()
        print(f"ok{len(reply)}", end=" ")
    except dbus.DBusException as e:
        print(e.get_dbus_name().rsplit(".", 1)[1], end=" ")  # NoReply: none in 2 s
""".replace("OBJ", repr(OBJ))
INTROSPECT = "Introspect@org.freedesktop.DBus.Introspectable"
PING = "Ping@org.freedesktop.DBus.Peer"


def probe(bus, *steps):
    """Runs the steps as 'nobody': okN (N arguments came) or the error, for each."""
    uid = pwd.getpwnam("nobody").pw_uid
    out = subprocess.run(["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups",
                          "/usr/bin/python3", "-c", PROBE, bus.address, *steps],
                         capture_output=True, text=True, timeout=60 * rig.SCALE)
    return out.stdout.split()


@NEEDS_ROOT
@pytest.mark.parametrize("key,policies,answers", [
    (None, [], ["ok12", "ok12", "UnknownInterface"] + ["AccessDenied"] * 5),
    (1, ["zel.orb.xlocd-introspection.conf"],
     ["ok12", "ok12", "UnknownInterface", "AccessDenied", "ok1", "ok0", "UnknownObject",
      "AccessDenied"])])
def test_the_shipped_policy_admits_only_calls_answered_at_once(own_bus, xlocd, tmp_path, key,
                                                              policies, answers):
    """The installed policy file, and the example the README names for introspection=1."""
    conf = tmp_path / "extra.conf"
    conf.write_text("<busconfig>" + "".join(
        f"<include>{rig.ROOT / 'etc/examples' / p}</include>" for p in policies) + "</busconfig>")
    bus = own_bus(test_policy=conf)
    xlocd(on=bus, introspection=key)
    assert probe(bus, "GetGPSData@zel.orb.xlocd", "GetGPSData@",
                 "GetGPSData@other.iface", "Other@zel.orb.xlocd", INTROSPECT, PING,
                 INTROSPECT + "@/elsewhere", "own") == answers


def test_introspection_shows_the_method_and_the_signal_from_the_root_down(xlocd, bus):
    xlocd(introspection=1)
    out = subprocess.run(["gdbus", "introspect", "--address", bus.address, "--dest",
                          "zel.orb.xlocd", "--object-path", "/", "--recurse"],
                         capture_output=True, text=True, timeout=20 * rig.SCALE).stdout
    assert "GetGPSData" in out and "GPSData" in out.replace("GetGPSData", ""), out


def gpsdata(watcher):
    return [rig.args_of(s) for s in watcher.messages("GPSData")]


@pytest.mark.parametrize("key", [1, None])
def test_the_gpsdata_signal_carries_each_change_only_with_its_key(served, peers, key):
    watcher = peers(matches=[rig.Peer.XLOCD])
    server, daemon = served(env={"TZ": "UTC"}, gps_data_signal=key)
    answers = []
    for seconds in (["56"], ["56", "57"]):  # the repeated report changes nothing
        server.send(*[rig.tpv(time_=f"2026-03-05T12:34:{s}.000Z") for s in seconds])
        answers.append(daemon.wait_data(lambda d: d[4] == f"1234{seconds[-1]}"))
    expected = answers if key else []
    rig.wait_for(lambda: len(gpsdata(watcher)) == len(expected), what="the signals")
    rig.stays(lambda: gpsdata(watcher) == expected, "one signal a change")
    assert all(rig.shape(s)[:2] == (OBJ, "zel.orb.xlocd") for s in watcher.messages("GPSData"))


def test_the_gpsdata_signal_leaves_the_answer_as_it_was(xlocd, gpsd, peers):
    """The signal's texts come from a store of their own: a 3D fix seen only by the signal
    leaves no altitude in a later answer after a 2D fix (a real receiver)."""
    watcher = peers(matches=[rig.Peer.XLOCD])
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, env={"TZ": "UTC"}, gps_data_signal=1)
    t = rig.feed_until(feed, lambda: any(s[3] == "522" for s in gpsdata(watcher)),
                       start=EPOCH, alt=521.6)
    two_d = time.strftime("%H%M%S", time.gmtime(t + 2))
    rig.feed_until(feed, lambda: gpsdata(watcher)[-1][4] == two_d, start=t + 1, alt=None)
    assert daemon.get_data()[3] == "" and gpsdata(watcher)[-1][3] == "522"
