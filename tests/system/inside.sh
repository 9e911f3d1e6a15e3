#!/bin/sh
# Runs inside the booted Debian as root: one "ok NAME" or "FAIL NAME" line per check
# in /out/results, and what the check printed in /out/NAME.log.
check() {
    if "$1" >"/out/$1.log" 2>&1; then echo "ok $1"; else echo "FAIL $1"; fi >>/out/results
}
active_within() { timeout "$1" sh -c 'until systemctl -q is-active xlocd; do sleep 1; done'; }
status() { grep "^$1:" "/proc/$(systemctl show -p MainPID --value xlocd)/status" | tee -a /dev/stderr; }

bus=$(cat /debs/bus)

the_system_bus_is_the_one_asked_for() { # dbus-daemon, or dbus-broker's launcher
    readlink "/proc/$(systemctl show -p MainPID --value dbus.service)/exe" | tee -a /dev/stderr |
        grep -q "/$bus"
}
installed() {
    dpkg -i /debs/liborbclient1_*.deb /debs/xlocd_*.deb && active_within 10
}
least_privilege() { # the user xlocd, and CAP_SYS_TIME (bit 25) alone
    u=$(id -u xlocd)
    status Uid | grep -q "	$u	$u	$u	$u$" && status CapEff | grep -q '	0000000002000000$' &&
        status CapBnd | grep -q '	0000000002000000$'
}
exposure() { # "→ Overall exposure level for xlocd.service: 2.0 OK 🙂"
    systemd-analyze security xlocd.service | tail -1 | tee -a /dev/stderr |
        awk '{ exit !($(NF-2) + 0 <= 2.0) }'
}
gpsd_fix_for_nobody() {
    socat TCP-LISTEN:4001,bind=127.0.0.1,reuseaddr,fork EXEC:"sh /debs/feed.sh" &
    printf 'START_DAEMON="true"\nGPSD_OPTIONS="-n"\nDEVICES="tcp://127.0.0.1:4001"\n' \
        >/etc/default/gpsd
    systemctl restart gpsd
    timeout 30 sh -c 'until runuser -u nobody -- xlocd-query | grep "^status *NMEA"; do
        sleep 1; done' || { journalctl -u gpsd -u xlocd -o cat | tail; false; }
    ! grep Refused /var/log/xlocd/xlocd.log # gpsd_user=gpsd takes Debian's gpsd
}
squat_by_nobody_is_refused() { # gpsd down; xlocd tries again every 5 s (gpsd_reconnect)
    systemctl stop gpsd.socket gpsd.service
    echo '{"class":"TPV","mode":3,"time":"2026-12-06T12:00:00.000Z","lat":10.0,"lon":20.0}' >/tmp/fix
    for listen in TCP6-LISTEN:2947,bind=[::1] TCP4-LISTEN:2947,bind=127.0.0.1; do
        runuser -u nobody -- socat "$listen,reuseaddr,fork" SYSTEM:'cat /tmp/fix; sleep 600' &
        squatters="${squatters:-} $!"
    done # a fix for every client, the session held open
    refused="Refused gpsd on localhost:2947: its socket belongs to uid 65534 (nobody)"
    timeout 30 sh -c "until grep -q '$refused' /var/log/xlocd/xlocd.log; do sleep 0.2; done" &&
        timeout 30 sh -c 'until xlocd-query | grep "^status *NONE"; do sleep 1; done' &&
        sleep 11 && xlocd-query | grep "^status *NONE" && # two more attempts, no fix
        [ "$(grep -c Refused /var/log/xlocd/xlocd.log)" = 1 ]
    found=$?
    kill $squatters
    systemctl start gpsd.socket
    return $found
}
hung_loop_is_restarted() { # SIGSTOP: the pings stop, and systemd's watchdog restarts it
    pid=$(systemctl show -p MainPID --value xlocd)
    start=$(date +%s%N)
    kill -STOP "$pid"
    for _ in $(seq 300); do
        [ "$(systemctl show -p MainPID --value xlocd)" != "$pid" ] &&
            xlocd-query --timeout 1000 >/dev/null && break
        sleep 0.2
    done
    echo "answering again $((($(date +%s%N) - start) / 1000000)) ms after SIGSTOP" |
        tee -a /dev/stderr
    xlocd-query >/dev/null && journalctl -u xlocd -o cat | grep 'Watchdog timeout'
}
clock_call_passes_the_filter() { # in the daemon's place, under the unit's own settings
    mkdir -p /run/systemd/system/xlocd.service.d
    printf '[Service]\nType=oneshot\nExecStart=\nExecStart=-/bin/sh -c %s\n' \
        "'grep CapEff /proc/self/status; date -s @-1'" >/run/systemd/system/xlocd.service.d/p.conf
    systemctl daemon-reload && systemctl restart xlocd
    journalctl -o cat _SYSTEMD_INVOCATION_ID="$(systemctl show -p InvocationID --value xlocd)" |
        tee /tmp/probe
    rm -r /run/systemd/system/xlocd.service.d && systemctl daemon-reload && systemctl restart xlocd
    # EINVAL: the kernel refused the time, so the filter let the call through (else EPERM)
    grep -q 'CapEff:.*0000000002000000' /tmp/probe &&
        grep -q 'date: cannot set date: Invalid argument' /tmp/probe
}
flood_of_whoisthere_leaves_xlocd_on_the_bus() { # as a local user, as fast as it can
    pid=$(systemctl show -p MainPID --value xlocd)
    start=$(date +%s)
    runuser -u nobody -- python3 /debs/flood.py "$(cat /debs/flood-count)" &
    flooder=$!
    answered=0 asked=0
    while kill -0 $flooder 2>/dev/null; do
        asked=$((asked + 1))
        runuser -u nobody -- xlocd-query --timeout 1000 >/dev/null && answered=$((answered + 1))
    done
    wait $flooder
    echo "$(cat /debs/flood-count) WhoIsThere in $(($(date +%s) - start)) s;" \
        "GetGPSData answered $answered of $asked times meanwhile" | tee -a /dev/stderr
    timeout 30 sh -c 'until runuser -u nobody -- xlocd-query >/dev/null; do sleep 1; done' &&
        [ "$(systemctl show -p MainPID --value xlocd)" = "$pid" ] &&
        ! journalctl -u xlocd -o cat | grep -q "Lost the system bus"
}
stop_says_goodbye() { # the monitor's first line (its own name) shows it is listening
    dbus-monitor --system "type='signal',interface='zel.orb.broadcast',member='GOODBYE'" \
        >/tmp/goodbye &
    timeout 10 sh -c 'until [ -s /tmp/goodbye ]; do sleep 0.1; done'
    systemctl stop xlocd
    timeout 10 sh -c 'until grep -q GOODBYE /tmp/goodbye; do sleep 0.1; done'
    found=$?
    kill $!
    [ "$(systemctl show -p ExecMainStatus --value xlocd)" = 0 ] && [ $found = 0 ]
}
edited_config_stays() {
    echo "# edited here" >>/etc/init.d/xlocd.config
    systemctl restart xlocd && dpkg -i /debs/xlocd_*.deb && active_within 10 &&
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
for name in the_system_bus_is_the_one_asked_for installed least_privilege exposure \
    gpsd_fix_for_nobody squat_by_nobody_is_refused hung_loop_is_restarted \
    clock_call_passes_the_filter flood_of_whoisthere_leaves_xlocd_on_the_bus \
    stop_says_goodbye edited_config_stays purge_leaves_nothing; do
    check "$name"
done
