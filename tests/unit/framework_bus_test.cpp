// The framework library from C++, in-process, against a private system-like bus
// that this test starts with the project's policy (its own executable, because
// libdbus keeps one shared system-bus connection per process).
#include "orb_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include <signal.h>
#include <unistd.h>

namespace {

class PrivateBus : public testing::Environment {
  public:
    void SetUp() override {
        char acn_Dir[] = "/tmp/xlocd-cxxbus-XXXXXX";
        t_Dir = mkdtemp(acn_Dir);
        std::ifstream t_In(XLOCD_SOURCE_DIR "/harness/system-bus.conf.in");
        std::stringstream t_Text;
        t_Text << t_In.rdbuf();
        std::string t_Conf = t_Text.str();
        t_Conf = std::regex_replace(t_Conf, std::regex("@SOCKET@"), t_Dir + "/socket");
        t_Conf = std::regex_replace(t_Conf, std::regex("@PROJECT_POLICY@"),
                                    XLOCD_SOURCE_DIR "/etc/dbus-1/system.d/zel.orb.xlocd.conf");
        t_Conf = std::regex_replace(t_Conf, std::regex("@REPLY_TIMEOUT@"), "30000");
        t_Conf = std::regex_replace(t_Conf, std::regex("@TEST_POLICY@"),
                                    XLOCD_SOURCE_DIR "/harness/peers.conf");
        std::ofstream(t_Dir + "/system.conf") << t_Conf;
        const std::string t_Cmd =
            "exec dbus-daemon --nofork --print-address=1 --print-pid=1 --config-file " + t_Dir +
            "/system.conf 2>/dev/null";
        pt_Daemon = popen(t_Cmd.c_str(), "r");
        char acn_Line[512] = "";
        ASSERT_NE(nullptr, std::fgets(acn_Line, sizeof acn_Line, pt_Daemon));
        std::string t_Address = acn_Line;
        t_Address.pop_back();
        ASSERT_NE(nullptr, std::fgets(acn_Line, sizeof acn_Line, pt_Daemon));
        s32_Pid = std::atoi(acn_Line);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", t_Address.c_str(), 1);
    }
    void TearDown() override {
        if (s32_Pid > 0) {
            kill(s32_Pid, SIGKILL);
        }
        pclose(pt_Daemon);
        std::remove((t_Dir + "/system.conf").c_str());
        std::remove((t_Dir + "/socket").c_str());
        rmdir(t_Dir.c_str());
    }

  private:
    std::string t_Dir;
    FILE* pt_Daemon = nullptr;
    int s32_Pid = 0;
};

// A second connection that owns zel.orb.testapp2 and answers Echo with "echo:<arg>".
// (The receiver is exercised through the plain-C driver in tests/integration.)
class Responder {
  public:
    Responder() {
        pt_Conn = dbus_bus_get_private(DBUS_BUS_SYSTEM, nullptr);
        b_Owned = dbus_bus_request_name(pt_Conn, "zel.orb.testapp2", DBUS_NAME_FLAG_DO_NOT_QUEUE,
                                        nullptr) == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER;
        t_Thread = std::thread([this] { v_Serve(); });
    }
    ~Responder() {
        b_Stop = true;
        t_Thread.join();
        dbus_connection_close(pt_Conn);
        dbus_connection_unref(pt_Conn);
    }
    bool b_Owned = false;

  private:
    void v_Serve() {
        while (!b_Stop && dbus_connection_read_write(pt_Conn, 20)) {
            while (DBusMessage* pt_M = dbus_connection_pop_message(pt_Conn)) {
                const char* pc_Arg = nullptr;
                if (dbus_message_is_method_call(pt_M, "zel.orb.testapp2", "Echo") &&
                    dbus_message_get_args(pt_M, nullptr, DBUS_TYPE_STRING, &pc_Arg,
                                          DBUS_TYPE_INVALID)) {
                    const std::string t_Answer = std::string("echo:") + pc_Arg;
                    const char* pc_Answer = t_Answer.c_str();
                    DBusMessage* pt_R = dbus_message_new_method_return(pt_M);
                    dbus_message_append_args(pt_R, DBUS_TYPE_STRING, &pc_Answer, DBUS_TYPE_INVALID);
                    dbus_connection_send(pt_Conn, pt_R, nullptr);
                    dbus_message_unref(pt_R);
                }
                dbus_message_unref(pt_M);
            }
        }
    }
    DBusConnection* pt_Conn;
    std::thread t_Thread;
    std::atomic<bool> b_Stop{false};
};

T_DBUS_Client t_Registered() {
    T_DBUS_Client t_Client{};
    std::snprintf(t_Client.acn_Name, sizeof t_Client.acn_Name, "testapp1");
    return t_Client;
}

TEST(FrameworkBus, RequestRoundTripAndBoundedAnswers) {
    T_DBUS_Client t_Client = t_Registered();
    ASSERT_EQ(0, s32_DBUS_Register(&t_Client));
    Responder t_Peer;
    ASSERT_TRUE(t_Peer.b_Owned);
    char acn_Answer[16];
    EXPECT_EQ(
        0, s32_DBUS_Request(&t_Client, "testapp2", "Echo", "ping", acn_Answer, sizeof acn_Answer));
    EXPECT_STREQ("echo:ping", acn_Answer);
    EXPECT_EQ(-6, s32_DBUS_Request(&t_Client, "testapp2", "Echo", "0123456789", acn_Answer, 15));
    EXPECT_EQ(0, std::string(acn_Answer, 15).compare("echo:0123456789"));
    EXPECT_EQ(-5, s32_DBUS_Request(&t_Client, "testapp2", "Echo", "x", acn_Answer, 0));
    EXPECT_EQ(-10, s32_DBUS_Register(&t_Client)); // already the owner; connection kept
    EXPECT_NE(nullptr, t_Client.pt_Connection);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new PrivateBus);
    return RUN_ALL_TESTS();
}
