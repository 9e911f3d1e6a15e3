"""Installation into a DESTDIR, the installed library used from C, the man page
and the query tool."""
import json
import os
import pathlib
import shutil
import subprocess

import pytest

import rig

BUILD = pathlib.Path(os.environ.get("BUILD_DIR", rig.ROOT / "build"))
QUERY = os.path.abspath(os.environ.get("QUERY_BIN", BUILD / "tools/xlocd-query"))


def install(dest):
    subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr"], check=True,
                   capture_output=True, env=dict(os.environ, DESTDIR=str(dest)))


def test_install_lays_out_every_file_and_keeps_an_existing_config(tmp_path):
    install(tmp_path)
    files = sorted(str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*") if not p.is_dir())
    libdir = next(p.parent for p in tmp_path.rglob("liborbclient.a")).relative_to(tmp_path)
    assert files == sorted([
        "etc/init.d/xlocd", "etc/init.d/xlocd.config", "usr/bin/xlocd-query",
        "usr/include/orb_client.h", f"{libdir}/liborbclient.a", f"{libdir}/liborbclient.so",
        f"{libdir}/liborbclient.so.1", f"{libdir}/liborbclient.so.1.0.0",
        f"{libdir}/pkgconfig/orbclient.pc", "usr/lib/systemd/system/xlocd.service",
        "usr/sbin/xlocd", "usr/share/dbus-1/system.d/zel.orb.xlocd.conf",
        "usr/share/man/man8/xlocd.8"])
    unit = (tmp_path / "usr/lib/systemd/system/xlocd.service").read_text()
    assert "ExecStart=/usr/sbin/xlocd /etc/init.d/xlocd.config" in unit
    assert os.access(tmp_path / "etc/init.d/xlocd", os.X_OK)
    subprocess.run(["sh", "-n", tmp_path / "etc/init.d/xlocd"], check=True)
    config = tmp_path / "etc/init.d/xlocd.config"
    config.write_text("Log_File=/var/log/mine.log\n")
    install(tmp_path)
    assert config.read_text() == "Log_File=/var/log/mine.log\n"


def test_c_program_builds_against_the_installed_header_and_library(tmp_path):
    dest = tmp_path / "root"
    install(dest)
    pcdir = next(dest.rglob("orbclient.pc")).parent
    env = dict(os.environ, PKG_CONFIG_PATH=str(pcdir))
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "orbclient"], env=env,
                           check=True, capture_output=True, text=True).stdout.split()
    exe = tmp_path / "c_check"
    subprocess.run(["cc", "-std=c11", "-Wall", "-Werror", "-o", exe,
                    rig.ROOT / "tests/c_header_check.c", *flags], check=True)
    run = subprocess.run([exe], capture_output=True, text=True,
                         env=dict(os.environ, LD_LIBRARY_PATH=str(pcdir.parent)))
    assert (run.returncode, run.stdout) == (0, "ok\n")


def test_man_page_renders_without_warnings_and_documents_every_key():
    page = rig.ROOT / "doc/xlocd.8"
    out = subprocess.run(["groff", "-man", "-ww", "-Tutf8", page], capture_output=True, text=True)
    assert out.returncode == 0 and out.stderr == ""
    text = page.read_text()
    for key in ("Log_File", "watchdog_interval", "CMDOnWatchdog", "auto_set_system_time",
                "auto_set_rtc_time", "RTC_path", "auto_set_rtc_time_interval", "gps_tcp_port"):
        assert f".B {key}\n" in text, key
    # The struct of the -m text, line for line.
    manual = subprocess.run([os.environ.get("XLOCD_BIN", BUILD / "src/xlocd"), "-m"],
                            capture_output=True, text=True).stdout
    struct = [l.rstrip() for l in manual.splitlines() if "charn" in l or "typedef" in l]
    assert len(struct) == 13 and all(line in text for line in struct)


# ---- xlocd-query ---------------------------------------------------------------

def query(bus, *args):
    return subprocess.run([QUERY, *args], capture_output=True, text=True, timeout=30,
                          env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))


def test_query_prints_named_fields_and_json(xlocd, json_gpsd, bus):
    server = json_gpsd()
    daemon = xlocd(gps_port=server.port, env={"TZ": "UTC"})
    server.send(rig.tpv(time_="2026-03-05T12:34:56.000Z"))
    rig.wait_for(lambda: daemon.get_data()[0] == "NMEA", what="fix")
    text = query(bus)
    assert text.returncode == 0
    assert text.stdout.splitlines()[:2] == ["status      NMEA", "latitude    48.123457"]
    assert "UTC         030512342026" in text.stdout
    obj = json.loads(query(bus, "--json").stdout)
    assert list(obj) == ["status", "latitude", "longitude", "altitude", "time", "satellites",
                         "quality", "warn", "speed", "course", "date", "UTC"]
    assert obj["altitude"] == "522" and obj["date"] == "050326"


def test_query_says_when_the_daemon_is_not_running(bus):
    out = query(bus)
    assert out.returncode == 1 and "xlocd is not running" in out.stderr
    assert query(bus, "--bogus").returncode == 64


def test_query_gives_up_after_its_timeout(bus, xlocd):
    daemon = xlocd()
    daemon.proc.p.send_signal(19)  # SIGSTOP: holds the name, answers nothing
    try:
        out = query(bus, "--timeout", "300")
        assert out.returncode == 2 and "did not answer within 300 ms" in out.stderr
    finally:
        daemon.proc.p.send_signal(18)  # SIGCONT


def test_query_watch_repeats(bus, xlocd):
    xlocd()
    proc = rig.Proc([QUERY, "--json", "--watch", "1"], stdout=subprocess.PIPE,
                    env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))
    lines = [proc.p.stdout.readline() for _ in range(2)]
    assert proc.stop() == 0
    assert all(json.loads(l)["status"] == "" for l in lines)


@pytest.mark.parametrize("args", [["--watch", "300000000"], ["--watch", "-1"], ["--watch", "1s"],
                                  ["--timeout", "0"], ["--timeout", ""], ["--watch"]])
def test_query_refuses_option_values_out_of_range(args):
    out = subprocess.run([QUERY, *args], capture_output=True, text=True, timeout=10)
    assert out.returncode == 64, out.stderr
    assert "takes a whole number from" in out.stderr or out.stderr.startswith("Usage:")
