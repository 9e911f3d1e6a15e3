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
ZONES = pathlib.Path("/usr/share/zoneinfo")


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


NEEDS_ROOT = pytest.mark.skipif(not rig.ROOT_USER, reason="a private /tmp needs a mount "
                                                         "namespace, and planting as nobody root")


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


def feed(server, seconds, **tpv):
    for _ in range(int(seconds * 5)):
        server.send(rig.tpv(**{"time_": FIX_TIME, **tpv}))
        time.sleep(0.2)


@pytest.mark.parametrize("device,failure", [
    ("rtc-file", None),  # the shim accepts RTC_SET_TIME; without it a regular file fails
    ("rtc-file", f"mv_SetSystemTime: {RTC_LINE} FAILED (errno: 25)"),
    ("none", "mv_SetSystemTime: Setting RTC from GPS FAILED! (could not open {rtc})")])
def test_rtc_attempts_keep_the_interval_and_rearm_only_while_fixes_are_valid(
        xlocd, json_gpsd, clock, tmp_path, device, failure):
    env, _, writes, _ = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env={**env, "LD_PRELOAD": None if failure else SHIM},
                   auto_set_rtc_time_interval="1", RTC_path=str(tmp_path / device))
    attempts = lambda: len(lines(writes) if not failure else [
        l for l in daemon.log_lines() if l == failure.format(rtc=tmp_path / device)])
    feed(server, 3.0)  # an attempt about every two seconds; every pass would be about 60
    assert 2 <= attempts() <= 4, daemon.log_lines()
    server.send(*[rig.tpv(mode=1)] * 5)
    rig.wait_for(lambda: daemon.get_data()[0] == "NONE", what="no fix")
    made = attempts()
    time.sleep(2.5)  # well past the interval, but invalid: no attempt, no re-arming
    assert attempts() == made
    server.send(rig.tpv(time_=FIX_TIME))
    rig.wait_for(lambda: attempts() == made + 1, what="an attempt after the fix returns")


def test_the_rtc_interval_goes_on_while_gpsd_is_connected_and_silent(xlocd, json_gpsd, clock):
    """After one fix only the interval's deadline wakes the daemon."""
    env, _, writes, rtc = clock
    server = json_gpsd()
    xlocd(gps_port=server.port, env=env, auto_set_rtc_time_interval=1, RTC_path=str(rtc))
    server.send(rig.tpv(time_=FIX_TIME))
    rig.wait_for(lambda: len(lines(writes)) >= 3, 8, what="three RTC writes, one every 2 s")


NOBODY = "setpriv --reuid=65534 --regid=65534 --clear-groups "


@NEEDS_ROOT
@pytest.mark.parametrize("plant,marker", [
    ("true", [RTC_LINE]), ("echo earlier > /tmp/RTC_updated", ["earlier", RTC_LINE]),
    (NOBODY + "ln -s {secret} /tmp/RTC_updated", None), (NOBODY + "mkfifo /tmp/RTC_updated", None)])
def test_past_2010_the_rtc_is_set_and_marked_only_in_a_plain_file_of_its_own(
        xlocd, json_gpsd, clock, tmp_path, secret, plant, marker):
    env, dates, writes, rtc = clock
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env={**env, "TZ": None}, auto_set_system_time="",
                   auto_set_rtc_time="", RTC_path=str(rtc),
                   wrapper=private_tmp(plant.format(secret=secret), tmp_path))
    server.send(rig.tpv(time_=FIX_TIME))
    daemon.wait_log(RTC_LINE)  # the RTC write stands either way
    if marker:
        path = pathlib.Path(f"/proc/{daemon.proc.pid}/root/tmp/RTC_updated")
        rig.wait_for(lambda: lines(path) == marker, what="marker line")
    else:
        daemon.wait_log("mv_SetSystemTime: /tmp/RTC_updated is not a plain file of ours, "
                        "marker skipped")
    assert daemon.get_data()[0] == "NMEA" and secret.read_text() == "root only\n"
    assert lines(writes) == ["56 34 12 5 2 126 0 0 0"] and lines(dates) == []  # past 2010
    fields = lambda: [daemon.get_data()[i] for i in (4, 10, 11)]
    assert fields() == ["123456", "050326", "030512342026"]
    subprocess.run(["nsenter", "-t", str(daemon.proc.pid), "-m", "mount", "--bind",
                    ZONES / "Asia/Kolkata", "/etc/localtime"], check=True)
    assert fields() == ["180456", "050326", "030518042026"]  # the next answer is in UTC+05:30
    assert daemon.terminate() == 0


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
    feed(server, 7.0)
    swapper.stop()
    print(f"{len(lines(writes))} RTC writes")
    assert len(lines(writes)) >= 3 and secret.read_text() == "root only\n"


