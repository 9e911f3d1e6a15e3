// The shutdown sequence: CancelWatchdog, GOODBYE, the log closed, gpsd closed, exit.
#pragma once

// Ends with s32_Status: 0 for a stop signal and for a failed registration or HELLO,
// as designed.
[[noreturn]] void v_Shutdown_Exit(int s32_Status);

// exit_on_bus_loss: logs why and ends with status 1, so that the service manager
// starts the daemon again.
[[noreturn]] void v_Shutdown_Lost(const char* pc_Why);
