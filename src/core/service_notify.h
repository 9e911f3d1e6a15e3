// The service manager's notification protocol (sd_notify), used only while the manager
// set NOTIFY_SOCKET: ready once the daemon serves, alive on every half of
// WATCHDOG_USEC from the loop itself (so a loop that stops turning stops the pings),
// stopping when shutdown starts. Built without libsystemd, every call does nothing.
#pragma once

#include "core/deadlines.h"

// After HELLO, the match rules and the first gpsd attempt: the loop starts next. The
// first ping is due half a watchdog period after it (CLOCK_BOOTTIME seconds).
void v_Notify_Ready(double f64_Boot);

// A ping when one is due.
void v_Notify_Pass(double f64_Boot);
void v_Notify_Deadlines(T_Deadlines* pt_Next);

void v_Notify_Stopping();
