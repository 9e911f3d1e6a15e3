"""Clock setting from GPS, the marker file and the wall clock. The host clock and any
real RTC are never touched: `date` is a stand-in first on PATH, times come from
libfaketime, the RTC success path from an ioctl shim and the failure path from a
regular file; the marker lives in a private /tmp."""
import os
import pathlib
import shlex
import shutil
import subprocess
import tempfile
import time

import pytest

import rig
from conftest import FAKETIME, SHIM, XLOCD, config_text, lines, shimmed_rtc

FIX_TIME = "2026-03-05T12:34:56.000Z"
DATE_TEXT = "202603051234.56"
RTC_LINE = "Setting RTC from GPS to: " + DATE_TEXT


@pytest.fixture
def clock_env(tmp_path):
    """PATH with a recording `date` first, and TZ=UTC."""
    (tmp_path / "bin").mkdir()
    record = tmp_path / "date.args"
    (tmp_path / "bin/date").write_text(f'#!/bin/sh\necho "$@" >> {record}\n')
    (tmp_path / "bin/date").chmod(0o755)
    return {"PATH": f"{tmp_path}/bin:{os.environ['PATH']}", "TZ": "UTC"}, record


def feed(server, seconds, **tpv):
    for _ in range(int(seconds * 5)):
        server.send(rig.tpv(**{"time_": FIX_TIME, **tpv}))
        time.sleep(0.2)


def test_before_2010_date_runs_once_with_the_first_fix_from_2010(xlocd, json_gpsd, clock_env):
    env, record = clock_env
    env.update(LD_PRELOAD=FAKETIME, FAKETIME="@2009-06-01 00:00:00",
               FAKETIME_DONT_FAKE_MONOTONIC="1")
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_system_time="1")
    server.send(rig.tpv(time_="2009-12-31T23:00:00.000Z"))
    rig.wait_for(lambda: daemon.get_data()[0] == "NMEA", what="2009 fix")
    time.sleep(0.3)
    assert lines(record) == []
    feed(server, 1.0, time_="2010-01-01T00:00:00.000Z")
    assert "Setting the system time from GPS to: 201001010000.00" in daemon.log_lines()
    assert lines(record) == ["-s 201001010000.00"]  # one sync per process without an interval


@pytest.mark.parametrize("rtc_path", ["rtc-file", ""])
def test_past_2010_no_date_and_the_rtc_only_with_a_path(xlocd, json_gpsd, clock_env, tmp_path,
                                                       rtc_path):
    env, record = clock_env
    shim_log, rtc = shimmed_rtc(env, tmp_path)
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_system_time="1",
                   auto_set_rtc_time="1", RTC_path=rtc_path and str(rtc))
    feed(server, 0.6)
    assert lines(record) == [] and daemon.get_data()[0] == "NMEA"
    assert lines(shim_log) == (["56 34 12 5 2 126 0 0 0"] if rtc_path else [])
    assert [l for l in daemon.log_lines() if "RTC" in l or "system time" in l] == (
        [RTC_LINE] if rtc_path else [])


@pytest.mark.parametrize("device,failure", [  # opens, but the ioctl fails with ENOTTY; no file
    ("rtc", f"mv_SetSystemTime: Setting RTC from GPS to: {DATE_TEXT} FAILED (errno: 25)"),
    ("none", "mv_SetSystemTime: Setting RTC from GPS FAILED! (could not open {rtc})")])
def test_failing_rtc_is_retried_only_after_the_interval(xlocd, json_gpsd, clock_env, tmp_path,
                                                        device, failure):
    (tmp_path / "rtc").write_text("")
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=clock_env[0], auto_set_rtc_time_interval="2",
                   RTC_path=str(tmp_path / device))
    feed(server, 5.0)
    count = daemon.log_lines().count(failure.format(rtc=tmp_path / device))
    assert 2 <= count <= 4, daemon.log_lines()  # not every pass


