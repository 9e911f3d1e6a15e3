"""Bus identity, announcements, the main loop and the shutdown sequence."""
import pwd
import signal
import subprocess
import time

import dbus
import pytest

import rig
from conftest import XLOCD, config_text, gps_client

IDENTITY = ["xlocd", "v3_03r1", "unknown", "daemon provides GPS information on request"]


def test_hello_on_start_and_goodbye_on_sigterm(xlocd, recorder):
    daemon = xlocd()
    hello = recorder.wait("HELLO")[0]
    assert (hello["path"], hello["interface"], rig.types_of(hello)) == (
        "/zel/orb/xlocd/Object", "zel.orb.broadcast", "ssss")
    assert rig.args_of(hello) == IDENTITY
    assert daemon.terminate() == 0
    goodbye = recorder.wait("GOODBYE")[0]
    assert rig.args_of(goodbye) == IDENTITY and goodbye["path"] == "/zel/orb/xlocd/Object"


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM])
def test_stop_signals_end_with_status_zero_while_gpsd_is_absent(xlocd, recorder, sig):
    daemon = xlocd()
    start = time.monotonic()
    assert daemon.terminate(sig) == 0
    assert time.monotonic() - start < 2.0
    recorder.wait("GOODBYE")
    assert daemon.log.exists()


def test_each_whoisthere_from_any_sender_gets_one_hello(xlocd, recorder, bus):
    xlocd()
    recorder.wait("HELLO")
    bus.signal("zel.orb.broadcast", "WhoIsThere", "a", "b", "c", "d", path="/zel/orb/other/Object")
    bus.signal("zel.orb.broadcast", "WhoIsThere")
    recorder.wait("HELLO", 3)
    bus.signal("zel.orb.broadcast", "HELLO", "peer")  # not a question
    bus.signal("zel.orb.xlocd", "WhoIsThere")         # wrong interface
    time.sleep(0.5)
    assert len(recorder.messages("HELLO")) == 3 + 1  # the recorder also sees the test's HELLO


def test_second_instance_is_refused_and_shuts_down(xlocd, bus, recorder, tmp_path):
    first = xlocd()
    recorder.wait("HELLO")
    second_dir = tmp_path / "second"
    second_dir.mkdir()
    second = rig.Daemon(first.proc.args[0], second_dir, bus,
                        f"Log_File={second_dir / 'xlocd.log'}\nRTC_path=\n", wait_name=False)
    assert second.proc.p.wait(10) == 0
    assert second.stderr.read_text() == "Register xlocd on DBUS failed"
    assert second.log_lines() == ["Register xlocd on DBUS failed"]
    # The refused instance still had a connection, so it said GOODBYE.
    recorder.wait("GOODBYE")
    assert first.proc.alive() and len(first.get_data()) == 12


def as_user(uid, code, *args):
    """Runs Python code as an unprivileged user through setpriv; returns its stdout."""
    out = subprocess.run(["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups",
                          "/usr/bin/python3", "-c", code, *map(str, args)],
                         capture_output=True, text=True, timeout=20)
    assert out.returncode == 0, out.stderr
    return out.stdout.split()


PROBE = """
import dbus, dbus.lowlevel, sys
bus = dbus.bus.BusConnection(sys.argv[1])
def call(member, interface="zel.orb.xlocd"):
    msg = dbus.lowlevel.MethodCallMessage("zel.orb.xlocd", "/zel/orb/xlocd/Object",
                                          interface or None, member)
    bus.send_message_with_reply_and_block(msg, 1.0)
for step in sys.argv[2:]:
    try:
        bus.request_name("zel.orb.xlocd") if step == "own" else call(*step.split("@"))
        print("ok")
    except dbus.DBusException as e:
        print(e.get_dbus_name())
"""
DENIED = "org.freedesktop.DBus.Error.AccessDenied"


def test_shipped_policy_lets_everyone_call_getgpsdata_only(tmp_path):
    """The project's policy file alone, as installed; 'daemon' is an ordinary user."""
    bus = rig.Bus(test_policy=None)
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, rig.free_port()))
        uid = pwd.getpwnam("daemon").pw_uid
        steps = ["GetGPSData", "GetGPSData@", "Other", "Other@", "own"]  # @: no interface field
        assert as_user(uid, PROBE, bus.address, *steps) == ["ok", "ok", DENIED, DENIED, DENIED]
        assert daemon.terminate() == 0
    finally:
        bus.stop()


def test_other_members_get_no_answer_at_all(xlocd, bus):
    """'nobody' passes a test-only policy that lets anything through to the daemon."""
    daemon = xlocd()
    assert as_user(65534, PROBE, bus.address, "Other") == ["org.freedesktop.DBus.Error.NoReply"]
    assert len(daemon.get_data()) == 12


def test_a_burst_of_100_whoisthere_gets_100_hello(xlocd, bus, recorder):
    xlocd()
    recorder.wait("HELLO")
    for _ in range(100):
        bus.signal("zel.orb.broadcast", "WhoIsThere", "burst")
    recorder.wait("HELLO", 101)
    time.sleep(0.3)  # and not one more
    assert [m["path"] for m in recorder.messages("HELLO")] == ["/zel/orb/xlocd/Object"] * 101


def test_a_burst_of_queued_calls_is_answered_one_per_pass(xlocd, bus):
    xlocd()
    result = gps_client(bus, calls=20, burst=True)
    assert (result["answered"], result["twelve"]) == (20, 20)


def test_refused_match_rule_error_is_released_unread(xlocd, recorder):
    daemon = xlocd()
    recorder.wait("HELLO")
    time.sleep(0.3)  # the bus's error reply to the 'method' rule has arrived by now
    assert len(daemon.get_data()) == 12
    assert daemon.proc.alive()
