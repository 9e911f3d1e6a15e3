"""Clock setting with a stand-in `date`, libfaketime, an RTC ioctl shim and private mounts."""
import os
import pathlib
import subprocess
import time

import pytest

import rig
from conftest import FAKETIME, SHIM, XLOCD

FIX_TIME = "2026-03-05T12:34:56.000Z"
RTC_LINE = "Setting RTC from GPS to: 202603051234.56"
RTC_RECORD = "56 34 12 5 2 126 0 0 0"  # sec min hour mday mon year wday yday isdst
SKIPPED = "mv_SetSystemTime: /tmp/RTC_updated is not a plain file of ours, marker skipped"
ZONES = pathlib.Path("/usr/share/zoneinfo")
BEFORE_2010 = {"FAKETIME": "@2009-12-31 12:00:00", "FAKETIME_DONT_FAKE_MONOTONIC": "1"}
NOBODY = "setpriv --reuid=65534 --regid=65534 --clear-groups "
NEEDS_ROOT = pytest.mark.skipif(not rig.ROOT_USER, reason="a private /tmp needs a mount "
                                                         "namespace, and planting as nobody root")


def lines(path):
    return path.read_text().splitlines() if path.exists() else []


@pytest.fixture
def clock(tmp_path):
    """env: PATH with a recording `date` first, TZ=UTC, the RTC shim that accepts
    RTC_SET_TIME on a regular file; then the records of `date` and of the shim, the file."""
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin/date").write_text(f'#!/bin/sh\necho "$@" >> {tmp_path}/date.args\n')
    (tmp_path / "bin/date").chmod(0o755)
    (tmp_path / "rtc-file").write_text("")
    return ({"PATH": f"{tmp_path}/bin:{os.environ['PATH']}", "TZ": "UTC", "LD_PRELOAD": SHIM,
             "XLOCD_RTC_SHIM_LOG": str(tmp_path / "rtc.records")}, tmp_path / "date.args",
            tmp_path / "rtc.records", tmp_path / "rtc-file")


@pytest.fixture
def secret(tmp_path):
    """A file of root's that no line of the daemon may reach."""
    (tmp_path / "secret").write_text("root only\n")
    (tmp_path / "secret").chmod(0o600)
    return tmp_path / "secret"


def private_tmp(then, work):
    """An unshare wrapper: the daemon gets a /tmp of its own, a tmpfs without the sticky
    bit (so the kernel's protected_symlinks/fifos do not apply), after `then` ran there,
    and a zone of its own. What the test keeps under the host's /tmp stays where it was."""
    keep = sorted({pathlib.Path(p).parts[2] for p in (XLOCD, SHIM, str(work))
                   if p.startswith("/tmp/")})
    script = ("mount --bind /tmp /mnt && mount -t tmpfs -o mode=0777 tmpfs /tmp && " +
              "".join(f"mkdir /tmp/{d} && mount --bind /mnt/{d} /tmp/{d} && " for d in keep) +
              f"mount --bind {ZONES}/Etc/UTC /etc/localtime && {then} && exec \"$@\"")
    return ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh"]


def times_reached(count, n, timeout):
    """The moments at which count() reached 1, 2, ... n."""
    times = []

    def reached():
        times.extend([time.monotonic()] * (min(count(), n) - len(times)))
        return len(times) >= n
    rig.wait_for(reached, timeout, step=0.01, what=f"{n} RTC attempts")
    return times


@pytest.mark.parametrize("device,failure", [
    ("rtc-file", None),  # the shim accepts RTC_SET_TIME; without it a regular file fails
    ("rtc-file", f"mv_SetSystemTime: {RTC_LINE} FAILED (errno: 25)"),
    ("none", "mv_SetSystemTime: Setting RTC from GPS FAILED! (could not open {rtc})")])
def test_rtc_attempts_come_once_an_interval_after_one_fix_also_with_gpsd_silent(
        xlocd, json_gpsd, clock, tmp_path, device, failure):
    """Only the interval's deadline wakes the daemon here; a failed sync waits too."""
    env, _, writes, _ = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env={**env, "LD_PRELOAD": None if failure else SHIM},
                   auto_set_rtc_time_interval="1", RTC_path=str(tmp_path / device))
    failed = (failure or "").format(rtc=tmp_path / device)
    server.send(rig.tpv(time_=FIX_TIME))
    times = times_reached(lambda: len(lines(writes)) if not failure else
                          daemon.log_lines().count(failed), 3, 10)
    gaps = [b - a for a, b in zip(times, times[1:])]
    # Re-armed once the wall clock is past the sync second plus the interval.
    assert all(0.9 < g < 2.2 * rig.SCALE for g in gaps), gaps


