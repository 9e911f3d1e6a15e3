"""Field faults: split and stalled reports, SIGPIPE, FIFOs, an xcord that never answers."""
import fcntl
import json
import os
import random
import socket
import subprocess
import time

import dbus
import pytest

import rig
from conftest import XLOCD, config_text


def test_split_reports_are_no_misses_and_a_stalled_half_line_costs_no_cpu(xlocd, json_gpsd):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port)
    line = json.dumps(rig.tpv(), separators=(",", ":")) + "\r\n"  # gpsd's own form
    seen = []
    for _ in range(15):  # 3 s at 5 Hz, each report in two pieces 20 ms apart
        server.send_raw(line[:60])
        time.sleep(0.01)
        seen.append(daemon.get_data()[0])
        time.sleep(0.01)
        server.send_raw(line[60:])
        time.sleep(0.18)
    assert "NONE" not in seen and seen[-1] == "NMEA", seen
    server.send_raw(line[:60])  # and the rest never comes
    time.sleep(0.3)
    cpu0 = rig.process_usage(daemon.proc.pid)[2]
    time.sleep(2.0)
    assert rig.process_usage(daemon.proc.pid)[2] - cpu0 < 0.1
    assert daemon.get_data()[0] == "NMEA"


@pytest.mark.parametrize("keys", [{}, {"gpsd_reconnect": 1}])
def test_sigpipe_from_a_dead_gpsd_or_a_closed_stdout_does_not_kill(xlocd, json_gpsd, recorder,
                                                                    tmp_path, keys):
    server = json_gpsd(hang_up=True)  # accepts, then closes: reads fail, writes raise EPIPE
    daemon = xlocd(gps_port=server.port, **keys)
    daemon.wait_log("Established connection to gpsd")
    time.sleep(2.3 if keys else 0.3)  # reconnections: one at once, then one a second
    assert daemon.log_lines().count("Established connection to gpsd") in ((2, 3, 4, 5) if keys
                                                                           else (1,))
    assert daemon.terminate() == 0  # WATCH_DISABLE is written into the dead socket
    recorder.wait("GOODBYE")
    # Log lines on a stdout pipe whose reader is gone; a long argv[0] fills its buffer.
    (tmp_path / "stdout.config").write_text(f"RTC_path=\ngps_tcp_port={rig.free_port()}\n")
    piped = rig.Proc(rig.command(XLOCD, tmp_path / "stdout.config", argv0="x" * 3000),
                     stdout=subprocess.PIPE)
    piped.p.stdout.close()
    time.sleep(1.0)
    assert piped.stop() == 0


def test_fifos_as_rtc_path_and_log_file_hold_nothing_up(xlocd, json_gpsd, tmp_path):
    rtc, log = tmp_path / "rtc.fifo", tmp_path / "log.fifo"
    os.mkfifo(rtc)
    os.mkfifo(log)
    reader = os.open(log, os.O_RDWR | os.O_NONBLOCK)  # a reader that never reads
    fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, 4096)
    os.write(reader, b"x" * 4096)  # the pipe is full before the daemon writes a line
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, Log_File=str(log), RTC_path=str(rtc), auto_set_rtc_time="")
    server.send(rig.tpv())
    time.sleep(0.5)
    assert daemon.get_data()[0] == "NMEA" and daemon.terminate() == 0
    os.close(reader)


def test_stop_during_the_registration_wait_outlasts_neither_service_manager(xlocd, peers):
    """xcord holds its name but never answers: a stop waits out RegisterWatchdog, then
    CancelWatchdog, 2 s each here (libdbus's 25 s on a real bus: the unit allows 60 s)."""
    cord = peers("xcord")
    daemon = xlocd(watchdog_interval=10)
    cord.wait("RegisterWatchdog")
    start = time.monotonic()
    assert daemon.terminate(timeout=30) == 0
    took = time.monotonic() - start
    cord.wait("CancelWatchdog")
    assert 2.5 < took < 5.0, took


def test_a_bus_that_goes_away_leaves_the_daemon_reading_gpsd_and_stoppable(json_gpsd, tmp_path):
    bus, server = rig.Bus(), json_gpsd()
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(
            tmp_path, server.port, auto_set_rtc_time="", RTC_path=str(tmp_path / "no-rtc")))
        server.watching.wait(5)
    finally:
        bus.stop()
    server.send(rig.tpv())  # a fix is still read: the RTC step shows it
    daemon.wait_log(f"mv_SetSystemTime: Setting RTC from GPS FAILED! (could not open "
                    f"{tmp_path / 'no-rtc'})")
    start = time.monotonic()
    assert daemon.terminate() == 0 and time.monotonic() - start < 1.0 * rig.SCALE


