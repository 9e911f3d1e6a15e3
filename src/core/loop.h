// The daemon's one loop: watchdog, gpsd, clock, one bus message, the quit flag; then
// one wait until the next event or deadline.
#pragma once

// Binds SIGINT and SIGTERM to the quit handler, which also wakes the loop's wait.
void v_Loop_InstallStopSignals();

[[noreturn]] void v_MainLoop();
