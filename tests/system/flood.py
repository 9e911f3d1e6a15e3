"""WhoIsThere from an ordinary user, as fast as python3-dbus sends: flood.py COUNT."""
import sys

import dbus
import dbus.lowlevel

bus = dbus.SystemBus()
question = dbus.lowlevel.SignalMessage("/f", "zel.orb.broadcast", "WhoIsThere")
for i in range(int(sys.argv[1])):
    bus.send_message(question)
    if i % 1000 == 0:
        bus.flush()
bus.flush()
