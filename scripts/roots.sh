# Debian roots for builds and tests, sourced by the scripts that use them. Each is
# made once with mmdebstrap from the archive this machine uses, for the suite asked
# for, and kept as a tarball outside the tree; every use unpacks it afresh.

# The suites the project builds and tests on: Debian 12 and Debian 13.
XLOCD_SUITES=(bookworm trixie)

xlocd_host_suite() {
    (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

# xlocd_check_suite SUITE: fails, with the list, unless SUITE is one of ours.
xlocd_check_suite() {
    local s
    for s in "${XLOCD_SUITES[@]}"; do [ "$1" = "$s" ] && return 0; done
    echo "unknown suite '$1' (one of: ${XLOCD_SUITES[*]})" >&2
    return 64
}

XLOCD_ROOT_CACHE=${XLOCD_ROOT_CACHE:-/var/cache/xlocd-roots}

# xlocd_suite_sources SUITE FILE: this machine's apt sources (its mirrors, its
# security archive), with its own suite's name replaced by SUITE.
xlocd_suite_sources() {
    local suite=$1 file=$2 sources=/etc/apt/sources.list.d/debian.sources
    [ -f "$sources" ] || sources=/etc/apt/sources.list
    sed -E "s/\\<($(
        IFS='|'
        echo "${XLOCD_SUITES[*]}"
    ))\\>/$suite/g" "$sources" >"$file"
}

# xlocd_root_image SUITE NAME MMDEBSTRAP-OPTION...: prints the path of the root's
# tarball, made first if the cache has none.
xlocd_root_image() {
    local suite=$1 name=$2 image sources
    shift 2
    image=$XLOCD_ROOT_CACHE/$suite-$name.tar
    if [ ! -s "$image" ]; then
        mkdir -p "$XLOCD_ROOT_CACHE"
        sources=$(mktemp)
        xlocd_suite_sources "$suite" "$sources"
        mmdebstrap --quiet "$@" --format=tar "$suite" "$image.part" "$sources" </dev/null >&2
        rm -f "$sources"
        mv "$image.part" "$image"
    fi
    echo "$image"
}

# The apt archives shared by every root, so that a package is fetched once.
XLOCD_ARCHIVES=$XLOCD_ROOT_CACHE/archives

# xlocd_nspawn ROOT OPTION... COMMAND...: COMMAND in ROOT as a container, with the
# shared apt archives.
xlocd_nspawn() {
    local root=$1
    shift
    mkdir -p "$XLOCD_ARCHIVES"
    systemd-nspawn --quiet --register=no --keep-unit --directory="$root" \
        --bind="$XLOCD_ARCHIVES:/var/cache/apt/archives" "$@" </dev/null
}

# xlocd_debian_hosts ROOT: the /etc/hosts of an installed Debian (localhost is ::1 and
# 127.0.0.1), which a minimal root lacks, and without which localhost does not resolve.
xlocd_debian_hosts() {
    printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$1/etc/hosts"
}
