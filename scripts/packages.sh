# The packages the build, the tests, the demo and the benchmark need, by the same
# names on Debian 12 and 13 (libclang-rt-dev follows each suite's default clang).
XLOCD_PACKAGES=(
  g++ cmake ninja-build pkgconf
  libdbus-1-dev dbus-daemon libgps-dev libsystemd-dev gpsd gpsd-clients
  libgtest-dev libgmock-dev
  python3 python3-dbus python3-gps python3-pytest
  faketime tzdata util-linux clang libclang-rt-dev groff-base man-db procps
  systemd libglib2.0-bin dpkg-dev lintian clang-format clang-tidy valgrind
)

# apt-get update runs only when something is missing.
xlocd_install_missing() {
  local missing=() p
  for p in "${XLOCD_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
