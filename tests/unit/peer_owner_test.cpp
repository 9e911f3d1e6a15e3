// Who owns the far end of a loopback session, as the kernel says it.
#include "gps/peer_owner.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

// A socket takes its owner from the fsuid of the process that makes it; root makes it
// as u32_Uid (uid 0 is what the kernel says of sockets that have no owner). Returns
// the owner the socket got.
template <typename Make> uid_t u32_MadeAs(uid_t u32_Uid, Make pf_Make) {
    const bool b_Root = geteuid() == 0;
    setfsuid(b_Root ? u32_Uid : geteuid());
    pf_Make();
    setfsuid(geteuid());
    return b_Root ? u32_Uid : geteuid();
}

// A listener on the loopback address of the family, and a client connected to it.
struct Loopback {
    explicit Loopback(int s32_Family) {
        sockaddr_storage t_Address{};
        socklen_t u32_Len = s32_Family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        t_Address.ss_family = static_cast<sa_family_t>(s32_Family);
        if (s32_Family == AF_INET) {
            reinterpret_cast<sockaddr_in&>(t_Address).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        } else {
            reinterpret_cast<sockaddr_in6&>(t_Address).sin6_addr = in6addr_loopback;
        }
        u32_ListenerOwner =
            u32_MadeAs(65534, [&] { s32_Listener = socket(s32_Family, SOCK_STREAM, 0); });
        auto* pt_Address = reinterpret_cast<sockaddr*>(&t_Address);
        EXPECT_EQ(0, bind(s32_Listener, pt_Address, u32_Len));
        EXPECT_EQ(0, listen(s32_Listener, 1));
        EXPECT_EQ(0, getsockname(s32_Listener, pt_Address, &u32_Len));
        s32_Client = socket(s32_Family, SOCK_STREAM, 0);
        EXPECT_EQ(0, connect(s32_Client, pt_Address, u32_Len));
    }
    ~Loopback() {
        for (const int s32_Fd : {s32_Client, s32_Accepted, s32_Listener}) {
            close(s32_Fd);
        }
    }
    int s32_Listener = -1, s32_Client = -1, s32_Accepted = -1;
    uid_t u32_ListenerOwner;
};

TEST(PeerOwner, TheFarEndIsTheListenersInTheQueueThenTheAcceptorsAndNobodysOnceClosed) {
    const int s32_Diag = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_SOCK_DIAG);
    if (s32_Diag < 0) { // qemu-user, under which the board builds run, passes no sock_diag
        GTEST_SKIP() << "no NETLINK_SOCK_DIAG here";
    }
    close(s32_Diag);
    for (const int s32_Family : {AF_INET, AF_INET6}) {
        Loopback t_Session(s32_Family);
        uid_t u32_Owner = 12345;
        EXPECT_TRUE(b_PeerOwner_Uid(t_Session.s32_Client, &u32_Owner)) << s32_Family;
        EXPECT_EQ(t_Session.u32_ListenerOwner, u32_Owner); // until it is accepted
        const uid_t u32_Acceptor = u32_MadeAs(65533, [&] {
            t_Session.s32_Accepted = accept(t_Session.s32_Listener, nullptr, nullptr);
        });
        EXPECT_TRUE(b_PeerOwner_Uid(t_Session.s32_Client, &u32_Owner)) << s32_Family;
        EXPECT_EQ(u32_Acceptor, u32_Owner);
        close(t_Session.s32_Accepted); // FIN_WAIT, where the kernel gives uid 0
        t_Session.s32_Accepted = -1;
        EXPECT_FALSE(b_PeerOwner_Uid(t_Session.s32_Client, &u32_Owner)) << s32_Family;
    }
}

} // namespace
