// Client side of GetGPSData: fills T_DBUS_GPS_Data from the daemon's reply.
#include "dbus_owners.hpp"
#include "gps_data_fields.hpp"
#include "orb_client.h"

extern "C" int32_t s32_DBUS_GetGPSData(T_DBUS_Client* pt_Client, T_DBUS_GPS_Data* pt_Data,
                                       int32_t s32_TimeoutMs) {
    if (pt_Client == nullptr || pt_Data == nullptr) {
        return -5;
    }
    if (orb::b_Dead(pt_Client->pt_Connection)) {
        return -1;
    }
    orb::Message pt_Call(dbus_message_new_method_call(orb::kXlocdName, orb::kXlocdPath,
                                                      orb::kXlocdName, "GetGPSData"));
    if (!pt_Call) {
        return -1;
    }
    orb::Error t_Error;
    orb::Message pt_Reply(dbus_connection_send_with_reply_and_block(
        pt_Client->pt_Connection, pt_Call.get(),
        s32_TimeoutMs < 0 ? DBUS_TIMEOUT_USE_DEFAULT : s32_TimeoutMs, t_Error.get()));
    if (!pt_Reply) { // an error reply arrives here as the error object
        if (dbus_error_has_name(t_Error.get(), DBUS_ERROR_SERVICE_UNKNOWN) ||
            dbus_error_has_name(t_Error.get(), DBUS_ERROR_NAME_HAS_NO_OWNER)) {
            return -7;
        }
        return dbus_error_has_name(t_Error.get(), DBUS_ERROR_NO_REPLY) ? -9 : -8;
    }
    if (!orb::b_FillGpsData(pt_Reply.get(), pt_Data)) {
        return -6;
    }
    return 0;
}
