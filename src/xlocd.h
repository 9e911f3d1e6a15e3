// What truly spans the daemon: its configuration, its bus client record and the name
// it was invoked by. Each is written at start-up only (the bus record also by the
// library's registration); every other piece of state lives in its own module.
#pragma once

#include "config.h"
#include "orb_client.h"
#include "xlocd_version.h"

constexpr const char* XLOCD_NAME = "xlocd";

extern T_Config gt_Config;
extern T_DBUS_Client gt_Client;
extern const char* gpc_ProgramName;
