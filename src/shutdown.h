// The shutdown sequence: CancelWatchdog, GOODBYE, the log closed, gpsd closed, exit 0.
#pragma once

[[noreturn]] void mv_Shutdown();
