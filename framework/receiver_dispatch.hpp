// The receiver's dispatch of one message, apart from the queue, for the fuzzer, which
// links the library's objects; the shipped libraries keep it to themselves.
#pragma once

#include <dbus/dbus.h>

namespace orb {

// Runs the dispatch rules and the installed callback; false for a malformed event.
bool b_DispatchEvent(DBusMessage* pt_Message);

} // namespace orb