def test_rtc_interval_rearms_only_while_fixes_are_valid(xlocd, json_gpsd, clock_env, tmp_path):
    env, _ = clock_env
    shim_log, rtc = shimmed_rtc(env, tmp_path)
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_rtc_time_interval="1",
                   RTC_path=str(rtc))
    feed(server, 3.0)  # a sync about every two seconds; every pass would be about 60
    writes = len(lines(shim_log))
    assert 2 <= writes <= 4, writes
    server.send(*[rig.tpv(mode=1)] * 5)
    rig.wait_for(lambda: daemon.get_data()[0] == "NONE", what="no fix")
    time.sleep(2.5)  # well past the interval, but invalid: no sync, no re-arming
    assert len(lines(shim_log)) == writes
    server.send(rig.tpv(time_=FIX_TIME))
    rig.wait_for(lambda: len(lines(shim_log)) == writes + 1, what="sync after the fix returns")


@pytest.fixture
def outside_tmp():
    """A work directory and bus outside /tmp, which the daemon's namespace replaces."""
    work = pathlib.Path(tempfile.mkdtemp(prefix="xlocd_ns_", dir="/var/tmp"))
    bus = rig.Bus(parent=work)
    yield work, bus
    bus.stop()
    shutil.rmtree(work)


NOBODY = "setpriv --reuid=65534 --regid=65534 --clear-groups "


@pytest.mark.parametrize("plant,marker", [
    ("true", [RTC_LINE]), ("echo earlier > /tmp/RTC_updated", ["earlier", RTC_LINE]),
    (NOBODY + "ln -s {secret} /tmp/RTC_updated", None), (NOBODY + "mkfifo /tmp/RTC_updated", None),
])
def test_marker_is_written_only_to_a_plain_file_of_its_own(outside_tmp, json_gpsd, plant, marker):
    """The daemon gets its own /tmp, a tmpfs without the sticky bit (so the kernel's
    protected_symlinks/fifos do not apply), after `plant` ran there."""
    work, bus = outside_tmp
    secret = work / "secret"
    secret.write_text("root only\n")
    secret.chmod(0o600)
    env = {"TZ": "UTC"}
    _, rtc = shimmed_rtc(env, work)
    server = json_gpsd()
    script = (f"mount -t tmpfs -o mode=0777 tmpfs /tmp && "
              f"{plant.format(secret=shlex.quote(str(secret)))} && exec \"$@\"")
    daemon = rig.Daemon(XLOCD, work, bus, config_text(work, server.port, auto_set_rtc_time="",
                                                      RTC_path=str(rtc)), env=env,
                        wrapper=["unshare", "-m", "--propagation", "private", "sh", "-c", script,
                                 "sh"])
    try:
        server.send(rig.tpv(time_=FIX_TIME))
        daemon.wait_log(RTC_LINE)  # the RTC write stands either way
        if marker:
            path = pathlib.Path(f"/proc/{daemon.proc.pid}/root/tmp/RTC_updated")
            rig.wait_for(lambda: lines(path) == marker, what="marker line")
        else:
            daemon.wait_log("mv_SetSystemTime: /tmp/RTC_updated is not a plain file of ours, "
                            "marker skipped")
        assert daemon.get_data()[0] == "NMEA" and secret.read_text() == "root only\n"
    finally:
        assert daemon.terminate() == 0


