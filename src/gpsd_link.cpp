// The gpsd connection through libgps: the only file that calls the library.
#include "gpsd_link.h"

#include "clocks.h"
#include "gpsd_probe.h"
#include "gpsd_report.h"
#include "log.h"
#include "xlocd.h"

#include <sys/time.h>

#include <cmath>
#include <csignal>
#include <cstdio>

namespace {

constexpr const char* kGpsdServer = "localhost";
constexpr double kUnpacedAttempt = 0.05; // without gpsd_reconnect: the design's pass
constexpr double kAttemptSeconds = 1.0;  // the bound of one connection attempt

enum class Link {
    Closed,    // no session: never connected, or lost under gpsd_reconnect
    Probing,   // an attempt waits for its connect
    Streaming, // connected, reports are read
    Stale,     // a read failed without gpsd_reconnect: the design keeps it, state frozen
};

// Everything the link knows, in one place.
struct T_GpsdLink {
    gps_data_t t_Data;              // the library's record, reused by every attempt
    Link e_State = Link::Closed;    // Streaming or Stale: the design's s32_GpsdConnected is 1
    GpsdProbe t_Probe;              // the attempt's own connect, while Probing
    char acn_Port[XLOCD_PORT_SIZE]; // the attempt's port text
    bool b_FirstAttempt;            // the attempt under way is start-up's
    bool b_FailureReported;         // gpsd_reconnect: the failure lines of this outage are out
    double f64_LastAttempt = -1e9;  // monotonic seconds an attempt ended; far back at start
    double f64_LastFix;             // monotonic seconds of the last fix folded
};
T_GpsdLink gt_Link;

bool mb_Supervised() {
    return gt_Config.s32_GpsdReconnect > 0;
}

// WATCH_DISABLE and gps_close; on a failed open harmless (the writes fail with EBADF).
void mv_Link_Close() {
    gps_stream(&gt_Link.t_Data, WATCH_DISABLE, nullptr);
    gps_close(&gt_Link.t_Data);
    gt_Link.e_State = Link::Closed;
}

void mv_ProcessReport(gps_data_t* pt_Data) {
    const T_GpsReport t_Report = t_Gpsd_Report(*pt_Data);
    const bool b_Fix = b_Fix_Fold(&gt_GpsState, &gu8_MissCount, t_Report);
    v_Clock_Observe(t_Report.b_Position, b_Fix, t_Report.f64_Time);
    ++gu32_StateVersion;
    if (b_Fix) {
        gps_clear_fix(&pt_Data->fix); // the next report has to bring its own position
        gt_Link.f64_LastFix = f64_Monotonic();
    }
}

double mf64_FixExpiry() {
    const bool b_Ages = gt_Config.s32_FixMaxAge > 0 && gt_GpsState.u8_Valid == 1;
    return b_Ages ? gt_Link.f64_LastFix + gt_Config.s32_FixMaxAge : INFINITY;
}

// fix_max_age: a fix that is too old reads as no fix, position and time kept. The
// age is monotonic, so that setting the clock from GPS cannot make it jump.
void mv_Gpsd_AgeFix() {
    if (f64_Monotonic() >= mf64_FixExpiry()) {
        v_Fix_MarkNone(&gt_GpsState, &gu8_MissCount);
        ++gu32_StateVersion;
    }
}

// Without gpsd_reconnect every pass makes an attempt, and a pass comes every 50 ms;
// with it, attempts come at most once every N seconds.
double mf64_NextAttempt() {
    if (gt_Link.e_State != Link::Closed) {
        return INFINITY;
    }
    return gt_Link.f64_LastAttempt +
           (mb_Supervised() ? gt_Config.s32_GpsdReconnect : kUnpacedAttempt);
}

bool mb_AttemptDue() {
    return gt_Link.e_State == Link::Closed &&
           (!mb_Supervised() || f64_Monotonic() >= mf64_NextAttempt());
}

GpsdStep me_Gpsd_Read() {
    if (gt_Link.e_State != Link::Streaming || !gps_waiting(&gt_Link.t_Data, 0)) {
        return GpsdStep::Nothing;
    }
    gt_Link.t_Data.set = 0; // so that it tells what this one report brings
    if (gps_read(&gt_Link.t_Data, nullptr, 0) == -1) {
        if (!mb_Supervised()) {
            gt_Link.e_State = Link::Stale; // without supervision the state freezes
            return GpsdStep::Nothing;
        }
        s32_Log_Write("Lost the connection to gpsd"); // end of stream or a read error
        mv_Link_Close();
        return GpsdStep::Attempted;
    }
    // libgps 3.22 reads 0 while only part of a report line has arrived. That is no
    // report: folding it would count misses by TCP segments, and skipping the wait
    // for it would spin until the rest of the line comes.
    if ((gt_Link.t_Data.set & PACKET_SET) == 0) {
        return GpsdStep::Nothing;
    }
    mv_ProcessReport(&gt_Link.t_Data);
    return GpsdStep::Report;
}

void mv_NoAlarm(int) {}

// gps_open connects blocking. The probe has just been accepted, so this connect
// completes at once, unless the listener's queue filled up meanwhile: a timer
// signal (SIGALRM, without SA_RESTART) then ends it with EINTR.
bool mb_Link_OpenBounded(const char* pc_Port) {
    static const bool b_Installed = [] {
        struct sigaction t_Action {};
        t_Action.sa_handler = mv_NoAlarm;
        sigemptyset(&t_Action.sa_mask);
        return sigaction(SIGALRM, &t_Action, nullptr) == 0;
    }();
    itimerval t_Timer{};
    t_Timer.it_value.tv_sec = static_cast<time_t>(kAttemptSeconds);
    setitimer(ITIMER_REAL, &t_Timer, nullptr);
    const bool b_Open = b_Installed && gps_open(kGpsdServer, pc_Port, &gt_Link.t_Data) == 0;
    t_Timer = itimerval{};
    setitimer(ITIMER_REAL, &t_Timer, nullptr);
    return b_Open;
}

// The end of an attempt, as the design words it: the lines, the stream request
// (which fails on a failed connection), the close of a failed one.
void mv_Link_Finish(bool b_Connected) {
    const char* pc_Port = gt_Link.acn_Port;
    // With gpsd_reconnect the failure lines mark a change of state, not each attempt.
    const bool b_Report = b_Connected || !gt_Link.b_FailureReported;
    if (!b_Connected && b_Report) {
        const int s32_Code = gt_Link.t_Data.gps_fd; // libgps leaves the negative code here
        std::fprintf(stderr, "%s: connection failure on %s:%s, error %d = %s", gpc_ProgramName,
                     kGpsdServer, pc_Port, s32_Code, gps_errstr(s32_Code));
        v_Log_Printf("%s: connection failure on %s:%s, error %d = %s", gpc_ProgramName, kGpsdServer,
                     pc_Port, s32_Code, gps_errstr(s32_Code));
    } else if (b_Connected) {
        s32_Log_Write("Established connection to gpsd");
    }
    gt_Link.e_State = b_Connected ? Link::Streaming : Link::Closed;
    if (gps_stream(&gt_Link.t_Data, WATCH_ENABLE | WATCH_JSON, nullptr) != 0 && b_Report) {
        s32_Log_Write(gt_Link.b_FirstAttempt ? "Streaming GPS data failed"
                                             : "Streaming GPS data failed\n");
    }
    gt_Link.b_FailureReported = !b_Connected && mb_Supervised();
    if (!b_Connected) {
        mv_Link_Close(); // the next attempt starts from a closed session
    }
    gt_Link.f64_LastAttempt = f64_Monotonic(); // gpsd_reconnect counts from here
}

// Goes on with an attempt once its probe has said something: an address accepted
// or all refused (libgps then connects, or fails, at once), or no answer in time.
std::int32_t ms32_Link_Go(GpsdProbe::State e_Probe) {
    switch (e_Probe) {
    case GpsdProbe::State::Pending:
        gt_Link.e_State = Link::Probing;
        return 0;
    case GpsdProbe::State::TimedOut:
        gt_Link.t_Data.gps_fd = NL_NOCONNECT; // as a failed gps_open leaves it
        mv_Link_Finish(false);
        return 0;
    case GpsdProbe::State::Connected:
    case GpsdProbe::State::Refused:
        break;
    }
    const bool b_Connected = mb_Link_OpenBounded(gt_Link.acn_Port);
    mv_Link_Finish(b_Connected);
    return b_Connected ? 1 : 0;
}

} // namespace

