// The shutdown sequence: CancelWatchdog, GOODBYE, the log closed, gpsd closed, exit.
#pragma once

// Exit status 0, as designed for a stop signal and for a failed registration or HELLO.
[[noreturn]] void mv_Shutdown();

// The same sequence ending with another status (exit_on_bus_loss: 1, so that the
// service manager starts the daemon again).
[[noreturn]] void v_Shutdown_WithStatus(int s32_Status);

// exit_on_bus_loss: a bus that closed our connection, or took nothing for the key's
// seconds, ends the daemon with status 1 and a line saying why. Returns otherwise.
void v_Shutdown_IfBusLost();
