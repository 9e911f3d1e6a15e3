#include "bus_service.h"

#include "dbus_owners.hpp"
#include "gps_data_fields.hpp"
#include "hello_pace.h"
#include "introspection.h"
#include "log.h"
#include "reply.h"
#include "timebase.h"
#include "xlocd.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace {

bool gb_OutputStalled;        // the bus has not taken our last message within the bound
double gf64_LastStall = -1e9; // CLOCK_BOOTTIME seconds the output was last seen stalled
double gf64_LastProgress;     // ... the bus last took something, or nothing waited
long gs64_Queued;             // bytes waiting for the bus at the last look
T_HelloPace gt_HelloPace;
bool gb_QuestionsPaused; // the rule for WhoIsThere is off while a HELLO is owed

constexpr const char* kQuestionRule =
    "type='signal',interface='zel.orb.broadcast',member='WhoIsThere'";

void mv_BusService_Identity() {
    std::snprintf(gt_Client.acn_Name, sizeof gt_Client.acn_Name, "%s", XLOCD_NAME);
    std::snprintf(gt_Client.acn_Version, sizeof gt_Client.acn_Version, "%s", XLOCD_VERSION);
    std::snprintf(gt_Client.acn_Info, sizeof gt_Client.acn_Info, "unknown");
    std::snprintf(gt_Client.acn_Description, sizeof gt_Client.acn_Description,
                  "daemon provides GPS information on request");
}

// No error object: the bus's answers are not awaited. It refuses the last rule
// ("method" is no message type); that error arrives later and is released unread.
// The broadcast rule takes WhoIsThere only, a difference from the design's rule for
// every broadcast: the daemon would release the others unread, its own HELLOs among
// them, and a bus that queues them for a slow reader can count them against it.
void mv_BusService_AddMatches() {
    for (const char* pc_Rule : {kQuestionRule, "type='signal',interface='zel.orb.xlocd'",
                                "type='method',interface='zel.orb.xlocd'"}) {
        dbus_bus_add_match(gt_Client.pt_Connection, pc_Rule, nullptr);
        orb::b_FlushBounded(gt_Client.pt_Connection, orb::t_SendStart());
    }
}

// Sends wait at most a bound for the bus and are dropped while it takes nothing of
// ours (a subscriber that never reads can pin our messages until the bus stops
// reading us). One log line per episode; under attack the bus lets a little through
// now and then, so an episode ends only after kEpisodeGap seconds without a stall.
void mv_BusService_WatchOutput(double f64_Now) {
    constexpr double kEpisodeGap = 10.0;
    DBusConnection* pt_Connection = gt_Client.pt_Connection;
    gb_OutputStalled =
        !orb::b_Dead(pt_Connection) && dbus_connection_has_messages_to_send(pt_Connection);
    // Nothing new is queued behind a stalled message, so a queue that does not shrink
    // is a bus that takes nothing.
    const long s64_Queued = gb_OutputStalled ? dbus_connection_get_outgoing_size(pt_Connection) : 0;
    if (s64_Queued == 0 || s64_Queued < gs64_Queued) {
        gf64_LastProgress = f64_Now;
    }
    gs64_Queued = s64_Queued;
    if (gb_OutputStalled) {
        if (f64_Now - gf64_LastStall > kEpisodeGap) {
            s32_Log_Write("The bus takes no messages from xlocd: sends are dropped until it does");
        }
        gf64_LastStall = f64_Now;
    }
}

// GetGPSData on another interface reaches the daemon under the shipped policy, which
// cannot admit the call without an interface otherwise: it is answered at once, so that
// no admitted call waits for its timeout.
void mv_BusService_RefuseInterface(DBusMessage* pt_Call) {
    if (dbus_message_get_no_reply(pt_Call)) {
        return;
    }
    orb::Message pt_Error(
        dbus_message_new_error(pt_Call, DBUS_ERROR_UNKNOWN_INTERFACE, "no such interface"));
    if (pt_Error) {
        orb::e_SendBounded(gt_Client.pt_Connection, pt_Error.get());
    }
}

// While a HELLO is owed the daemon takes no WhoIsThere: it drops its rule for them, so
// that a flood costs the bus nothing to route to it and the daemon nothing to read (a
// bus that charges a reader for its queue, as dbus-broker does, disconnects one that
// falls behind). The rule comes back before the owed HELLO goes out, in order on the
// one connection, so every question the bus took meanwhile is answered by that HELLO.
void mv_BusService_WantQuestions(bool b_Wanted) {
    if (b_Wanted != gb_QuestionsPaused) {
        return;
    }
    if (b_Wanted) {
        dbus_bus_add_match(gt_Client.pt_Connection, kQuestionRule, nullptr);
    } else {
        dbus_bus_remove_match(gt_Client.pt_Connection, kQuestionRule, nullptr);
    }
    gb_QuestionsPaused = !b_Wanted;
}

