#include "gpsd_probe.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

GpsdProbe::State GpsdProbe::e_Start(const char* pc_Port, double f64_Deadline) {
    v_End();
    f64_Until = f64_Deadline;
    addrinfo t_Hints{};
    t_Hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo("localhost", pc_Port, &t_Hints, &pt_List) != 0) {
        pt_List = nullptr;
        return State::Refused;
    }
    pt_Next = pt_List;
    return me_Next();
}

GpsdProbe::State GpsdProbe::me_Next() {
    while (pt_Next != nullptr) {
        const addrinfo* pt_Address = pt_Next;
        pt_Next = pt_Next->ai_next;
        s32_Socket = socket(pt_Address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s32_Socket < 0) {
            continue;
        }
        if (connect(s32_Socket, pt_Address->ai_addr, pt_Address->ai_addrlen) == 0) {
            v_End();
            return State::Connected;
        }
        if (errno == EINPROGRESS) {
            return State::Pending;
        }
        close(s32_Socket);
        s32_Socket = -1;
    }
    v_End();
    return State::Refused;
}

GpsdProbe::State GpsdProbe::e_Poll(double f64_Now) {
    pollfd t_Poll{s32_Socket, POLLOUT, 0};
    if (poll(&t_Poll, 1, 0) == 1) {
        int s32_Error = 0;
        socklen_t u32_Len = sizeof s32_Error;
        getsockopt(s32_Socket, SOL_SOCKET, SO_ERROR, &s32_Error, &u32_Len);
        close(s32_Socket);
        s32_Socket = -1;
        if (s32_Error == 0) {
            v_End();
            return State::Connected;
        }
        return me_Next();
    }
    if (f64_Now >= f64_Until) {
        v_End();
        return State::TimedOut;
    }
    return State::Pending;
}

void GpsdProbe::v_End() {
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
