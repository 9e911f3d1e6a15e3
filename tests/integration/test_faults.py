"""Field faults: a gpsd that hangs up, a stdout without a reader, FIFOs, an xcord that never
answers, a bus that goes away or stops reading, a stop signal at any moment."""
import fcntl
import os
import random
import subprocess
import time

import dbus
import pytest

import rig
from conftest import PEER, XLOCD, config_text

SILENT_BUS = "The bus takes no messages from xlocd: sends are dropped until it does"


def test_a_gpsd_that_hangs_up_at_once_raises_no_sigpipe(xlocd, json_gpsd, recorder):
    server = json_gpsd(hang_up=True)  # accepts, then closes: reads fail, writes raise EPIPE
    daemon = xlocd(gps_port=server.port)
    daemon.wait_log("Established connection to gpsd")
    rig.wait_for(lambda: server.accepted == 1, what="the one session")
    assert daemon.terminate() == 0
    recorder.wait("GOODBYE")


def test_with_supervision_a_gpsd_that_hangs_up_is_tried_once_a_second(xlocd, json_gpsd):
    server = json_gpsd(hang_up=True)
    daemon = xlocd(gps_port=server.port, gpsd_reconnect=1)
    start = time.monotonic()
    rig.wait_for(lambda: daemon.log_lines().count("Established connection to gpsd") == 3,
                 what="three sessions")
    assert time.monotonic() - start > 1.8  # one at once, then one a second
    assert daemon.log_lines().count("Lost the connection to gpsd") >= 2


def test_log_lines_on_a_stdout_whose_reader_is_gone_do_not_kill(tmp_path):
    (tmp_path / "stdout.config").write_text(f"RTC_path=\ngps_tcp_port={rig.free_port()}\n")
    # Two lines an attempt, and a long argv[0] in each: the pipe's buffer fills soon.
    piped = rig.Proc(rig.command(XLOCD, tmp_path / "stdout.config", argv0="x" * 3000),
                     stdout=subprocess.PIPE)
    piped.p.stdout.close()
    rig.stays(piped.alive, "the daemon", quiet=1.0 * rig.SCALE)
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
    daemon.wait_data(lambda d: d[0] == "NMEA")  # past the RTC attempt and its log line
    assert daemon.terminate() == 0
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
    assert 2.5 < took < 5.0 * rig.SCALE, took


def test_a_stop_while_the_first_gpsd_attempt_waits_ends_the_daemon_at_once(xlocd, recorder):
    from test_gps import full_listener
    held = full_listener(port := rig.free_port())  # the first attempt waits its second
    daemon = xlocd(gps_port=port)
    start = time.monotonic()
    assert daemon.terminate() == 0 and time.monotonic() - start < 0.5 * rig.SCALE
    recorder.wait("GOODBYE")
    for sock in held:
        sock.close()


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
        time.sleep(rng.uniform(0, 0.6))  # pacing: the stop comes at a random moment
        start = time.monotonic()
        assert daemon.terminate() == 0 and time.monotonic() - start < 1.0 * rig.SCALE


STUCK = """
import dbus, sys, time
bus = dbus.bus.BusConnection(sys.argv[1])
bus.add_match_string(sys.argv[2])
print("subscribed", flush=True)
time.sleep(600)  # and never reads
"""


def stuck_subscriber(bus):
    """A subscriber to the GPSData signal that never reads what it gets."""
    stuck = rig.Proc(["/usr/bin/python3", "-c", STUCK, bus.address,
                      "type='signal',interface='zel.orb.xlocd'"], stdout=subprocess.PIPE)
    stuck.p.stdout.readline()
    return stuck


def blast(server, count):
    """TPV reports a second apart, all at once: one GPSData signal each. Returns the
    time text of the last."""
    times = [time.gmtime(1796515200 + i) for i in range(count)]
    server.send(*[rig.tpv(time_=time.strftime("%Y-%m-%dT%H:%M:%S.000Z", t)) for t in times])
    return time.strftime("%H%M%S", times[-1])


def answered_soon(daemon, predicate):
    """GetGPSData's answer once predicate holds; while the bus holds a full queue for the
    daemon it refuses calls at once (LimitsExceeded), so they are tried again."""
    def ask():
        try:
            return predicate(daemon.get_data(timeout=1))
        except dbus.DBusException:
            return False
    return rig.wait_for(ask, 10, what="an answer")


# The bus stops reading the daemon once the subscriber holds its whole allowance.
LIMITS = {"max_incoming_bytes": 100000, "max_outgoing_bytes": 10000000}


def test_a_subscriber_that_never_reads_costs_sends_not_the_loop(json_gpsd, tmp_path):
    """Once the subscriber holds the daemon's whole allowance the bus stops reading the
    daemon. Sends are dropped then, not queued behind the stalled one (a subscriber that
    reads sees a gap), every report is still folded at once, one log line tells the
    episode, and once the subscriber goes, answers go out."""
    bus, server = rig.Bus(limits=LIMITS), json_gpsd()
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, server.port,
                                                              gps_data_signal=1), {"TZ": "UTC"})
        watcher = rig.Peer(PEER, tmp_path / "watcher.jsonl", bus=bus,
                           matches=["type='signal',interface='zel.orb.xlocd'"])
        stuck = stuck_subscriber(bus)
        last = blast(server, 5000)  # more than the bus and the socket hold
        daemon.wait_log(SILENT_BUS, timeout=20)
        stuck.stop()  # the bus reads the daemon again, and what waited goes out
        assert answered_soon(daemon, lambda d: d[4] == last)
        start = time.monotonic()
        assert daemon.terminate() == 0 and time.monotonic() - start < 1.0 * rig.SCALE
        assert daemon.log_lines().count(SILENT_BUS) == 1  # one line per episode
        assert len(watcher.messages("GPSData")) < 5000
        watcher.stop()
    finally:
        bus.stop()


def test_with_exit_on_bus_loss_a_bus_that_takes_nothing_ends_the_daemon_with_1(json_gpsd,
                                                                               tmp_path):
    bus, server = rig.Bus(limits=LIMITS), json_gpsd()
    try:
        daemon = rig.Daemon(XLOCD, tmp_path, bus, config_text(tmp_path, server.port,
                                                              gps_data_signal=1,
                                                              exit_on_bus_loss=2))
        stuck = stuck_subscriber(bus)
        blast(server, 1000)
        assert daemon.proc.p.wait(30 * rig.SCALE) == 1
        assert daemon.log_lines()[-1] == ("The bus takes nothing from xlocd: xlocd ends for its "
                                          "service manager to start it again")
        stuck.stop()
    finally:
        bus.stop()
