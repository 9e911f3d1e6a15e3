"""Watchdog and service calls to a stand-in xcord: the daemon's side, the library's codes."""
import os

import pytest

import rig
from conftest import FAKETIME


FROM_2038 = {"LD_PRELOAD": FAKETIME, "FAKETIME": "@2038-01-19 03:14:04",  # 03:14:07 lies ahead
             "FAKETIME_DONT_FAKE_MONOTONIC": "1"}


def test_the_registration_carries_name_pid_command_and_interval(xlocd, xcord):
    cord = xcord()
    daemon = xlocd(watchdog_interval=10, CMDOnWatchdog="reboot now")
    reg = cord.wait("RegisterWatchdog")[0]
    assert (reg["type"], reg["path"], reg["interface"], rig.types_of(reg), rig.args_of(reg)) == (
        "method_call", "/zel/orb/xcord/Object", "zel.orb.xcord", "susu",
        ["xlocd", daemon.proc.pid, "reboot now", 10])


@pytest.mark.parametrize("keys,period", [
    ({"watchdog_interval": 1}, 1), ({"watchdog_interval": 5}, 2),
    ({"watchdog_interval": 2, "env": FROM_2038}, 1)])
def test_triggers_come_from_the_first_pass_on_every_half_interval(xlocd, xcord, keys, period):
    cord = xcord()
    daemon = xlocd(**keys)
    registered = cord.wait("RegisterWatchdog")[0]["t"]
    triggers = cord.wait("TriggerWatchdog", 4, timeout=period * 4 + 3)
    assert triggers[0]["t"] - registered < 0.5 * rig.SCALE  # the first pass triggers at once
    assert {(t["path"], t["interface"], rig.types_of(t), rig.args_of(t)[0]) for t in triggers
            } == {("/zel/orb/xlocd/Object", "zel.orb.xcord", "u", daemon.proc.pid)}
    # The first gap depends on where in the second the first pass fell. A 32-bit time_t
    # (armhf) wraps in 2038: no burst, but one gap may take two seconds.
    gaps = [b["t"] - a["t"] for a, b in zip(triggers[1:], triggers[2:])]
    wraps = "env" in keys and os.environ.get("XLOCD_TIME_T_BYTES") == "4"
    assert all(period - 0.15 < g < (2.2 if wraps else period + 0.15 * rig.SCALE) for g in gaps), \
        gaps


@pytest.mark.parametrize("keys,reply", [  # no interval, a text the bus cannot carry, a refusal
    ({"watchdog_interval": "0"}, "text:OK"), ({"watchdog_interval": "-5"}, "text:OK"),
    ({"watchdog_interval": 2, "CMDOnWatchdog": "beep-gr\u00fc\u00df"}, "text:OK"),
    ({"watchdog_interval": 2}, "text:NOK")])
def test_without_a_registration_no_trigger_comes(xlocd, xcord, keys, reply):
    cord = xcord({"RegisterWatchdog": reply, "CancelWatchdog": "text:OK"})
    daemon = xlocd(**keys)
    rig.wait_for(lambda: daemon.log_lines(), what="the first gpsd attempt, after registering")
    # Longer than the shortest trigger period.
    rig.stays(lambda: not cord.messages("TriggerWatchdog"), "no trigger", quiet=1.2 * rig.SCALE)


@pytest.mark.parametrize("interval", [10, 0])
def test_the_stop_cancels_the_watchdog_before_goodbye_registered_or_not(xlocd, xcord, recorder,
                                                                        interval):
    cord = xcord()
    daemon = xlocd(watchdog_interval=interval)
    recorder.wait("HELLO")
    assert daemon.terminate() == 0
    cancel = cord.wait("CancelWatchdog")[0]
    assert (rig.args_of(cancel), rig.types_of(cancel)) == ([daemon.proc.pid], "u")
    assert cancel["t"] <= recorder.wait("GOODBYE")[0]["t"]


