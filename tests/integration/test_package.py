"""The packages of scripts/build-debs, in the root they were built in (the suite's own
lintian and toolchain): lintian, installed into another root as image builders do,
and the -dev package's users. tests/system upgrades and purges them."""
import os
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
DEBS = os.environ.get("XLOCD_DEBS")
pytestmark = pytest.mark.skipif(not DEBS, reason="the packages come from scripts/build-debs, "
                                                 "which runs this file with XLOCD_DEBS")
NATIVE = pytest.mark.skipif(bool(os.environ.get("XLOCD_EMULATOR")),
                            reason="the host cannot link a board's library")
PACKAGES = ("xlocd", "liborbclient1", "liborbclient-dev")
CONSUMER = """cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(orbclient 1 REQUIRED)
add_executable(app app.c)
target_link_libraries(app orbclient::orbclient)
"""


def run(*args, check=True, **kw):
    return subprocess.run([str(a) for a in args], check=check, capture_output=True, text=True, **kw)


@pytest.fixture(scope="module")
def debs():
    return {name: next(pathlib.Path(DEBS).glob(f"{name}_*.deb")) for name in PACKAGES}


@pytest.fixture
def root(debs, tmp_path):
    """Another root with the three packages installed, its scripts run from outside."""
    root = tmp_path / "root"
    (root / "var/lib/dpkg/updates").mkdir(parents=True)
    (root / "var/lib/dpkg/status").write_text("")
    dpkg = ["dpkg", f"--root={root}", "--force-script-chrootless", "--force-depends",
            "--force-architecture", "--log=/dev/null"]
    run(*dpkg, "-i", *debs.values())
    return root


def test_lintian_finds_no_error_and_no_warning(debs):
    lintian = run("lintian", "--tag-display-limit", "0", *debs.values(), check=False)
    assert not [l for l in lintian.stdout.splitlines() if l[:2] in ("E:", "W:")], lintian.stdout


def packaged(root, path):
    """The file at path, under /usr on Debian 13 and at the top on Debian 12."""
    return next(p for p in (root / "usr" / path, root / path) if p.exists())


def test_the_service_user_unit_rtc_rule_and_policy_come_into_the_other_root_only(root):
    assert "xlocd:x:" in (root / "etc/passwd").read_text()
    assert 'GROUP="xlocd"' in packaged(root, "lib/udev/rules.d/60-xlocd.rules").read_text()
    assert (root / "usr/share/dbus-1/system.d/zel.orb.xlocd.conf").exists()
    assert (root / "etc/systemd/system/multi-user.target.wants/xlocd.service").is_symlink()
    assert "ExecStart=/usr/sbin/xlocd /etc/init.d/xlocd.config" in packaged(
        root, "lib/systemd/system/xlocd.service").read_text()
    run("sh", "-n", root / "etc/init.d/xlocd")


def run_driver(program, libdir):
    return run("env", f"LD_LIBRARY_PATH={libdir}", program, input="null\nhello\n").stdout


@NATIVE
def test_a_c_program_builds_against_the_dev_package_with_pkg_config(root, tmp_path):
    pc = next(root.rglob("orbclient.pc")).parent
    flags = run("env", f"PKG_CONFIG_PATH={pc}", "pkg-config", "--cflags", "--libs", "orbclient")
    run("cc", "-std=c11", "-Wall", "-Wpedantic", "-Werror", "-o", tmp_path / "driver",
        ROOT / "tests/peers/orb_driver.c", *flags.stdout.split())
    assert run_driver(tmp_path / "driver", pc.parent) == "result 0\nresult -5\n"


@NATIVE
def test_a_cmake_project_finds_the_library_as_a_package(root, tmp_path):
    project = tmp_path / "consumer"
    project.mkdir()
    (project / "CMakeLists.txt").write_text(CONSUMER)
    (project / "app.c").write_text((ROOT / "tests/peers/orb_driver.c").read_text())
    run("cmake", "-S", project, "-B", project / "build", f"-DCMAKE_PREFIX_PATH={root}/usr")
    run("cmake", "--build", project / "build")
    libdir = next(root.rglob("liborbclient.so.1")).parent
    assert run_driver(project / "build/app", libdir) == "result 0\nresult -5\n"
