// GetGPSData: the method return with the twelve texts of the fix state.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>

// 1 when the reply went out, -1 otherwise (one log line for a failed append or send).
std::int32_t ms32_Process_GetData(DBusMessage* pt_Request);
