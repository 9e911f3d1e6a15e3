// The daemon's one loop: watchdog, gpsd, clock, one bus message, quit flag; then one
// wait until the next event or deadline.
#include "clocks.h"
#include "dbus_owners.hpp"
#include "gps_data_fields.hpp"
#include "gpsd_link.h"
#include "log.h"
#include "xlocd.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

// The benchmark builds a floor with every wait capped at the design's 50 ms.
#ifndef XLOCD_WAIT_CAP_MS
#define XLOCD_WAIT_CAP_MS (-1)
#endif

namespace {

constexpr std::int64_t kForever = -1;
constexpr std::int64_t kNoDeadline = std::numeric_limits<std::int64_t>::max();
// A wall-clock deadline is waited for this much past its second, because `time`
// may turn the second a clock tick after clock_gettime does.
constexpr std::int64_t kWallMarginMs = 5;

int gas32_Wake[2] = {-1, -1}; // the signal handler's self-pipe: read end, write end
int gs32_StepFd = -1;         // becomes readable when the wall clock is set
double gf64_LastOffset;       // wall minus monotonic at the previous pass
bool gb_ClockStepRan;         // in this pass: only then is its deadline one of the loop's
bool gb_OutputStalled;        // the bus has not taken our last message within the bound
double gf64_LastStall = -1e9; // monotonic seconds the output was last seen stalled

// Deadlines come from the wall clock. When it steps back (NTP, an RTC that was wrong
// at boot) they move back by the same step, so the watchdog is not held off for the
// length of the step. The step is the change of the wall clock against the monotonic
// one, so that time spent asleep is not taken for part of it. A step forward needs
// nothing: a passed deadline fires once and is re-armed from the new time.
void mv_Loop_FollowClock() {
    const double f64_Offset = f64_WallOffset();
    const double f64_Step = f64_Offset - gf64_LastOffset;
    if (f64_Step <= -0.5) {
        const auto s64_Back = static_cast<std::int64_t>(std::llround(-f64_Step));
        s64_NextTrigger -= s64_Back;
        s64_NextSyncTime -= s64_Back;
    }
    gf64_LastOffset = f64_Offset;
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

// Returns true when the next pass is due at once: a report was read (libgps may hold
// more, where poll cannot see it), or the clock step set a sync pending again.
bool mb_Loop_Gpsd() {
    const GpsdStep e_Step = e_Gpsd_Step();
    gb_ClockStepRan = e_Step != GpsdStep::Attempted && gt_GpsState.u8_Valid == 1;
    if (gb_ClockStepRan) {
        mv_SetSystemTime();
        if (b_Clock_Rearmed()) {
            return true;
        }
    }
    return e_Step == GpsdStep::Report;
}

// Milliseconds until the earliest deadline of the watchdog, the clock and the gpsd
// link; kForever when there is none. The clock step runs only on passes with a
// connection and a valid fix, and whatever brings those back brings a pass.
std::int64_t ms64_Loop_Timeout() {
    std::int64_t s64_Wall = gb_ClockStepRan ? s64_Clock_NextDeadline() : kNoDeadline;
    if (gt_Config.s32_WatchdogInterval > 0) {
        s64_Wall = std::min(s64_Wall, s64_NextTrigger);
    }
    std::int64_t s64_Ms = kForever;
    if (s64_Wall != kNoDeadline) {
        s64_Ms = s64_MsUntilWallSecond(s64_Wall) + kWallMarginMs;
    }
    const double f64_Due = f64_Gpsd_NextDue();
    if (std::isfinite(f64_Due)) {
        const double f64_Ms = std::ceil((f64_Due - f64_Monotonic()) * 1000.0);
        const std::int64_t s64_LinkMs = f64_Ms > 0 ? static_cast<std::int64_t>(f64_Ms) : 0;
        s64_Ms = s64_Ms == kForever ? s64_LinkMs : std::min(s64_Ms, s64_LinkMs);
    }
    if (XLOCD_WAIT_CAP_MS >= 0 && (s64_Ms == kForever || s64_Ms > XLOCD_WAIT_CAP_MS)) {
        s64_Ms = XLOCD_WAIT_CAP_MS;
    }
    return s64_Ms;
}

// Armed a day ahead with TFD_TIMER_CANCEL_ON_SET: it fires when the wall clock is
// set, so that a step wakes the wait and the deadlines follow it at once.
void mv_Loop_ArmStepTimer() {
    constexpr std::time_t kAhead = 86400;
    constexpr std::time_t kLast = std::numeric_limits<std::time_t>::max();
    timespec t_Now{};
    clock_gettime(CLOCK_REALTIME, &t_Now);
    itimerspec t_Spec{};
    t_Spec.it_value.tv_sec = t_Now.tv_sec < kLast - kAhead ? t_Now.tv_sec + kAhead : kLast;
    timerfd_settime(gs32_StepFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &t_Spec, nullptr);
}

void mv_Loop_Drain(int s32_Fd) {
    char acn_Bytes[64];
    while (read(s32_Fd, acn_Bytes, sizeof acn_Bytes) > 0) {
    }
}

// One wait for a bus message, gpsd data, a stop signal, a wall-clock step or the
// earliest deadline. After the bus connection is lost its fd is gone; after a failed
// gpsd read the gpsd socket leaves the wait, so that a dead peer cannot spin the loop.
void mv_Loop_Wait(DBusConnection* pt_Connection) {
    pollfd at_Fds[4];
    nfds_t u32_Count = 0;
    at_Fds[u32_Count++] = pollfd{gas32_Wake[0], POLLIN, 0};
    at_Fds[u32_Count++] = pollfd{gs32_StepFd, POLLIN, 0};
    int s32_BusFd = -1;
    if (dbus_connection_get_unix_fd(pt_Connection, &s32_BusFd)) {
        const short s16_Out = gb_OutputStalled ? POLLOUT : 0; // what waits goes once it can
        at_Fds[u32_Count++] = pollfd{s32_BusFd, static_cast<short>(POLLIN | s16_Out), 0};
    }
    if (const pollfd t_Gpsd = t_Gpsd_Wait(); t_Gpsd.fd >= 0) {
        at_Fds[u32_Count++] = t_Gpsd;
    }
    const std::int64_t s64_Ms = ms64_Loop_Timeout();
    const timespec t_Timeout{static_cast<std::time_t>(s64_Ms / 1000),
                             static_cast<long>(s64_Ms % 1000) * 1000000};
    ppoll(at_Fds, u32_Count, s64_Ms == kForever ? nullptr : &t_Timeout, nullptr);
    if (at_Fds[0].revents != 0) {
        mv_Loop_Drain(gas32_Wake[0]);
    }
    if (at_Fds[1].revents != 0) {
        mv_Loop_Drain(gs32_StepFd); // ECANCELED after a step, or the day has passed
        mv_Loop_ArmStepTimer();
    }
}

void mv_Loop_Bus(bool b_PassDue) {
    DBusConnection* pt_Connection = gt_Client.pt_Connection;
    // While libdbus already holds messages there is nothing to wait for, and every
    // send writes what it can: a burst is served back to back, one message per pass,
    // and the socket is read again once the queue is empty.
    if (dbus_connection_get_dispatch_status(pt_Connection) != DBUS_DISPATCH_DATA_REMAINS) {
        if (!b_PassDue && u8_Quit == 0) {
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
    } else if (dbus_message_is_method_call(pt_Message.get(), orb::kXlocdName, "GetGPSData")) {
        ms32_Process_GetData(pt_Message.get());
    } else if (gt_Config.s32_Introspection > 0) {
        b_Introspection_Answer(pt_Message.get());
    }
    // Everything else is released unanswered.
}

// Sends wait at most a bound for the bus and are dropped while it takes nothing of
// ours (a subscriber that never reads can pin our messages until the bus stops
// reading us). One log line per episode; under attack the bus lets a little through
// now and then, so an episode ends only after kEpisodeGap seconds without a stall.
void mv_Loop_WatchOutput() {
    constexpr double kEpisodeGap = 10.0;
    DBusConnection* pt_Connection = gt_Client.pt_Connection;
    gb_OutputStalled =
        !orb::b_Dead(pt_Connection) && dbus_connection_has_messages_to_send(pt_Connection);
    if (gb_OutputStalled) {
        const double f64_Now = f64_Monotonic();
        if (f64_Now - gf64_LastStall > kEpisodeGap) {
            s32_Log_Write("The bus takes no messages from xlocd: sends are dropped until it does");
        }
        gf64_LastStall = f64_Now;
    }
}

} // namespace

void v_Loop_Prepare() {
    if (pipe2(gas32_Wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        gas32_Wake[0] = gas32_Wake[1] = -1;
    }
}

void v_Loop_WakeFromSignal() {
    const int s32_Errno = errno;
    [[maybe_unused]] const ssize_t s32_Ignored = write(gas32_Wake[1], "", 1);
    errno = s32_Errno;
}

void v_MainLoop() {
    gs32_StepFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    mv_Loop_ArmStepTimer();
    gf64_LastOffset = f64_WallOffset();
    for (;;) {
        mv_Loop_FollowClock();
        mv_Loop_Watchdog(s64_Now());
        const bool b_PassDue = mb_Loop_Gpsd();
        v_Signal_AfterFold();
        mv_Loop_Bus(b_PassDue);
        mv_Loop_WatchOutput();
        if (u8_Quit == 1) {
            mv_Shutdown();
        }
    }
}

void v_Loop_LimitReceived(bool b_Limit) {
    // The loop takes one message per pass: a flood (WhoIsThere) waits in the bus, which
    // has limits for it, rather than in our memory. A blocking call must read past what
    // the loop left, or its reply would wait behind the limit: then it is lifted.
    constexpr long kLoopBytes = 64 * 1024;
    constexpr long kBlockingBytes = 64L * 1024 * 1024; // libdbus's own default
    if (gt_Client.pt_Connection != nullptr) {
        dbus_connection_set_max_received_size(gt_Client.pt_Connection,
                                              b_Limit ? kLoopBytes : kBlockingBytes);
    }
}

void mv_Shutdown() {
    v_Loop_LimitReceived(false);
    s32_DBUS_CancelWatchdog(&gt_Client);
    s32_DBUS_SendGoodbye(&gt_Client);
    s32_Log_Close();
    v_Gpsd_Close();
    std::exit(0);
}
