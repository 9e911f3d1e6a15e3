"""Watchdog and system-service calls to xcord: the daemon's side and the library's
result codes, against a stand-in xcord on the private bus."""
import time

import pytest

import rig

OK = {"RegisterWatchdog": "text:OK", "CancelWatchdog": "text:OK"}


@pytest.fixture
def xcord(peers):
    def start(replies=OK):
        return peers("xcord", replies)
    return start


def test_registration_carries_name_pid_command_and_interval(xlocd, xcord):
    cord = xcord()
    daemon = xlocd(watchdog_interval=10)
    reg = cord.wait("RegisterWatchdog")[0]
    assert (reg["type"], reg["path"], reg["interface"]) == (
        "method_call", "/zel/orb/xcord/Object", "zel.orb.xcord")
    assert rig.types_of(reg) == "susu"
    assert rig.args_of(reg) == ["xlocd", daemon.proc.pid, "signal01.beep", 10]


@pytest.mark.parametrize("interval,period,count", [(2, 1, 5), (5, 2, 4)])
def test_trigger_cadence_is_half_the_interval(xlocd, xcord, interval, period, count):
    cord = xcord()
    daemon = xlocd(watchdog_interval=interval, CMDOnWatchdog="reboot now")
    reg = cord.wait("RegisterWatchdog")[0]
    assert rig.args_of(reg)[2] == "reboot now"
    triggers = cord.wait("TriggerWatchdog", count, timeout=period * count + 3)
    assert triggers[0]["t"] - reg["t"] < 0.5  # the first pass triggers at once
    for trig in triggers:
        assert (trig["type"], trig["path"], trig["interface"]) == (
            "signal", "/zel/orb/xlocd/Object", "zel.orb.xcord")
        assert rig.args_of(trig) == [daemon.proc.pid] and rig.types_of(trig) == "u"
    # The first gap depends on where in the second the first pass fell.
    gaps = [b["t"] - a["t"] for a, b in zip(triggers[1:], triggers[2:])]
    assert all(period - 0.15 < g < period + 0.15 for g in gaps), gaps


def test_cancel_is_sent_on_sigterm_before_goodbye(xlocd, xcord, recorder):
    cord = xcord()
    daemon = xlocd(watchdog_interval=4)
    cord.wait("TriggerWatchdog")
    assert daemon.terminate() == 0
    cancel = cord.wait("CancelWatchdog")[0]
    assert rig.args_of(cancel) == [daemon.proc.pid] and rig.types_of(cancel) == "u"
    assert cancel["t"] <= recorder.wait("GOODBYE")[0]["t"]


@pytest.mark.parametrize("config", [{"watchdog_interval": "0"}, {"watchdog_interval": "-5"},
                                    {"watchdog_interval": "abc"}])
def test_no_registration_but_cancel_at_shutdown(xlocd, xcord, config):
    cord = xcord()
    daemon = xlocd(**config)
    time.sleep(0.3)
    assert daemon.terminate() == 0
    cord.wait("CancelWatchdog")
    assert cord.messages("RegisterWatchdog") == [] and cord.messages("TriggerWatchdog") == []


@pytest.mark.parametrize("reply,command", [("text:NOK", "signal01.beep"),
                                           ("text:OK", "beep-gr\u00fc\u00df")])  # Latin-1
def test_refused_registration_silently_disables_triggering(xlocd, xcord, reply, command):
    cord = xcord({"RegisterWatchdog": reply, "CancelWatchdog": "text:OK"})
    daemon = xlocd(watchdog_interval=2, CMDOnWatchdog=command)
    rig.wait_for(lambda: daemon.log_lines(), what="the first gpsd attempt")
    time.sleep(1.2)
    assert cord.messages("TriggerWatchdog") == []
    assert len(cord.messages("RegisterWatchdog")) == (reply == "text:NOK")
    assert daemon.log_lines()[0].startswith(daemon.proc.args[0] + ": connection failure")
    assert daemon.terminate() == 0
    cord.wait("CancelWatchdog")


# ---- library result codes through the plain-C driver ----------------------

@pytest.mark.parametrize("member,answer,expected", [
    ("RegisterWatchdog", "text:OK", 0),
    ("RegisterWatchdog", "text:OKAY", 0),
    ("RegisterWatchdog", "text:ok", -9),
    ("RegisterWatchdog", "text:NOK", -9),
    ("RegisterWatchdog", "text:", -9),
    ("RegisterWatchdog", "noargs", -10),
    ("RegisterWatchdog", "uint:1", -9),
    ("RegisterWatchdog", "error:Refused", -9),
    ("RegisterWatchdog", "error:OK, read like an answer", 0),
    ("CancelWatchdog", "text:OK", 0),
    ("CancelWatchdog", "text:NOK", -9),
    ("CancelWatchdog", "noargs", -9),
    ("CancelWatchdog", "error:OK", 0),
    ("GetIgnition", "text:OFF", 0),
    ("GetIgnition", "text:OF", 0),
    ("GetIgnition", "text:ON", 1),
    ("GetIgnition", "text:off", 1),
    ("GetIgnition", "text:", 1),
    ("GetIgnition", "noargs", 1),
    ("GetIgnition", "error:Refused", 1),
])
def test_reply_texts_decide_the_result(xcord, driver, member, answer, expected):
    cord = xcord({member: answer})
    d = driver()
    command = {"RegisterWatchdog": "watchdog 10 signal01.beep", "CancelWatchdog": "cancel",
               "GetIgnition": "ignition"}[member]
    assert d.result(command) == expected
    call = cord.wait(member)[0]
    assert rig.types_of(call) == {"RegisterWatchdog": "susu", "CancelWatchdog": "u",
                                  "GetIgnition": ""}[member]


def test_without_xcord_the_bus_answers_service_unknown(driver):
    d = driver()
    assert [d.result("watchdog 10 x"), d.result("cancel"), d.result("ignition")] == [-9, -9, 1]


def test_signals_come_from_the_callers_own_path(xcord, driver):
    cord = peers_signals = xcord()
    d = driver("testapp7")
    assert d.result("trigger") == 0
    assert d.result("stayalive 0") == -5
    assert d.result("stayalive 42") == 0
    trig, alive = cord.wait("TriggerWatchdog")[0], cord.wait("StayAlive")[0]
    assert (trig["path"], trig["interface"]) == ("/zel/orb/testapp7/Object", "zel.orb.xcord")
    assert (alive["path"], rig.args_of(alive), rig.types_of(alive)) == (
        "/zel/orb/testapp7/Object", [42], "u")
    assert len(peers_signals.messages("StayAlive")) == 1


def test_null_record_and_no_connection_codes(driver):
    unregistered = driver(name=None)
    line = unregistered.do("nullchecks")[-1].split()[1:]
    assert [int(v) for v in line] == [-5, -5, -5, -5, -5, -5, -5, -5, -5, -5, -5, -5, -5, -10, -5]
    assert [unregistered.result(c) for c in ("watchdog 1 x", "cancel", "ignition", "trigger",
                                             "stayalive 1")] == [-2, -1, -1, -1, -1]
