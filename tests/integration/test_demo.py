"""The README's demo."""
import subprocess

import pytest

import rig
from conftest import SANITIZED


@pytest.mark.skipif(bool(rig.EMULATOR) or SANITIZED, reason="the demo runs the plain build")
def test_the_demo_shows_fixes_and_signals_and_leaves_nothing_running():
    out = subprocess.run(["/usr/bin/python3", rig.ROOT / "scripts/demo.py", "--seconds", "4"],
                         capture_output=True, text=True, timeout=60)
    polled = [l for l in out.stdout.splitlines() if l.startswith("[ ")]
    assert out.returncode == 0 and len(polled) == 4, out.stderr
    assert "status=NMEA" in polled[-1] and "RegisterWatchdog " in out.stdout
    assert "[signal] status=NMEA  time=074503" in out.stdout
    assert subprocess.run(["pgrep", "-f", "xlocd_demo_"], capture_output=True).stdout == b""
