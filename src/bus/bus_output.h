// The daemon's send policy: nothing it sends may hold the loop. A bus that stops
// reading our connection (a subscriber that never reads can pin our messages until
// it does) would hold a blocking flush for ever, so a send waits at most
// kSendBoundMs for the bus, and while an earlier message still waits for the bus a
// new one is dropped at once: the queue stays bounded and a stalled bus costs one
// bound per episode, not per message. The watch below tells such an episode.
#pragma once

#include <dbus/dbus.h>

constexpr int kSendBoundMs = 100;

// True when libdbus holds nothing unsent after one write that does not wait, and the
// socket takes data: a send and its flush then go out without waiting. The library's
// operations, which end with a blocking flush, are called only then.
bool b_BusOutput_Clear(DBusConnection* pt_Connection);

// Writes what libdbus holds for the bus until it is out or kSendBoundMs have passed.
void v_BusOutput_Flush(DBusConnection* pt_Connection);

// Sends a message of the daemon's own (a reply, a signal): dropped while an earlier
// one waits for the bus, else handed over and flushed within the bound.
// Sent also when part of it still waits for the bus.
enum class SendResult { Sent, Dropped, Refused };
SendResult e_BusOutput_Send(DBusConnection* pt_Connection, DBusMessage* pt_Message);

// One look per pass at f64_Now (CLOCK_BOOTTIME seconds): whether the bus has taken
// what waits. The first look of a stall episode logs one line.
void v_BusOutput_Watch(DBusConnection* pt_Connection, double f64_Now);
// Something waits for the bus: wait for the socket to take it.
bool b_BusOutput_Stalled();
// When the bus last took something, or nothing waited.
double f64_BusOutput_LastProgress();
