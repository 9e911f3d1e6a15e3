"""Command line, configuration file checks and the log, on the real binary."""
import os
import subprocess

import pytest

from conftest import XLOCD

HELP = ("\nxlocd v3_03r1 - daemon provides GPS information on request \n\n"
        "Usage: xlocd <config-file> [-h] [-v] [-m] \nRequires: configuration file \n"
        "Options: \n    -v   version number of the daemon \n"
        "    -h   usage and options (this help) \n    -m   manual page \n\n")
USAGE = ("invalid argument, type xlocd -h for help \n"
         "Usage: xlocd <config-file> [-h] [-v] [-m] \n")


def run(*args, env=None):
    p = subprocess.run([XLOCD, *args], capture_output=True, timeout=10,
                       env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent",
                                **(env or {})))
    return p.returncode, p.stdout.decode(), p.stderr.decode()


@pytest.mark.parametrize("args,status,out", [
    ((), 1, USAGE),
    (("-v",), 0, "v3_03r1\n"),
    (("/etc/my-vehicle.conf",), 0, "v3_03r1\n"),
    (("--help", "-v"), 0, HELP),
    (("",), 1, HELP),
    (("  ",), 1, HELP),
    (("/nonexistent/x.conf",), 1, "No valid config file '/nonexistent/x.conf'\n"),
    (("/dev/null",), 1, "No valid config file '/dev/null'\n"),
    (("/tmp",), 1, "No valid config file '/tmp'\n"),
])
def test_command_line_exits(args, status, out):
    assert run(*args)[:2] == (status, out)


def test_fifo_and_overlong_path_are_refused(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    assert run(str(fifo))[:2] == (1, f"No valid config file '{fifo}'\n")
    long_path = "/" + "a" * 600
    assert run(long_path)[:2] == (1, f"No valid config file '{long_path}'\n")


def test_symlink_to_config_is_accepted_and_only_the_first_token_counts(tmp_path):
    cfg = tmp_path / "real.conf"
    cfg.write_text("Log_File=/nonexistent-dir/x.log\nRTC_path=\n")
    link = tmp_path / "link.conf"
    link.symlink_to(cfg)
    # Reaching the log step proves the file was accepted and read.
    status, out, _ = run(f" {link} ignored words")
    assert status == 1
    assert out == ("Can not open log file '/nonexistent-dir/x.log' to write to.\n"
                   "Could not open log file: /nonexistent-dir/x.log\n")


def test_without_bus_the_daemon_logs_to_stdout_and_shuts_down(tmp_path):
    cfg = tmp_path / "x.conf"
    cfg.write_text("watchdog_interval=5\n")
    status, out, err = run(str(cfg))
    lines = out.splitlines()
    assert status == 0
    assert lines[:3] == ["Error in config file. No valid Log_File found",
                         "Did not find RTC path, using default at //dev//rtc0",
                         "No log file entry found in config file -> send log msg to stdout"]
    assert lines[3][17:] == " Register xlocd on DBUS failed"
    assert err == "Register xlocd on DBUS failed"


def test_log_file_is_appended_to(tmp_path):
    cfg = tmp_path / "x.conf"
    log = tmp_path / "x.log"
    log.write_text("earlier\n")
    cfg.write_text(f"Log_File={log}\nRTC_path=\n")
    assert run(str(cfg))[0] == 0
    text = log.read_text().splitlines()
    assert text[0] == "earlier" and text[1].endswith(" Register xlocd on DBUS failed")
