"""Faults: gpsd going away, the bus going away, a full disk, stops under load and
an xcord that holds its name but never answers."""
import os
import signal
import time

import pytest

import rig
from conftest import XLOCD, gps_client

SANITIZED = os.environ.get("XLOCD_SANITIZED") == "ON"


def test_gpsd_killed_and_restarted_freezes_the_state(xlocd, gpsd):
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port)
    rig.feed_until(feed, lambda: daemon.get_data()[0] == "NMEA", lat=10.0, lon=20.0, alt=30.0)
    frozen = rig.settled(daemon.get_data)
    feed.proc.stop(signal.SIGKILL)
    restarted = gpsd(feed.port)
    restarted.send(rig.fix_sentences(1796042200.0, 50.0, 60.0, alt=70.0))
    time.sleep(1.0)
    assert daemon.get_data() == frozen  # no reconnection after a success
    assert daemon.log_lines().count("Established connection to gpsd") == 1
    assert daemon.proc.alive() and daemon.terminate() == 0


def test_bus_killed_no_spin_and_clean_exit(tmp_path, recorder):
    bus = rig.Bus()
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, f"Log_File={tmp_path / 'xlocd.log'}\n"
                            f"RTC_path=\ngps_tcp_port={rig.free_port()}\n")
        bus.proc.stop(signal.SIGKILL)
        time.sleep(0.5)
        _, _, cpu0 = rig.process_usage(daemon.proc.pid)
        time.sleep(2.0)
        _, _, cpu1 = rig.process_usage(daemon.proc.pid)
        assert cpu1 - cpu0 < 0.5, cpu1 - cpu0  # paced, not spinning
        assert daemon.proc.alive()
        assert daemon.terminate() == 0
    finally:
        bus.stop()


def test_log_on_a_full_disk_does_not_stop_the_service(xlocd, bus):
    daemon = xlocd(Log_File="/dev/full")
    time.sleep(0.3)
    assert len(daemon.get_data()) == 12
    assert gps_client(bus, calls=50)["twelve"] == 50
    assert daemon.terminate() == 0


def test_sigterm_during_a_burst_exits_zero_with_goodbye(xlocd, bus, recorder):
    daemon = xlocd()
    client = rig.Proc([os.environ.get("CLIENT_BIN", rig.ROOT / "build/harness/gps_client"),
                       "--calls", "2000", "--burst", "--timeout-ms", "3000"],
                      env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))
    time.sleep(0.3)
    assert daemon.terminate() == 0
    recorder.wait("GOODBYE")
    client.stop()


def test_stop_waits_for_libdbus_default_timeout_when_xcord_is_silent(xlocd, peers, recorder):
    """xcord owns its name but never answers CancelWatchdog: the stop takes ~25 s."""
    xcord = peers("xcord", {"RegisterWatchdog": "text:OK"})
    daemon = xlocd(watchdog_interval=30)
    xcord.wait("TriggerWatchdog")
    start = time.monotonic()
    assert daemon.terminate(timeout=40) == 0
    took = time.monotonic() - start
    print(f"stop with a silent xcord took {took:.2f} s")
    assert 24.0 < took < 27.0, took
    assert recorder.wait("GOODBYE")[0]["t"] - xcord.wait("CancelWatchdog")[0]["t"] > 24.0
