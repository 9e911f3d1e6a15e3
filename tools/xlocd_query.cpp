// xlocd-query: asks xlocd for its GPS data on the system bus and prints it.
#include "dbus_owners.hpp"
#include "gps_data_fields.hpp"
#include "orb_client.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int kMaxWatchSeconds = 86400; // a day
constexpr int kMaxTimeoutMs = 600000;   // ten minutes

struct Options {
    bool b_Json = false;
    bool b_Follow = false;
    int s32_WatchSeconds = 0;
    int s32_TimeoutMs = 2000;
};

volatile std::sig_atomic_t gb_Stop = 0;
void v_Stop(int) {
    gb_Stop = 1;
}

void v_Usage(FILE* pt_Out) {
    std::fputs("Usage: xlocd-query [--json] [--watch SECONDS | --follow] [--timeout MS]\n"
               "Prints xlocd's GetGPSData fields from the system bus; --follow prints them,\n"
               "then each GPSData signal as it arrives (gps_data_signal=1 in xlocd).\n"
               "Exit status: 0 answered, 1 xlocd not running, 2 no answer in time,\n"
               "3 no system bus or another error, 4 xlocd sends no signals, 64 usage.\n",
               pt_Out);
}

// A whole decimal number within [s32_Min, s32_Max]; anything else is refused with a
// message naming the option.
bool b_ParseNumber(const char* pc_Option, const char* pc_Text, int s32_Min, int s32_Max,
                   int* ps32_Value) {
    char* pc_End = nullptr;
    errno = 0;
    const long s64_Value = std::strtol(pc_Text, &pc_End, 10);
    if (errno != 0 || pc_End == pc_Text || *pc_End != '\0' || s64_Value < s32_Min ||
        s64_Value > s32_Max) {
        std::fprintf(stderr, "xlocd-query: %s takes a whole number from %d to %d, not '%s'\n",
                     pc_Option, s32_Min, s32_Max, pc_Text);
        return false;
    }
    *ps32_Value = static_cast<int>(s64_Value);
    return true;
}

bool b_ParseOptions(int argc, char** argv, Options* pt_Options) {
    for (int i = 1; i < argc; ++i) {
        const bool b_HasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--json")) {
            pt_Options->b_Json = true;
        } else if (!std::strcmp(argv[i], "--follow")) {
            pt_Options->b_Follow = true;
        } else if (!std::strcmp(argv[i], "--watch") && b_HasValue) {
            if (!b_ParseNumber("--watch", argv[++i], 0, kMaxWatchSeconds,
                               &pt_Options->s32_WatchSeconds)) {
                return false;
            }
        } else if (!std::strcmp(argv[i], "--timeout") && b_HasValue) {
            if (!b_ParseNumber("--timeout", argv[++i], 1, kMaxTimeoutMs,
                               &pt_Options->s32_TimeoutMs)) {
                return false;
            }
        } else {
            v_Usage(stderr);
            return false;
        }
    }
    return true;
}

void v_PrintJsonText(const char* pc_Text) {
    std::putchar('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pc_Text); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            std::printf("\\%c", *p);
        } else if (*p < 0x20) {
            std::printf("\\u%04x", *p);
        } else {
            std::putchar(*p);
        }
    }
    std::putchar('"');
}

void v_Print(const T_DBUS_GPS_Data& t_Data, bool b_Json) {
    const auto at_Fields = orb::at_GpsDataFields(t_Data);
    for (std::size_t i = 0; i < at_Fields.size(); ++i) {
        if (b_Json) {
            std::printf(i == 0 ? "{\"%s\":" : ",\"%s\":", orb::kGpsDataNames[i] + 4);
            v_PrintJsonText(at_Fields[i]);
        } else {
            std::printf("%-11s %s\n", orb::kGpsDataNames[i] + 4, at_Fields[i]);
        }
    }
    std::puts(b_Json ? "}" : "");
    std::fflush(stdout);
}

int s32_Report(int32_t s32_Result, int s32_TimeoutMs) {
    switch (s32_Result) {
    case -7:
        std::fputs(
            "xlocd-query: xlocd is not running (zel.orb.xlocd has no owner on the system bus)\n",
            stderr);
        return 1;
    case -9:
        std::fprintf(stderr, "xlocd-query: xlocd did not answer within %d ms\n", s32_TimeoutMs);
        return 2;
    default:
        std::fprintf(stderr, "xlocd-query: GetGPSData failed (%d)\n", s32_Result);
        return 3;
    }
}

