"""gpsd absent for a whole minute: the daemon keeps trying every pass, and its
memory and descriptors stay flat."""
import os
import time

import pytest

import rig

SANITIZED = os.environ.get("XLOCD_SANITIZED") == "ON"


@pytest.mark.skipif(SANITIZED, reason="memory figures are the plain build's")
def test_gpsd_absent_for_a_minute_logs_two_lines_per_pass_without_growth(xlocd):
    daemon = xlocd()
    rig.wait_for(lambda: len(daemon.log_lines()) > 40, what="warm-up passes")
    rss0, fds0, _ = rig.process_usage(daemon.proc.pid)
    lines0 = len(daemon.log_lines())
    time.sleep(60)
    rss1, fds1, _ = rig.process_usage(daemon.proc.pid)
    passes = (len(daemon.log_lines()) - lines0) / 3  # failure, streaming line, empty line
    assert 60 * 15 < passes < 60 * 21, passes  # one attempt per 50 ms pass
    assert fds1 == fds0 and rss1 - rss0 < 64, (rss0, rss1, fds0, fds1)
    assert daemon.terminate() == 0
