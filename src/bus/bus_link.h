// The daemon's framework client record and every library call made on it. A call that
// sends goes out only while the output is clear (bus_output.h), so that the library's
// blocking flush never waits; a call that blocks for its reply lifts the limit on
// reading ahead for as long as it waits.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>

enum class BusLinkStart {
    Ready, // the name is ours and HELLO went out
    RegisterFailed,
    HelloFailed,
};

// Identity, registration and HELLO, each failure logged as designed. After the name
// is taken, a lost connection no longer ends the process inside libdbus.
BusLinkStart e_BusLink_Start();

// The connection, for serving; null when the registration found no bus.
DBusConnection* pt_BusLink_Connection();

// How far libdbus reads ahead of the loop: 64 KiB while the loop serves (one message a
// pass), so that a flood waits in the bus, which has limits for it, and not in our
// memory.
void v_BusLink_LimitReading();

// HELLO (a WhoIsThere, or an owed one), GOODBYE; results ignored, as designed.
void v_BusLink_Hello();
void v_BusLink_Goodbye();

// RegisterWatchdog with the interval and command; true when xcord accepted it. Blocks.
bool b_BusLink_RegisterWatchdog(std::int32_t s32_Interval, const char* pc_Command);
void v_BusLink_TriggerWatchdog();
// CancelWatchdog, result ignored. Blocks.
void v_BusLink_CancelWatchdog();
