// A TCP connect to gpsd that does not block. libgps 3.22 connects blocking, and a
// listener whose accept queue is full (a hung gpsd, or any local user's socket on
// the port) holds such a connect for minutes; the probe lets the loop wait for it.
#pragma once

struct addrinfo;

class GpsdProbe {
  public:
    enum class State {
        Pending,   // waiting for an address to answer; wait on Fd() for POLLOUT
        Connected, // an address accepted the connection (the probe is closed again)
        Refused,   // no address takes connections, or the name does not resolve
        TimedOut,  // no answer within the bound
    };

    GpsdProbe() = default;
    GpsdProbe(const GpsdProbe&) = delete;
    GpsdProbe& operator=(const GpsdProbe&) = delete;
    ~GpsdProbe() { v_End(); }

    // Starts on "localhost" and pc_Port, giving up at f64_Deadline (monotonic seconds).
    State e_Start(const char* pc_Port, double f64_Deadline);
    // Looks again without waiting; any state but Pending has ended the probe.
    State e_Poll(double f64_Now);
    int s32_Fd() const { return s32_Socket; }
    double f64_Deadline() const { return f64_Until; }

  private:
    State me_Next(); // connects to the next address, or ends the probe as refused
    void v_End();

    addrinfo* pt_List = nullptr;
    addrinfo* pt_Next = nullptr;
    int s32_Socket = -1;
    double f64_Until = 0;
};
