// Stand-in framework peer for the tests (xcord, xtxtd, xlinkd, an application).
// Owns zel.orb.<name> when given one, records every message it sees as a JSON line,
// and answers method calls as told:
//   standin_peer --record FILE [--name N] [--match RULE]... [--reply MEMBER=ANSWER]...
// ANSWER: text:T (string T), none (no answer), noargs, uint:N, error:T (error reply),
// twelve (twelve strings shaped like a GetGPSData reply).
// Members without an ANSWER get no answer. Prints READY once the name and rules are set.
// --hello PATH answers every WhoIsThere broadcast with a HELLO from PATH (a floor
// responder for the benchmark).
#include <dbus/dbus.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t gb_Stop = 0;
void v_Stop(int) {
    gb_Stop = 1;
}

std::string t_Json(const char* pc_Text) {
    std::string t_Out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pc_Text); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            t_Out += '\\';
            t_Out += static_cast<char>(*p);
        } else if (*p < 0x20) {
            char acn_Esc[8];
            std::snprintf(acn_Esc, sizeof acn_Esc, "\\u%04x", *p);
            t_Out += acn_Esc;
        } else {
            t_Out += static_cast<char>(*p);
        }
    }
    return t_Out + "\"";
}

const char* pc_Or(const char* pc_Text) {
    return pc_Text ? pc_Text : "";
}

std::string t_Args(DBusMessage* pt_Message) {
    std::string t_Out = "[";
    DBusMessageIter t_Iter;
    if (dbus_message_iter_init(pt_Message, &t_Iter)) {
        do {
            const int s32_Type = dbus_message_iter_get_arg_type(&t_Iter);
            if (t_Out.size() > 1) {
                t_Out += ",";
            }
            if (s32_Type == DBUS_TYPE_STRING) {
                const char* pc_Value = nullptr;
                dbus_message_iter_get_basic(&t_Iter, &pc_Value);
                t_Out += "[\"s\"," + t_Json(pc_Value) + "]";
            } else if (s32_Type == DBUS_TYPE_UINT32) {
                dbus_uint32_t u32_Value = 0;
                dbus_message_iter_get_basic(&t_Iter, &u32_Value);
                t_Out += "[\"u\"," + std::to_string(u32_Value) + "]";
            } else {
                t_Out += "[\"" + std::string(1, static_cast<char>(s32_Type)) + "\",null]";
            }
        } while (dbus_message_iter_next(&t_Iter));
    }
    return t_Out + "]";
}

void v_Record(FILE* pt_Out, DBusMessage* pt_Message) {
    timespec t_Now{};
    clock_gettime(CLOCK_MONOTONIC, &t_Now);
    std::fprintf(pt_Out,
                 "{\"t\":%.3f,\"type\":%s,\"sender\":%s,\"path\":%s,\"interface\":%s,\"member\":%s,"
                 "\"signature\":%s,\"args\":%s}\n",
                 static_cast<double>(t_Now.tv_sec) + t_Now.tv_nsec / 1e9,
                 t_Json(dbus_message_type_to_string(dbus_message_get_type(pt_Message))).c_str(),
                 t_Json(pc_Or(dbus_message_get_sender(pt_Message))).c_str(),
                 t_Json(pc_Or(dbus_message_get_path(pt_Message))).c_str(),
                 t_Json(pc_Or(dbus_message_get_interface(pt_Message))).c_str(),
                 t_Json(pc_Or(dbus_message_get_member(pt_Message))).c_str(),
                 t_Json(pc_Or(dbus_message_get_signature(pt_Message))).c_str(),
                 t_Args(pt_Message).c_str());
    std::fflush(pt_Out);
}

void v_Answer(DBusConnection* pt_Conn, DBusMessage* pt_Call, const std::string& t_Answer) {
    DBusMessage* pt_Reply = nullptr;
    if (t_Answer.rfind("text:", 0) == 0) {
        pt_Reply = dbus_message_new_method_return(pt_Call);
        const char* pc_Text = t_Answer.c_str() + 5;
        dbus_message_append_args(pt_Reply, DBUS_TYPE_STRING, &pc_Text, DBUS_TYPE_INVALID);
    } else if (t_Answer == "twelve") {
        pt_Reply = dbus_message_new_method_return(pt_Call);
        static const char* const apc_Texts[12] = {
            "NMEA", "48.123457", "11.500000", "522",      "123456", "7",
            "1",    "A",         "36.00000",  "90.50000", "050326", "030512342026"};
        for (const char* pc_Text : apc_Texts) {
            dbus_message_append_args(pt_Reply, DBUS_TYPE_STRING, &pc_Text, DBUS_TYPE_INVALID);
        }
    } else if (t_Answer == "noargs") {
        pt_Reply = dbus_message_new_method_return(pt_Call);
    } else if (t_Answer.rfind("uint:", 0) == 0) {
        pt_Reply = dbus_message_new_method_return(pt_Call);
        dbus_uint32_t u32_Value =
            static_cast<dbus_uint32_t>(std::strtoul(t_Answer.c_str() + 5, nullptr, 10));
        dbus_message_append_args(pt_Reply, DBUS_TYPE_UINT32, &u32_Value, DBUS_TYPE_INVALID);
    } else if (t_Answer.rfind("error:", 0) == 0) {
        pt_Reply = dbus_message_new_error(pt_Call, "zel.orb.Error.Refused", t_Answer.c_str() + 6);
    }
    if (pt_Reply != nullptr) {
        dbus_connection_send(pt_Conn, pt_Reply, nullptr);
        dbus_connection_flush(pt_Conn);
        dbus_message_unref(pt_Reply);
    }
}

} // namespace

