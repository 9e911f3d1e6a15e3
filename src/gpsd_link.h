// The gpsd link: the one owner of the session with gpsd, its socket and its state.
// libgps is kept for what it does well: parsing a report line (gps_unpack).
#pragma once

#include <poll.h>

#include <cstdint>

// Starts a connection attempt (the design's ms32_ConnectGpsd): 1 when it connected at
// once, else 0. Its connect does not block: an attempt that must wait is finished by
// later passes, within a second, while the loop serves the bus.
std::int32_t ms32_ConnectGpsd(bool b_FirstAttempt);

enum class GpsdStep {
    Attempted, // not connected: at most an attempt went on, nothing was read
    Nothing,   // connected, no whole report this pass
    Report,    // one report was read and folded into the fix state
};
// One pass at f64_Boot (CLOCK_BOOTTIME seconds): an attempt when one is due, else at
// most one report line read and folded.
GpsdStep e_Gpsd_Step(double f64_Boot);

// What to wait on: gpsd data, or an attempt's connect; fd -1 for nothing.
pollfd t_Gpsd_Wait();
// A whole report line is buffered already: the next pass is due at once.
bool b_Gpsd_LineWaiting();
// CLOCK_BOOTTIME seconds at which the link next needs a pass without data: the next
// attempt, or the bound of the one under way. Infinite when there is none.
double f64_Gpsd_NextDue();

// Ends the report stream and closes the session, if one is open.
void v_Gpsd_Close();
