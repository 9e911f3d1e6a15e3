"""Clock setting with a stand-in `date`, libfaketime, an RTC ioctl shim and private mounts."""
import os
import pathlib
import subprocess
import time

import pytest

import rig
from conftest import FAKETIME, SHIM, XLOCD

FIX = "2026-03-05T12:34:56.000Z"
RTC_LINE = "Setting RTC from GPS to: 202603051234.56"
RTC_RECORD = "56 34 12 5 2 126 0 0 0"  # sec min hour mday mon year wday yday isdst
ZONES = pathlib.Path("/usr/share/zoneinfo")
IN_2009 = {"FAKETIME": "@2009-12-31 12:00:00", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}
NOBODY = "setpriv --reuid=65534 --regid=65534 --clear-groups "
NEEDS_ROOT = pytest.mark.skipif(not rig.ROOT_USER, reason="mount namespaces, setpriv: root")


def lines(path):
    return path.read_text().splitlines() if path.exists() else []


class Clock:
    """Starts the daemon with a recording `date` first on PATH, TZ=UTC and RTC_path a
    regular file, on which the RTC shim lets RTC_SET_TIME succeed; reads what they recorded."""

    def __init__(self, tmp_path, xlocd, json_gpsd):
        self.dir, self.xlocd, self.json_gpsd = tmp_path, xlocd, json_gpsd
        (tmp_path / "bin").mkdir()
        (tmp_path / "bin/date").write_text(f'#!/bin/sh\necho "$@" >> {tmp_path}/date.args\n')
        (tmp_path / "bin/date").chmod(0o755)
        (tmp_path / "rtc-file").write_text("")

    def start(self, source=None, preload=SHIM, env=None, **keys):
        """The daemon reading source (a scripted gpsd by default); returns both."""
        server = source or self.json_gpsd()
        return server, self.xlocd(gps_port=server.port, env={
            "PATH": f"{self.dir}/bin:{os.environ['PATH']}", "TZ": "UTC", "LD_PRELOAD": preload,
            "XLOCD_RTC_SHIM_LOG": str(self.dir / "rtc.records"), **(env or {})},
            **{"RTC_path": str(self.dir / "rtc-file"), **keys})

    def dates(self):
        return lines(self.dir / "date.args")

    def writes(self):
        return lines(self.dir / "rtc.records")


@pytest.fixture
def clock(tmp_path, xlocd, json_gpsd):
    return Clock(tmp_path, xlocd, json_gpsd)


@pytest.fixture
def secret(tmp_path):
    """A file of root's that no line of the daemon may reach."""
    (tmp_path / "secret").write_text("root only\n")
    (tmp_path / "secret").chmod(0o600)
    return tmp_path / "secret"


def private_tmp(then, work):
    """The daemon gets a /tmp where `then` ran, a tmpfs without the sticky bit (so no
    protected_symlinks), the test's own folders in it, and the UTC zone."""
    keep = sorted({pathlib.Path(p).parts[2] for p in (XLOCD, SHIM, str(work))
                   if p.startswith("/tmp/")})
    script = ("mount --bind /tmp /mnt && mount -t tmpfs -o mode=0777 tmpfs /tmp && " +
              "".join(f"mkdir /tmp/{d} && mount --bind /mnt/{d} /tmp/{d} && " for d in keep) +
              f"mount --bind {ZONES}/Etc/UTC /etc/localtime && {then} && exec \"$@\"")
    return ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh"]


def marker(daemon):
    return pathlib.Path(f"/proc/{daemon.proc.pid}/root/tmp/RTC_updated")


@pytest.mark.parametrize("device,failure", [
    ("rtc-file", None),  # the shim accepts RTC_SET_TIME; without it a regular file fails
    ("rtc-file", f"mv_SetSystemTime: {RTC_LINE} FAILED (errno: 25)"),
    ("none", "mv_SetSystemTime: Setting RTC from GPS FAILED! (could not open {rtc})")])
def test_rtc_attempts_come_once_an_interval_with_gpsd_silent(clock, tmp_path, device, failure):
    server, daemon = clock.start(preload=None if failure else SHIM, auto_set_rtc_time_interval=1,
                                 RTC_path=str(tmp_path / device))
    failed = (failure or "").format(rtc=tmp_path / device)
    attempts = lambda: daemon.log_lines().count(failed) if failure else len(clock.writes())
    server.send(rig.tpv(time_=FIX))  # and nothing after it: only the deadline wakes the daemon
    times = []
    rig.wait_for(lambda: times.extend([time.monotonic()] * (attempts() - len(times))) or
                 len(times) >= 3, 10, step=0.01, what="three attempts")
    gaps = [b - a for a, b in zip(times, times[1:3])]
    # Re-armed once the wall clock is past the sync's second plus the interval.
    assert all(0.9 < g < 2.2 * rig.SCALE for g in gaps), gaps


def test_no_rtc_attempt_and_no_rearming_while_no_fix_is_valid(clock):
    server, daemon = clock.start(auto_set_rtc_time_interval=1)
    server.send(rig.tpv(time_=FIX))
    rig.wait_for(clock.writes, what="the first write")
    server.send(*[rig.tpv(mode=1)] * 5)
    daemon.wait_data(lambda d: d[0] == "NONE")
    made = len(clock.writes())
    # Longer than the interval and its re-arming.
    rig.stays(lambda: len(clock.writes()) == made, "no write", quiet=2.5 * rig.SCALE)
    server.send(rig.tpv(time_=FIX))
    rig.wait_for(lambda: len(clock.writes()) == made + 1, what="a write after the fix returns")