def test_triggers_keep_their_period_across_2038(xlocd, xcord):
    cord = xcord()
    xlocd(watchdog_interval=2, env={"LD_PRELOAD": FAKETIME, "FAKETIME": "@2038-01-19 03:14:04",
                                    "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
    triggers = cord.wait("TriggerWatchdog", 6, timeout=8)  # 03:14:07 lies in between
    gaps = [b["t"] - a["t"] for a, b in zip(triggers[1:], triggers[2:])]
    # A 32-bit time_t (armhf) wraps there: no burst, but one gap may take two seconds.
    longest = 2.2 if os.environ.get("XLOCD_TIME_T_BYTES") == "4" else 1.2
    assert all(0.8 < g < longest for g in gaps), gaps


def test_clock_steps_neither_hold_off_nor_burst_triggers_and_rtc_writes(xlocd, xcord, json_gpsd,
                                                                        clock_env, tmp_path):
    env, _ = clock_env
    shim_log, rtc = shimmed_rtc(env, tmp_path)
    offset = tmp_path / "faketime.rc"
    offset.write_text("+0\n")
    env.update(LD_PRELOAD=f"{FAKETIME} {SHIM}", FAKETIME_TIMESTAMP_FILE=str(offset),
               FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1")
    cord = xcord()
    server = json_gpsd()
    xlocd(gps_port=server.port, env=env, watchdog_interval=2, auto_set_rtc_time_interval=1,
          RTC_path=str(rtc))
    feed(server, 1.0)
    for step in ("-3600", "+0"):  # back one hour, then forward again
        offset.write_text(step + "\n")
        before = len(cord.messages("TriggerWatchdog")), len(lines(shim_log))
        feed(server, 3.0)
        triggers = len(cord.messages("TriggerWatchdog")) - before[0]
        writes = len(lines(shim_log)) - before[1]
        assert 2 <= triggers <= 4 and 1 <= writes <= 2, (step, triggers, writes)


def test_time_fields_follow_a_zone_change_at_the_next_request(xlocd, json_gpsd):
    zones = pathlib.Path("/usr/share/zoneinfo")
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env={"TZ": None}, wrapper=[
        "unshare", "-m", "--propagation", "private", "sh", "-c",
        f'mount --bind {zones / "Etc/UTC"} /etc/localtime && exec "$@"', "sh"])
    server.send(rig.tpv(time_=FIX_TIME))
    fields = lambda: [daemon.get_data()[i] for i in (4, 10, 11)]
    rig.wait_for(lambda: fields() == ["123456", "050326", "030512342026"], what="UTC fields")
    subprocess.run(["nsenter", "-t", str(daemon.proc.pid), "-m", "mount", "--bind",
                    zones / "Asia/Kolkata", "/etc/localtime"], check=True)
    assert fields() == ["180456", "050326", "030518042026"]  # UTC+05:30


@pytest.mark.parametrize("keys,date,rtc", [  # without the keys a 1980 time reads as 2080
    ({}, "-s 208001060000.01", "1 0 0 6 0 180 0 0 0"),
    ({"clock_min_fixes": 3, "clock_not_before": "2026-01-01"}, "-s 202612060000.02",
     "2 0 0 6 11 126 0 0 0")])
def test_cold_start_and_rolled_over_times_reach_the_clocks_only_without_the_guard(
        xlocd, json_gpsd, clock_env, tmp_path, keys, date, rtc):
    env, record = clock_env
    shim_log, rtc_file = shimmed_rtc(env, tmp_path)
    env.update(LD_PRELOAD=f"{FAKETIME} {SHIM}", FAKETIME="@2009-06-01 00:00:00",
               FAKETIME_DONT_FAKE_MONOTONIC="1")
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_system_time="", auto_set_rtc_time="",
                   RTC_path=str(rtc_file), **keys)
    for day in ("1980-01-06", "2007-04-22", "2026-12-06"):  # cold start, week rollover, right
        for second in range(1, 4) if day == "1980-01-06" else range(3):
            server.send(rig.tpv(time_=f"{day}T00:00:{second:02d}.000Z"))
            time.sleep(0.2)
    time.sleep(0.3)
    assert (lines(record), lines(shim_log)) == ([date], [rtc])
    refusals = [l for l in daemon.log_lines() if l.startswith("Clock not set from GPS")]
    assert refusals == ([] if not keys else [
        "Clock not set from GPS: the fix time is before clock_not_before",
        "Clock not set from GPS: waiting for 3 consistent fixes"])