@pytest.mark.parametrize("keys,date,rtc", [  # without the keys a 1980 time reads as 2080
    ({}, "208001060000.01", "1 0 0 6 0 180 0 0 0"),
    ({"clock_min_fixes": 3, "clock_not_before": "2026-01-01"}, "202612060000.02",
     "2 0 0 6 11 126 0 0 0")])
def test_before_2010_only_the_guard_keeps_cold_start_and_rolled_over_times_out(
        xlocd, json_gpsd, clock, keys, date, rtc):
    env, dates, writes, rtc_file = clock
    env.update(LD_PRELOAD=f"{FAKETIME} {SHIM}", FAKETIME="@2009-12-31 12:00:00",  # 2009's last day
               FAKETIME_DONT_FAKE_MONOTONIC="1")
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, auto_set_system_time="", auto_set_rtc_time="",
                   RTC_path=str(rtc_file), **keys)
    # 2009 waits for a later fix; then a cold start, a week rollover and the right time
    for fix_time in ["2009-12-31T23:00:00", *[f"1980-01-06T00:00:0{s}" for s in (1, 2, 3)],
                     *[f"{d}T00:00:0{s}" for d in ("2007-04-22", "2026-12-06") for s in (0, 1, 2)]]:
        server.send(rig.tpv(time_=fix_time + ".000Z"))
        time.sleep(0.2)
    time.sleep(0.3)
    assert (lines(dates), lines(writes)) == ([f"-s {date}"], [rtc])  # once per process
    assert f"Setting the system time from GPS to: {date}" in daemon.log_lines()
    assert [l for l in daemon.log_lines() if l.startswith("Clock not set from GPS")] == ([
        "Clock not set from GPS: the fix time is before clock_not_before",
        "Clock not set from GPS: waiting for 3 consistent fixes"] if keys else [])


def test_min_fixes_sets_the_clock_on_a_real_receiver_that_also_reports_satellites(
        xlocd, gpsd, clock):
    """gpsd sends a SKY report between position reports; it neither counts nor breaks the run."""
    env, dates, _, _ = clock
    env.update(LD_PRELOAD=FAKETIME, FAKETIME="@2009-12-31 12:00:00",
               FAKETIME_DONT_FAKE_MONOTONIC="1")
    source = gpsd()
    daemon = xlocd(gps_port=source.port, env=env, auto_set_system_time="", clock_min_fixes=3)
    t = rig.feed_until(source, lambda: daemon.get_data()[0] == "NMEA", start=1796515200, lat=1.5,
                       lon=2.5, alt=3.0)  # 2026-12-06, one epoch each 0.2 s until the first fix
    rig.feed_until(source, lambda: lines(dates), start=t + 1, lat=1.5, lon=2.5, alt=3.0)
    assert lines(dates) == [time.strftime("-s 20%y%m%d%H%M.%S", time.gmtime(t + 2))]
    assert "Clock not set from GPS: waiting for 3 consistent fixes" in daemon.log_lines()


def test_clock_steps_while_asleep_keep_the_watchdog_cadence_and_the_rtc_interval(
        xlocd, xcord, json_gpsd, clock, tmp_path):
    """After one fix gpsd is silent and only deadlines wake the daemon. A real clock set
    wakes it at once (its timerfd is armed with TFD_TIMER_CANCEL_ON_SET); a libfaketime step
    wakes nothing, so the deadlines must follow it at the next wake, by the step alone."""
    env, _, writes, rtc = clock
    offset = tmp_path / "faketime.rc"
    offset.write_text("+0\n")
    env.update(LD_PRELOAD=f"{FAKETIME} {SHIM}", FAKETIME_TIMESTAMP_FILE=str(offset),
               FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1")
    cord, server = xcord(), json_gpsd()
    daemon = xlocd(gps_port=server.port, env=env, watchdog_interval=4,  # a trigger every 2 s
                   auto_set_rtc_time_interval=1, RTC_path=str(rtc))
    server.send(rig.tpv(time_=FIX_TIME))
    fdinfo = pathlib.Path(f"/proc/{daemon.proc.pid}/fdinfo")
    assert any("settime flags: 03" in f.read_text() for f in fdinfo.iterdir())
    # Back one hour: the cadence holds. Forward again: the passed deadline fires at the
    # next wake (at the latest the old one), 0.5 s after the trigger at the soonest.
    for step, shortest in (("-3600", 1.8), ("+0", 0.5)):
        last = cord.wait("TriggerWatchdog", len(cord.messages("TriggerWatchdog")) + 1)[-1]
        made = len(lines(writes))
        time.sleep(0.5)
        offset.write_text(step + "\n")
        gap = cord.wait("TriggerWatchdog", len(cord.messages("TriggerWatchdog")) + 1)[-1]["t"] - (
            last["t"])
        assert shortest <= gap < 2.3 and 1 <= len(lines(writes)) - made <= 2, (step, gap)