def test_no_rtc_attempt_and_no_rearming_while_no_fix_is_valid(xlocd, json_gpsd, clock):
    env, _, writes, rtc = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_rtc_time_interval="1",
                   RTC_path=str(rtc))
    server.send(rig.tpv(time_=FIX_TIME))
    rig.wait_for(lambda: lines(writes), what="the first RTC write")
    server.send(*[rig.tpv(mode=1)] * 5)
    daemon.wait_data(lambda d: d[0] == "NONE")
    made = len(lines(writes))
    # Longer than the interval and its re-arming.
    rig.stays(lambda: len(lines(writes)) == made, "no RTC write", quiet=2.5 * rig.SCALE)
    server.send(rig.tpv(time_=FIX_TIME))
    rig.wait_for(lambda: len(lines(writes)) == made + 1, what="a write after the fix returns")


def test_past_2010_the_rtc_gets_the_fix_time_and_the_clock_is_left_alone(xlocd, json_gpsd, clock):
    env, dates, writes, rtc = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_system_time="", auto_set_rtc_time="",
                   RTC_path=str(rtc))
    server.send(rig.tpv(time_=FIX_TIME))
    daemon.wait_log(RTC_LINE)
    assert (lines(writes), lines(dates)) == ([RTC_RECORD], [])


@NEEDS_ROOT
@pytest.mark.parametrize("plant,marker", [
    ("true", [RTC_LINE]), ("echo earlier > /tmp/RTC_updated", ["earlier", RTC_LINE])])
def test_the_marker_line_is_appended_to_a_plain_file_of_the_daemons_own(
        xlocd, json_gpsd, clock, tmp_path, plant, marker):
    env, _, _, rtc = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_rtc_time="", RTC_path=str(rtc),
                   wrapper=private_tmp(plant, tmp_path))
    server.send(rig.tpv(time_=FIX_TIME))
    path = pathlib.Path(f"/proc/{daemon.proc.pid}/root/tmp/RTC_updated")
    rig.wait_for(lambda: lines(path) == marker, what="the marker line")


@NEEDS_ROOT
@pytest.mark.parametrize("plant", [
    "ln -s {secret} /tmp/RTC_updated", "mkfifo /tmp/RTC_updated",
    "sh -c 'echo theirs > /tmp/RTC_updated'"])  # a plain file, another user's
def test_the_marker_skips_what_another_user_planted_and_the_rtc_write_stands(
        xlocd, json_gpsd, clock, tmp_path, secret, plant):
    env, _, writes, rtc = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_rtc_time="", RTC_path=str(rtc),
                   wrapper=private_tmp(NOBODY + plant.format(secret=secret), tmp_path))
    server.send(rig.tpv(time_=FIX_TIME))
    daemon.wait_log(SKIPPED)
    planted = pathlib.Path(f"/proc/{daemon.proc.pid}/root/tmp/RTC_updated")
    assert lines(writes) == [RTC_RECORD] and secret.read_text() == "root only\n"
    assert planted.is_fifo() or lines(planted) in (["root only"], ["theirs"])


@NEEDS_ROOT
def test_a_symlink_swapped_in_while_the_daemon_runs_never_takes_the_marker(
        xlocd, json_gpsd, clock, tmp_path, secret):
    env, _, writes, rtc = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_rtc_time_interval="1",
                   RTC_path=str(rtc), wrapper=private_tmp("true", tmp_path))
    swap = (f"import os\nwhile True:\n  try: os.symlink('{secret}', '/tmp/RTC_updated')\n"
            "  except OSError: pass\n  try: os.unlink('/tmp/RTC_updated')\n  except OSError: pass")
    swapper = rig.Proc(["nsenter", "-t", daemon.proc.pid, "-m", *NOBODY.split(),
                        "/usr/bin/python3", "-c", swap])
    server.send(rig.tpv(time_=FIX_TIME))
    rig.wait_for(lambda: len(lines(writes)) >= 3, 15, what="three RTC writes")
    swapper.stop()
    assert secret.read_text() == "root only\n"


@NEEDS_ROOT
def test_the_next_answer_follows_a_changed_local_zone(xlocd, json_gpsd, tmp_path):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, wrapper=private_tmp("true", tmp_path))
    server.send(rig.tpv(time_=FIX_TIME))
    fields = lambda: [daemon.get_data()[i] for i in (4, 10, 11)]
    rig.wait_for(lambda: fields() == ["123456", "050326", "030512342026"], what="UTC texts")
    subprocess.run(["nsenter", "-t", str(daemon.proc.pid), "-m", "mount", "--bind",
                    ZONES / "Asia/Kolkata", "/etc/localtime"], check=True)
    assert fields() == ["180456", "050326", "030518042026"]  # UTC+05:30


