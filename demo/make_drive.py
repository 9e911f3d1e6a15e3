#!/usr/bin/python3
"""Writes demo/drive.nmea: a 60 s drive east through Munich on 2026-11-30 at 1 Hz,
about 50 km/h, with a tunnel (no fix) from second 20 to 29."""
import calendar
import math
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "harness"))
import rig  # noqa: E402

START = time.struct_time((2026, 11, 30, 7, 45, 0, 0, 334, 0))
LAT, LON, ALT = 48.137154, 11.576124, 519.0
KNOTS, COURSE = 27.0, 78.0          # 50 km/h, east by north-east
METRES_PER_S = KNOTS * 1852 / 3600


def main():
    out = []
    base = calendar.timegm(START)
    for s in range(60):
        d = METRES_PER_S * s
        lat = LAT + d * math.cos(math.radians(COURSE)) / 111_320
        lon = LON + d * math.sin(math.radians(COURSE)) / (111_320 * math.cos(math.radians(LAT)))
        course = COURSE + 6 * math.sin(s / 9)   # a few gentle bends
        t = time.gmtime(base + s)
        tunnel = 20 <= s < 30
        out.append(rig.fix_sentences(t, lat, lon, alt=ALT + s * 0.1, knots=KNOTS, course=course,
                                     sats=8, fix=not tunnel))
    path = pathlib.Path(__file__).with_name("drive.nmea")
    path.write_text("".join(out))
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
