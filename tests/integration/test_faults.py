"""Field faults: a gpsd that hangs up, a stdout without a reader, FIFOs, a bus that
goes away or stops reading."""
import fcntl
import os
import subprocess
import time

import dbus

import rig
from conftest import PEER, XLOCD

STALLED = "The bus takes no messages from xlocd: sends are dropped until it does"
# The bus stops reading the daemon once a subscriber holds its whole allowance.
LIMITS = {"max_incoming_bytes": 100000, "max_outgoing_bytes": 10000000}


def test_a_gpsd_that_hangs_up_raises_no_sigpipe_and_is_tried_once_a_second(xlocd, json_gpsd):
    server = json_gpsd(hang_up=True)  # reads fail, writes raise EPIPE
    daemon = xlocd(gps_port=server.port, gpsd_reconnect=1)
    start = time.monotonic()
    rig.wait_for(lambda: server.accepted == 3, what="three sessions")
    assert time.monotonic() - start > 1.8
    assert "Lost the connection to gpsd" in daemon.log_lines()


def test_a_stdout_without_a_reader_does_not_kill(tmp_path):
    (tmp_path / "x.config").write_text(f"RTC_path=\ngps_tcp_port={rig.free_port()}\n")
    # Two lines an attempt with a long argv[0] in each: the pipe fills soon.
    piped = rig.Proc(rig.command(XLOCD, tmp_path / "x.config", argv0="x" * 3000),
                     stdout=subprocess.PIPE)
    piped.p.stdout.close()
    rig.stays(piped.alive, "the daemon", quiet=1.0 * rig.SCALE)
    assert piped.stop() == 0


def test_fifos_as_rtc_path_and_log_file_hold_nothing_up(served, tmp_path):
    rtc, log = tmp_path / "rtc.fifo", tmp_path / "log.fifo"
    os.mkfifo(rtc)
    os.mkfifo(log)
    reader = os.open(log, os.O_RDWR | os.O_NONBLOCK)  # and it never reads
    fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, 4096)
    os.write(reader, b"x" * 4096)  # full before the daemon writes a line
    server, daemon = served(Log_File=str(log), RTC_path=str(rtc), auto_set_rtc_time="")
    server.send(rig.tpv())
    daemon.wait_data(lambda d: d[0] == "NMEA")  # past the RTC attempt and its line
    assert daemon.terminate() == 0
    os.close(reader)


def test_a_lost_bus_leaves_the_daemon_reading_gpsd(own_bus, xlocd, json_gpsd, tmp_path):
    bus, server = own_bus(), json_gpsd()
    daemon = xlocd(gps_port=server.port, on=bus, auto_set_rtc_time="",
                   RTC_path=str(tmp_path / "no"))
    server.watching.wait(5)
    bus.stop()
    server.send(rig.tpv())  # the RTC step shows the fix
    daemon.wait_log(f"mv_SetSystemTime: Setting RTC from GPS FAILED! "
                    f"(could not open {tmp_path / 'no'})")
    assert daemon.terminate() == 0


def test_exit_on_bus_loss_ends_with_1_when_the_bus_goes(own_bus, xlocd):
    bus = own_bus()
    daemon = xlocd(on=bus, exit_on_bus_loss=30)
    bus.stop()
    assert daemon.proc.p.wait(5 * rig.SCALE) == 1
    assert daemon.log_lines()[-1] == ("Lost the system bus: xlocd ends for its service "
                                      "manager to start it again")


STUCK = """
import dbus, sys, time
bus = dbus.bus.BusConnection(sys.argv[1])
bus.add_match_string("type='signal',interface='zel.orb.xlocd'")
print("subscribed", flush=True)
time.sleep(600)  # and never reads
"""


def stuck(bus):
    """A GPSData subscriber that never reads."""
    proc = rig.Proc(["/usr/bin/python3", "-c", STUCK, bus.address], stdout=subprocess.PIPE)
    proc.p.stdout.readline()
    return proc


def blast(server, count):
    """TPVs a second apart, all at once, a GPSData signal each; the last one's time."""
    times = [time.gmtime(1796515200 + i) for i in range(count)]
    server.send(*[rig.tpv(time_=time.strftime("%Y-%m-%dT%H:%M:%S.000Z", t)) for t in times])
    return time.strftime("%H%M%S", times[-1])


def answered(daemon, predicate):
    """Once predicate holds of the answer; calls the bus refuses meanwhile are repeated."""
    def ask():
        try:
            return predicate(daemon.get_data(timeout=1))
        except dbus.DBusException:
            return False
    return rig.wait_for(ask, 10, what="an answer")


def test_a_subscriber_that_never_reads_costs_sends_only(own_bus, xlocd, json_gpsd, tmp_path):
    """Sends are dropped, not queued behind the stalled one (a reading subscriber sees a
    gap); every report is still folded; one line for the episode; then answers go out."""
    bus, server = own_bus(limits=LIMITS), json_gpsd()
    daemon = xlocd(gps_port=server.port, on=bus, env={"TZ": "UTC"}, gps_data_signal=1)
    watcher = rig.Peer(PEER, tmp_path / "w.jsonl", bus=bus, matches=[rig.Peer.XLOCD])
    subscriber = stuck(bus)
    last = blast(server, 5000)  # more than the bus and the socket hold
    daemon.wait_log(STALLED, timeout=20)
    subscriber.stop()
    assert answered(daemon, lambda d: d[4] == last)
    assert daemon.terminate() == 0 and daemon.log_lines().count(STALLED) == 1
    assert len(watcher.messages("GPSData")) < 5000
    watcher.stop()


def test_exit_on_bus_loss_ends_with_1_when_the_bus_takes_nothing(own_bus, xlocd, json_gpsd):
    bus, server = own_bus(limits=LIMITS), json_gpsd()
    daemon = xlocd(gps_port=server.port, on=bus, gps_data_signal=1, exit_on_bus_loss=2)
    subscriber = stuck(bus)
    blast(server, 1000)
    assert daemon.proc.p.wait(30 * rig.SCALE) == 1
    assert daemon.log_lines()[-1] == ("The bus takes nothing from xlocd: xlocd ends for "
                                      "its service manager to start it again")
    subscriber.stop()
