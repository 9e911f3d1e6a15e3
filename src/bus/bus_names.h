// Where xlocd serves: its short name, bus name and interface, and object path.
#pragma once

constexpr const char* XLOCD_NAME = "xlocd";
constexpr const char* kXlocdBusName = "zel.orb.xlocd"; // also the interface
constexpr const char* kXlocdPath = "/zel/orb/xlocd/Object";
