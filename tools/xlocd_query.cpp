// xlocd-query: asks xlocd for its GPS data on the system bus and prints it.
#include "dbus/gps_data_fields.hpp"
#include "dbus/owners.hpp"
#include "orb_client.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr const char* kXlocdName = "zel.orb.xlocd";

constexpr int kMaxWatchSeconds = 86400; // a day
constexpr int kMaxTimeoutMs = 600000;   // ten minutes

struct Options {
    bool b_Json = false;
    bool b_Follow = false;
    int s32_WatchSeconds = 0;
    int s32_TimeoutMs = 2000;
};

volatile std::sig_atomic_t gb_Printed = 0; // the fields went out at least once

// Ctrl-C and SIGTERM end the tool at once, also inside a blocking call: everything
// printed is flushed already. Status 0 once the fields were printed (--watch and
// --follow run until interrupted), else 128 + the signal.
void v_Stop(int s32_Signal) {
    _exit(gb_Printed ? 0 : 128 + s32_Signal);
}

void v_Usage(FILE* pt_Out) {
    std::fputs("Usage: xlocd-query [--json] [--watch SECONDS | --follow] [--timeout MS]\n"
               "Prints xlocd's GetGPSData fields from the system bus; --follow prints them,\n"
               "then each GPSData signal as it arrives (gps_data_signal=1 in xlocd).\n"
               "Exit status: 0 answered (also when interrupted after that, or when the\n"
               "reader of the output went away), 1 xlocd not running, 2 no answer in time,\n"
               "3 no system bus or another error, 4 xlocd sends no signals, 64 usage.\n",
               pt_Out);
}

// A whole decimal number within [s32_Min, s32_Max]; anything else is refused with a
// message naming the option.
bool b_ParseNumber(const char* pc_Option, const char* pc_Text, int s32_Min, int s32_Max,
                   int* ps32_Value) {
    // Digits only: strtol alone would take a blank, a sign or "-0".
    const std::size_t u32_Digits = std::strspn(pc_Text, "0123456789");
    char* pc_End = nullptr;
    errno = 0;
    const long s64_Value = std::strtol(pc_Text, &pc_End, 10);
    if (u32_Digits == 0 || pc_Text[u32_Digits] != '\0' || u32_Digits > 9 || s64_Value < s32_Min ||
        s64_Value > s32_Max) {
        std::fprintf(stderr, "xlocd-query: %s takes a whole number from %d to %d, not '%s'\n",
                     pc_Option, s32_Min, s32_Max, pc_Text);
        return false;
    }
    *ps32_Value = static_cast<int>(s64_Value);
    return true;
}

// Returns -1 to go on, else the exit status.
int s32_ParseOptions(int argc, char** argv, Options* pt_Options) {
    for (int i = 1; i < argc; ++i) {
        const bool b_HasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            v_Usage(stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--json")) {
            pt_Options->b_Json = true;
        } else if (!std::strcmp(argv[i], "--follow")) {
            pt_Options->b_Follow = true;
        } else if (!std::strcmp(argv[i], "--watch") && b_HasValue) {
            if (!b_ParseNumber("--watch", argv[++i], 0, kMaxWatchSeconds,
                               &pt_Options->s32_WatchSeconds)) {
                return 64;
            }
        } else if (!std::strcmp(argv[i], "--timeout") && b_HasValue) {
            if (!b_ParseNumber("--timeout", argv[++i], 1, kMaxTimeoutMs,
                               &pt_Options->s32_TimeoutMs)) {
                return 64;
            }
        } else {
            v_Usage(stderr);
            return 64;
        }
    }
    return -1;
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
    const char* pc_Separator = "{";
    for (const orb::GpsDataField& t_Field : orb::kGpsDataFields) {
        const char* pc_Key = t_Field.pc_Name + 4; // without "acn_"
        if (b_Json) {
            std::printf("%s\"%s\":", pc_Separator, pc_Key);
            v_PrintJsonText(t_Data.*t_Field.pt_Text);
            pc_Separator = ",";
        } else {
            std::printf("%-11s %s\n", pc_Key, t_Data.*t_Field.pt_Text);
        }
    }
    std::puts(b_Json ? "}" : "");
    if (std::fflush(stdout) != 0) {
        _exit(0); // the reader went away (SIGPIPE is ignored): nothing left to do
    }
    gb_Printed = 1;
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
    return std::all_of(orb::kGpsDataFields.begin(), orb::kGpsDataFields.end(),
                       [&](const orb::GpsDataField& t_Field) {
                           return std::strcmp(t_A.*t_Field.pt_Text, t_B.*t_Field.pt_Text) == 0;
                       });
}

// The unique name that owns zel.orb.xlocd now, or "" when none does.
void v_Owner(DBusConnection* pt_Connection, char (&acn_Owner)[256]) {
    acn_Owner[0] = '\0';
    orb::Message pt_Call(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                      DBUS_INTERFACE_DBUS, "GetNameOwner"));
    const char* pc_Name = kXlocdName;
    if (!pt_Call ||
        !dbus_message_append_args(pt_Call.get(), DBUS_TYPE_STRING, &pc_Name, DBUS_TYPE_INVALID)) {
        return;
    }
    orb::Error t_Error;
    orb::Message pt_Reply(dbus_connection_send_with_reply_and_block(pt_Connection, pt_Call.get(),
                                                                    2000, t_Error.get()));
    if (const char* pc_Owner = pt_Reply ? orb::pc_FirstString(pt_Reply.get()) : nullptr) {
        std::snprintf(acn_Owner, sizeof acn_Owner, "%s", pc_Owner);
    }
}