@pytest.mark.parametrize("gpsd", ["connected and silent", "absent, tried every 5 s"])
def test_triggers_keep_their_cadence_while_gpsd_brings_no_pass(xlocd, xcord, json_gpsd, gpsd):
    """Only the watchdog's own deadline wakes the daemon here."""
    cord = xcord()
    keys = {"gps_port": json_gpsd(silent=True).port} if "silent" in gpsd else {"gpsd_reconnect": 5}
    xlocd(watchdog_interval=2, **keys)
    triggers = cord.wait("TriggerWatchdog", 4, timeout=8)
    gaps = [b["t"] - a["t"] for a, b in zip(triggers[1:], triggers[2:])]
    # Whole wall-clock seconds apart; the margin is the scheduling of two processes.
    assert all(abs(g - 1.0) < 0.15 * rig.SCALE for g in gaps), gaps


# ---- library result codes through the plain-C driver ----------------------

COMMANDS = {"RegisterWatchdog": ("watchdog 10 signal01.beep", "susu"),
            "CancelWatchdog": ("cancel", "u"), "GetIgnition": ("ignition", "")}


@pytest.mark.parametrize("member,answer,expected", [
    ("RegisterWatchdog", "text:OK", 0), ("RegisterWatchdog", "text:OKAY", 0),
    ("RegisterWatchdog", "text:ok", -9), ("RegisterWatchdog", "text:NOK", -9),
    ("RegisterWatchdog", "text:", -9), ("RegisterWatchdog", "noargs", -10),
    ("RegisterWatchdog", "uint:1", -9), ("RegisterWatchdog", "error:Refused", -9),
    ("RegisterWatchdog", "error:OK, read like an answer", 0),
    ("CancelWatchdog", "text:OK", 0), ("CancelWatchdog", "text:ON", -9),
    ("CancelWatchdog", "noargs", -9), ("CancelWatchdog", "error:OK", 0),
    ("GetIgnition", "text:OFF", 0), ("GetIgnition", "text:OF", 0), ("GetIgnition", "text:ON", 1),
    ("GetIgnition", "text:off", 1), ("GetIgnition", "text:", 1), ("GetIgnition", "noargs", 1),
    ("GetIgnition", "error:Refused", 1)])
def test_reply_texts_decide_the_result(xcord, driver, member, answer, expected):
    cord = xcord({member: answer})
    assert driver().result(COMMANDS[member][0]) == expected
    assert rig.types_of(cord.wait(member)[0]) == COMMANDS[member][1]


def test_every_operation_refuses_a_missing_record_or_argument(driver):
    d = driver(name=None)
    assert [d.result(c) for c in ("request p M 0 a", "stayalive 0", "null")] == [-5, -5, 0]
    assert [d.result(c) for c in ("register x", "unregister", "hello", "goodbye", "whoisthere",
                                  "watchdog 1 x", "trigger", "cancel", "stayalive 1", "ignition",
                                  "request p M 4 a", "notify p M a", "drain")] == [-5] * 12 + [-10]


def test_without_xcord_the_bus_answers_the_calls_at_once(driver):
    d = driver("testapp7")  # the bus answers ServiceUnknown, read like any answer
    assert [d.result("watchdog 10 x"), d.result("cancel"), d.result("ignition")] == [-9, -9, 1]


def test_trigger_and_stay_alive_come_from_the_callers_own_path(xcord, driver):
    d, cord = driver("testapp7"), xcord()
    assert [d.result("trigger"), d.result("stayalive 0"), d.result("stayalive 42")] == [0, -5, 0]
    trig, alive = cord.wait("TriggerWatchdog")[0], cord.wait("StayAlive")[0]
    assert (trig["path"], trig["interface"]) == ("/zel/orb/testapp7/Object", "zel.orb.xcord")
    assert (alive["path"], rig.args_of(alive), rig.types_of(alive)) == (
        "/zel/orb/testapp7/Object", [42], "u")
    assert len(cord.messages("StayAlive")) == 1
