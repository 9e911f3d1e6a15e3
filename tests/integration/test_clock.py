"""Clock setting from GPS. The host clock and any real RTC are never touched:
`date` is a stand-in first on PATH, "before 2010" comes from libfaketime, the RTC
success path from an ioctl shim, and the failure path from a regular file."""
import calendar
import os
import pathlib
import shlex
import shutil
import subprocess
import tempfile
import time

import pytest

import rig
from conftest import XLOCD, config_text

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


# ---- the marker file in a /tmp of its own --------------------------------------

@pytest.fixture
def outside_tmp():
    """A work directory and bus outside /tmp, which the daemon's namespace replaces."""
    work = pathlib.Path(tempfile.mkdtemp(prefix="xlocd_ns_", dir="/var/tmp"))
    bus = rig.Bus(parent=work)
    yield work, bus
    bus.stop()
    shutil.rmtree(work)


def private_tmp(plant):
    """Wrapper: the daemon gets its own /tmp, a tmpfs without the sticky bit (so the
    kernel's protected_symlinks/fifos do not apply), after `plant` ran there."""
    script = f"mount -t tmpfs -o mode=0777 tmpfs /tmp && {plant or 'true'} && exec \"$@\""
    return ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh"]


NOBODY = "setpriv --reuid=65534 --regid=65534 --clear-groups "
SKIPPED = "mv_SetSystemTime: /tmp/RTC_updated is not a plain file of ours, marker skipped"


@pytest.mark.parametrize("plant,marker", [
    ("", ["Setting RTC from GPS to: " + DATE_TEXT]),
    ("echo earlier > /tmp/RTC_updated", ["earlier", "Setting RTC from GPS to: " + DATE_TEXT]),
    (NOBODY + "ln -s {secret} /tmp/RTC_updated", None),
    (NOBODY + "mkfifo /tmp/RTC_updated", None),
])
def test_marker_is_written_only_to_a_plain_file_of_its_own(outside_tmp, json_gpsd, plant, marker):
    work, bus = outside_tmp
    secret = work / "secret"
    secret.write_text("root only\n")
    secret.chmod(0o600)
    env = {"TZ": "UTC"}
    shim_log, rtc = shimmed_rtc(env, work)
    server = json_gpsd()
    daemon = rig.Daemon(XLOCD, work, bus, config_text(work, server.port, auto_set_rtc_time="",
                                                      RTC_path=str(rtc)),
                        env=env, wrapper=private_tmp(plant.format(secret=shlex.quote(str(secret)))))
    try:
        server.send(rig.tpv(time_=FIX_TIME))
        daemon.wait_log(f"Setting RTC from GPS to: {DATE_TEXT}")  # the RTC write stands
        path = pathlib.Path(f"/proc/{daemon.proc.pid}/root/tmp/RTC_updated")
        if marker:
            rig.wait_for(lambda: lines(path) == marker, what="marker line")
        else:
            daemon.wait_log(SKIPPED)
        assert daemon.get_data()[0] == "NMEA"
        assert secret.read_text() == "root only\n"
    finally:
        assert daemon.terminate() == 0


# ---- wall-clock steps and the year 2038 -------------------------------------------

def test_triggers_keep_their_period_across_2038(xlocd, peers):
    cord = peers("xcord", {"RegisterWatchdog": "text:OK", "CancelWatchdog": "text:OK"})
    xlocd(watchdog_interval=2, env={"LD_PRELOAD": FAKETIME, "FAKETIME": "@2038-01-19 03:14:04",
                                    "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
    triggers = cord.wait("TriggerWatchdog", 6, timeout=8)  # 03:14:07 lies in between
    gaps = [b["t"] - a["t"] for a, b in zip(triggers[1:], triggers[2:])]
    assert all(0.8 < g < 1.2 for g in gaps), gaps


def test_clock_steps_neither_hold_off_nor_burst_triggers_and_rtc_writes(xlocd, peers, json_gpsd,
                                                                        clock_env, tmp_path):
    env, _ = clock_env
    shim_log, rtc = shimmed_rtc(env, tmp_path)
    offset = tmp_path / "faketime.rc"
    offset.write_text("+0\n")
    env.update(LD_PRELOAD=f"{FAKETIME} {SHIM}", FAKETIME_TIMESTAMP_FILE=str(offset),
               FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1")
    cord = peers("xcord", {"RegisterWatchdog": "text:OK", "CancelWatchdog": "text:OK"})
    server = json_gpsd()
    xlocd(gps_port=server.port, env=env, watchdog_interval=2, auto_set_rtc_time_interval=1,
          RTC_path=str(rtc))

    def counts_over(seconds):
        before = len(cord.messages("TriggerWatchdog")), len(lines(shim_log))
        for _ in range(int(seconds * 5)):
            server.send(rig.tpv(time_=FIX_TIME))
            time.sleep(0.2)
        return len(cord.messages("TriggerWatchdog")) - before[0], len(lines(shim_log)) - before[1]

    counts_over(1.0)
    offset.write_text("-3600\n")  # back one hour
    triggers, writes = counts_over(3.0)
    assert 2 <= triggers <= 4 and 1 <= writes <= 2, (triggers, writes)
    offset.write_text("+0\n")  # and forward again
    triggers, writes = counts_over(3.0)
    assert 2 <= triggers <= 4 and 1 <= writes <= 2, (triggers, writes)


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
