"""The plain build under load and under valgrind, and the README's demo."""
import concurrent.futures
import re
import subprocess
import time

import pytest

import rig
from conftest import SANITIZED, gps_client

pytestmark = pytest.mark.skipif(SANITIZED, reason="figures and valgrind are the plain build's")
MEMCHECK = ["valgrind", "--tool=memcheck", "--leak-check=full", "--error-exitcode=99",
            "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
            f"--suppressions={rig.ROOT / 'tests/valgrind.supp'}", "--log-file={report}"]


@pytest.mark.parametrize("clients,calls,wrapper", [(10, 1000, []), (1, 200, MEMCHECK)])
def test_clients_during_20hz_fixes_and_a_whoisthere_storm(xlocd, gpsd, bus, recorder, tmp_path,
                                                          clients, calls, wrapper):
    if wrapper and rig.EMULATOR:
        pytest.skip("valgrind cannot follow a board's program under qemu")
    report, feed = tmp_path / "memcheck.txt", gpsd()
    daemon = xlocd(gps_port=feed.port, wrapper=[w.format(report=report) for w in wrapper])
    daemon.wait_log("Established connection to gpsd", timeout=30)
    stream = rig.NmeaStream(feed, hz=20)
    rig.wait_for(lambda: daemon.get_data(timeout=10)[0] == "NMEA", 20, what="fixes")
    gps_client(calls=calls // 2, timeout_ms=10000)  # warm-up
    rss0, fds0, _ = rig.process_usage(daemon.proc.pid)
    with concurrent.futures.ThreadPoolExecutor(clients) as pool:
        results = [pool.submit(gps_client, calls, False, 20000) for _ in range(clients)]
        while not all(c.done() for c in results):  # and a WhoIsThere storm meanwhile
            bus.signal("zel.orb.broadcast", "WhoIsThere", "storm")
            time.sleep(0.01)
    for _ in range(3):
        bus.signal("zel.orb.broadcast", "WhoIsThere", "storm")
    recorder.wait("HELLO", 4, timeout=20)  # the daemon's first, the storm's answers
    stream.stop()
    rss1, fds1, _ = rig.process_usage(daemon.proc.pid)
    assert [c.result()["twelve"] for c in results] == [calls] * clients
    # Under qemu-user the RSS is the emulator's, whose code cache grows in 2 MB steps.
    assert fds1 == fds0 and (wrapper or rig.EMULATOR or rss1 - rss0 < 256), (rss0, rss1)
    assert daemon.get_data()[0] == "NMEA"
    assert daemon.terminate(timeout=60) == 0
    text = report.read_text() if wrapper else "ERROR SUMMARY: 0 errors"
    assert "ERROR SUMMARY: 0 errors" in text and not re.search(
        r"definitely lost: [1-9]|indirectly lost: [1-9]", text), text[-3000:]


@pytest.mark.skipif(bool(rig.EMULATOR), reason="the demo runs the native build")
def test_demo_shows_the_fix_and_signals_and_leaves_nothing_running():
    out = subprocess.run(["/usr/bin/python3", rig.ROOT / "scripts/demo.py", "--seconds", "4"],
                         capture_output=True, text=True, timeout=60)
    polled = [l for l in out.stdout.splitlines() if l.startswith("[ ")]
    assert out.returncode == 0 and len(polled) == 4 and "status=NMEA" in polled[-1], out.stderr
    assert all(s in out.stdout for s in ("[signal] status=NMEA  time=074503", "RegisterWatchdog "))
    assert subprocess.run(["pgrep", "-f", "xlocd_demo_"], capture_output=True).stdout == b""
