// One connection attempt to gpsd on "localhost": the port is resolved once, then each
// address is connected in turn without blocking, all within one deadline. libgps
// 3.22 connects blocking, address after address; a listener whose accept queue is
// full (a hung gpsd, or any local user's socket on the port) holds such a connect
// for minutes, so the attempt is the daemon's own and the loop waits for it.
#pragma once

#include "config.h"

#include <cstddef>

struct addrinfo;

constexpr std::size_t XLOCD_PORT_SIZE = 16;

// Port text: "2947" when no port was configured, else the text after the first
// colon of acn_GpsSourceSpec up to the next colon (a device part is dropped).
void v_GpsdConnect_Port(const T_Config& t_Config, char (&acn_Port)[XLOCD_PORT_SIZE]);

class GpsdConnect {
  public:
    enum class State {
        Pending,   // waiting for an address to answer: wait for POLLOUT on s32_Fd()
        Connected, // s32_TakeFd() hands over the socket
        Failed,    // s32_Code() is libgps's code for the failure
    };

    GpsdConnect() = default;
    GpsdConnect(const GpsdConnect&) = delete;
    GpsdConnect& operator=(const GpsdConnect&) = delete;
    ~GpsdConnect() { v_End(); }

    // Starts on pc_Port, giving up at f64_Deadline (CLOCK_BOOTTIME seconds).
    State e_Start(const char* pc_Port, double f64_Deadline);
    // Looks again without waiting; any state but Pending has ended the attempt.
    State e_Poll(double f64_Now);

    int s32_Fd() const { return s32_Socket; }
    double f64_Deadline() const { return f64_Until; }
    int s32_Code() const { return s32_Failure; }
    int s32_TakeFd();

  private:
    State e_NextAddress(); // connects to the next address, or ends the attempt as failed
    State e_Fail(int s32_Code);
    void v_End();

    addrinfo* pt_List = nullptr;
    addrinfo* pt_Next = nullptr;
    int s32_Socket = -1;
    int s32_Failure = 0;
    double f64_Until = 0;
};
