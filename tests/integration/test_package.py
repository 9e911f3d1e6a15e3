"""Debian packages: contents, lintian; install, upgrade, purge in a dpkg --root scratch root."""
import subprocess

import pytest

import rig
from conftest import BUILD, SANITIZED

pytestmark = pytest.mark.skipif(SANITIZED, reason="the packages are the plain build's")

VERSION = "3.3.1-1"
CONTENTS = {  # {lib}: the multiarch library directory
    "xlocd": """etc/init.d/xlocd etc/init.d/xlocd.config usr/bin/xlocd-query usr/sbin/xlocd
        usr/lib/systemd/system/xlocd.service usr/share/dbus-1/system.d/zel.orb.xlocd.conf
        usr/share/lintian/overrides/xlocd usr/share/man/man1/xlocd-query.1.gz
        usr/share/doc/xlocd/examples/zel.orb.xlocd-introspection.conf
        usr/share/doc/xlocd/examples/zel.orb.whoisthere.conf usr/lib/sysusers.d/xlocd.conf
        usr/lib/udev/rules.d/60-xlocd-rtc.rules usr/share/man/man8/xlocd.8.gz""",
    "liborbclient1": "{lib}/liborbclient.so.1 {lib}/liborbclient.so.1.0.0",
    "liborbclient-dev": """usr/include/orb_client.h {lib}/liborbclient.so {lib}/liborbclient.a
        {lib}/pkgconfig/orbclient.pc"""}


def run(*args, check=True, **kw):
    return subprocess.run([str(a) for a in args], check=check, capture_output=True, text=True, **kw)


@pytest.fixture(scope="module")
def debs(tmp_path_factory):
    out = tmp_path_factory.mktemp("debs")
    run("cpack", "--config", BUILD / "CPackConfig.cmake", "-B", out)
    return {name: next(out.glob(f"{name}_{VERSION}_*.deb")) for name in CONTENTS}


def test_packages_hold_their_files_and_pass_lintian(debs):
    arch = run("dpkg-deb", "-f", debs["xlocd"], "Architecture").stdout.strip()
    lib = f"usr/lib/{run('dpkg-architecture', '-qDEB_HOST_MULTIARCH', '-a', arch).stdout.strip()}"
    for name, deb in debs.items():
        files = {line.split()[5][2:] for line in run("dpkg-deb", "-c", deb).stdout.splitlines()
                 if not line.startswith("d")}
        doc = {f"usr/share/doc/{name}/copyright", f"usr/share/doc/{name}/changelog.Debian.gz"}
        assert files == {f.format(lib=lib) for f in CONTENTS[name].split()} | doc, name
    lintian = run("lintian", "--tag-display-limit", "0", *debs.values(), check=False)
    print(lintian.stdout)
    assert not [l for l in lintian.stdout.splitlines() if l.startswith("E:")], lintian.stdout


def test_install_a_c_client_upgrade_keeps_an_edited_config_and_purge_removes_all(debs, tmp_path):
    root = tmp_path / "root"
    (root / "var/lib/dpkg/updates").mkdir(parents=True)
    (root / "var/lib/dpkg/status").write_text("")
    dpkg = ["dpkg", f"--root={root}", "--force-script-chrootless", "--force-depends",
            "--force-architecture", "--force-confold", "--log=/dev/null"]
    run(*dpkg, "-i", *debs.values())
    config = root / "etc/init.d/xlocd.config"
    assert "gps_tcp_port=2947" in config.read_text() and (root / "usr/sbin/xlocd").exists()
    assert "ExecStart=/usr/sbin/xlocd /etc/init.d/xlocd.config" in (
        root / "usr/lib/systemd/system/xlocd.service").read_text()
    run("sh", "-n", root / "etc/init.d/xlocd")
    if not rig.EMULATOR:  # the host's compiler cannot link a board's library
        pc = next(root.rglob("orbclient.pc")).parent
        flags = run("env", f"PKG_CONFIG_PATH={pc}", "pkg-config", "--cflags", "--libs", "orbclient")
        run("cc", "-std=c11", "-Wall", "-Wpedantic", "-Werror", "-o", tmp_path / "driver",
            rig.ROOT / "tests/peers/orb_driver.c", *flags.stdout.split())
        out = run("env", f"LD_LIBRARY_PATH={pc.parent}", tmp_path / "driver", input="null\nhello\n")
        assert out.stdout == "result 0\nresult -5\n"
    config.write_text(config.read_text() + "gpsd_reconnect=5\n")
    unpacked = tmp_path / "v2"
    run("dpkg-deb", "-R", debs["xlocd"], unpacked)
    control = unpacked / "DEBIAN/control"
    control.write_text(control.read_text().replace(VERSION, "3.3.1-2"))
    run("dpkg-deb", "-b", unpacked, tmp_path / "xlocd_v2.deb")
    run(*dpkg, "-i", tmp_path / "xlocd_v2.deb")
    assert config.read_text().endswith("gpsd_reconnect=5\n")
    assert "3.3.1-2" in run("dpkg-query", f"--root={root}", "-W", "xlocd").stdout
    run(*dpkg, "--purge", *CONTENTS)
    assert not config.exists() and not list((root / "usr").rglob("*orbclient*"))
    assert run("dpkg-query", f"--root={root}", "-W", "-f", "${db:Status-Abbrev}|", *CONTENTS,
               check=False).stdout.strip("|") in ("", "un |un |un ")
