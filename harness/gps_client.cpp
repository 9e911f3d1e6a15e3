// GetGPSData load client for tests and the benchmark.
//   gps_client [--calls N] [--burst] [--timeout-ms T] [--peer NAME --member M]
// --peer/--member call another framework peer instead (a floor for the benchmark).
// Sequential by default; --burst sends all calls before reading any reply.
// Prints one JSON line: calls, answered, twelve (replies of twelve strings),
// errors, and p50/p99/max round trip in microseconds.
#include <dbus/dbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string gt_Peer = "xlocd";
std::string gt_Member = "GetGPSData";

DBusMessage* pt_NewCall() {
    const std::string t_Name = "zel.orb." + gt_Peer;
    const std::string t_Path = "/zel/orb/" + gt_Peer + "/Object";
    return dbus_message_new_method_call(t_Name.c_str(), t_Path.c_str(), t_Name.c_str(),
                                        gt_Member.c_str());
}

// GetGPSData answers twelve strings; any other member counts a method return.
bool b_Twelve(DBusMessage* pt_Reply) {
    if (dbus_message_get_type(pt_Reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN)
        return false;
    return gt_Member != "GetGPSData" ||
           std::strcmp(dbus_message_get_signature(pt_Reply), "ssssssssssss") == 0;
}

} // namespace

int main(int argc, char** argv) {
    int s32_Calls = 1;
    int s32_TimeoutMs = 5000;
    bool b_Burst = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--calls") && i + 1 < argc)
            s32_Calls = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--timeout-ms") && i + 1 < argc)
            s32_TimeoutMs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--burst"))
            b_Burst = true;
        else if (!std::strcmp(argv[i], "--peer") && i + 1 < argc)
            gt_Peer = argv[++i];
        else if (!std::strcmp(argv[i], "--member") && i + 1 < argc)
            gt_Member = argv[++i];
    }
    DBusError t_Err;
    dbus_error_init(&t_Err);
    DBusConnection* pt_Conn = dbus_bus_get_private(DBUS_BUS_SYSTEM, &t_Err);
    if (pt_Conn == nullptr) {
        std::fprintf(stderr, "gps_client: %s\n", t_Err.message);
        return 2;
    }
    std::vector<double> t_Us;
    int s32_Answered = 0, s32_Twelve = 0, s32_Errors = 0;
    const auto f_Collect = [&](DBusPendingCall* pt_Pending, Clock::time_point t_Start) {
        dbus_pending_call_block(pt_Pending);
        DBusMessage* pt_Reply = dbus_pending_call_steal_reply(pt_Pending);
        t_Us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t_Start).count());
        if (pt_Reply != nullptr) {
            ++s32_Answered;
            if (b_Twelve(pt_Reply))
                ++s32_Twelve;
            else
                ++s32_Errors;
            dbus_message_unref(pt_Reply);
        }
        dbus_pending_call_unref(pt_Pending);
    };
    std::vector<DBusPendingCall*> t_Pending;
    const Clock::time_point t_BurstStart = Clock::now();
    for (int i = 0; i < s32_Calls; ++i) {
        DBusMessage* pt_Call = pt_NewCall();
        DBusPendingCall* pt_P = nullptr;
        const Clock::time_point t_Start = Clock::now();
        dbus_connection_send_with_reply(pt_Conn, pt_Call, &pt_P, s32_TimeoutMs);
        dbus_message_unref(pt_Call);
        if (pt_P == nullptr) {
            ++s32_Errors;
            continue;
        }
        if (b_Burst)
            t_Pending.push_back(pt_P);
        else
            f_Collect(pt_P, t_Start);
    }
    dbus_connection_flush(pt_Conn);
    for (DBusPendingCall* pt_P : t_Pending)
        f_Collect(pt_P, t_BurstStart);
    const double f64_Total =
        std::chrono::duration<double, std::micro>(Clock::now() - t_BurstStart).count();
    std::sort(t_Us.begin(), t_Us.end());
    const auto f_Pct = [&](double p) {
        return t_Us.empty() ? 0.0
                            : t_Us[std::min(t_Us.size() - 1, static_cast<size_t>(p * t_Us.size()))];
    };
    std::printf("{\"calls\":%d,\"answered\":%d,\"twelve\":%d,\"errors\":%d,\"p50_us\":%.1f,"
                "\"p99_us\":%.1f,\"max_us\":%.1f,\"total_us\":%.1f}\n",
                s32_Calls, s32_Answered, s32_Twelve, s32_Errors, f_Pct(0.5), f_Pct(0.99),
                t_Us.empty() ? 0.0 : t_Us.back(), f64_Total);
    dbus_connection_close(pt_Conn);
    dbus_connection_unref(pt_Conn);
    return s32_Twelve == s32_Calls ? 0 : 1;
}
