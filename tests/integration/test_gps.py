"""gpsd link and fix tracking, against a real gpsd and a scripted JSON server."""
import calendar
import signal
import socket
import time

import pytest

import rig
from conftest import BOOT_SHIM, SANITIZED, XLOCD

UTC = {"TZ": "UTC"}
EPOCH = calendar.timegm((2026, 11, 30, 12, 34, 0, 0, 334, 0))
RECEIVER = {"lat": 48.1234567, "lon": 11.5, "alt": 521.6, "knots": 19.438, "course": 90.5,
            "sats": 7}
SKY = {"class": "SKY", "satellites": [{"PRN": 1, "used": True}]}


def status_is(daemon, status):
    return lambda: daemon.get_data()[0] == status


def test_a_real_receivers_fix_shows_in_the_twelve_texts(xlocd, gpsd):
    """GGA quality 1 is a fix although gpsd sends no TPV status for it."""
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, env=UTC)
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH, **RECEIVER)
    data = daemon.get_data()
    assert data[1:4] == ["48.123457", "11.500000", "522"]  # GGA altitude: above sea level
    assert data[5:8] in (["7", "1", "A"], ["0", "1", "A"])  # SKY may trail TPV
    assert data[4].startswith("1234") and data[10] == "301126" and data[11] == "113012342026"
    assert abs(float(data[8]) - 36.0) < 0.1 and data[9] == "90.50000"


@pytest.mark.parametrize("quality,rmc_mode", [(2, "D"), (6, "E"), (7, "M"), (8, "S")],
                         ids=["DGPS", "dead reckoning alone", "time only", "simulated"])
def test_a_fix_that_libgps_marks_with_its_kind_is_a_fix(xlocd, gpsd, quality, rmc_mode):
    feed = gpsd()  # it sends these with a status of their own: 2, 5, 7 and 8
    daemon = xlocd(gps_port=feed.port)
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH, quality=quality,
                   rmc_mode=rmc_mode)


@pytest.mark.parametrize("value,port,error", [
    ("12ab", "12ab", "-1 = can't get service entry"),
    ("1:ab", "1", "-6 = can't connect to host/port pair")])
def test_a_failed_attempt_logs_its_code_and_the_stream_line(xlocd, value, port, error):
    daemon = xlocd(gps_tcp_port=value)
    failure = f"{XLOCD}: connection failure on localhost:{port}, error {error}"
    rig.wait_for(lambda: len(daemon.log_lines()) >= 5, what="two attempts")
    # Reconnection attempts: the streaming line carries its own line feed.
    assert daemon.log_lines()[:5] == [failure, "Streaming GPS data failed", failure,
                                      "Streaming GPS data failed", ""]
    assert daemon.stderr.read_text().startswith(failure + failure)


def test_unsupervised_attempts_come_every_50_ms_and_leak_nothing(xlocd):
    daemon = xlocd()
    rig.wait_for(lambda: len(daemon.log_lines()) >= 9, what="several attempts")
    rss0, fds0, _ = daemon.usage()
    lines0, start = len(daemon.log_lines()), time.monotonic()
    rig.wait_for(lambda: len(daemon.log_lines()) >= lines0 + 3 * 40, 10, what="40 attempts")
    rss1, fds1, _ = daemon.usage()
    # 40 passes of 50 ms; the machine's load only makes them later.
    assert 1.8 < time.monotonic() - start < 3.0 * rig.SCALE
    # An attempt's own socket may be open at either look; a leak would add one a pass.
    assert abs(fds1 - fds0) <= 1 and (SANITIZED or rss1 - rss0 < 64), (fds0, fds1, rss0, rss1)


def test_after_a_fix_other_reports_are_misses(served):
    server, daemon = served()
    server.send(rig.tpv())
    daemon.wait_data(lambda d: d[0] == "NMEA")
    server.send(*[SKY] * 4)  # were the library's fix not cleared, these would be fixes
    rig.stays(status_is(daemon, "NMEA"), "NMEA after four reports without a fix")
    server.send(SKY)
    rig.wait_for(status_is(daemon, "NONE"), what="NONE after five reports without a fix")


def test_unsupervised_a_late_gpsd_is_taken_once_and_never_again(xlocd, gpsd):
    port = rig.free_port()
    daemon = xlocd(gps_port=port)
    daemon.wait_log("Streaming GPS data failed")
    feed = gpsd(port)
    daemon.wait_log("Established connection to gpsd", timeout=10)
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH)
    feed.proc.stop(signal.SIGKILL)
    frozen, lines = rig.settled(daemon.get_data), daemon.log_lines()
    gpsd(port).send(rig.fix_sentences(EPOCH + 100, 50.0, 60.0, alt=70.0))
    cpu0 = daemon.usage()[2]
    # The dead socket, readable for ever, has left the wait: no spinning meanwhile.
    rig.stays(lambda: daemon.usage()[2] - cpu0 < 0.2 * rig.SCALE,
              "a quiet daemon", quiet=1.0 * rig.SCALE)
    assert daemon.get_data() == frozen and daemon.log_lines() == lines
    assert lines.count("Established connection to gpsd") == 1


