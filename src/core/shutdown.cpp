#include "core/shutdown.h"

#include "bus/bus_link.h"
#include "bus/xcord_watchdog.h"
#include "core/service_notify.h"
#include "gps/gpsd_link.h"
#include "log.h"

#include <cstdlib>

namespace {

[[noreturn]] void mv_Shutdown(int s32_Status) {
    v_Notify_Stopping();
    v_Watchdog_Cancel();
    v_BusLink_Goodbye();
    s32_Log_Close();
    v_Gpsd_Close();
    std::exit(s32_Status);
}

} // namespace

void v_Shutdown_Exit(int s32_Status) {
    mv_Shutdown(s32_Status);
}

void v_Shutdown_Lost(const char* pc_Why) {
    s32_Log_Write(pc_Why);
    mv_Shutdown(1);
}
