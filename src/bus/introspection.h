// introspection: Introspect at the object path and at its parents, and the Peer
// interface's Ping and GetMachineId, so that generic D-Bus tools can see the daemon.
#pragma once

#include <dbus/dbus.h>

// Answers a method call that reaches it, with an error where no method fits; true
// when a reply went out.
bool b_Introspection_Answer(DBusConnection* pt_Connection, DBusMessage* pt_Message);
