"""The daemon under valgrind memcheck through a whole scenario: start, fixes at
20 Hz from a real gpsd, GetGPSData calls, WhoIsThere, SIGTERM."""
import os
import re
import time

import pytest

import rig
from conftest import gps_client

SANITIZED = os.environ.get("XLOCD_SANITIZED") == "ON"
SUPPRESSIONS = rig.ROOT / "tests/valgrind.supp"


@pytest.mark.skipif(SANITIZED, reason="valgrind runs on the plain build")
def test_memcheck_scenario_is_clean(xlocd, gpsd, bus, recorder, tmp_path):
    report = tmp_path / "memcheck.txt"
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, start_timeout=30, wrapper=[
        "valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
        "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99",
        f"--suppressions={SUPPRESSIONS}", "--gen-suppressions=all", f"--log-file={report}"])
    daemon.wait_log("Established connection to gpsd", timeout=30)
    stream = rig.NmeaStream(feed, hz=20)
    rig.wait_for(lambda: daemon.get_data(timeout=10)[0] == "NMEA", 20, what="fixes")
    assert gps_client(bus, calls=200, timeout_ms=10000)["twelve"] == 200
    for _ in range(3):
        bus.signal("zel.orb.broadcast", "WhoIsThere", "memcheck")
    recorder.wait("HELLO", 4, timeout=20)
    time.sleep(1.0)
    stream.stop()
    assert daemon.terminate(timeout=60) == 0, report.read_text()[-3000:]
    text = report.read_text()
    assert "ERROR SUMMARY: 0 errors" in text, text[-3000:]
    print(text[-1500:])
    assert not re.search(r"definitely lost: [1-9]|indirectly lost: [1-9]", text), text[-3000:]
