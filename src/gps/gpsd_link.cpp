#include "gps/gpsd_link.h"

#include "core/timebase.h"
#include "gps/fix_rule.h"
#include "gps/gpsd_report.h"
#include "gps/line_buffer.h"
#include "gps/peer_owner.h"
#include "log.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kGpsdServer = "localhost";
constexpr double kUnpacedAttempt = 0.05; // without gpsd_reconnect: the design's pass
constexpr double kAttemptSeconds = 1.0;  // the bound of one whole attempt
// gpsd's longest report is 10240 bytes (GPS_JSON_RESPONSE_MAX); libgps buffers two.
// A line that fills the buffer comes from no gpsd: it ends the session.
constexpr std::size_t kBufferBytes = 2 * std::size_t{10240};
// What gps_stream sends for WATCH_ENABLE | WATCH_JSON, and for WATCH_DISABLE.
constexpr const char* kWatchOn = "?WATCH={\"enable\":true,\"json\":true};\n";
constexpr const char* kWatchOff = "?WATCH={\"enable\":false,\"json\":false};\n";

enum class Link {
    Closed,     // no session: never connected, or lost under gpsd_reconnect
    Connecting, // an attempt waits for its connect
    Streaming,  // connected, reports are read
    Stale,      // the session failed without gpsd_reconnect: the design keeps the state
};

struct T_GpsdLink {
    gps_data_t t_Data;           // libgps's record: gps_unpack fills it line by line
    Link e_State = Link::Closed; // Streaming or Stale: the design's s32_GpsdConnected
    GpsdConnect t_Connect;       // the attempt under way, while Connecting
    int s32_Fd = -1;             // the session's socket, while Streaming
    LineBuffer<kBufferBytes> t_Lines;
    bool b_FirstAttempt;           // the attempt under way is start-up's
    bool b_FailureReported;        // gpsd_reconnect: the failure lines of this outage are out
    bool b_RefusalReported;        // gpsd_user: this outage's refusal line is out
    double f64_LastAttempt = -1e9; // CLOCK_BOOTTIME seconds an attempt ended
};
T_GpsdLink gt_Link;
T_GpsdSettings gt_Settings;

bool mb_Supervised() {
    return gt_Settings.s32_Reconnect > 0;
}

// True when the whole text went out; a socket that cannot take it has failed.
bool mb_Link_Send(const char* pc_Text) {
    const std::size_t u32_Len = std::strlen(pc_Text);
    return gt_Link.s32_Fd >= 0 &&
           send(gt_Link.s32_Fd, pc_Text, u32_Len, MSG_NOSIGNAL) == static_cast<ssize_t>(u32_Len);
}

void mv_Link_CloseSocket() {
    if (gt_Link.s32_Fd >= 0) {
        close(gt_Link.s32_Fd);
        gt_Link.s32_Fd = -1;
    }
    gt_Link.t_Lines.v_Clear();
}

// The end of an attempt, as the design words it: the lines, the stream request (which
// fails on a failed connection), the close of a failed one.
void mv_Link_Finish(bool b_Connected, int s32_Code, double f64_Boot) {
    // With gpsd_reconnect the failure lines mark a change of state, not each attempt.
    const bool b_Report = b_Connected || !gt_Link.b_FailureReported;
    if (!b_Connected && b_Report) {
        const char* pc_Name = gt_Settings.pc_ProgramName;
        std::fprintf(stderr, "%s: connection failure on %s:%s, error %d = %s", pc_Name, kGpsdServer,
                     gt_Settings.acn_Port, s32_Code, gps_errstr(s32_Code));
        v_Log_Printf("%s: connection failure on %s:%s, error %d = %s", pc_Name, kGpsdServer,
                     gt_Settings.acn_Port, s32_Code, gps_errstr(s32_Code));
    } else if (b_Connected) {
        s32_Log_Write("Established connection to gpsd");
    }
    if (!mb_Link_Send(kWatchOn) && b_Report) {
        s32_Log_Write(gt_Link.b_FirstAttempt ? "Streaming GPS data failed"
                                             : "Streaming GPS data failed\n");
    }
    gt_Link.b_FailureReported = !b_Connected && mb_Supervised();
    gt_Link.e_State = b_Connected ? Link::Streaming : Link::Closed;
    gt_Link.f64_LastAttempt = f64_Boot; // gpsd_reconnect counts from here
}

