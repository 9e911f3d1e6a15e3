// GetGPSData: the method return with the twelve texts of the fix state.
#pragma once

#include <dbus/dbus.h>

// Answers the call (the design's ms32_Process_GetData, whose result nobody reads).
void v_Reply_Answer(DBusConnection* pt_Connection, DBusMessage* pt_Request);
