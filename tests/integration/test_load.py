"""The plain build under load and under valgrind, and the demo of the README's first
command."""
import concurrent.futures
import re
import subprocess
import time

import pytest

import rig
from conftest import SANITIZED, gps_client

pytestmark = pytest.mark.skipif(SANITIZED, reason="figures and valgrind are the plain build's")


def test_ten_clients_during_20hz_fixes_and_a_whoisthere_storm(xlocd, gpsd, bus, recorder):
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port)
    daemon.wait_log("Established connection to gpsd")
    stream = rig.NmeaStream(feed, hz=20)
    rig.wait_for(lambda: daemon.get_data()[0] == "NMEA", what="fixes")
    gps_client(bus, calls=500)  # warm-up
    rss0, fds0, _ = rig.process_usage(daemon.proc.pid)
    with concurrent.futures.ThreadPoolExecutor(10) as pool:
        calls = [pool.submit(gps_client, bus, 1000, False, 20000) for _ in range(10)]
        while not all(c.done() for c in calls):  # and a WhoIsThere storm meanwhile
            bus.signal("zel.orb.broadcast", "WhoIsThere", "storm")
            time.sleep(0.01)
        results = [c.result()["twelve"] for c in calls]
    stream.stop()
    rss1, fds1, _ = rig.process_usage(daemon.proc.pid)
    assert results == [1000] * 10
    assert fds1 == fds0 and rss1 - rss0 < 256, (rss0, rss1)
    assert len(recorder.messages("HELLO")) > 10 and daemon.get_data()[0] == "NMEA"


@pytest.mark.skipif(bool(rig.EMULATOR), reason="valgrind cannot follow a board's program under qemu")
def test_memcheck_scenario_is_clean(xlocd, gpsd, bus, recorder, tmp_path):
    report = tmp_path / "memcheck.txt"
    feed = gpsd()
    daemon = xlocd(gps_port=feed.port, wrapper=[
        "valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
        "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99",
        f"--suppressions={rig.ROOT / 'tests/valgrind.supp'}", f"--log-file={report}"])
    daemon.wait_log("Established connection to gpsd", timeout=30)
    stream = rig.NmeaStream(feed, hz=20)
    rig.wait_for(lambda: daemon.get_data(timeout=10)[0] == "NMEA", 20, what="fixes")
    assert gps_client(bus, calls=200, timeout_ms=10000)["twelve"] == 200
    for _ in range(3):
        bus.signal("zel.orb.broadcast", "WhoIsThere", "memcheck")
    recorder.wait("HELLO", 4, timeout=20)
    stream.stop()
    assert daemon.terminate(timeout=60) == 0, report.read_text()[-3000:]
    text = report.read_text()
    assert "ERROR SUMMARY: 0 errors" in text, text[-3000:]
    assert not re.search(r"definitely lost: [1-9]|indirectly lost: [1-9]", text), text[-3000:]


@pytest.mark.skipif(bool(rig.EMULATOR), reason="the demo runs the native build")
def test_demo_shows_the_fix_and_leaves_nothing_running():
    out = subprocess.run(["/usr/bin/python3", rig.ROOT / "scripts/demo.py", "--seconds", "4"],
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    polled = [l for l in out.stdout.splitlines() if l.startswith("[ ")]
    assert len(polled) == 4 and "status=NMEA" in polled[-1] and "latitude=48.13" in polled[-1]
    assert "[signal] status=NMEA  time=074503" in out.stdout
    assert "RegisterWatchdog and" in out.stdout
    assert "Established connection to gpsd" in open(out.stdout.split("log: ")[1].split()[0]).read()
    assert subprocess.run(["pgrep", "-f", "xlocd_demo_"], capture_output=True).stdout == b""