// gpsd_user: a session is used only while root or that user owns the socket at its far
// end, asked before the first report is read. A refusal is logged once an outage.
bool mb_Link_OwnerAccepted() {
    const char* pc_User = gt_Settings.pc_User;
    uid_t u32_Owner = 0, u32_Allowed = 0;
    if (pc_User == nullptr) {
        return true;
    }
    const bool b_Known = b_PeerOwner_Uid(gt_Link.s32_Fd, &u32_Owner);
    if (b_Known && (u32_Owner == 0 ||
                    (b_PeerOwner_UidOf(pc_User, &u32_Allowed) && u32_Owner == u32_Allowed))) {
        gt_Link.b_RefusalReported = false;
        return true;
    }
    if (gt_Link.b_RefusalReported) {
        return false;
    }
    gt_Link.b_RefusalReported = true;
    if (!b_Known) {
        v_Log_Printf("Refused gpsd on %s:%s: the kernel names no owner of its socket", kGpsdServer,
                     gt_Settings.acn_Port);
        return false;
    }
    char acn_Name[XLOCD_USER_NAME_SIZE];
    v_PeerOwner_NameOf(u32_Owner, acn_Name);
    v_Log_Printf("Refused gpsd on %s:%s: its socket belongs to uid %u (%s), not to root or %s",
                 kGpsdServer, gt_Settings.acn_Port, u32_Owner, acn_Name, pc_User);
    return false;
}

void mv_Link_Go(GpsdConnect::State e_Connect, double f64_Boot) {
    switch (e_Connect) {
    case GpsdConnect::State::Pending:
        gt_Link.e_State = Link::Connecting;
        return;
    case GpsdConnect::State::Failed:
        mv_Link_Finish(false, gt_Link.t_Connect.s32_Code(), f64_Boot);
        return;
    case GpsdConnect::State::Connected:
        break;
    }
    gt_Link.s32_Fd = gt_Link.t_Connect.s32_TakeFd();
    if (!mb_Link_OwnerAccepted()) {
        mv_Link_CloseSocket(); // nothing was sent or read on it
        gt_Link.e_State = Link::Closed;
        gt_Link.f64_LastAttempt = f64_Boot;
        return;
    }
    // A new session starts from an empty record, as gps_open leaves it.
    gt_Link.t_Data.set = 0;
    gt_Link.t_Data.satellites_used = 0;
    gps_clear_fix(&gt_Link.t_Data.fix);
    mv_Link_Finish(true, 0, f64_Boot);
}

// Without gpsd_reconnect every pass makes an attempt, and a pass comes every 50 ms;
// with it, attempts come at most once every N seconds.
double mf64_NextAttempt() {
    if (gt_Link.e_State != Link::Closed) {
        return INFINITY;
    }
    return gt_Link.f64_LastAttempt +
           (mb_Supervised() ? gt_Settings.s32_Reconnect : kUnpacedAttempt);
}

// A read that fails ends the session. Without gpsd_reconnect the design keeps the
// connection as it is: the fix state freezes and nothing is logged.
void mv_Link_Lost() {
    mv_Link_CloseSocket();
    if (!mb_Supervised()) {
        gt_Link.e_State = Link::Stale;
        return;
    }
    s32_Log_Write("Lost the connection to gpsd");
    gt_Link.e_State = Link::Closed;
}