@pytest.mark.parametrize("keys,date,rtc", [  # without the keys a 1980 time reads as 2080
    ({}, "208001060000.01", "1 0 0 6 0 180 0 0 0"),
    ({"clock_min_fixes": 3, "clock_not_before": "2026-01-01"}, "202612060000.02",
     "2 0 0 6 11 126 0 0 0")])
def test_before_2010_the_clock_takes_the_first_time_its_keys_allow_and_only_that(
        xlocd, json_gpsd, clock, keys, date, rtc):
    env, dates, writes, rtc_file = clock
    env.update(LD_PRELOAD=f"{FAKETIME} {SHIM}", **BEFORE_2010)  # 2009's last day
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_system_time="", auto_set_rtc_time="",
                   RTC_path=str(rtc_file), **keys)
    # 2009 waits for a later fix; then a cold start, a week rollover and the right time
    for day, seconds in [("2009-12-31", ["23:00:00"]), ("1980-01-06", ["00:00:01", "00:00:02",
                         "00:00:03"]), *[(d, [f"00:00:0{s}" for s in (0, 1, 2)])
                                         for d in ("2007-04-22", "2026-12-06")]]:
        for hms in seconds:
            server.send(rig.tpv(time_=f"{day}T{hms}.000Z"))
            daemon.wait_data(lambda d: (d[4], d[10]) == (hms.replace(":", ""),
                                                         f"{day[8:]}{day[5:7]}{day[2:4]}"))
    synced = lambda: (lines(dates), lines(writes)) == ([f"-s {date}"], [rtc])
    rig.wait_for(synced, what="the sync")  # `date` runs in the background
    rig.stays(synced, "one sync per process")
    assert [l for l in daemon.log_lines() if l.startswith("Clock not set from GPS")] == ([
        "Clock not set from GPS: the fix time is before clock_not_before",
        "Clock not set from GPS: waiting for 3 consistent fixes"] if keys else [])


def test_min_fixes_sets_the_clock_on_a_real_receiver_that_also_reports_satellites(
        xlocd, gpsd, clock):
    """gpsd sends a SKY report between position reports; it neither counts nor breaks the run."""
    env, dates, _, _ = clock
    env.update(LD_PRELOAD=FAKETIME, **BEFORE_2010)
    source = gpsd()
    daemon = xlocd(gps_port=source.port, env=env, auto_set_system_time="", clock_min_fixes=3)
    t = rig.feed_until(source, lambda: daemon.get_data()[0] == "NMEA", start=1796515200, lat=1.5,
                       lon=2.5, alt=3.0)  # 2026-12-06, one epoch each 0.2 s until the first fix
    rig.feed_until(source, lambda: lines(dates), start=t + 1, lat=1.5, lon=2.5, alt=3.0)
    assert lines(dates) == [time.strftime("-s 20%y%m%d%H%M.%S", time.gmtime(t + 2))]
    assert "Clock not set from GPS: waiting for 3 consistent fixes" in daemon.log_lines()


@pytest.mark.parametrize("step,shortest", [("-3600", 1.8), ("+3600", 0.0)])
def test_a_clock_step_while_asleep_keeps_the_watchdog_cadence_and_the_rtc_interval(
        xlocd, xcord, json_gpsd, clock, tmp_path, step, shortest):
    """After one fix gpsd is silent and only deadlines wake the daemon. A libfaketime step
    wakes nothing, so the deadlines must follow it at the next wake, by the step alone: a
    step back keeps the next trigger where it was, one forward fires it at the next wake."""
    env, _, writes, rtc = clock
    offset = tmp_path / "faketime.rc"
    offset.write_text("+0\n")
    env.update(LD_PRELOAD=f"{FAKETIME} {SHIM}", FAKETIME_TIMESTAMP_FILE=str(offset),
               FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1")
    cord, server = xcord(), json_gpsd()
    xlocd(gps_port=server.port, env=env, watchdog_interval=4,  # a trigger every 2 s
          auto_set_rtc_time_interval=1, RTC_path=str(rtc))
    server.send(rig.tpv(time_=FIX_TIME))
    last = cord.wait("TriggerWatchdog", 2)[-1]
    made = len(lines(writes))
    offset.write_text(step + "\n")
    gap = cord.wait("TriggerWatchdog", 3)[-1]["t"] - last["t"]
    # At most the period, with room for two processes' scheduling.
    assert shortest <= gap < 2.3 * rig.SCALE, gap
    rig.wait_for(lambda: len(lines(writes)) > made, what="an RTC write after the step")
