// The gpsd link: the one owner of the session with gpsd, its socket and its state.
// libgps is kept for what it does well: parsing a report line (gps_unpack).
#pragma once

#include "core/deadlines.h"
#include "gps/gps_records.h"
#include "gps/gpsd_connect.h"

#include <poll.h>

#include <cstdint>

struct T_GpsdSettings {
    char acn_Port[XLOCD_PORT_SIZE]; // v_GpsdConnect_Port of the configuration
    std::int32_t s32_Reconnect;     // gpsd_reconnect: seconds between attempts; 0 off
    const char* pc_ProgramName;     // the failure line's first word, argv[0]
    const char* pc_User;            // gpsd_user: who besides root may serve; null: anyone
};

// Start-up's connection attempt. Its connect does not block: an attempt that must wait
// is finished by later passes, within a second, while the loop serves the bus.
void v_Gpsd_Start(const T_GpsdSettings& t_Settings);

enum class GpsdStep {
    Attempted, // not connected: at most an attempt went on, nothing was read
    Nothing,   // connected, no whole report this pass
    Report,    // one report was read into *pt_Report
};
// One pass at f64_Boot (CLOCK_BOOTTIME seconds): an attempt when one is due, else at
// most one report line read.
GpsdStep e_Gpsd_Step(double f64_Boot, T_GpsReport* pt_Report);

// What to wait on: gpsd data, or an attempt's connect; fd -1 for nothing.
pollfd t_Gpsd_Wait();
// A pass at once while a whole report line is buffered already; else, without data,
// the next attempt or the bound of the one under way.
void v_Gpsd_Deadlines(T_Deadlines* pt_Next);

// Ends the report stream and closes the session, if one is open.
void v_Gpsd_Close();