// Reads what the socket holds when no whole line is buffered yet; false when the
// session has failed (end of stream, an error, a line that fills the buffer).
bool mb_Link_Receive() {
    LineBuffer<kBufferBytes>& t_Lines = gt_Link.t_Lines;
    if (t_Lines.b_HasLine()) {
        return true;
    }
    char* pc_Free = t_Lines.pc_Free();
    const ssize_t s32_Got = recv(gt_Link.s32_Fd, pc_Free, t_Lines.u32_FreeSize(), 0);
    if (s32_Got > 0) {
        t_Lines.v_Filled(static_cast<std::size_t>(s32_Got));
        return !t_Lines.b_Stuck();
    }
    return s32_Got < 0 && (errno == EAGAIN || errno == EINTR);
}

// After a fix the library's fix is cleared, so that every later report brings its own
// position (the design's mv_ProcessReport; the loop folds the report).
T_GpsReport mt_Link_Report() {
    const T_GpsReport t_Report = t_Gpsd_Report(gt_Link.t_Data);
    if (b_Fix_IsFix(t_Report)) {
        gps_clear_fix(&gt_Link.t_Data.fix);
    }
    return t_Report;
}

GpsdStep me_Link_Read(T_GpsReport* pt_Report) {
    if (!mb_Link_Receive()) {
        mv_Link_Lost();
        return gt_Link.e_State == Link::Stale ? GpsdStep::Nothing : GpsdStep::Attempted;
    }
    char* pc_Line = gt_Link.t_Lines.pc_TakeLine();
    if (pc_Line == nullptr) {
        return GpsdStep::Nothing; // half a line: the rest comes with the socket
    }
    gt_Link.t_Data.set = 0; // so that it tells what this one report brings
    gps_unpack(pc_Line, &gt_Link.t_Data);
    *pt_Report = mt_Link_Report();
    return GpsdStep::Report;
}

// Starts a connection attempt: the design's ms32_ConnectGpsd, whose result no caller
// needs, as the link keeps the design's s32_GpsdConnected.
void mv_Link_Attempt(bool b_FirstAttempt) {
    gt_Link.b_FirstAttempt = b_FirstAttempt;
    const double f64_Boot = f64_Timebase_Boot();
    const GpsdConnect::State e_Connect =
        gt_Link.t_Connect.e_Start(gt_Settings.acn_Port, f64_Boot + kAttemptSeconds);
    mv_Link_Go(e_Connect, f64_Boot);
}

} // namespace

void v_Gpsd_Start(const T_GpsdSettings& t_Settings) {
    gt_Settings = t_Settings;
    mv_Link_Attempt(true);
}

GpsdStep e_Gpsd_Step(double f64_Boot, T_GpsReport* pt_Report) {
    switch (gt_Link.e_State) {
    case Link::Connecting:
        mv_Link_Go(gt_Link.t_Connect.e_Poll(f64_Boot), f64_Boot);
        return GpsdStep::Attempted;
    case Link::Closed:
        if (!mb_Supervised() || f64_Boot >= mf64_NextAttempt()) {
            mv_Link_Attempt(false);
        }
        return GpsdStep::Attempted;
    case Link::Streaming:
        return me_Link_Read(pt_Report);
    case Link::Stale:
        break;
    }
    return GpsdStep::Nothing;
}

pollfd t_Gpsd_Wait() {
    switch (gt_Link.e_State) {
    case Link::Streaming:
        return pollfd{gt_Link.s32_Fd, POLLIN, 0};
    case Link::Connecting:
        return pollfd{gt_Link.t_Connect.s32_Fd(), POLLOUT, 0};
    case Link::Closed:
    case Link::Stale:
        break;
    }
    return pollfd{-1, 0, 0};
}

void v_Gpsd_Deadlines(T_Deadlines* pt_Next) {
    pt_Next->v_Now(gt_Link.e_State == Link::Streaming && gt_Link.t_Lines.b_HasLine());
    pt_Next->v_Boot(gt_Link.e_State == Link::Connecting ? gt_Link.t_Connect.f64_Deadline()
                                                        : mf64_NextAttempt());
}

void v_Gpsd_Close() {
    if (gt_Link.e_State == Link::Streaming) {
        mb_Link_Send(kWatchOff);
        mv_Link_CloseSocket();
    }
}