def test_supervised_an_outage_is_reported_once_and_followed(xlocd, gpsd):
    port = rig.free_port()
    daemon = xlocd(gps_port=port, gpsd_reconnect=1, fix_max_age=2)
    daemon.wait_log("Streaming GPS data failed")
    # Three attempts at one a second, reported once.
    rig.stays(lambda: len(daemon.log_lines()) == 2, "two lines", quiet=2.5 * rig.SCALE)
    assert daemon.stderr.read_text().count("connection failure") == 1
    feed = gpsd(port)
    t = rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH)
    feed.proc.stop(signal.SIGKILL)
    killed = time.monotonic()
    rig.wait_for(status_is(daemon, "NONE"), 4, what="NONE after fix_max_age")
    to_none, back, returned = time.monotonic() - killed, gpsd(port), time.monotonic()
    rig.feed_until(back, status_is(daemon, "NMEA"), start=t + 10)
    # fix_max_age and one reconnection interval, with room for the machine's load.
    assert to_none < 2.5 * rig.SCALE and time.monotonic() - returned < 2.0 * rig.SCALE
    lines = daemon.log_lines()
    assert lines.count("Lost the connection to gpsd") == 1 and lines[-1] == (
        "Established connection to gpsd") and sum("connection failure" in l for l in lines) == 2


def full_listener(port):
    """A listener on 127.0.0.1 whose accept queue is full: a connect to it never completes."""
    listener = socket.create_server(("127.0.0.1", port), backlog=0)
    fillers = [socket.socket() for _ in range(4)]
    for filler in fillers:
        filler.setblocking(False)
        filler.connect_ex(("127.0.0.1", port))
    return [listener, *fillers]


@pytest.mark.skipif(not rig.ROOT_USER, reason="Debian's /etc/hosts needs a mount namespace (root)")
def test_a_squat_on_both_addresses_of_localhost_holds_up_nothing(xlocd):
    """gpsd is down; a local user listens on [::1] with room for one connection and on
    127.0.0.1 with a full queue."""
    port = rig.free_port()
    squat = socket.create_server(("::1", port), family=socket.AF_INET6, backlog=0)
    held = full_listener(port)
    daemon = xlocd(gps_port=port)
    for _ in range(10):
        start = time.monotonic()
        daemon.get_data(timeout=2)
        assert time.monotonic() - start < 1.0 * rig.SCALE  # every pass, none held by a connect
    daemon.wait_log("Established connection to gpsd")  # [::1] took it, and never speaks
    for sock in (squat, *held):
        sock.close()


def test_a_split_report_is_one_report_and_half_a_line_costs_nothing(served):
    server, daemon = served(env=UTC)
    for second in (56, 57):  # a report split in two, then the next one whole
        line = rig.json_line(rig.tpv(time_=f"2026-03-05T12:34:{second}.000Z"))
        server.send_raw(line[:60])
        rig.stays(lambda: daemon.get_data()[4] != f"1234{second}", "no fold of half a line")
        server.send_raw(line[60:])
        daemon.wait_data(lambda d: d[4] == f"1234{second}")
    server.send_raw(line[:60])  # and the rest never comes
    cpu0 = daemon.usage()[2]
    rig.stays(lambda: daemon.usage()[2] - cpu0 < 0.1 * rig.SCALE,
              "a quiet daemon", quiet=1.0 * rig.SCALE)
    assert daemon.get_data()[0] == "NMEA"


def test_a_line_longer_than_any_report_ends_the_session(served):
    server, daemon = served(gpsd_reconnect=1)
    server.send(rig.tpv())
    rig.wait_for(status_is(daemon, "NMEA"), what="a fix")
    rss0 = daemon.usage()[0]
    server.send_raw("{" + "x" * 1_000_000)  # and no line feed
    daemon.wait_log("Lost the connection to gpsd")
    rig.wait_for(lambda: server.accepted == 2, what="the next session")
    assert daemon.get_data()[0] == "NMEA" and daemon.usage()[0] - rss0 < 512


def test_the_first_call_after_a_suspend_ages_the_fix(xlocd, gpsd, tmp_path):
    """The boot clock moves on 60 s while the daemon is stopped, as over a suspend."""
    offset = tmp_path / "boot-offset"
    offset.write_text("0")
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, fix_max_age=5, gpsd_reconnect=1,
                   env={"LD_PRELOAD": BOOT_SHIM, "XLOCD_BOOT_OFFSET_FILE": str(offset)})
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH)
    # The loss comes after gpsd's last report: none is left to freshen the fix.
    feed.proc.stop(signal.SIGKILL)
    daemon.wait_log("Lost the connection to gpsd")
    assert daemon.get_data()[0] == "NMEA"
    daemon.proc.p.send_signal(signal.SIGSTOP)
    offset.write_text("60")
    daemon.proc.p.send_signal(signal.SIGCONT)
    assert daemon.get_data()[:2] == ["NONE", "1.500000"]


# qemu-user, under which the board builds run, passes no NETLINK_SOCK_DIAG: a board is
# checked natively and on the booted systems, whose kernels are the same.
OWNERS = pytest.mark.skipif(not rig.ROOT_USER or rig.EMULATOR is not None,
                            reason="gpsd as nobody and as root needs root; sock_diag, a native run")
NOBODY = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
REFUSED = "Refused gpsd on localhost:{}: its socket belongs to uid 65534 (nobody), not to root or gpsd"


@OWNERS
def test_without_gpsd_user_a_gpsd_run_by_nobody_brings_its_fix(xlocd, gpsd):
    feed = gpsd(wrapper=NOBODY)
    daemon = xlocd(gps_port=feed.port)
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH)


@OWNERS
def test_gpsd_user_refuses_another_owner_once_an_outage_then_takes_gpsd(xlocd, gpsd):
    squat = gpsd(wrapper=NOBODY)
    daemon = xlocd(gps_port=squat.port, gpsd_user="gpsd", gpsd_reconnect=1)
    daemon.wait_log(REFUSED.format(squat.port))
    with pytest.raises(AssertionError, match="never showed"):  # three attempts, a second apart
        rig.feed_until(squat, status_is(daemon, "NMEA"), timeout=3, start=EPOCH)
    assert daemon.log_lines() == [REFUSED.format(squat.port)]
    squat.proc.stop()
    rig.feed_until(gpsd(squat.port), status_is(daemon, "NMEA"), start=EPOCH)
