"""Installation into a DESTDIR, the installed library used from C, the man page
and the query tool."""
import json
import os
import subprocess
import time

import pytest

import rig
from conftest import BUILD, QUERY, XLOCD


def install(dest):
    subprocess.run(["cmake", "--install", BUILD, "--prefix", "/usr"], check=True,
                   capture_output=True, env=dict(os.environ, DESTDIR=str(dest)))


def test_install_lays_out_every_file_keeps_a_config_and_builds_a_c_client(tmp_path):
    install(tmp_path)
    files = sorted(str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*") if not p.is_dir())
    pcdir = next(tmp_path.rglob("orbclient.pc")).parent
    lib = pcdir.parent.relative_to(tmp_path)
    assert files == sorted([
        "etc/init.d/xlocd", "etc/init.d/xlocd.config", "usr/bin/xlocd-query",
        "usr/include/orb_client.h", f"{lib}/liborbclient.a", f"{lib}/liborbclient.so",
        f"{lib}/liborbclient.so.1", f"{lib}/liborbclient.so.1.0.0", f"{lib}/pkgconfig/orbclient.pc",
        "usr/lib/systemd/system/xlocd.service", "usr/sbin/xlocd",
        "usr/share/dbus-1/system.d/zel.orb.xlocd.conf", "usr/share/man/man1/xlocd-query.1.gz",
        "usr/share/man/man8/xlocd.8.gz"])
    unit = (tmp_path / "usr/lib/systemd/system/xlocd.service").read_text()
    assert "ExecStart=/usr/sbin/xlocd /etc/init.d/xlocd.config" in unit
    subprocess.run(["sh", "-n", tmp_path / "etc/init.d/xlocd"], check=True)
    assert os.access(tmp_path / "etc/init.d/xlocd", os.X_OK)
    config = tmp_path / "etc/init.d/xlocd.config"
    config.write_text("Log_File=/var/log/mine.log\n")
    install(tmp_path)
    assert config.read_text() == "Log_File=/var/log/mine.log\n"
    if rig.EMULATOR:
        pytest.skip("the host's compiler cannot link the board's installed library")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "orbclient"], check=True,
                           env=dict(os.environ, PKG_CONFIG_PATH=str(pcdir)),
                           capture_output=True, text=True).stdout.split()
    subprocess.run(["cc", "-std=c11", "-Wall", "-Wpedantic", "-Werror", "-o", tmp_path / "driver",
                    rig.ROOT / "tests/peers/orb_driver.c", *flags], check=True)
    run = subprocess.run([tmp_path / "driver"], input="nullchecks\n", capture_output=True,
                         text=True, env=dict(os.environ, LD_LIBRARY_PATH=str(pcdir.parent)))
    assert run.stdout == "nullchecks" + " -5" * 13 + " -10 -5\n"


def test_man_page_renders_without_warnings_and_documents_every_key():
    for page in (rig.ROOT / "doc/xlocd.8", rig.ROOT / "doc/xlocd-query.1"):
        out = subprocess.run(["groff", "-man", "-ww", "-Tutf8", page], capture_output=True,
                             text=True)
        assert out.returncode == 0 and out.stderr == "", out.stderr
    page = rig.ROOT / "doc/xlocd.8"
    text = page.read_text()
    for key in ("Log_File", "watchdog_interval", "CMDOnWatchdog", "auto_set_system_time",
                "auto_set_rtc_time", "RTC_path", "auto_set_rtc_time_interval", "gps_tcp_port",
                "gpsd_reconnect", "fix_max_age", "clock_min_fixes", "clock_not_before"):
        assert f".B {key}\n" in text, key
    manual = subprocess.run(rig.command(XLOCD, "-m"), capture_output=True, text=True).stdout
    struct = [l.rstrip() for l in manual.splitlines() if "charn" in l or "typedef" in l]
    assert len(struct) == 13 and all(line in text for line in struct)  # the -m struct


def query(bus, *args):
    return subprocess.run(rig.command(QUERY, *args), capture_output=True, text=True, timeout=30,
                          env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))


def test_query_prints_named_fields_json_and_repeats(xlocd, json_gpsd, bus):
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
    proc = rig.Proc(rig.command(QUERY, "--json", "--watch", "1"), stdout=subprocess.PIPE,
                    env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address))
    lines = [proc.p.stdout.readline() for _ in range(2)]
    assert proc.stop() == 0 and [json.loads(l)["status"] for l in lines] == ["NMEA", "NMEA"]
    daemon.proc.p.send_signal(19)  # SIGSTOP: holds the name, answers nothing
    try:
        out = query(bus, "--timeout", "300")
        assert out.returncode == 2 and "did not answer within 300 ms" in out.stderr
    finally:
        daemon.proc.p.send_signal(18)  # SIGCONT


@pytest.mark.parametrize("args,status,text", [
    ([], 1, "xlocd is not running"), (["--bogus"], 64, "Usage:"),
    (["--watch", "300000000"], 64, "--watch takes a whole number from 0 to 86400"),
    (["--watch", "1s"], 64, "not '1s'"), (["--timeout", "0"], 64, "--timeout takes"),
])
def test_query_without_the_daemon_and_with_bad_options(bus, args, status, text):
    out = query(bus, *args)
    assert out.returncode == status and text in out.stderr, out.stderr
