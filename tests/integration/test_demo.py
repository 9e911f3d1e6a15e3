"""The README's first command, short: the demo shows the fix and cleans up."""
import os
import subprocess

import pytest

import rig

SANITIZED = os.environ.get("XLOCD_SANITIZED") == "ON"


@pytest.mark.skipif(SANITIZED, reason="the demo runs the plain build")
def test_demo_shows_the_fix_and_leaves_nothing_running():
    out = subprocess.run(["/usr/bin/python3", rig.ROOT / "scripts/demo.py", "--seconds", "4"],
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    shown = [l for l in out.stdout.splitlines() if l.startswith("[")]
    assert len(shown) == 4 and "status=NMEA" in shown[-1] and "latitude=48.13" in shown[-1]
    assert "RegisterWatchdog and" in out.stdout
    log = out.stdout.splitlines()[1].split("log: ")[1]
    assert "Established connection to gpsd" in open(log).read()
    leftovers = subprocess.run(["pgrep", "-f", "xlocd_demo_"], capture_output=True, text=True)
    assert leftovers.stdout == ""
