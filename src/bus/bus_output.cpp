#include "bus/bus_output.h"

#include "dbus/owners.hpp"
#include "log.h"

#include <poll.h>

#include <ctime>

namespace {

// One stall episode; under attack the bus lets a little through now and then, so an
// episode ends only after kEpisodeGap seconds without a stall.
struct T_StallWatch {
    static constexpr double kEpisodeGap = 10.0;

    long s64_Queued = 0;         // bytes waiting for the bus at the last look; 0: none
    double f64_LastProgress = 0; // CLOCK_BOOTTIME seconds it last shrank or was empty
    double f64_LastStall = -1e9; // ... the output was last seen stalled
};
T_StallWatch gt_Watch;

long ms64_Ms(const timespec& t_From, const timespec& t_To) {
    return (t_To.tv_sec - t_From.tv_sec) * 1000 + (t_To.tv_nsec - t_From.tv_nsec) / 1000000;
}

bool mb_Writable(DBusConnection* pt_Connection) {
    int s32_Fd = -1;
    if (!dbus_connection_get_socket(pt_Connection, &s32_Fd)) {
        return false;
    }
    pollfd t_Poll{s32_Fd, POLLOUT, 0};
    return poll(&t_Poll, 1, 0) == 1 && (t_Poll.revents & POLLOUT) != 0;
}

// True when libdbus holds nothing for the bus after one write that does not wait: a
// message still waiting from an earlier send means the bus is not reading.
bool mb_QueueClear(DBusConnection* pt_Connection) {
    if (dbus_connection_has_messages_to_send(pt_Connection)) {
        dbus_connection_read_write(pt_Connection, 0);
    }
    return !dbus_connection_has_messages_to_send(pt_Connection);
}

} // namespace

bool b_BusOutput_Clear(DBusConnection* pt_Connection) {
    if (orb::b_Dead(pt_Connection)) {
        return true; // the library gives its no-connection codes, without a flush
    }
    // A unix socket polls writable while at most a quarter of its send buffer is in
    // use: any of our messages (a few KiB at most) then fits whole.
    return mb_QueueClear(pt_Connection) && mb_Writable(pt_Connection);
}

void v_BusOutput_Flush(DBusConnection* pt_Connection) {
    timespec t_Start{};
    clock_gettime(CLOCK_MONOTONIC, &t_Start);
    while (!orb::b_Dead(pt_Connection) && dbus_connection_has_messages_to_send(pt_Connection)) {
        timespec t_Now{};
        clock_gettime(CLOCK_MONOTONIC, &t_Now);
        const long s64_Spent = ms64_Ms(t_Start, t_Now);
        if (s64_Spent >= kSendBoundMs ||
            !dbus_connection_read_write(pt_Connection,
                                        static_cast<int>(kSendBoundMs - s64_Spent))) {
            return; // what stays queued holds back the next send
        }
    }
}

SendResult e_BusOutput_Send(DBusConnection* pt_Connection, DBusMessage* pt_Message) {
    if (orb::b_Dead(pt_Connection)) {
        return SendResult::Refused;
    }
    if (!mb_QueueClear(pt_Connection)) {
        return SendResult::Dropped;
    }
    if (!dbus_connection_send(pt_Connection, pt_Message, nullptr)) {
        return SendResult::Refused;
    }
    v_BusOutput_Flush(pt_Connection);
    return orb::b_Dead(pt_Connection) ? SendResult::Refused : SendResult::Sent; // found closed
}

void v_BusOutput_Watch(DBusConnection* pt_Connection, double f64_Now) {
    const bool b_Waiting =
        !orb::b_Dead(pt_Connection) && dbus_connection_has_messages_to_send(pt_Connection);
    // Nothing new is queued behind a stalled message, so a queue that does not shrink
    // is a bus that takes nothing.
    const long s64_Queued = b_Waiting ? dbus_connection_get_outgoing_size(pt_Connection) : 0;
    if (s64_Queued == 0 || s64_Queued < gt_Watch.s64_Queued) {
        gt_Watch.f64_LastProgress = f64_Now;
    }
    gt_Watch.s64_Queued = s64_Queued;
    if (s64_Queued > 0) {
        if (f64_Now - gt_Watch.f64_LastStall > T_StallWatch::kEpisodeGap) {
            s32_Log_Write("The bus takes no messages from xlocd: sends are dropped until it does");
        }
        gt_Watch.f64_LastStall = f64_Now;
    }
}

bool b_BusOutput_Stalled() {
    return gt_Watch.s64_Queued > 0;
}

double f64_BusOutput_LastProgress() {
    return gt_Watch.f64_LastProgress;
}
