// The daemon on the bus: its name, HELLO and match rules, one message served per pass,
// and sends that never hold the loop. This module owns the connection's handling;
// the record itself is the process-wide gt_Client.
#pragma once

#include <poll.h>

#include <cstdint>

// Start-up's bus part: identity, registration, HELLO, the match rules. Non-zero when
// registration or HELLO failed (logged, as designed); the caller then shuts down.
std::int32_t s32_BusService_Start();

// How far libdbus reads ahead of the loop: 64 KiB while the loop serves (one message a
// pass), libdbus's own default around blocking calls, whose replies must not wait
// behind the limit.
void v_BusService_LimitReading(bool b_Limit);

// One pass at f64_Now (CLOCK_BOOTTIME seconds): reads what the socket holds (unless
// libdbus holds a message already), then takes at most one message and serves it, and
// sends a HELLO that WhoIsThere left owed.
void v_BusService_Pass(double f64_Now);

// When the bus service next needs a pass: an owed HELLO, or the end of the time a
// stalled bus is given. Infinite when there is none.
double f64_BusService_NextDue();

// exit_on_bus_loss=N: the log line that says why the daemon must end, when the bus has
// disconnected it or has taken nothing from it for N seconds; null otherwise.
const char* pc_BusService_Lost(double f64_Now);

// libdbus holds a message already: the next pass is due at once.
bool b_BusService_Due();

// The bus socket to wait on, for reading, and for writing while sends are stalled;
// fd -1 once the connection is gone.
pollfd t_BusService_Wait();

// GOODBYE (shutdown).
void v_BusService_Goodbye();
