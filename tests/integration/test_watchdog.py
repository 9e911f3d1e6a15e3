"""Watchdog and service calls to a stand-in xcord: the daemon's side, the library's codes."""
import os

import pytest

import rig
from conftest import FAKETIME


FROM_2038 = {"LD_PRELOAD": FAKETIME, "FAKETIME": "@2038-01-19 03:14:04",  # 03:14:07 lies ahead
             "FAKETIME_DONT_FAKE_MONOTONIC": "1"}


def test_the_registration_comes_after_hello_with_name_pid_command_and_interval(xlocd, xcord):
    cord = xcord()  # it hears the broadcasts too: one receiver sees the bus's order
    daemon = xlocd(watchdog_interval=10, CMDOnWatchdog="reboot now")
    cord.wait("TriggerWatchdog")
    assert rig.shape(cord.messages("RegisterWatchdog")[0]) == ("/zel/orb/xcord/Object",
        "zel.orb.xcord", "susu", ["xlocd", daemon.proc.pid, "reboot now", 10])
    seen = [m["member"] for m in cord.messages()]
    assert seen.index("HELLO") < seen.index("RegisterWatchdog") < seen.index("TriggerWatchdog")


@pytest.mark.parametrize("keys,period", [
    ({"watchdog_interval": 1}, 1), ({"watchdog_interval": 5}, 2),
    ({"watchdog_interval": 2, "gpsd_reconnect": 5}, 1),  # only the watchdog's deadline wakes it
    ({"watchdog_interval": 2, "env": FROM_2038}, 1)])
def test_triggers_come_from_the_first_pass_on_every_half_interval(xlocd, xcord, keys, period):
    cord = xcord()
    daemon = xlocd(**keys)
    registered = cord.wait("RegisterWatchdog")[0]["t"]
    triggers = cord.wait("TriggerWatchdog", 4, timeout=period * 4 + 3)
    assert triggers[0]["t"] - registered < 0.5 * rig.SCALE  # the first pass triggers at once
    assert {rig.shape(t)[:3] + (rig.args_of(t)[0],) for t in triggers} == {
        ("/zel/orb/xlocd/Object", "zel.orb.xcord", "u", daemon.proc.pid)}
    # The first gap depends on where in the second the first pass fell. A 32-bit time_t
    # (Debian 12's armhf) wraps in 2038: no burst, but one gap may take two seconds.
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
def test_the_stop_cancels_the_watchdog_before_goodbye(xlocd, xcord, interval):
    cord = xcord()
    daemon = xlocd(watchdog_interval=interval)
    cord.wait("HELLO")
    assert daemon.terminate() == 0
    cord.wait("GOODBYE")  # the stand-in hears the broadcasts too: the bus's order
    seen = [m["member"] for m in cord.messages()]
    assert seen.index("CancelWatchdog") < seen.index("GOODBYE")
    assert rig.shape(cord.messages("CancelWatchdog")[0])[2:] == ("u", [daemon.proc.pid])


# ---- the library, through the plain-C driver ----

# Each call: the driver's command, what it carries, xcord's answers and their results.
CALLS = {"RegisterWatchdog": ("watchdog 10 signal01.beep", "susu", [
             ("text:OK", 0), ("text:OKAY", 0), ("text:ok", -9), ("text:", -9),
             ("noargs", -10), ("uint:1", -9), ("error:Refused", -9),
             ("error:OK, read like an answer", 0)]),
         "CancelWatchdog": ("cancel", "u", [
             ("text:OK", 0), ("text:ON", -9), ("noargs", -9), ("error:OK", 0)]),
         "GetIgnition": ("ignition", "", [
             ("text:OFF", 0), ("text:OF", 0), ("text:ON", 1), ("text:off", 1), ("text:", 1),
             ("noargs", 1), ("error:Refused", 1)])}


@pytest.mark.parametrize("member,answer,expected", [
    (member, answer, expected) for member, (_, _, answers) in CALLS.items()
    for answer, expected in answers])
def test_reply_texts_decide_the_result(xcord, driver, member, answer, expected):
    command, types, _ = CALLS[member]
    cord = xcord({member: answer})
    assert driver().result(command) == expected
    assert rig.types_of(cord.wait(member)[0]) == types


def test_every_operation_refuses_a_missing_record_or_argument(driver):
    d = driver(name=None)
    assert [d.result(c) for c in ("request p M 0 a", "stayalive 0", "null")] == [-5, -5, 0]
    assert [d.result(c) for c in ("register x", "unregister", "hello", "goodbye", "whoisthere",
                                  "watchdog 1 x", "trigger", "cancel", "stayalive 1", "ignition",
                                  "request p M 4 a", "notify p M a", "drain")] == [-5] * 12 + [-10]


def test_stay_alive_comes_from_the_callers_own_path(xcord, driver):
    d, cord = driver("testapp7"), xcord()
    assert d.result("stayalive 42") == 0
    alive = cord.wait("StayAlive")[0]
    assert rig.shape(alive) == ("/zel/orb/testapp7/Object", "zel.orb.xcord", "u", [42])
    assert len(cord.messages("StayAlive")) == 1
