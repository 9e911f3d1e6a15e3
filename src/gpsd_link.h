// The gpsd link: the one owner of the libgps session and of its state.
#pragma once

#include <cstdint>

// One connection attempt (the design's ms32_ConnectGpsd): 1 when connected, else 0.
std::int32_t ms32_ConnectGpsd(bool b_FirstAttempt);

enum class GpsdStep {
    Attempted, // not connected: at most a connection attempt, no reading
    Nothing,   // connected, no whole report this pass
    Report,    // a report was folded; libgps may hold more, where poll cannot see it
};
// One pass: an attempt when due, else at most one report read and folded; then the
// fix_max_age check.
GpsdStep e_Gpsd_Step();

// The descriptor to wait on for gpsd data, or -1 (not connected, or gpsd gone).
int s32_Gpsd_Fd();

// Monotonic seconds at which the link next needs a pass even without data: the next
// connection attempt or the fix_max_age expiry. Infinite when there is none.
double f64_Gpsd_NextDue();

// Ends the report stream and closes the session, if one is open.
void v_Gpsd_Close();
