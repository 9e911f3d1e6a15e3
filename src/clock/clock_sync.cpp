#include "clock/clock_sync.h"

#include "clock/clock_guard.h"
#include "clock/fix_time.h"
#include "core/timebase.h"
#include "gps/fix_state.h"
#include "log.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr std::time_t kLastSecondOf2009 = 1262303999;
constexpr const char* kRtcMarkerFile = "/tmp/RTC_updated";

T_ClockSettings gt_Settings;
T_ClockGuard gt_ClockGuard;
std::int32_t s32_SyncPending = 1; // the first valid fix syncs
std::int64_t s64_NextSyncTime;    // wall-clock seconds; 64 bits, so past 2038 too
bool gb_Stepped;                  // the step ran on the last pass
bool gb_Rearmed;                  // ... and set the sync pending again: the next pass tries it

void mv_Clock_Shell(const char* pc_Command) {
    [[maybe_unused]] const int s32_Ignored = std::system(pc_Command); // fired and forgotten
}

void mv_Clock_SetSystemClock(const char (&acn_Date)[XLOCD_DATE_TEXT_SIZE]) {
    char acn_Command[64];
    v_Log_Printf("Setting the system time from GPS to: %s", acn_Date);
    // Passed unchanged: dash reads "&>" as "&" then ">", so `date` runs in the
    // background with its output on the daemon's standard output.
    std::snprintf(acn_Command, sizeof acn_Command, "date -s %s &>/dev/null &", acn_Date);
    mv_Clock_Shell(acn_Command);
}

