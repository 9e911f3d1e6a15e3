// The daemon on the bus: HELLO and match rules at start, one message served per pass,
// HELLO answers paced, and the judgement of exit_on_bus_loss.
#pragma once

#include "core/deadlines.h"

#include <poll.h>

#include <cstdint>

struct T_BusSettings {
    bool b_Introspection;           // introspection=1
    std::int32_t s32_ExitOnBusLoss; // exit_on_bus_loss: seconds a mute bus is given; 0 off
};

enum class BusStart {
    Ready,
    Failed, // registration or HELLO failed (logged): shut down with status 0
    Lost,   // with exit_on_bus_loss, the bus went between the name and HELLO
};

// Start-up's bus part: identity, registration, HELLO, the match rules, the read limit.
BusStart e_BusService_Start(const T_BusSettings& t_Settings);

// One pass at f64_Now (CLOCK_BOOTTIME seconds): reads what the socket holds (unless
// libdbus holds a message already), then takes at most one message and serves it, and
// sends a HELLO that WhoIsThere left owed.
void v_BusService_Pass(double f64_Now);

// A message waiting in libdbus, an owed HELLO, the end of the time a stalled bus is
// given.
void v_BusService_Deadlines(T_Deadlines* pt_Next);

// exit_on_bus_loss=N: the log line that says why the daemon must end, when the bus has
// disconnected it or has taken nothing from it for N seconds; null otherwise.
const char* pc_BusService_Lost(double f64_Now);

// The bus socket to wait on, for reading, and for writing while sends are stalled;
// fd -1 once the connection is gone.
pollfd t_BusService_Wait();
