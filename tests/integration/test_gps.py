"""gpsd connection, fix tracking and the GetGPSData reply, against a real gpsd and,
for exact corner cases, a scripted server that speaks gpsd's JSON."""
import calendar
import math
import time

import pytest

import rig
from conftest import gps_client

UTC = {"TZ": "UTC"}
EPOCH = calendar.timegm((2026, 11, 30, 12, 34, 0, 0, 334, 0))


def until_status(daemon, status, timeout=10.0):
    return rig.wait_for(lambda: (lambda d: d if d[0] == status else None)(daemon.get_data()),
                        timeout, what=f"status {status}")


# ---- real gpsd -------------------------------------------------------------
# EPOCH is 2026-11-30 12:34:00 UTC; epochs follow a second apart.

def status_is(daemon, status):
    return lambda: daemon.get_data()[0] == status


def test_plain_nmea_fix_through_real_gpsd(xlocd, gpsd):
    """An ordinary GPS fix (GGA quality 1) reaches the state although gpsd sends no
    TPV status for it."""
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, env=UTC)
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH, lat=48.1234567, lon=11.5,
                   alt=521.6, knots=19.438, course=90.5, sats=7)
    data = daemon.get_data()
    assert data[1:3] == ["48.123457", "11.500000"]
    assert data[3] == "522"  # GGA altitude, the mean-sea-level one
    assert data[5:8] == ["7", "1", "A"] or data[5:8] == ["0", "1", "A"]  # SKY may trail TPV
    assert data[4].startswith("1234") and data[10] == "301126" and data[11] == "113012342026"
    assert abs(float(data[8]) - 36.0) < 0.1 and data[9] == "90.50000"


def test_loss_of_fix_after_five_reports_keeps_the_last_position(xlocd, gpsd):
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, env=UTC)
    t = rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH, lat=50.0, lon=8.25, alt=100.0)
    rig.feed_until(feed, status_is(daemon, "NONE"), start=t + 1, lat=0, lon=0, fix=False)
    data = daemon.get_data()
    assert data[1:3] == ["50.000000", "8.250000"]
    assert (data[6], data[7]) == ("0", "V")


def test_gpsd_started_late_is_connected_once(xlocd, gpsd):
    port = rig.free_port()
    daemon = xlocd(gps_port=port)
    daemon.wait_log("Streaming GPS data failed")
    feed = gpsd(port)
    daemon.wait_log("Established connection to gpsd", timeout=10)
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH, lat=1.5, lon=2.5, alt=3.0)
    assert daemon.log_lines().count("Established connection to gpsd") == 1
    assert daemon.log_lines()[-1] == "Established connection to gpsd"


def test_gpsd_gone_after_connect_freezes_the_state(xlocd, gpsd):
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, env=UTC)
    rig.feed_until(feed, status_is(daemon, "NMEA"), start=EPOCH, lat=10.0, lon=20.0, alt=30.0)
    before = rig.settled(daemon.get_data)
    lines = len(daemon.log_lines())
    feed.stop()
    time.sleep(1.0)
    assert daemon.get_data() == before
    assert len(daemon.log_lines()) == lines  # no reconnection attempts
    assert daemon.terminate() == 0


# ---- connection attempts ---------------------------------------------------

@pytest.mark.parametrize("value,port,error", [
    ("12ab", "12ab", "-1 = can't get service entry"),
    ("1:ab", "1", "-6 = can't connect to host/port pair"),
])
def test_failed_attempts_log_two_lines_per_pass(xlocd, value, port, error):
    daemon = xlocd(gps_tcp_port=value)
    prog = daemon.proc.args[0]
    failure = f"{prog}: connection failure on localhost:{port}, error {error}"
    rig.wait_for(lambda: len(daemon.log_lines()) >= 9, what="several passes")
    lines = daemon.log_lines()
    assert lines[:2] == [failure, "Streaming GPS data failed"]
    # Reconnection attempts: the streaming line carries its own line feed.
    assert lines[2:5] == [failure, "Streaming GPS data failed", ""]
    assert daemon.stderr.read_text().startswith(failure + failure)


@pytest.mark.parametrize("value", [None, "0", "abc", "65536", "123456"])
def test_unset_or_zero_port_means_2947(xlocd, value):
    daemon = xlocd(gps_tcp_port=value)
    rig.wait_for(lambda: daemon.log_lines(), what="a log line")
    first = daemon.log_lines()[0]
    assert "connection failure on localhost:2947," in first or first == "Established connection to gpsd"


# ---- scripted gpsd: exact corner cases ----------------------------------

def test_reply_for_a_scripted_3d_fix(xlocd, json_gpsd):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=UTC)
    server.send({"class": "SKY", "satellites": [{"PRN": n, "used": True} for n in range(1, 8)]},
                rig.tpv(time_="2026-03-05T12:34:56.700Z", speed=10.0))
    assert until_status(daemon, "NMEA") == [
        "NMEA", "48.123457", "11.500000", "522", "123456", "7", "1", "A", "36.00000",
        "90.50000", "050326", "030512342026"]


def test_nan_fields_and_odd_status_mode_pairs(xlocd, json_gpsd):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=UTC)
    server.send(rig.tpv(lat=1.0, lon=2.0, altMSL=3.0, track=4.0, speed=5.0))
    until_status(daemon, "NMEA")
    # 2D fix without latitude: position partly kept; altitude and course untouched.
    server.send(rig.tpv(mode=2, lat=None, lon=7.0, altMSL=99.0, track=99.0))
    rig.wait_for(lambda: daemon.get_data()[2] == "7.000000", what="2D longitude")
    data = daemon.get_data()
    assert (data[1], data[3], data[9]) == ("1.000000", "3", "4.00000")
    # 3D fix without track: altitude updated, course and speed kept.
    server.send(rig.tpv(altMSL=42.0, track=None, speed=50.0))
    rig.wait_for(lambda: daemon.get_data()[3] == "42", what="3D altitude")
    assert daemon.get_data()[8:10] == ["18.00000", "4.00000"]
    # A fix without any time does not touch the time fields.
    time_fields = [daemon.get_data()[i] for i in (4, 10, 11)]
    server.send(rig.tpv(time_=None, lat=9.0))
    rig.wait_for(lambda: daemon.get_data()[1] == "9.000000", what="timeless fix")
    assert [daemon.get_data()[i] for i in (4, 10, 11)] == time_fields
    # Status 1 with mode 1 is a miss; five of them mark NONE.
    for _ in range(4):
        server.send(rig.tpv(mode=1, status=1))
    time.sleep(0.4)
    assert daemon.get_data()[0] == "NMEA"
    server.send(rig.tpv(mode=1, status=1))
    until_status(daemon, "NONE")


def test_dgps_status_counts_as_a_fix_and_old_years_blank_utc(xlocd, json_gpsd):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env=UTC)
    server.send(rig.tpv(status=2, time_="2006-06-15T08:00:00.000Z"))
    data = until_status(daemon, "NMEA")
    assert (data[4], data[10], data[11]) == ("080000", "150606", "0")


def test_calls_carrying_arguments_still_get_twelve_strings(xlocd, bus):
    xlocd()
    reply = bus.client().call_blocking("zel.orb.xlocd", "/zel/orb/xlocd/Object", "zel.orb.xlocd",
                                       "GetGPSData", "suiadba{ss}as",
                                       ["x", 1, -2, [1.0, 2.0], True, {"k": "v"}, ["y"]],
                                       timeout=5)
    assert len(reply) == 12 and all(isinstance(s, str) for s in reply)
    assert gps_client(bus, calls=3)["twelve"] == 3
