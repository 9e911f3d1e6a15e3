// The receiver's dispatch of one message, apart from the queue, for the fuzzer.
#pragma once

#include <dbus/dbus.h>

// Runs the dispatch rules and the installed callback; false for a malformed event.
bool b_DBUS_DispatchEvent(DBusMessage* pt_Message);