std::int32_t ms32_ConnectGpsd(bool b_FirstAttempt) {
    v_Gpsd_Port(gt_Config, gt_Link.acn_Port); // recomputed on every attempt, as designed
    gt_Link.b_FirstAttempt = b_FirstAttempt;
    return ms32_Link_Go(
        gt_Link.t_Probe.e_Start(gt_Link.acn_Port, f64_Monotonic() + kAttemptSeconds));
}

GpsdStep e_Gpsd_Step() {
    GpsdStep e_Step = GpsdStep::Attempted; // no reading and no clock step in this pass
    if (gt_Link.e_State == Link::Probing) {
        ms32_Link_Go(gt_Link.t_Probe.e_Poll(f64_Monotonic()));
    } else if (gt_Link.e_State == Link::Closed) {
        if (mb_AttemptDue()) {
            ms32_ConnectGpsd(false);
        }
    } else {
        e_Step = me_Gpsd_Read();
    }
    mv_Gpsd_AgeFix();
    return e_Step;
}

pollfd t_Gpsd_Wait() {
    switch (gt_Link.e_State) {
    case Link::Streaming:
        return pollfd{gt_Link.t_Data.gps_fd, POLLIN, 0};
    case Link::Probing:
        return pollfd{gt_Link.t_Probe.s32_Fd(), POLLOUT, 0};
    case Link::Closed:
    case Link::Stale:
        break;
    }
    return pollfd{-1, 0, 0};
}

double f64_Gpsd_NextDue() {
    const double f64_Probe =
        gt_Link.e_State == Link::Probing ? gt_Link.t_Probe.f64_Deadline() : INFINITY;
    return std::fmin(std::fmin(mf64_NextAttempt(), mf64_FixExpiry()), f64_Probe);
}

void v_Gpsd_Close() {
    if (gt_Link.e_State == Link::Streaming || gt_Link.e_State == Link::Stale) {
        mv_Link_Close();
    }
}