def test_with_exit_on_bus_loss_a_bus_that_goes_away_ends_the_daemon_with_1(tmp_path):
    bus = rig.Bus()
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, rig.free_port(),
                                                              exit_on_bus_loss=30))
    finally:
        bus.stop()
    assert daemon.proc.p.wait(5 * rig.SCALE) == 1
    assert daemon.log_lines()[-1] == ("Lost the system bus: xlocd ends for its service manager "
                                      "to start it again")


def test_a_stop_signal_at_any_moment_ends_a_sleeping_daemon_within_a_second(xlocd, json_gpsd):
    """gpsd connected and silent, no deadline: the daemon waits without a timeout."""
    server, rng = json_gpsd(), random.Random(7)
    for _ in range(8):
        daemon = xlocd(gps_port=server.port)
        time.sleep(rng.uniform(0, 0.6))
        start = time.monotonic()
        assert daemon.terminate() == 0 and time.monotonic() - start < 1.0


STUCK = """
import dbus, sys, time
bus = dbus.bus.BusConnection(sys.argv[1])
bus.add_match_string(sys.argv[2])
print("subscribed", flush=True)
time.sleep(600)  # and never reads
"""


def stuck_subscriber(bus, rule):
    """A subscriber to the rule that never reads what it gets."""
    stuck = rig.Proc(["/usr/bin/python3", "-c", STUCK, bus.address, rule], stdout=subprocess.PIPE)
    stuck.p.stdout.readline()
    return stuck


def blast(server, count):
    """TPV reports a second apart each, all at once: one GPSData signal each."""
    server.send(*[rig.tpv(time_=time.strftime("%Y-%m-%dT%H:%M:%S.000Z", time.gmtime(1796515200 + i)))
                  for i in range(count)])


def answered_soon(daemon):
    """GetGPSData's answer; while the bus holds a full queue for the daemon it refuses
    calls at once (LimitsExceeded), so they are tried again."""
    def ask():
        try:
            return daemon.get_data(timeout=1)
        except dbus.DBusException:
            return None
    return rig.wait_for(ask, 10, what="an answer")


def test_a_subscriber_that_never_reads_costs_sends_not_the_loop(json_gpsd, tmp_path):
    """With a system bus's equal limits the bus stops reading the daemon once the
    subscriber holds the daemon's whole allowance. Sends are dropped then, one log line
    for the episode, and the loop goes on; once the subscriber goes, answers go out."""
    bus, server = rig.Bus(limits={"max_incoming_bytes": 100000, "max_outgoing_bytes": 100000}), \
        json_gpsd()
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, server.port,
                                                              gps_data_signal=1))
        stuck = stuck_subscriber(bus, "type='signal',interface='zel.orb.xlocd'")
        blast(server, 1000)
        stalled = "The bus takes no messages from xlocd: sends are dropped until it does"
        daemon.wait_log(stalled, timeout=20)
        stuck.stop()  # the bus reads the daemon again, and what waited goes out
        assert answered_soon(daemon)[0] == "NMEA"
        start = time.monotonic()
        assert daemon.terminate() == 0 and time.monotonic() - start < 1.0 * rig.SCALE
        assert daemon.log_lines().count(stalled) == 1  # one line per episode
    finally:
        bus.stop()


def test_with_exit_on_bus_loss_a_bus_that_takes_nothing_ends_the_daemon_with_1(json_gpsd,
                                                                               tmp_path):
    bus, server = rig.Bus(limits={"max_incoming_bytes": 100000, "max_outgoing_bytes": 100000}), \
        json_gpsd()
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, server.port,
                                                              gps_data_signal=1,
                                                              exit_on_bus_loss=2))
        stuck = stuck_subscriber(bus, "type='signal',interface='zel.orb.xlocd'")
        blast(server, 1000)
        assert daemon.proc.p.wait(30 * rig.SCALE) == 1
        assert daemon.log_lines()[-1] == ("The bus takes nothing from xlocd: xlocd ends for its "
                                          "service manager to start it again")
        stuck.stop()
    finally:
        bus.stop()


@pytest.mark.parametrize("keys", [{}, {"gpsd_reconnect": 1}])
def test_a_gpsd_port_whose_accept_queue_is_full_holds_nothing_up(xlocd, keys):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = [socket.socket() for _ in range(4)]
    for filler in fillers:
        filler.setblocking(False)
        filler.connect_ex(("127.0.0.1", port))
    daemon = xlocd(gps_port=port, **keys)
    for _ in range(10):  # each attempt waits up to 1 s for its connect, the loop does not
        start = time.monotonic()
        daemon.get_data(timeout=1)
        assert time.monotonic() - start < 0.5
    failure = f"{XLOCD}: connection failure on localhost:{port}, error -6 = can't connect to " \
              "host/port pair"
    daemon.wait_log(failure, timeout=3)
    start = time.monotonic()
    assert daemon.terminate() == 0 and time.monotonic() - start < 1.0
