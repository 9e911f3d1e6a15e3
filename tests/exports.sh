#!/bin/sh
# Only the C API leaves the shipped libraries: exports.sh NM ARCHIVE SHARED.
set -eu
check() {
  echo "$2" | grep -q ' T s32_DBUS_Register$' || { echo "$1: no C API found"; exit 1; }
  other=$(echo "$2" | grep ' [A-Za-z] ' | grep -v -e ' s32_DBUS_' -e ' v_DBUS_' || true)
  [ -z "$other" ] || { printf '%s exports more than the C API:\n%s\n' "$1" "$other"; exit 1; }
}
check "$2" "$("$1" -g --defined-only "$2")"
check "$3" "$("$1" -D --defined-only "$3")"