void mv_BusService_Serve(DBusMessage* pt_Message, double f64_Now) {
    if (dbus_message_is_signal(pt_Message, "zel.orb.broadcast", "WhoIsThere")) {
        if (b_HelloPace_Ask(&gt_HelloPace, f64_Now)) {
            s32_DBUS_SendHello(&gt_Client);
        } else {
            mv_BusService_WantQuestions(false); // the owed HELLO answers what comes meanwhile
        }
    } else if (dbus_message_is_method_call(pt_Message, orb::kXlocdName, "GetGPSData")) {
        ms32_Process_GetData(pt_Message);
    } else if (gt_Config.s32_Introspection > 0) {
        b_Introspection_Answer(pt_Message);
    } else if (dbus_message_get_type(pt_Message) == DBUS_MESSAGE_TYPE_METHOD_CALL &&
               dbus_message_has_member(pt_Message, "GetGPSData")) {
        mv_BusService_RefuseInterface(pt_Message); // on another interface: see above
    }
    // Everything else is released unanswered.
}

} // namespace

std::int32_t s32_BusService_Start() {
    mv_BusService_Identity();
    if (s32_DBUS_Register(&gt_Client) != 0) {
        std::fputs("Register xlocd on DBUS failed", stderr);
        s32_Log_Write("Register xlocd on DBUS failed");
        return -1;
    }
    // A lost bus is not a reason to exit; the loop goes on serving gpsd and signals.
    dbus_connection_set_exit_on_disconnect(gt_Client.pt_Connection, FALSE);
    if (s32_DBUS_SendHello(&gt_Client) != 0) {
        s32_Log_Write("Send Hello signal failed");
        return -1;
    }
    mv_BusService_AddMatches();
    return 0;
}

void v_BusService_LimitReading(bool b_Limit) {
    // The loop takes one message per pass: a flood (WhoIsThere) waits in the bus, which
    // has limits for it, rather than in our memory.
    constexpr long kLoopBytes = 64L * 1024;
    constexpr long kBlockingBytes = 64L * 1024 * 1024; // libdbus's own default
    if (gt_Client.pt_Connection != nullptr) {
        dbus_connection_set_max_received_size(gt_Client.pt_Connection,
                                              b_Limit ? kLoopBytes : kBlockingBytes);
    }
}

void v_BusService_Pass(double f64_Now) {
    DBusConnection* pt_Connection = gt_Client.pt_Connection;
    // While libdbus already holds messages, every send has written what it could:
    // a burst is served back to back, one message per pass, and the socket is read
    // again once the queue is empty.
    if (!b_BusService_Due()) {
        dbus_connection_read_write(pt_Connection, 0);
    }
    if (orb::Message pt_Message{dbus_connection_pop_message(pt_Connection)}) {
        mv_BusService_Serve(pt_Message.get(), f64_Now);
    }
    if (b_HelloPace_Take(&gt_HelloPace, f64_Now)) {
        mv_BusService_WantQuestions(true);
        s32_DBUS_SendHello(&gt_Client);
    }
    mv_BusService_WatchOutput(f64_Now);
}

double f64_BusService_NextDue() {
    const double f64_Muted = gt_Config.s32_ExitOnBusLoss > 0 && gb_OutputStalled
                                 ? gf64_LastProgress + gt_Config.s32_ExitOnBusLoss
                                 : INFINITY;
    return std::fmin(f64_HelloPace_Due(gt_HelloPace), f64_Muted);
}

const char* pc_BusService_Lost(double f64_Now) {
    if (gt_Config.s32_ExitOnBusLoss <= 0 || gt_Client.pt_Connection == nullptr) {
        return nullptr; // as designed: off the bus, alive, stoppable; or never on it
    }
    if (!dbus_connection_get_is_connected(gt_Client.pt_Connection)) {
        return "Lost the system bus: xlocd ends for its service manager to start it again";
    }
    if (gb_OutputStalled && f64_Now - gf64_LastProgress >= gt_Config.s32_ExitOnBusLoss) {
        return "The bus takes nothing from xlocd: xlocd ends for its service manager to start "
               "it again";
    }
    return nullptr;
}

bool b_BusService_Due() {
    return dbus_connection_get_dispatch_status(gt_Client.pt_Connection) ==
           DBUS_DISPATCH_DATA_REMAINS;
}

pollfd t_BusService_Wait() {
    int s32_Fd = -1;
    if (!dbus_connection_get_unix_fd(gt_Client.pt_Connection, &s32_Fd)) {
        return pollfd{-1, 0, 0};
    }
    const short s16_Out = gb_OutputStalled ? POLLOUT : 0; // what waits goes once it can
    return pollfd{s32_Fd, static_cast<short>(POLLIN | s16_Out), 0};
}

void v_BusService_Goodbye() {
    s32_DBUS_SendGoodbye(&gt_Client);
}
