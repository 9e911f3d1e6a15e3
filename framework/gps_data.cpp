// Client side of GetGPSData: fills T_DBUS_GPS_Data from the daemon's reply.
#include "bus_messages.hpp"
#include "dbus/gps_data_fields.hpp"
#include "orb_client.h"

namespace {

constexpr orb::CallTarget kGetGpsData = {"zel.orb.xlocd", "/zel/orb/xlocd/Object", "zel.orb.xlocd",
                                         "GetGPSData"};

// An error reply: -7 nobody owns the name, -9 no answer in time, -8 any other.
std::int32_t ms32_DBUS_ErrorCode(DBusMessage* pt_Reply) noexcept {
    if (dbus_message_is_error(pt_Reply, DBUS_ERROR_SERVICE_UNKNOWN) ||
        dbus_message_is_error(pt_Reply, DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        return -7;
    }
    return dbus_message_is_error(pt_Reply, DBUS_ERROR_NO_REPLY) ? -9 : -8;
}

} // namespace

extern "C" int32_t s32_DBUS_GetGPSData(T_DBUS_Client* pt_Client, T_DBUS_GPS_Data* pt_Data,
                                       int32_t s32_TimeoutMs) {
    if (pt_Client == nullptr || pt_Data == nullptr) {
        return -5;
    }
    if (orb::b_Dead(pt_Client->pt_Connection)) {
        return -1;
    }
    const orb::CallResult t_Result =
        orb::t_CallBlocking(pt_Client->pt_Connection, kGetGpsData, orb::b_NoArguments,
                            s32_TimeoutMs < 0 ? DBUS_TIMEOUT_USE_DEFAULT : s32_TimeoutMs);
    switch (t_Result.e_Stage) {
    case orb::CallStage::NotBuilt:
    case orb::CallStage::NotHandedOver:
    case orb::CallStage::NoPending:
        return -1;
    case orb::CallStage::NoReply:
        return -9;
    case orb::CallStage::Replied:
        break;
    }
    if (dbus_message_get_type(t_Result.pt_Reply.get()) == DBUS_MESSAGE_TYPE_ERROR) {
        return ms32_DBUS_ErrorCode(t_Result.pt_Reply.get());
    }
    return orb::b_FillGpsData(t_Result.pt_Reply.get(), pt_Data) ? 0 : -6;
}
