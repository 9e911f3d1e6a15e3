#include "gps/gpsd_connect.h"

#include <gps.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// libgps's codes, as gps_open leaves them: a port that does not resolve is a missing
// service, a name that does not is a missing host.
int ms32_ResolveFailure(const addrinfo& t_Hints, const char* pc_Port) {
    addrinfo* pt_Any = nullptr;
    const int s32_Service = getaddrinfo(nullptr, pc_Port, &t_Hints, &pt_Any);
    if (pt_Any != nullptr) {
        freeaddrinfo(pt_Any);
    }
    return s32_Service != 0 ? NL_NOSERVICE : NL_NOHOST;
}

} // namespace

void v_GpsdConnect_Port(const T_Config& t_Config, char (&acn_Port)[XLOCD_PORT_SIZE]) {
    if (t_Config.u16_GpsTcpPort == 0) {
        std::snprintf(acn_Port, XLOCD_PORT_SIZE, "2947");
        return;
    }
    const char* pc_Spec = t_Config.acn_GpsSourceSpec;
    const char* pc_Colon = std::strchr(pc_Spec, ':');
    const char* pc_Port = pc_Colon != nullptr ? pc_Colon + 1 : pc_Spec;
    const std::size_t u32_Len = std::strcspn(pc_Port, ":");
    std::snprintf(acn_Port, XLOCD_PORT_SIZE, "%.*s", static_cast<int>(u32_Len), pc_Port);
}

GpsdConnect::State GpsdConnect::e_Start(const char* pc_Port, double f64_Deadline) {
    v_End();
    f64_Until = f64_Deadline;
    addrinfo t_Hints{};
    t_Hints.ai_family = AF_UNSPEC;
    t_Hints.ai_socktype = SOCK_STREAM;
    t_Hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo("localhost", pc_Port, &t_Hints, &pt_List) != 0) {
        pt_List = nullptr;
        return e_Fail(ms32_ResolveFailure(t_Hints, pc_Port));
    }
    pt_Next = pt_List;
    s32_Failure = NL_NOCONNECT;
    return e_NextAddress();
}

GpsdConnect::State GpsdConnect::e_NextAddress() {
    while (pt_Next != nullptr) {
        const addrinfo* pt_Address = pt_Next;
        pt_Next = pt_Next->ai_next;
        s32_Socket =
            socket(pt_Address->ai_family, pt_Address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                   pt_Address->ai_protocol);
        if (s32_Socket < 0) {
            s32_Failure = NL_NOSOCK;
            continue;
        }
        s32_Failure = NL_NOCONNECT;
        if (connect(s32_Socket, pt_Address->ai_addr, pt_Address->ai_addrlen) == 0) {
            return State::Connected;
        }
        if (errno == EINPROGRESS) {
            return State::Pending;
        }
        close(s32_Socket);
        s32_Socket = -1;
    }
    return e_Fail(s32_Failure);
}

GpsdConnect::State GpsdConnect::e_Poll(double f64_Now) {
    pollfd t_Poll{s32_Socket, POLLOUT, 0};
    if (poll(&t_Poll, 1, 0) == 1) {
        int s32_Error = 0;
        socklen_t u32_Len = sizeof s32_Error;
        getsockopt(s32_Socket, SOL_SOCKET, SO_ERROR, &s32_Error, &u32_Len);
        if (s32_Error == 0) {
            return State::Connected;
        }
        close(s32_Socket);
        s32_Socket = -1;
        return e_NextAddress();
    }
    // No answer in time is what libgps reports for a connect that fails.
    return f64_Now >= f64_Until ? e_Fail(NL_NOCONNECT) : State::Pending;
}

int GpsdConnect::s32_TakeFd() {
    const int s32_Fd = s32_Socket;
    s32_Socket = -1;
    v_End();
    return s32_Fd;
}

GpsdConnect::State GpsdConnect::e_Fail(int s32_Code) {
    v_End();
    s32_Failure = s32_Code;
    return State::Failed;
}

void GpsdConnect::v_End() {
    if (s32_Socket >= 0) {
        close(s32_Socket);
        s32_Socket = -1;
    }
    if (pt_List != nullptr) {
        freeaddrinfo(pt_List);
        pt_List = nullptr;
        pt_Next = nullptr;
    }
}