// The marker lives under a fixed name in world-writable /tmp. Where the kernel's
// protected_symlinks/fifos are off, anyone could plant a symlink there (we would
// append to its target), a FIFO (a blocking open) or a hard link. So the line goes
// only into a plain file of our own, and the check is made on the file we opened,
// not on the name: there is no window between check and write. The bytes are what
// `/bin/echo "%s" >> /tmp/RTC_updated` wrote; the shell is no longer involved.
void mv_Clock_MarkRtcUpdate(const char* pc_Text) {
    char acn_Line[80];
    const int s32_Len = std::snprintf(acn_Line, sizeof acn_Line, "%s\n", pc_Text);
    const int s32_Fd = open(
        kRtcMarkerFile, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat t_Stat {};
    const bool b_Ours = s32_Fd >= 0 && fstat(s32_Fd, &t_Stat) == 0 && S_ISREG(t_Stat.st_mode) &&
                        t_Stat.st_nlink == 1 && t_Stat.st_uid == geteuid();
    if (!b_Ours && (s32_Fd >= 0 || errno == ELOOP || errno == ENXIO)) {
        v_Log_Printf("mv_SetSystemTime: %s is not a plain file of ours, marker skipped",
                     kRtcMarkerFile);
    } else if (!b_Ours || write(s32_Fd, acn_Line, static_cast<std::size_t>(s32_Len)) != s32_Len) {
        v_Log_Printf("mv_SetSystemTime: could not append to %s (errno: %d)", kRtcMarkerFile, errno);
    }
    if (s32_Fd >= 0) {
        close(s32_Fd);
    }
}

void mv_Clock_SetRtc(const char (&acn_Date)[XLOCD_DATE_TEXT_SIZE]) {
    // Non-blocking, so that an RTC_path naming a FIFO cannot hold the loop in open.
    const int s32_Fd = open(gt_Settings.acn_RtcPath, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (s32_Fd <= 0) {
        v_Log_Printf("mv_SetSystemTime: Setting RTC from GPS FAILED! (could not open %s)",
                     gt_Settings.acn_RtcPath);
        if (s32_Fd == 0) {
            close(s32_Fd); // descriptor 0 counts as failure, but is not leaked
        }
        return;
    }
    rtc_time t_Rtc = t_Clock_RtcRecord(acn_Date);
    if (ioctl(s32_Fd, RTC_SET_TIME, &t_Rtc) == -1) {
        v_Log_Printf("mv_SetSystemTime: Setting RTC from GPS to: %s FAILED (errno: %d)", acn_Date,
                     errno);
    } else {
        char acn_Text[64];
        std::snprintf(acn_Text, sizeof acn_Text, "Setting RTC from GPS to: %s", acn_Date);
        s32_Log_Write(acn_Text);
        mv_Clock_MarkRtcUpdate(acn_Text);
    }
    close(s32_Fd);
}

// clock_min_fixes and clock_not_before; each kind of refusal is logged once per start.
bool mb_Clock_Refused() {
    static bool ab_Logged[3];
    const ClockRefusal e_Refusal = e_ClockGuard_Check(
        gt_ClockGuard, gt_Settings.s32_MinFixes, gt_Settings.s64_NotBefore, t_FixState().f64_Time);
    bool& b_Logged = ab_Logged[static_cast<int>(e_Refusal)];
    if (e_Refusal == ClockRefusal::TooFewFixes && !b_Logged) {
        v_Log_Printf("Clock not set from GPS: waiting for %d consistent fixes",
                     gt_Settings.s32_MinFixes);
    } else if (e_Refusal == ClockRefusal::BeforeDate && !b_Logged) {
        s32_Log_Write("Clock not set from GPS: the fix time is before clock_not_before");
    }
    b_Logged = true;
    return e_Refusal != ClockRefusal::None;
}

void mv_Clock_TrySync() {
    if (mb_Clock_Refused()) {
        return; // still pending: the next valid pass tries again
    }
    const bool b_SetRtc = gt_Settings.b_SetRtc && gt_Settings.acn_RtcPath[0] != '\0';
    char acn_Date[XLOCD_DATE_TEXT_SIZE];
    if (e_Clock_DateText(t_FixState().f64_Time, acn_Date) != ClockGate::Go) {
        return; // still pending: the next valid pass tries again
    }
    if (gt_Settings.b_SetSystemTime && std::time(nullptr) <= kLastSecondOf2009) {
        mv_Clock_SetSystemClock(acn_Date);
    }
    if (b_SetRtc) {
        mv_Clock_SetRtc(acn_Date);
    }
    s32_SyncPending = 0; // also after a failure: no retry before the interval
    if (gt_Settings.s32_RtcInterval > 0) {
        s64_NextSyncTime = s64_Timebase_Wall() + gt_Settings.s32_RtcInterval;
    }
}

bool mb_Clock_AnyOn() {
    return gt_Settings.b_SetSystemTime || gt_Settings.b_SetRtc;
}

void mv_SetSystemTime() {
    gb_Rearmed = false;
    if (mb_Clock_AnyOn() && s32_SyncPending == 1) {
        mv_Clock_TrySync();
    }
    if (gt_Settings.s32_RtcInterval > 0 && s64_Timebase_Wall() > s64_NextSyncTime) {
        gb_Rearmed = s32_SyncPending == 0 && mb_Clock_AnyOn();
        s32_SyncPending = 1;
    }
}

} // namespace

void v_ClockSync_Start(const T_ClockSettings& t_Settings) {
    gt_Settings = t_Settings;
}

void v_ClockSync_Observe(bool b_Position, bool b_Fix, double f64_FixTime) {
    v_ClockGuard_Fold(&gt_ClockGuard, b_Position, b_Fix, f64_FixTime);
}

void v_ClockSync_Pass(bool b_Step) {
    gb_Stepped = b_Step;
    if (b_Step) {
        mv_SetSystemTime();
    }
}

void v_ClockSync_Deadlines(T_Deadlines* pt_Next) {
    if (!gb_Stepped) {
        return;
    }
    pt_Next->v_Now(gb_Rearmed);
    if (gt_Settings.s32_RtcInterval > 0 && s32_SyncPending == 0) {
        pt_Next->v_Wall(s64_NextSyncTime + 1); // "later than" the sync time, in whole seconds
    }
}

void v_ClockSync_ClockSetBack(std::int64_t s64_Seconds) {
    s64_NextSyncTime -= s64_Seconds;
}
