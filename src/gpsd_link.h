// The gpsd link: the one owner of the libgps session and of its state.
#pragma once

#include <poll.h>

#include <cstdint>

// Starts a connection attempt (the design's ms32_ConnectGpsd): 1 when it connected at
// once, else 0. Its connect does not block: an attempt that must wait is finished by
// later passes, within a second, while the loop serves the bus.
std::int32_t ms32_ConnectGpsd(bool b_FirstAttempt);

enum class GpsdStep {
    Attempted, // not connected: at most a connection attempt, no reading
    Nothing,   // connected, no whole report this pass
    Report,    // a report was folded; libgps may hold more, where poll cannot see it
};
// One pass: an attempt when due, else at most one report read and folded; then the
// fix_max_age check.
GpsdStep e_Gpsd_Step();

// What to wait on: gpsd data, or an attempt's connect; fd -1 for nothing (not
// connected, or gpsd gone).
pollfd t_Gpsd_Wait();

// Monotonic seconds at which the link next needs a pass even without data: the next
// connection attempt, the bound of the one under way, or the fix_max_age expiry.
// Infinite when there is none.
double f64_Gpsd_NextDue();

// Ends the report stream and closes the session, if one is open.
void v_Gpsd_Close();
