#include "bus/bus_link.h"

#include "bus/bus_names.h"
#include "bus/bus_output.h"
#include "core/xlocd_version.h"
#include "log.h"
#include "orb_client.h"

#include <cstdio>

namespace {

T_DBUS_Client gt_Client;
bool gb_Limited; // the loop's read limit is set

constexpr long kLoopBytes = 64L * 1024;
constexpr long kBlockingBytes = 64L * 1024 * 1024; // libdbus's own default

void mv_Link_SetLimit(long s64_Bytes) {
    if (gt_Client.pt_Connection != nullptr) {
        dbus_connection_set_max_received_size(gt_Client.pt_Connection, s64_Bytes);
    }
}

// A library call that sends: only while the output is clear; -1 when it was dropped.
std::int32_t ms32_Link_Send(std::int32_t (*pf_Operation)(T_DBUS_Client*)) {
    return b_BusOutput_Clear(gt_Client.pt_Connection) ? pf_Operation(&gt_Client) : -1;
}

// A library call that blocks for its reply, which must not wait behind the limit.
std::int32_t ms32_Link_Blocking(std::int32_t (*pf_Operation)(T_DBUS_Client*)) {
    mv_Link_SetLimit(kBlockingBytes);
    const std::int32_t s32_Result = ms32_Link_Send(pf_Operation);
    if (gb_Limited) {
        mv_Link_SetLimit(kLoopBytes);
    }
    return s32_Result;
}

void mv_Link_Identity() {
    std::snprintf(gt_Client.acn_Name, sizeof gt_Client.acn_Name, "%s", XLOCD_NAME);
    std::snprintf(gt_Client.acn_Version, sizeof gt_Client.acn_Version, "%s", XLOCD_VERSION);
    std::snprintf(gt_Client.acn_Info, sizeof gt_Client.acn_Info, "unknown");
    std::snprintf(gt_Client.acn_Description, sizeof gt_Client.acn_Description,
                  "daemon provides GPS information on request");
}

} // namespace

BusLinkStart e_BusLink_Start() {
    mv_Link_Identity();
    if (s32_DBUS_Register(&gt_Client) != 0) {
        std::fputs("Register xlocd on DBUS failed", stderr);
        s32_Log_Write("Register xlocd on DBUS failed");
        return BusLinkStart::RegisterFailed;
    }
    // A lost bus is not a reason to exit; the loop goes on serving gpsd and signals.
    dbus_connection_set_exit_on_disconnect(gt_Client.pt_Connection, FALSE);
    if (ms32_Link_Send(s32_DBUS_SendHello) != 0) {
        s32_Log_Write("Send Hello signal failed");
        return BusLinkStart::HelloFailed;
    }
    return BusLinkStart::Ready;
}

DBusConnection* pt_BusLink_Connection() {
    return gt_Client.pt_Connection;
}

void v_BusLink_LimitReading() {
    gb_Limited = true;
    mv_Link_SetLimit(kLoopBytes);
}

void v_BusLink_Hello() {
    ms32_Link_Send(s32_DBUS_SendHello);
}

void v_BusLink_Goodbye() {
    ms32_Link_Send(s32_DBUS_SendGoodbye);
}

bool b_BusLink_RegisterWatchdog(std::int32_t s32_Interval, const char* pc_Command) {
    gt_Client.s32_WatchdogInterval = s32_Interval;
    std::snprintf(gt_Client.acn_WatchdogCmd, sizeof gt_Client.acn_WatchdogCmd, "%s", pc_Command);
    return ms32_Link_Blocking(s32_DBUS_RegisterWatchdog) == 0;
}

void v_BusLink_TriggerWatchdog() {
    ms32_Link_Send(s32_DBUS_TriggerWatchdog);
}

void v_BusLink_CancelWatchdog() {
    ms32_Link_Blocking(s32_DBUS_CancelWatchdog);
}
