// The gpsd connection through libgps: the only file that calls the library.
#include "gpsd_report.h"
#include "log.h"
#include "xlocd.h"

#include <cstdio>

namespace {

constexpr const char* kGpsdServer = "localhost";
gps_data_t gt_GpsData;          // the library's record, reused by every attempt
bool gb_GpsdReadable;           // false once a read failed: gpsd went away
bool gb_FailureReported;        // gpsd_reconnect: the failure lines of this outage are out
double gf64_LastAttempt = -1e9; // monotonic seconds; far back, so the first is due
double gf64_LastFix;            // monotonic seconds of the last fix folded

void mv_ProcessReport(gps_data_t* pt_Data) {
    const T_GpsReport t_Report = t_Gpsd_Report(*pt_Data);
    const bool b_Fix = b_Fix_Fold(&gt_GpsState, &gu8_MissCount, t_Report);
    v_ClockGuard_Fold(&gt_ClockGuard, t_Report.b_Position, b_Fix, t_Report.f64_Time);
    ++gu32_StateVersion;
    if (b_Fix) {
        gps_clear_fix(&pt_Data->fix); // the next report has to bring its own position
        gf64_LastFix = f64_Monotonic();
    }
}

// fix_max_age: a fix that is too old reads as no fix, position and time kept. The
// age is monotonic, so that setting the clock from GPS cannot make it jump.
void mv_Gpsd_AgeFix() {
    if (gt_Config.s32_FixMaxAge > 0 && gt_GpsState.u8_Valid == 1 &&
        f64_Monotonic() - gf64_LastFix >= gt_Config.s32_FixMaxAge) {
        v_Fix_MarkNone(&gt_GpsState, &gu8_MissCount);
        ++gu32_StateVersion;
    }
}

// gpsd_reconnect: attempts at most once every N seconds, the first one included.
bool mb_Gpsd_AttemptDue() {
    return gt_Config.s32_GpsdReconnect <= 0 ||
           f64_Monotonic() - gf64_LastAttempt >= gt_Config.s32_GpsdReconnect;
}

GpsdStep me_Gpsd_Read() {
    if (!gps_waiting(&gt_GpsData, 0)) {
        return GpsdStep::Nothing;
    }
    gt_GpsData.set = 0; // so that it tells what this one report brings
    if (gps_read(&gt_GpsData, nullptr, 0) == -1) {
        gb_GpsdReadable = false;
        if (gt_Config.s32_GpsdReconnect <= 0) {
            return GpsdStep::Nothing; // without supervision the state freezes
        }
        s32_Log_Write("Lost the connection to gpsd"); // end of stream or a read error
        v_Gpsd_Close();
        s32_GpsdConnected = 0;
        return GpsdStep::Attempted;
    }
    // libgps 3.22 reads 0 while only part of a report line has arrived. That is no
    // report: folding it would count misses by TCP segments, and skipping the wait
    // for it would spin until the rest of the line comes.
    if ((gt_GpsData.set & PACKET_SET) == 0) {
        return GpsdStep::Nothing;
    }
    mv_ProcessReport(&gt_GpsData);
    return GpsdStep::Report;
}

} // namespace

std::int32_t ms32_ConnectGpsd(bool b_FirstAttempt) {
    char acn_Port[XLOCD_PORT_SIZE];
    v_Gpsd_Port(gt_Config, acn_Port);
    gf64_LastAttempt = f64_Monotonic();
    const bool b_Connected = gps_open(kGpsdServer, acn_Port, &gt_GpsData) == 0;
    // With gpsd_reconnect the failure lines mark a change of state, not each attempt.
    const bool b_Report = b_Connected || !gb_FailureReported;
    if (!b_Connected && b_Report) {
        const int s32_Code = gt_GpsData.gps_fd; // libgps leaves the negative code here
        std::fprintf(stderr, "%s: connection failure on %s:%s, error %d = %s", gpc_ProgramName,
                     kGpsdServer, acn_Port, s32_Code, gps_errstr(s32_Code));
        v_Log_Printf("%s: connection failure on %s:%s, error %d = %s", gpc_ProgramName, kGpsdServer,
                     acn_Port, s32_Code, gps_errstr(s32_Code));
    } else if (b_Connected) {
        s32_Log_Write("Established connection to gpsd");
        gb_GpsdReadable = true;
    }
    if (gps_stream(&gt_GpsData, WATCH_ENABLE | WATCH_JSON, nullptr) != 0 && b_Report) {
        s32_Log_Write(b_FirstAttempt ? "Streaming GPS data failed" : "Streaming GPS data failed\n");
    }
    gb_FailureReported = !b_Connected && gt_Config.s32_GpsdReconnect > 0;
    if (!b_Connected) {
        v_Gpsd_Close(); // harmless on a failed open (the writes fail with EBADF)
    }
    return b_Connected ? 1 : 0;
}

GpsdStep e_Gpsd_Step() {
    GpsdStep e_Step = GpsdStep::Attempted; // no reading and no clock step in this pass
    if (s32_GpsdConnected == 0) {
        if (mb_Gpsd_AttemptDue()) {
            s32_GpsdConnected = ms32_ConnectGpsd(false);
        }
    } else {
        e_Step = me_Gpsd_Read();
    }
    mv_Gpsd_AgeFix();
    return e_Step;
}

int s32_Gpsd_Fd() {
    return gb_GpsdReadable ? gt_GpsData.gps_fd : -1;
}

void v_Gpsd_Close() {
    gps_stream(&gt_GpsData, WATCH_DISABLE, nullptr);
    gps_close(&gt_GpsData);
}
