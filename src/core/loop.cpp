#include "core/loop.h"

#include "bus/bus_service.h"
#include "bus/gps_signal.h"
#include "bus/xcord_watchdog.h"
#include "clock/clock_sync.h"
#include "core/deadlines.h"
#include "core/service_notify.h"
#include "core/shutdown.h"
#include "core/timebase.h"
#include "gps/fix_state.h"
#include "gps/gpsd_link.h"

#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <initializer_list>
#include <limits>

namespace {

volatile std::uint8_t u8_Quit; // set by the stop handler, read once per pass
int gas32_Wake[2] = {-1, -1};  // the stop handler's self-pipe: read end, write end
int gs32_StepFd = -1;          // readable when the wall clock is set
double gf64_LastOffset;        // wall minus boot clock at the previous pass

// Every module that needs passes of its own, whatever comes in on the sockets.
constexpr std::array<void (*)(T_Deadlines*), 6> kDeadlineSources = {
    v_Notify_Deadlines, v_Watchdog_Deadlines, v_ClockSync_Deadlines,
    v_Gpsd_Deadlines,   v_FixState_Deadlines, v_BusService_Deadlines};

void mv_SignalHandler(int) {
    u8_Quit = 1;
    // The loop may be asleep without a deadline at all; the pipe ends that wait, also
    // when the signal comes between the quit test and the wait.
    const int s32_Errno = errno;
    [[maybe_unused]] const ssize_t s32_Ignored = write(gas32_Wake[1], "", 1);
    errno = s32_Errno;
}

// Armed a day ahead with TFD_TIMER_CANCEL_ON_SET: it fires when the wall clock is set
// (a resume from suspend counts), so that a step wakes the wait and the deadlines
// follow it at once.
void mv_Loop_ArmStepTimer() {
    constexpr std::time_t kAhead = 86400;
    constexpr std::time_t kLast = std::numeric_limits<std::time_t>::max();
    timespec t_Now{};
    clock_gettime(CLOCK_REALTIME, &t_Now);
    itimerspec t_Spec{};
    t_Spec.it_value.tv_sec = t_Now.tv_sec < kLast - kAhead ? t_Now.tv_sec + kAhead : kLast;
    timerfd_settime(gs32_StepFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &t_Spec, nullptr);
}

// Deadlines in wall-clock seconds move back with a step back (NTP, an RTC that was
// wrong at boot), so the watchdog is not held off for the length of the step. The
// step is the change of the wall clock against the boot clock, so that time spent
// asleep or suspended is not taken for part of it. A step forward needs nothing: a
// passed deadline fires once and is re-armed from the new time.
void mv_Loop_FollowClock() {
    const double f64_Offset = f64_Timebase_WallOffset();
    const double f64_Step = f64_Offset - gf64_LastOffset;
    if (f64_Step <= -0.5) {
        const auto s64_Back = static_cast<std::int64_t>(std::llround(-f64_Step));
        v_Watchdog_ClockSetBack(s64_Back);
        v_ClockSync_ClockSetBack(s64_Back);
    }
    gf64_LastOffset = f64_Offset;
}

// A report fans out from here: into the fix state, and to the clock guard.
void mv_Loop_Gps(double f64_Boot) {
    T_GpsReport t_Report{};
    const GpsdStep e_Step = e_Gpsd_Step(f64_Boot, &t_Report);
    if (e_Step == GpsdStep::Report) {
        const bool b_Fix = b_FixState_Fold(t_Report, f64_Boot);
        v_ClockSync_Observe(t_Report.b_Position, b_Fix, t_Report.f64_Time);
    }
    v_FixState_Age(f64_Boot); // before the bus: a call is answered from the state of now
    v_ClockSync_Pass(e_Step != GpsdStep::Attempted && t_FixState().u8_Valid == 1);
}

// One pass in the design's order; returns when the next one is due.
T_Deadlines mt_Loop_Pass() {
    mv_Loop_FollowClock();
    v_Watchdog_Pass(s64_Timebase_Wall());
    const double f64_Boot = f64_Timebase_Boot();
    v_Notify_Pass(f64_Boot);
    mv_Loop_Gps(f64_Boot);
    v_Signal_AfterFold();
    v_BusService_Pass(f64_Boot);
    T_Deadlines t_Next;
    for (const auto pf_Source : kDeadlineSources) {
        pf_Source(&t_Next);
    }
    return t_Next;
}

void mv_Loop_Drain(int s32_Fd) {
    char acn_Bytes[64];
    while (read(s32_Fd, acn_Bytes, sizeof acn_Bytes) > 0) {
    }
}

// One wait for a bus message, gpsd data, a stop signal, a wall-clock step or the
// earliest deadline. After the bus connection is lost its fd is gone; a failed gpsd
// session leaves the wait, so that a dead peer cannot spin the loop.
void mv_Loop_Wait(const T_Deadlines& t_Next) {
    pollfd at_Fds[4] = {{gas32_Wake[0], POLLIN, 0}, {gs32_StepFd, POLLIN, 0}};
    nfds_t u32_Count = 2;
    for (const pollfd& t_Fd : {t_BusService_Wait(), t_Gpsd_Wait()}) {
        if (t_Fd.fd >= 0) {
            at_Fds[u32_Count++] = t_Fd;
        }
    }
    timespec t_Wall{};
    clock_gettime(CLOCK_REALTIME, &t_Wall);
    const std::int64_t s64_Ms = s64_NextWait_Ms(t_Next, t_Wall, f64_Timebase_Boot());
    const timespec t_Timeout{static_cast<std::time_t>(s64_Ms / 1000),
                             static_cast<long>(s64_Ms % 1000) * 1000000};
    ppoll(at_Fds, u32_Count, s64_Ms < 0 ? nullptr : &t_Timeout, nullptr);
    if (at_Fds[0].revents != 0) {
        mv_Loop_Drain(gas32_Wake[0]);
    }
    if (at_Fds[1].revents != 0) {
        mv_Loop_Drain(gs32_StepFd); // ECANCELED after a step, or the day has passed
        mv_Loop_ArmStepTimer();
    }
}

} // namespace

void v_Loop_InstallStopSignals() {
    if (pipe2(gas32_Wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        gas32_Wake[0] = gas32_Wake[1] = -1;
    }
    struct sigaction t_Action {};
    t_Action.sa_handler = mv_SignalHandler;
    sigemptyset(&t_Action.sa_mask);
    t_Action.sa_flags = 0; // no SA_RESTART: a stop signal cuts a blocking call short
    sigaction(SIGINT, &t_Action, nullptr);
    sigaction(SIGTERM, &t_Action, nullptr);
}

void v_MainLoop() {
    gs32_StepFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    mv_Loop_ArmStepTimer();
    gf64_LastOffset = f64_Timebase_WallOffset();
    for (;;) {
        const T_Deadlines t_Next = mt_Loop_Pass();
        if (u8_Quit == 1) {
            v_Shutdown_Exit(0);
        }
        if (const char* pc_Why = pc_BusService_Lost(f64_Timebase_Boot())) {
            v_Shutdown_Lost(pc_Why);
        }
        mv_Loop_Wait(t_Next);
    }
}
