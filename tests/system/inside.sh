#!/bin/sh
# Runs inside the booted Debian as root: one "ok NAME" or "FAIL NAME" line per check
# in /out/results, and what the check printed in /out/NAME.log.
check() {
    name=$1
    shift
    if "$@" >"/out/$name.log" 2>&1; then echo "ok $name"; else echo "FAIL $name"; fi >>/out/results
}
until_true() { # SECONDS COMMAND...: tries once a second
    n=$1
    shift
    while ! "$@"; do
        n=$((n - 1))
        [ "$n" -gt 0 ] || return 1
        sleep 1
    done
}
pid() { systemctl show -p MainPID --value xlocd; }
field() { grep "^$1:" "/proc/$(pid)/status" | tr -s '\t ' ' ' | cut -d' ' -f2- | tee -a /dev/stderr; }

installed() {
    dpkg -i /debs/liborbclient1_*.deb /debs/xlocd_*.deb && until_true 10 systemctl is-active xlocd
}
least_privilege() { # uid of xlocd, CAP_SYS_TIME (bit 25) and nothing else
    [ "$(field Uid)" = "$(id -u xlocd) $(id -u xlocd) $(id -u xlocd) $(id -u xlocd)" ] &&
        [ "$(field CapEff)" = 0000000002000000 ] && [ "$(field CapBnd)" = 0000000002000000 ]
}
exposure() { # "Overall exposure level for xlocd.service: 2.0 OK"
    systemd-analyze security xlocd.service | tail -1 | tee /dev/stderr |
        awk '{ exit !($(NF-2) + 0 <= 2.0) }'
}
query_nmea() { runuser -u nobody -- xlocd-query | tee /dev/stderr | grep -q '^status *NMEA'; }
gpsd_fix_for_nobody() {
    socat TCP-LISTEN:4001,bind=127.0.0.1,reuseaddr,fork EXEC:"sh /debs/feed.sh" &
    printf 'START_DAEMON="true"\nGPSD_OPTIONS="-n"\nDEVICES="tcp://127.0.0.1:4001"\n' \
        >/etc/default/gpsd
    systemctl restart gpsd && until_true 30 query_nmea ||
        { journalctl -u gpsd -u xlocd -o cat | tail -20; cat /var/log/xlocd/xlocd.log; false; }
}
clock_call_passes_the_filter() { # in the daemon's place, under the unit's own settings
    mkdir -p /run/systemd/system/xlocd.service.d
    printf '[Service]\nType=oneshot\nExecStart=\nExecStart=-/bin/sh -c %s\n' \
        "'grep CapEff /proc/self/status; date -s @-1'" >/run/systemd/system/xlocd.service.d/p.conf
    systemctl daemon-reload && systemctl restart xlocd
    journalctl -o cat _SYSTEMD_INVOCATION_ID="$(systemctl show -p InvocationID --value xlocd)" \
        >/tmp/probe
    cat /tmp/probe
    grep -q 'CapEff:.*0000000002000000' /tmp/probe &&
        grep -q 'date: cannot set date: Invalid argument' /tmp/probe # EPERM: the filter
    result=$?
    rm -r /run/systemd/system/xlocd.service.d && systemctl daemon-reload &&
        systemctl restart xlocd && return $result
}
stop_says_goodbye() {
    dbus-monitor --system "type='signal',interface='zel.orb.broadcast',member='GOODBYE'" \
        >/tmp/goodbye &
    sleep 1
    systemctl stop xlocd
    sleep 1
    kill $!
    [ "$(systemctl show -p ExecMainStatus --value xlocd)" = 0 ] && grep -q GOODBYE /tmp/goodbye
}
edited_config_stays() {
    echo "# edited here" >>/etc/init.d/xlocd.config
    systemctl restart xlocd && dpkg -i /debs/xlocd_*.deb && until_true 10 systemctl is-active xlocd &&
        grep -q '^# edited here' /etc/init.d/xlocd.config
}
purge_leaves_nothing() {
    files=$(dpkg -L xlocd liborbclient1)
    dpkg --purge xlocd liborbclient1 || return 1
    for f in $files; do
        if [ -e "$f" ] && [ ! -d "$f" ]; then echo "left: $f"; return 1; fi
    done
    [ ! -e /var/log/xlocd ]
}

: >/out/results
check installed installed
check least_privilege least_privilege
check exposure exposure
check gpsd_fix_for_nobody gpsd_fix_for_nobody
check clock_call_passes_the_filter clock_call_passes_the_filter
check stop_says_goodbye stop_says_goodbye
check edited_config_stays edited_config_stays
check purge_leaves_nothing purge_leaves_nothing
