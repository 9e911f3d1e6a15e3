// The daemon's one loop: watchdog, gpsd, clock, one bus message, quit flag.
#include "dbus_owners.hpp"
#include "log.h"
#include "xlocd.h"

#include <poll.h>

#include <cstdlib>
#include <ctime>

namespace {

constexpr int kBusWaitMs = 50;

std::int64_t gs64_LastTime; // of the previous pass

// Deadlines come from the wall clock. When it steps back (NTP, an RTC that was wrong
// at boot) they move back by the same step, so the watchdog is not held off for the
// length of the step. A step forward needs nothing: a passed deadline fires once and
// is re-armed from the new time.
void mv_Loop_FollowClock(std::int64_t s64_Time) {
    if (s64_Time < gs64_LastTime) {
        const std::int64_t s64_Back = gs64_LastTime - s64_Time;
        s64_NextTrigger -= s64_Back;
        s64_NextSyncTime -= s64_Back;
    }
    gs64_LastTime = s64_Time;
}

void mv_Loop_Watchdog(std::int64_t s64_Time) {
    if (gt_Config.s32_WatchdogInterval <= 0) {
        return;
    }
    if (s64_Time >= s64_NextTrigger) {
        s32_DBUS_TriggerWatchdog(&gt_Client);
        s64_NextTrigger = s64_Time + s32_TriggerPeriod;
    }
}

// Returns true when a report was read, so that the bus step does not wait.
bool mb_Loop_Gpsd() {
    const GpsdStep e_Step = e_Gpsd_Step();
    if (e_Step != GpsdStep::Attempted && gt_GpsState.u8_Valid == 1) {
        mv_SetSystemTime();
    }
    return e_Step == GpsdStep::Report;
}

// Waits at most 50 ms for the bus or gpsd. A stop signal ends the wait early (the
// handler is installed without SA_RESTART). After the bus connection is lost its
// fd is gone, so the wait still paces the loop.
void mv_Loop_Wait(DBusConnection* pt_Connection) {
    pollfd at_Fds[2];
    nfds_t u32_Count = 0;
    int s32_BusFd = -1;
    if (dbus_connection_get_unix_fd(pt_Connection, &s32_BusFd)) {
        at_Fds[u32_Count++] = pollfd{s32_BusFd, POLLIN, 0};
    }
    if (const int s32_GpsFd = s32_Gpsd_Fd(); s32_GpsFd >= 0) {
        at_Fds[u32_Count++] = pollfd{s32_GpsFd, POLLIN, 0};
    }
    poll(at_Fds, u32_Count, kBusWaitMs);
}

void mv_Loop_Bus(bool b_GpsdBusy) {
    DBusConnection* pt_Connection = gt_Client.pt_Connection;
    // While libdbus already holds messages there is nothing to wait for and, since
    // every send is flushed, nothing to write: a burst is served back to back, one
    // message per pass, and the socket is read again once the queue is empty. After
    // a gpsd report libgps may hold more in its buffer, invisible to poll: no wait.
    if (dbus_connection_get_dispatch_status(pt_Connection) != DBUS_DISPATCH_DATA_REMAINS) {
        if (!b_GpsdBusy) {
            mv_Loop_Wait(pt_Connection);
        }
        dbus_connection_read_write(pt_Connection, 0);
    }
    orb::Message pt_Message(dbus_connection_pop_message(pt_Connection));
    if (!pt_Message) {
        return;
    }
    if (dbus_message_is_signal(pt_Message.get(), "zel.orb.broadcast", "WhoIsThere")) {
        s32_DBUS_SendHello(&gt_Client);
    } else if (dbus_message_is_method_call(pt_Message.get(), "zel.orb.xlocd", "GetGPSData")) {
        ms32_Process_GetData(pt_Message.get());
    } else if (gt_Config.s32_Introspection > 0) {
        b_Introspection_Answer(pt_Message.get());
    }
    // Everything else is released unanswered.
}

} // namespace

std::int64_t s64_Now() {
    return std::time(nullptr);
}

double f64_Monotonic() {
    timespec t_Now{};
    clock_gettime(CLOCK_MONOTONIC, &t_Now);
    return static_cast<double>(t_Now.tv_sec) + static_cast<double>(t_Now.tv_nsec) / 1e9;
}

void v_MainLoop() {
    for (;;) {
        const std::int64_t s64_Time = s64_Now();
        mv_Loop_FollowClock(s64_Time);
        mv_Loop_Watchdog(s64_Time);
        const bool b_GpsdBusy = mb_Loop_Gpsd();
        v_Signal_AfterFold();
        mv_Loop_Bus(b_GpsdBusy);
        if (u8_Quit == 1) {
            mv_Shutdown();
        }
    }
}

void mv_Shutdown() {
    s32_DBUS_CancelWatchdog(&gt_Client);
    s32_DBUS_SendGoodbye(&gt_Client);
    s32_Log_Close();
    if (s32_GpsdConnected == 1) {
        v_Gpsd_Close();
    }
    std::exit(0);
}