def test_past_2010_the_rtc_gets_the_fix_time_and_the_clock_is_left(clock):
    server, daemon = clock.start(auto_set_system_time="", auto_set_rtc_time="")
    server.send(rig.tpv(time_=FIX))
    daemon.wait_log(RTC_LINE)
    assert (clock.writes(), clock.dates()) == ([RTC_RECORD], [])


@NEEDS_ROOT
@pytest.mark.parametrize("plant,expected", [
    ("true", [RTC_LINE]), ("echo earlier > /tmp/RTC_updated", ["earlier", RTC_LINE])])
def test_the_marker_line_goes_to_a_plain_file_of_its_own(clock, tmp_path, plant, expected):
    server, daemon = clock.start(auto_set_rtc_time="", wrapper=private_tmp(plant, tmp_path))
    server.send(rig.tpv(time_=FIX))
    rig.wait_for(lambda: lines(marker(daemon)) == expected, what="the marker line")


@NEEDS_ROOT
@pytest.mark.parametrize("plant", ["ln -s {secret} /tmp/RTC_updated", "mkfifo /tmp/RTC_updated",
                                   "sh -c 'echo theirs > /tmp/RTC_updated'"])
def test_the_marker_skips_what_another_user_planted(clock, tmp_path, secret, plant):
    server, daemon = clock.start(auto_set_rtc_time="", wrapper=private_tmp(
        NOBODY + plant.format(secret=secret), tmp_path))
    server.send(rig.tpv(time_=FIX))
    daemon.wait_log("mv_SetSystemTime: /tmp/RTC_updated is not a plain file of ours, "
                    "marker skipped")
    assert clock.writes() == [RTC_RECORD] and secret.read_text() == "root only\n"
    assert marker(daemon).is_fifo() or lines(marker(daemon)) in (["root only"], ["theirs"])


@NEEDS_ROOT
def test_the_next_answer_follows_a_changed_zone(served, tmp_path):
    server, daemon = served(wrapper=private_tmp("true", tmp_path))
    server.send(rig.tpv(time_=FIX))
    texts = lambda: [daemon.get_data()[i] for i in (4, 10, 11)]
    rig.wait_for(lambda: texts() == ["123456", "050326", "030512342026"], what="UTC texts")
    subprocess.run(["nsenter", "-t", str(daemon.proc.pid), "-m", "mount", "--bind",
                    ZONES / "Asia/Kolkata", "/etc/localtime"], check=True)
    assert texts() == ["180456", "050326", "030518042026"]  # UTC+05:30


def test_before_2010_a_cold_start_time_sets_the_clock_as_20yy(clock):
    """As designed, without the guard keys: 1980 reads as 2080, once per process."""
    server, daemon = clock.start(preload=f"{FAKETIME} {SHIM}", env=IN_2009,
                                 auto_set_system_time="", auto_set_rtc_time="")
    for fix in ("2009-12-31T23:00:00", "1980-01-06T00:00:01", "2026-12-06T00:00:02"):
        server.send(rig.tpv(time_=fix + ".000Z"))  # 2009 waits for a later fix
        daemon.wait_data(lambda d: d[4] == fix[11:].replace(":", ""))
    synced = lambda: (clock.dates(), clock.writes()) == (["-s 208001060000.01"],
                                                         ["1 0 0 6 0 180 0 0 0"])
    rig.wait_for(synced, what="the sync")  # `date` runs in the background
    rig.stays(synced, "one sync per process")


def test_min_fixes_sets_the_clock_from_a_real_receiver(clock, gpsd):
    """gpsd sends a SKY report between position reports: it neither counts nor breaks the
    run, and an epoch gpsd reports again counts once."""
    source, daemon = clock.start(gpsd(), preload=FAKETIME, env=IN_2009, auto_set_system_time="",
                                 clock_min_fixes=3)
    # 2026-12-06, an epoch each 0.2 s until the first fix
    t = rig.feed_until(source, lambda: daemon.get_data()[0] == "NMEA", start=1796515200)
    rig.feed_until(source, clock.dates, start=t + 1)
    assert clock.dates() == [time.strftime("-s 20%y%m%d%H%M.%S", time.gmtime(t + 2))]
    assert "Clock not set from GPS: waiting for 3 consistent fixes" in daemon.log_lines()


@pytest.mark.parametrize("step,shortest", [("-3600", 1.8), ("+3600", 0.0)])
def test_a_clock_step_keeps_the_watchdog_and_rtc_cadence(clock, xcord, tmp_path, step, shortest):
    """Only deadlines wake the daemon here, and a libfaketime step wakes nothing: they
    follow it at the next wake, a step back keeping the next trigger where it was, one
    forward firing it then."""
    offset = tmp_path / "faketime.rc"
    offset.write_text("+0\n")
    cord = xcord()
    server, _ = clock.start(preload=f"{FAKETIME} {SHIM}", env={
        "FAKETIME_TIMESTAMP_FILE": str(offset), "FAKETIME_NO_CACHE": "1",
        "FAKETIME_DONT_FAKE_MONOTONIC": "1"}, watchdog_interval=4, auto_set_rtc_time_interval=1)
    server.send(rig.tpv(time_=FIX))  # the watchdog triggers every 2 s
    last, made = cord.wait("TriggerWatchdog", 2)[-1]["t"], len(clock.writes())
    offset.write_text(step + "\n")
    gap = cord.wait("TriggerWatchdog", 3)[-1]["t"] - last
    assert shortest <= gap < 2.3 * rig.SCALE, gap  # the period, and two processes' scheduling
    rig.wait_for(lambda: len(clock.writes()) > made, what="an RTC write after the step")
