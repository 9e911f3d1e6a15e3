"""Clock setting from GPS. The host clock and any real RTC are never touched:
`date` is a stand-in first on PATH, "before 2010" comes from libfaketime, the RTC
success path from an ioctl shim, and the failure path from a regular file."""
import calendar
import os
import pathlib
import time

import pytest

import rig

FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
SHIM = os.path.abspath(os.environ.get("RTC_SHIM", rig.ROOT / "build/tests/librtc_shim.so"))
MARKER = pathlib.Path("/tmp/RTC_updated")
FIX_TIME = "2026-03-05T12:34:56.000Z"
DATE_TEXT = "202603051234.56"


@pytest.fixture
def clock_env(tmp_path):
    """PATH with a recording `date` first, and TZ=UTC."""
    bindir = tmp_path / "bin"
    bindir.mkdir()
    record = tmp_path / "date.args"
    (bindir / "date").write_text(f'#!/bin/sh\necho "$@" >> {record}\n')
    (bindir / "date").chmod(0o755)
    env = {"PATH": f"{bindir}:{os.environ['PATH']}", "TZ": "UTC"}
    return env, record


def shimmed_rtc(env, tmp_path):
    """A regular file as RTC_path, with the ioctl shim that accepts RTC_SET_TIME."""
    shim_log = tmp_path / "rtc.records"
    env.update(LD_PRELOAD=SHIM, XLOCD_RTC_SHIM_LOG=str(shim_log))
    rtc = tmp_path / "rtc-file"
    rtc.write_text("")
    return shim_log, rtc


def lines(path):
    return path.read_text().splitlines() if path.exists() else []


def marker_lines():
    return lines(MARKER)


def start_with_fix(xlocd, json_gpsd, env, fix_time=FIX_TIME, **keys):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, **keys)
    server.send(rig.tpv(time_=fix_time))
    return daemon, server


def test_clock_before_2010_runs_date_with_the_date_text(xlocd, gpsd, clock_env):
    env, record = clock_env
    env.update(LD_PRELOAD=FAKETIME, FAKETIME="@2009-12-31 20:00:00",
               FAKETIME_DONT_FAKE_MONOTONIC="1")
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, env=env, auto_set_system_time="")
    t = rig.feed_until(feed, lambda: lines(record), start=calendar.timegm(
        (2026, 11, 30, 8, 15, 42, 0, 334, 0)), lat=1.0, lon=2.0, alt=3.0)
    text = time.strftime("%Y%m%d%H%M.%S", time.gmtime(t))
    assert f"Setting the system time from GPS to: {text}" in daemon.log_lines()
    assert lines(record) == [f"-s {text}"]
    time.sleep(0.5)
    assert len(lines(record)) == 1  # one sync per process without an interval


def test_clock_past_2010_sets_no_date_but_still_the_rtc(xlocd, json_gpsd, clock_env, tmp_path):
    env, record = clock_env
    shim_log, rtc = shimmed_rtc(env, tmp_path)
    daemon, _ = start_with_fix(xlocd, json_gpsd, env, auto_set_system_time="1",
                               auto_set_rtc_time="1", RTC_path=str(rtc))
    daemon.wait_log(f"Setting RTC from GPS to: {DATE_TEXT}")
    time.sleep(0.5)
    assert lines(record) == []
    assert lines(shim_log) == ["56 34 12 5 2 126 0 0 0"]
    assert not any("Setting the system time" in l for l in daemon.log_lines())


def test_rtc_success_path_writes_the_record_and_the_marker(xlocd, json_gpsd, clock_env, tmp_path):
    env, _ = clock_env
    shim_log, rtc = shimmed_rtc(env, tmp_path)
    before = len(marker_lines())
    daemon, _ = start_with_fix(xlocd, json_gpsd, env, auto_set_rtc_time="", RTC_path=str(rtc))
    daemon.wait_log(f"Setting RTC from GPS to: {DATE_TEXT}")
    assert lines(shim_log) == ["56 34 12 5 2 126 0 0 0"]
    rig.wait_for(lambda: len(marker_lines()) > before, what="marker line")
    assert marker_lines()[before:] == [f"Setting RTC from GPS to: {DATE_TEXT}"]


@pytest.mark.parametrize("device", ["regular file", "missing"])
def test_failing_rtc_is_retried_only_after_the_interval(xlocd, json_gpsd, clock_env, tmp_path,
                                                        device):
    env, _ = clock_env
    rtc = tmp_path / "rtc"
    if device == "regular file":  # opens, but the ioctl fails with ENOTTY
        rtc.write_text("")
        failure = f"mv_SetSystemTime: Setting RTC from GPS to: {DATE_TEXT} FAILED (errno: 25)"
    else:
        failure = f"mv_SetSystemTime: Setting RTC from GPS FAILED! (could not open {rtc})"
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_rtc_time_interval="2",
                   RTC_path=str(rtc))
    for _ in range(25):  # valid fixes for five seconds
        server.send(rig.tpv(time_=FIX_TIME))
        time.sleep(0.2)
    count = daemon.log_lines().count(failure)
    assert 2 <= count <= 4, daemon.log_lines()  # every pass would be about 100


def test_empty_rtc_path_means_no_rtc_access(xlocd, json_gpsd, clock_env, tmp_path):
    env, _ = clock_env
    shim_log = tmp_path / "rtc.records"
    env.update(LD_PRELOAD=SHIM, XLOCD_RTC_SHIM_LOG=str(shim_log))
    daemon, server = start_with_fix(xlocd, json_gpsd, env, auto_set_rtc_time="1", RTC_path="")
    rig.wait_for(lambda: daemon.get_data()[0] == "NMEA", what="fix")
    time.sleep(0.3)
    assert not shim_log.exists()
    assert not any("RTC" in l for l in daemon.log_lines())


def test_year_before_2010_waits_for_a_later_fix(xlocd, json_gpsd, clock_env, tmp_path):
    env, record = clock_env
    env.update(LD_PRELOAD=FAKETIME, FAKETIME="@2009-06-01 00:00:00",
               FAKETIME_DONT_FAKE_MONOTONIC="1")
    daemon, server = start_with_fix(xlocd, json_gpsd, env, fix_time="2009-12-31T23:00:00.000Z",
                                    auto_set_system_time="1")
    rig.wait_for(lambda: daemon.get_data()[0] == "NMEA", what="2009 fix")
    time.sleep(0.3)
    assert lines(record) == []
    server.send(rig.tpv(time_="2010-01-01T00:00:00.000Z"))
    daemon.wait_log("Setting the system time from GPS to: 201001010000.00")


def test_rtc_interval_rearms_only_while_fixes_are_valid(xlocd, json_gpsd, clock_env, tmp_path):
    env, _ = clock_env
    shim_log, rtc = shimmed_rtc(env, tmp_path)
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_rtc_time_interval="1",
                   RTC_path=str(rtc))
    for _ in range(15):  # valid for three seconds: a sync about every two seconds
        server.send(rig.tpv(time_=FIX_TIME))
        time.sleep(0.2)
    writes = len(lines(shim_log))
    assert 2 <= writes <= 4, writes  # every pass would be about 60
    for _ in range(5):
        server.send(rig.tpv(mode=1))
    rig.wait_for(lambda: daemon.get_data()[0] == "NONE", what="no fix")
    time.sleep(2.5)  # well past the interval, but invalid: no sync, no re-arming
    assert len(lines(shim_log)) == writes
    server.send(rig.tpv(time_=FIX_TIME))
    rig.wait_for(lambda: len(lines(shim_log)) == writes + 1, what="sync after the fix returns")
