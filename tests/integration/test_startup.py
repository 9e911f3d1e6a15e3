"""Command line, manual, configuration file checks and the log, on the real binary."""
import os
import re
import subprocess

import pytest

import rig
from conftest import XLOCD

HELP = ("\nxlocd v3_03r1 - daemon provides GPS information on request \n\n"
        "Usage: xlocd <config-file> [-h] [-v] [-m] \nRequires: configuration file \n"
        "Options: \n    -v   version number of the daemon \n"
        "    -h   usage and options (this help) \n    -m   manual page \n\n")


def run(*args):
    p = subprocess.run(rig.command(XLOCD, *args), capture_output=True, timeout=10 * rig.SCALE,
                       env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent"))
    return p.returncode, p.stdout.decode(), p.stderr.decode()


@pytest.mark.parametrize("args,status,out", [
    ((), 1, "invalid argument, type xlocd -h for help \n"
            "Usage: xlocd <config-file> [-h] [-v] [-m] \n"),
    (("/etc/my-vehicle.conf",), 0, "v3_03r1\n"),  # "-v" anywhere in the first argument
    (("x-h-v",), 0, "v3_03r1\n"),
    (("--help", "-v"), 0, HELP),
    (("x-hv",), 0, HELP),
    (("", "-v"), 1, HELP),
    (("-V",), 1, "No valid config file '-V'\n"),
    ((" /nonexistent/x.conf more words",), 1, "No valid config file '/nonexistent/x.conf'\n"),
    (("/dev/null",), 1, "No valid config file '/dev/null'\n")])
def test_command_line_exits(args, status, out):
    assert run(*args)[:2] == (status, out)


def test_a_config_path_of_511_characters_is_read_and_one_of_512_refused(tmp_path):
    deep = tmp_path / ("d" * 200) / ("e" * 200)
    deep.mkdir(parents=True)
    path = deep / ("f" * (511 - len(str(deep)) - 1))
    path.write_text(f"Log_File={tmp_path}/x.log\nRTC_path=\n")
    assert run(path)[0::2] == (0, "Register xlocd on DBUS failed")
    assert run(str(path) + "f") == (1, f"No valid config file '{path}f'\n", "")


STAMP = r"\d\d\.\d\d\.\d\d_\d\d:\d\d:\d\d "
INVALID = r"Invalid clock_not_before '2026-02-30', using the build date \S+\n"


@pytest.mark.parametrize("keys,status,out,err", [
    ("watchdog_interval=5\nclock_not_before=2026-02-30\n", 0,
     "Error in config file. No valid Log_File found\n"
     "Did not find RTC path, using default at //dev//rtc0\n" + INVALID +
     "No log file entry found in config file -> send log msg to stdout\n" + STAMP + INVALID +
     STAMP + "Register xlocd on DBUS failed\n",
     "Register xlocd on DBUS failed"),
    ("Log_File={d}/none/x.log\nRTC_path=\n", 1, "Can not open log file '{d}/none/x.log' to write "
     "to.\nCould not open log file: {d}/none/x.log\n", "")])
def test_a_linked_config_is_read_and_log_lines_go_to_stdout_or_nowhere(tmp_path, keys, status, out,
                                                                       err):
    (tmp_path / "real.conf").write_text(keys.format(d=tmp_path))
    (tmp_path / "link.conf").symlink_to(tmp_path / "real.conf")
    result = run(f" {tmp_path}/link.conf ignored words")  # only the first token counts
    assert result[0::2] == (status, err), result
    assert re.fullmatch(out.format(d=re.escape(str(tmp_path))), result[1]), result


def test_the_manual_ends_each_line_with_one_blank():
    manual = run("/x-m")[1]  # -m is not listed under OPTIONS
    assert manual.startswith("\nNAME \n    xlocd - daemon provides GPS information on request \n")
    assert "-m   " not in manual and all(re.fullmatch(r"(.*\S )?", l) for l in manual.split("\n"))
