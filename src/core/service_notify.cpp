#include "core/service_notify.h"

#if XLOCD_SD_NOTIFY
#include <systemd/sd-daemon.h>
#endif

#include <cmath>
#include <cstdint>

namespace {

double gf64_PingPeriod = INFINITY; // seconds; INFINITY: no watchdog asked for
double gf64_NextPing = INFINITY;

void mv_Notify(const char* pc_State) {
#if XLOCD_SD_NOTIFY
    // A datagram to the manager; without NOTIFY_SOCKET sd_notify sends nothing.
    sd_notify(0, pc_State);
#else
    (void)pc_State;
#endif
}

} // namespace

void v_Notify_Ready(double f64_Boot) {
#if XLOCD_SD_NOTIFY
    std::uint64_t u64_Usec = 0;
    // WATCHDOG_USEC, and WATCHDOG_PID when set, must name this process.
    if (sd_watchdog_enabled(0, &u64_Usec) > 0 && u64_Usec > 0) {
        gf64_PingPeriod = static_cast<double>(u64_Usec) / 2e6;
        gf64_NextPing = f64_Boot + gf64_PingPeriod;
    }
#else
    (void)f64_Boot;
#endif
    mv_Notify("READY=1");
}

void v_Notify_Pass(double f64_Boot) {
    if (f64_Boot >= gf64_NextPing) {
        mv_Notify("WATCHDOG=1");
        gf64_NextPing = f64_Boot + gf64_PingPeriod;
    }
}

void v_Notify_Deadlines(T_Deadlines* pt_Next) {
    pt_Next->v_Boot(gf64_NextPing);
}

void v_Notify_Stopping() {
    mv_Notify("STOPPING=1");
}