int main(int argc, char** argv) {
    const char* pc_Record = nullptr;
    const char* pc_Name = nullptr;
    std::vector<const char*> t_Rules;
    std::map<std::string, std::string> t_Replies;
    const char* pc_HelloPath = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string t_Opt = argv[i];
        const char* pc_Val = argv[i + 1];
        if (t_Opt == "--record")
            pc_Record = pc_Val;
        else if (t_Opt == "--name")
            pc_Name = pc_Val;
        else if (t_Opt == "--match")
            t_Rules.push_back(pc_Val);
        else if (t_Opt == "--hello")
            pc_HelloPath = pc_Val;
        else if (t_Opt == "--reply") {
            const char* pc_Eq = std::strchr(pc_Val, '=');
            if (pc_Eq)
                t_Replies[std::string(pc_Val, pc_Eq)] = pc_Eq + 1;
        }
    }
    FILE* pt_Out = pc_Record ? std::fopen(pc_Record, "a") : stdout;
    if (pt_Out == nullptr)
        return 2;
    std::signal(SIGTERM, v_Stop);
    std::signal(SIGINT, v_Stop);
    DBusError t_Err;
    dbus_error_init(&t_Err);
    DBusConnection* pt_Conn = dbus_bus_get_private(DBUS_BUS_SYSTEM, &t_Err);
    if (pt_Conn == nullptr) {
        std::fprintf(stderr, "standin_peer: %s\n", t_Err.message);
        return 2;
    }
    dbus_connection_set_exit_on_disconnect(pt_Conn, FALSE);
    if (pc_Name != nullptr) {
        const std::string t_Bus = std::string("zel.orb.") + pc_Name;
        if (dbus_bus_request_name(pt_Conn, t_Bus.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &t_Err) !=
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
            std::fprintf(stderr, "standin_peer: cannot own %s: %s\n", t_Bus.c_str(),
                         t_Err.message ? t_Err.message : "");
            return 2;
        }
    }
    for (const char* pc_Rule : t_Rules) {
        dbus_bus_add_match(pt_Conn, pc_Rule, &t_Err);
        if (dbus_error_is_set(&t_Err)) {
            std::fprintf(stderr, "standin_peer: rule %s: %s\n", pc_Rule, t_Err.message);
            return 2;
        }
    }
    std::printf("READY %s\n", dbus_bus_get_unique_name(pt_Conn));
    std::fflush(stdout);
    while (!gb_Stop && dbus_connection_read_write(pt_Conn, 100)) {
        while (DBusMessage* pt_Message = dbus_connection_pop_message(pt_Conn)) {
            if (dbus_message_get_type(pt_Message) == DBUS_MESSAGE_TYPE_SIGNAL &&
                dbus_message_has_interface(pt_Message, DBUS_INTERFACE_DBUS)) {
                dbus_message_unref(pt_Message); // NameAcquired and the like
                continue;
            }
            if (pc_HelloPath &&
                dbus_message_is_signal(pt_Message, "zel.orb.broadcast", "WhoIsThere")) {
                DBusMessage* pt_Hello =
                    dbus_message_new_signal(pc_HelloPath, "zel.orb.broadcast", "HELLO");
                const char* pc_Name = "floor";
                dbus_message_append_args(pt_Hello, DBUS_TYPE_STRING, &pc_Name, DBUS_TYPE_INVALID);
                dbus_connection_send(pt_Conn, pt_Hello, nullptr);
                dbus_connection_flush(pt_Conn);
                dbus_message_unref(pt_Hello);
            }
            v_Record(pt_Out, pt_Message);
            if (dbus_message_get_type(pt_Message) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                const auto t_It = t_Replies.find(pc_Or(dbus_message_get_member(pt_Message)));
                if (t_It != t_Replies.end())
                    v_Answer(pt_Conn, pt_Message, t_It->second);
            }
            dbus_message_unref(pt_Message);
        }
    }
    dbus_connection_close(pt_Conn);
    dbus_connection_unref(pt_Conn);
    return 0;
}
