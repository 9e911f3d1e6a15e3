#include "bus/bus_service.h"

#include "bus/bus_link.h"
#include "bus/bus_names.h"
#include "bus/bus_output.h"
#include "bus/hello_pace.h"
#include "bus/introspection.h"
#include "bus/reply.h"
#include "core/timebase.h"
#include "dbus/owners.hpp"

#include <initializer_list>

namespace {

T_BusSettings gt_Settings;
T_HelloPace gt_HelloPace; // while a HELLO is owed, the rule for WhoIsThere is off

constexpr const char* kQuestionRule =
    "type='signal',interface='zel.orb.broadcast',member='WhoIsThere'";

// No error object: the bus's answers are not awaited. It refuses the last rule
// ("method" is no message type); that error arrives later and is released unread.
// The broadcast rule takes WhoIsThere only, a difference from the design's rule for
// every broadcast: the daemon would release the others unread, its own HELLOs among
// them, and a bus that queues them for a slow reader can count them against it.
void mv_Service_AddMatches() {
    for (const char* pc_Rule : {kQuestionRule, "type='signal',interface='zel.orb.xlocd'",
                                "type='method',interface='zel.orb.xlocd'"}) {
        dbus_bus_add_match(pt_BusLink_Connection(), pc_Rule, nullptr);
        v_BusOutput_Flush(pt_BusLink_Connection());
    }
}

// GetGPSData on another interface reaches the daemon under the shipped policy, which
// cannot admit the call without an interface otherwise: it is answered at once, so that
// no admitted call waits for its timeout.
void mv_Service_RefuseInterface(DBusMessage* pt_Call) {
    if (dbus_message_get_no_reply(pt_Call)) {
        return;
    }
    orb::Message pt_Error(
        dbus_message_new_error(pt_Call, DBUS_ERROR_UNKNOWN_INTERFACE, "no such interface"));
    if (pt_Error) {
        e_BusOutput_Send(pt_BusLink_Connection(), pt_Error.get());
    }
}

// While a HELLO is owed the daemon takes no WhoIsThere: it drops its rule for them, so
// that a flood costs the bus nothing to route to it and the daemon nothing to read (a
// bus that charges a reader for its queue, as dbus-broker does, disconnects one that
// falls behind). The rule comes back before the owed HELLO goes out, in order on the
// one connection, so every question the bus took meanwhile is answered by that HELLO.
void mv_Service_WantQuestions(bool b_Wanted) {
    if (b_Wanted) {
        dbus_bus_add_match(pt_BusLink_Connection(), kQuestionRule, nullptr);
    } else {
        dbus_bus_remove_match(pt_BusLink_Connection(), kQuestionRule, nullptr);
    }
}

void mv_Service_Serve(DBusMessage* pt_Message, double f64_Now) {
    if (dbus_message_is_signal(pt_Message, "zel.orb.broadcast", "WhoIsThere")) {
        const bool b_WasOwed = gt_HelloPace.b_Owed;
        if (b_HelloPace_Ask(&gt_HelloPace, f64_Now)) {
            v_BusLink_Hello();
        } else if (!b_WasOwed) {
            mv_Service_WantQuestions(false); // the owed HELLO answers what comes meanwhile
        }
    } else if (dbus_message_is_method_call(pt_Message, kXlocdBusName, "GetGPSData")) {
        v_Reply_Answer(pt_BusLink_Connection(), pt_Message);
    } else if (gt_Settings.b_Introspection) {
        b_Introspection_Answer(pt_BusLink_Connection(), pt_Message);
    } else if (dbus_message_get_type(pt_Message) == DBUS_MESSAGE_TYPE_METHOD_CALL &&
               dbus_message_has_member(pt_Message, "GetGPSData")) {
        mv_Service_RefuseInterface(pt_Message); // on another interface: see above
    }
    // Everything else is released unanswered.
}

bool mb_Service_MessageWaiting() {
    return dbus_connection_get_dispatch_status(pt_BusLink_Connection()) ==
           DBUS_DISPATCH_DATA_REMAINS;
}

} // namespace

BusStart e_BusService_Start(const T_BusSettings& t_Settings) {
    gt_Settings = t_Settings;
    if (e_BusLink_Start() != BusLinkStart::Ready) {
        return pc_BusService_Lost(f64_Timebase_Boot()) != nullptr ? BusStart::Lost
                                                                  : BusStart::Failed;
    }
    mv_Service_AddMatches();
    v_BusLink_LimitReading();
    return BusStart::Ready;
}

void v_BusService_Pass(double f64_Now) {
    DBusConnection* pt_Connection = pt_BusLink_Connection();
    // While libdbus already holds messages, every send has written what it could:
    // a burst is served back to back, one message per pass, and the socket is read
    // again once the queue is empty.
    if (!mb_Service_MessageWaiting()) {
        dbus_connection_read_write(pt_Connection, 0);
    }
    if (orb::Message pt_Message{dbus_connection_pop_message(pt_Connection)}) {
        mv_Service_Serve(pt_Message.get(), f64_Now);
    }
    if (b_HelloPace_Take(&gt_HelloPace, f64_Now)) {
        mv_Service_WantQuestions(true);
        v_BusLink_Hello();
    }
    v_BusOutput_Watch(pt_Connection, f64_Now);
}

void v_BusService_Deadlines(T_Deadlines* pt_Next) {
    pt_Next->v_Now(mb_Service_MessageWaiting());
    pt_Next->v_Boot(f64_HelloPace_Due(gt_HelloPace));
    if (gt_Settings.s32_ExitOnBusLoss > 0 && b_BusOutput_Stalled()) {
        pt_Next->v_Boot(f64_BusOutput_LastProgress() + gt_Settings.s32_ExitOnBusLoss);
    }
}

const char* pc_BusService_Lost(double f64_Now) {
    DBusConnection* pt_Connection = pt_BusLink_Connection();
    if (gt_Settings.s32_ExitOnBusLoss <= 0 || pt_Connection == nullptr) {
        return nullptr; // as designed: off the bus, alive, stoppable; or never on it
    }
    if (!dbus_connection_get_is_connected(pt_Connection)) {
        return "Lost the system bus: xlocd ends for its service manager to start it again";
    }
    if (b_BusOutput_Stalled() &&
        f64_Now - f64_BusOutput_LastProgress() >= gt_Settings.s32_ExitOnBusLoss) {
        return "The bus takes nothing from xlocd: xlocd ends for its service manager to start "
               "it again";
    }
    return nullptr;
}

pollfd t_BusService_Wait() {
    int s32_Fd = -1;
    if (!dbus_connection_get_unix_fd(pt_BusLink_Connection(), &s32_Fd)) {
        return pollfd{-1, 0, 0};
    }
    const short s16_Out = b_BusOutput_Stalled() ? POLLOUT : 0; // what waits goes once it can
    return pollfd{s32_Fd, static_cast<short>(POLLIN | s16_Out), 0};
}
