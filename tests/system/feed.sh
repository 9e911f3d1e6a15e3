#!/bin/sh
# A receiver on a TCP port for Debian's gpsd: RMC, GGA, GSA and GSV, an epoch a second.
while :; do
    while IFS= read -r line; do
        case "$line" in '$GPRMC'*) sleep 1 ;; esac
        printf '%s\r\n' "$line"
    done </debs/drive.nmea
done
