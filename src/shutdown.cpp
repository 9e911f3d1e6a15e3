#include "shutdown.h"

#include "bus_service.h"
#include "gpsd_link.h"
#include "log.h"
#include "timebase.h"
#include "watchdog_schedule.h"

#include <cstdlib>

void mv_Shutdown() {
    v_Shutdown_WithStatus(0);
}

void v_Shutdown_IfBusLost() {
    if (const char* pc_Why = pc_BusService_Lost(f64_Timebase_Boot())) {
        s32_Log_Write(pc_Why);
        v_Shutdown_WithStatus(1);
    }
}

void v_Shutdown_WithStatus(int s32_Status) {
    v_BusService_LimitReading(false); // CancelWatchdog's reply must not wait behind it
    v_Watchdog_Cancel();
    v_BusService_Goodbye();
    s32_Log_Close();
    v_Gpsd_Close();
    std::exit(s32_Status);
}