struct Follow {
    char acn_Owner[256]; // GPSData counts only from this sender: anyone can send to us
    T_DBUS_GPS_Data t_Shown;
    int s32_Quiet = 0;    // tenths of a second since the last signal or owner change
    int s32_Suspect = -1; // tenths left for a signal after the fields changed without one
};

// A new owner of the name (a restarted xlocd) sends no signal for its first texts:
// its fields are asked for anew, and only what follows is judged.
int s32_Follow_NewOwner(T_DBUS_Client* pt_Client, const Options& t_Options, Follow* pt_F) {
    v_Owner(pt_Client->pt_Connection, pt_F->acn_Owner);
    pt_F->s32_Quiet = 0;
    pt_F->s32_Suspect = -1;
    const int32_t s32_Result =
        s32_DBUS_GetGPSData(pt_Client, &pt_F->t_Shown, t_Options.s32_TimeoutMs);
    if (s32_Result == 0) {
        v_Print(pt_F->t_Shown, t_Options.b_Json);
    }
    return s32_Result;
}

// The bus's own word that zel.orb.xlocd has a new owner. Anyone may send a signal
// straight to the tool, so the sender and the name are checked, and only a real
// change of owner counts.
bool b_Follow_NewOwner(DBusMessage* pt_Message, const Follow& t_F) {
    const char* pc_Name = nullptr;
    const char* pc_Old = nullptr;
    const char* pc_New = nullptr;
    return dbus_message_is_signal(pt_Message, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
           dbus_message_has_sender(pt_Message, DBUS_SERVICE_DBUS) &&
           dbus_message_get_args(pt_Message, nullptr, DBUS_TYPE_STRING, &pc_Name, DBUS_TYPE_STRING,
                                 &pc_Old, DBUS_TYPE_STRING, &pc_New, DBUS_TYPE_INVALID) &&
           std::strcmp(pc_Name, kXlocdName) == 0 && std::strcmp(pc_New, t_F.acn_Owner) != 0;
}

void v_Follow_Take(DBusMessage* pt_Message, T_DBUS_Client* pt_Client, const Options& t_Options,
                   Follow* pt_F) {
    if (b_Follow_NewOwner(pt_Message, *pt_F)) {
        s32_Follow_NewOwner(pt_Client, t_Options, pt_F);
    } else if (const char* pc_Sender = dbus_message_get_sender(pt_Message);
               dbus_message_is_signal(pt_Message, kXlocdName, "GPSData") && pc_Sender != nullptr &&
               std::strcmp(pc_Sender, pt_F->acn_Owner) == 0 &&
               orb::b_FillGpsData(pt_Message, &pt_F->t_Shown)) {
        v_Print(pt_F->t_Shown, t_Options.b_Json);
        pt_F->s32_Quiet = 0;
        pt_F->s32_Suspect = -1;
    }
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
    dbus_bus_add_match(pt_Connection,
                       "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                       "arg0='zel.orb.xlocd'",
                       nullptr);
    Follow t_F;
    if (const int32_t s32_Result = s32_Follow_NewOwner(pt_Client, t_Options, &t_F);
        s32_Result != 0) {
        return s32_Report(s32_Result, t_Options.s32_TimeoutMs);
    }
    while (t_F.s32_Suspect != 0) {
        dbus_connection_read_write(pt_Connection, 100);
        ++t_F.s32_Quiet;
        t_F.s32_Suspect -= t_F.s32_Suspect > 0 ? 1 : 0;
        while (orb::Message pt_Message{dbus_connection_pop_message(pt_Connection)}) {
            v_Follow_Take(pt_Message.get(), pt_Client, t_Options, &t_F);
        }
        T_DBUS_GPS_Data t_Now{};
        if (t_F.s32_Quiet > 0 && t_F.s32_Quiet % 20 == 0 && t_F.s32_Suspect < 0 &&
            s32_DBUS_GetGPSData(pt_Client, &t_Now, t_Options.s32_TimeoutMs) == 0 &&
            !b_SameFields(t_Now, t_F.t_Shown)) {
            t_F.s32_Suspect = 10;
        }
    }
    std::fputs("xlocd-query: xlocd sends no GPSData signal: its fields changed without one "
               "(set gps_data_signal=1 in its configuration, or use --watch)\n",
               stderr);
    return 4;
}

} // namespace

int main(int argc, char** argv) {
    Options t_Options;
    if (const int s32_Exit = s32_ParseOptions(argc, argv, &t_Options); s32_Exit >= 0) {
        return s32_Exit;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, v_Stop);
    std::signal(SIGTERM, v_Stop);
    orb::Error t_Error;
    T_DBUS_Client t_Client{};
    t_Client.pt_Connection = dbus_bus_get(DBUS_BUS_SYSTEM, t_Error.get());
    if (t_Client.pt_Connection == nullptr) {
        std::fputs("xlocd-query: cannot connect to the system bus\n", stderr);
        return 3;
    }
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
        sleep(static_cast<unsigned>(t_Options.s32_WatchSeconds));
    } while (t_Options.s32_WatchSeconds > 0);
    dbus_connection_unref(t_Client.pt_Connection);
    return s32_Status;
}
