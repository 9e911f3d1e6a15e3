"""Load: ten clients of 1 000 GetGPSData calls each while gpsd streams at 20 Hz and
a WhoIsThere storm runs; every call answered, memory and descriptors flat."""
import os
import threading
import time

import pytest

import rig
from conftest import gps_client

SANITIZED = os.environ.get("XLOCD_SANITIZED") == "ON"


@pytest.mark.skipif(SANITIZED, reason="memory figures are the plain build's")
def test_ten_clients_during_20hz_fixes_and_a_whoisthere_storm(xlocd, gpsd, bus, recorder):
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port)
    daemon.wait_log("Established connection to gpsd")
    stream = rig.NmeaStream(feed, hz=20)
    rig.wait_for(lambda: daemon.get_data()[0] == "NMEA", what="fixes")
    gps_client(bus, calls=500)  # warm-up
    rss0, fds0, _ = rig.process_usage(daemon.proc.pid)

    storm_stop = threading.Event()

    def storm():
        while not storm_stop.is_set():
            bus.signal("zel.orb.broadcast", "WhoIsThere", "storm")
            time.sleep(0.01)

    storm_thread = threading.Thread(target=storm)
    storm_thread.start()
    results = [None] * 10

    def client(i):
        results[i] = gps_client(bus, calls=1000, timeout_ms=20000)

    clients = [threading.Thread(target=client, args=(i,)) for i in range(10)]
    start = time.monotonic()
    for c in clients:
        c.start()
    for c in clients:
        c.join()
    took = time.monotonic() - start
    storm_stop.set()
    storm_thread.join()
    stream.stop()
    rss1, fds1, _ = rig.process_usage(daemon.proc.pid)

    assert [r["twelve"] for r in results] == [1000] * 10, results
    assert fds1 == fds0
    assert rss1 - rss0 < 256, (rss0, rss1)
    print(f"10 x 1000 calls in {took:.1f} s; RSS {rss0} -> {rss1} kB; fds {fds0}")
    assert len(recorder.messages("HELLO")) > 10  # the storm was answered too
    assert daemon.get_data()[0] == "NMEA"
