#include "loop.h"

#include "bus_service.h"
#include "clock_sync.h"
#include "fix_state.h"
#include "gps_signal.h"
#include "gpsd_link.h"
#include "log.h"
#include "next_wait.h"
#include "shutdown.h"
#include "timebase.h"
#include "watchdog_schedule.h"

#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

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

// One pass in the design's order; returns when the next one is due.
T_Deadlines mt_Loop_Pass() {
    T_Deadlines t_Next;
    mv_Loop_FollowClock();
    v_Watchdog_Pass(s64_Timebase_Wall());
    t_Next.v_Wall(s64_Watchdog_NextDeadline());
    const double f64_Boot = f64_Timebase_Boot();
    const GpsdStep e_Step = e_Gpsd_Step(f64_Boot);
    v_FixState_Age(f64_Boot); // before the bus: a call is answered from the state of now
    // The clock step runs on passes with a connection and a valid fix, and whatever
    // brings those back brings a pass: only then is its deadline one of the loop's.
    if (e_Step != GpsdStep::Attempted && t_FixState().u8_Valid == 1) {
        mv_SetSystemTime();
        t_Next.b_Now = b_ClockSync_Due();
        t_Next.v_Wall(s64_ClockSync_NextDeadline());
    }
    v_Signal_AfterFold();
    v_BusService_Pass(f64_Boot);
    t_Next.b_Now = t_Next.b_Now || b_Gpsd_LineWaiting() || b_BusService_Due();
    t_Next.v_Boot(f64_Gpsd_NextDue());
    t_Next.v_Boot(f64_FixState_Expiry());
    t_Next.v_Boot(f64_BusService_NextDue());
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
            mv_Shutdown();
        }
        v_Shutdown_IfBusLost();
        mv_Loop_Wait(t_Next);
    }
}