bool b_SameFields(const T_DBUS_GPS_Data& t_A, const T_DBUS_GPS_Data& t_B) {
    const auto at_A = orb::at_GpsDataFields(t_A);
    const auto at_B = orb::at_GpsDataFields(t_B);
    return std::equal(at_A.begin(), at_A.end(), at_B.begin(),
                      [](const char* pc_A, const char* pc_B) { return !std::strcmp(pc_A, pc_B); });
}

// --follow: the fields, then each GPSData signal as it arrives. Every 2 s without a
// signal the fields are asked for; when they changed and no signal follows within a
// second, xlocd does not send the signal, and that is said instead of waiting for ever.
int s32_Follow(T_DBUS_Client* pt_Client, const Options& t_Options) {
    DBusConnection* pt_Connection = pt_Client->pt_Connection;
    dbus_bus_add_match(pt_Connection,
                       "type='signal',sender='zel.orb.xlocd',interface='zel.orb.xlocd',"
                       "member='GPSData'",
                       nullptr);
    T_DBUS_GPS_Data t_Shown{};
    const int32_t s32_Result = s32_DBUS_GetGPSData(pt_Client, &t_Shown, t_Options.s32_TimeoutMs);
    if (s32_Result != 0) {
        return s32_Report(s32_Result, t_Options.s32_TimeoutMs);
    }
    v_Print(t_Shown, t_Options.b_Json);
    int s32_Quiet = 0;    // tenths of a second since the last signal
    int s32_Suspect = -1; // tenths left for a signal after the fields changed without one
    while (!gb_Stop && s32_Suspect != 0) {
        dbus_connection_read_write(pt_Connection, 100);
        ++s32_Quiet;
        s32_Suspect -= s32_Suspect > 0 ? 1 : 0;
        while (orb::Message pt_Message{dbus_connection_pop_message(pt_Connection)}) {
            if (dbus_message_is_signal(pt_Message.get(), orb::kXlocdName, "GPSData") &&
                orb::b_FillGpsData(pt_Message.get(), &t_Shown)) {
                v_Print(t_Shown, t_Options.b_Json);
                s32_Quiet = 0;
                s32_Suspect = -1;
            }
        }
        T_DBUS_GPS_Data t_Now{};
        if (s32_Quiet > 0 && s32_Quiet % 20 == 0 && s32_Suspect < 0 &&
            s32_DBUS_GetGPSData(pt_Client, &t_Now, t_Options.s32_TimeoutMs) == 0 &&
            !b_SameFields(t_Now, t_Shown)) {
            s32_Suspect = 10;
        }
    }
    if (s32_Suspect == 0) {
        std::fputs("xlocd-query: xlocd sends no GPSData signal: its fields changed without one "
                   "(set gps_data_signal=1 in its configuration, or use --watch)\n",
                   stderr);
        return 4;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options t_Options;
    if (!b_ParseOptions(argc, argv, &t_Options)) {
        return 64;
    }
    orb::Error t_Error;
    T_DBUS_Client t_Client{};
    t_Client.pt_Connection = dbus_bus_get(DBUS_BUS_SYSTEM, t_Error.get());
    if (t_Client.pt_Connection == nullptr) {
        std::fputs("xlocd-query: cannot connect to the system bus\n", stderr);
        return 3;
    }
    std::signal(SIGINT, v_Stop);
    std::signal(SIGTERM, v_Stop);
    if (t_Options.b_Follow) {
        const int s32_Status = s32_Follow(&t_Client, t_Options);
        dbus_connection_unref(t_Client.pt_Connection);
        return s32_Status;
    }
    int s32_Status = 0;
    do {
        T_DBUS_GPS_Data t_Data{};
        const int32_t s32_Result = s32_DBUS_GetGPSData(&t_Client, &t_Data, t_Options.s32_TimeoutMs);
        if (s32_Result != 0) {
            s32_Status = s32_Report(s32_Result, t_Options.s32_TimeoutMs);
            if (t_Options.s32_WatchSeconds == 0) {
                break;
            }
        } else {
            s32_Status = 0;
            v_Print(t_Data, t_Options.b_Json);
        }
        for (int i = 0; i < t_Options.s32_WatchSeconds * 10 && !gb_Stop; ++i) {
            usleep(100000);
        }
    } while (t_Options.s32_WatchSeconds > 0 && !gb_Stop);
    dbus_connection_unref(t_Client.pt_Connection);
    return s32_Status;
}
