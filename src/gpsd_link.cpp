// The gpsd connection through libgps: the only file that calls the library.
#include "gpsd_report.h"
#include "log.h"
#include "xlocd.h"

#include <cstdio>

namespace {

constexpr const char* kGpsdServer = "localhost";
gps_data_t gt_GpsData; // the library's record, reused by every attempt
bool gb_GpsdReadable;  // false once a read failed: gpsd went away

void mv_ProcessReport(gps_data_t* pt_Data) {
    if (b_Fix_Fold(&gt_GpsState, &gu8_MissCount, t_Gpsd_Report(*pt_Data))) {
        gps_clear_fix(&pt_Data->fix); // the next report has to bring its own position
    }
}

} // namespace

std::int32_t ms32_ConnectGpsd(bool b_FirstAttempt) {
    char acn_Port[XLOCD_PORT_SIZE];
    v_Gpsd_Port(gt_Config, acn_Port);
    const bool b_Connected = gps_open(kGpsdServer, acn_Port, &gt_GpsData) == 0;
    if (!b_Connected) {
        const int s32_Code = gt_GpsData.gps_fd; // libgps leaves the negative code here
        std::fprintf(stderr, "%s: connection failure on %s:%s, error %d = %s", gpc_ProgramName,
                     kGpsdServer, acn_Port, s32_Code, gps_errstr(s32_Code));
        v_Log_Printf("%s: connection failure on %s:%s, error %d = %s", gpc_ProgramName, kGpsdServer,
                     acn_Port, s32_Code, gps_errstr(s32_Code));
    } else {
        s32_Log_Write("Established connection to gpsd");
        gb_GpsdReadable = true;
    }
    if (gps_stream(&gt_GpsData, WATCH_ENABLE | WATCH_JSON, nullptr) != 0) {
        s32_Log_Write(b_FirstAttempt ? "Streaming GPS data failed" : "Streaming GPS data failed\n");
    }
    if (!b_Connected) {
        v_Gpsd_Close(); // harmless on a failed open (the writes fail with EBADF)
    }
    return b_Connected ? 1 : 0;
}

bool b_Gpsd_ReadReport() {
    if (!gps_waiting(&gt_GpsData, 0)) {
        return false;
    }
    if (gps_read(&gt_GpsData, nullptr, 0) == -1) {
        gb_GpsdReadable = false;
        return false;
    }
    // libgps 3.22 reads 0 while only part of a report line has arrived. That is no
    // report: folding it would count misses by TCP segments, and skipping the wait
    // for it would spin until the rest of the line comes.
    if ((gt_GpsData.set & PACKET_SET) == 0) {
        return false;
    }
    mv_ProcessReport(&gt_GpsData);
    return true;
}

int s32_Gpsd_Fd() {
    return gb_GpsdReadable ? gt_GpsData.gps_fd : -1;
}

void v_Gpsd_Close() {
    gps_stream(&gt_GpsData, WATCH_DISABLE, nullptr);
    gps_close(&gt_GpsData);
}
