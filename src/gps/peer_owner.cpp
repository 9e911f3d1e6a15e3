#include "gps/peer_owner.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

struct T_DiagRequest {
    nlmsghdr t_Header;
    inet_diag_req_v2 t_Request;
};

// The far end's socket has our peer's address as its source, ours as its destination.
bool mb_PeerOwner_Ask(const sockaddr_storage& t_Ours, const sockaddr_storage& t_Peer,
                      T_DiagRequest* pt_Ask) {
    inet_diag_sockid& t_Id = pt_Ask->t_Request.id;
    if (t_Peer.ss_family == AF_INET) {
        const auto& t_From = reinterpret_cast<const sockaddr_in&>(t_Peer);
        const auto& t_To = reinterpret_cast<const sockaddr_in&>(t_Ours);
        t_Id.idiag_sport = t_From.sin_port;
        t_Id.idiag_dport = t_To.sin_port;
        t_Id.idiag_src[0] = t_From.sin_addr.s_addr;
        t_Id.idiag_dst[0] = t_To.sin_addr.s_addr;
    } else if (t_Peer.ss_family == AF_INET6) {
        const auto& t_From = reinterpret_cast<const sockaddr_in6&>(t_Peer);
        const auto& t_To = reinterpret_cast<const sockaddr_in6&>(t_Ours);
        t_Id.idiag_sport = t_From.sin6_port;
        t_Id.idiag_dport = t_To.sin6_port;
        std::memcpy(t_Id.idiag_src, &t_From.sin6_addr, sizeof t_Id.idiag_src);
        std::memcpy(t_Id.idiag_dst, &t_To.sin6_addr, sizeof t_Id.idiag_dst);
    } else {
        return false;
    }
    pt_Ask->t_Header.nlmsg_len = sizeof *pt_Ask;
    pt_Ask->t_Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    pt_Ask->t_Header.nlmsg_flags = NLM_F_REQUEST; // one socket, not a dump
    pt_Ask->t_Request.sdiag_family = static_cast<__u8>(t_Peer.ss_family);
    pt_Ask->t_Request.sdiag_protocol = IPPROTO_TCP;
    pt_Ask->t_Request.idiag_states = ~0U;
    t_Id.idiag_cookie[0] = t_Id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return true;
}

// The first passwd entry for which pf_Match holds, copied into *pt_Found.
template <typename Match> bool mb_PeerOwner_Find(Match pf_Match, passwd* pt_Found) {
    FILE* pt_File = std::fopen("/etc/passwd", "re");
    if (pt_File == nullptr) {
        return false;
    }
    bool b_Found = false;
    while (const passwd* pt_Entry = fgetpwent(pt_File)) {
        if (pf_Match(*pt_Entry)) {
            *pt_Found = *pt_Entry; // its texts live until the next fgetpwent
            b_Found = true;
            break;
        }
    }
    std::fclose(pt_File);
    return b_Found;
}

} // namespace

bool b_PeerOwner_Uid(int s32_Fd, uid_t* pu32_Uid) {
    sockaddr_storage t_Ours{}, t_Peer{};
    socklen_t u32_OursLen = sizeof t_Ours, u32_PeerLen = sizeof t_Peer;
    T_DiagRequest t_Ask{};
    if (getsockname(s32_Fd, reinterpret_cast<sockaddr*>(&t_Ours), &u32_OursLen) != 0 ||
        getpeername(s32_Fd, reinterpret_cast<sockaddr*>(&t_Peer), &u32_PeerLen) != 0 ||
        !mb_PeerOwner_Ask(t_Ours, t_Peer, &t_Ask)) {
        return false;
    }
    const int s32_Diag =
        socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG);
    if (s32_Diag < 0) {
        return false;
    }
    alignas(nlmsghdr) char acn_Answer[4096]; // the message and its few attributes
    ssize_t s32_Got = -1;
    if (send(s32_Diag, &t_Ask, sizeof t_Ask, 0) == static_cast<ssize_t>(sizeof t_Ask)) {
        s32_Got = recv(s32_Diag, acn_Answer, sizeof acn_Answer, 0);
    }
    close(s32_Diag);
    const auto* pt_Header = reinterpret_cast<const nlmsghdr*>(acn_Answer);
    if (s32_Got < 0 || !NLMSG_OK(pt_Header, static_cast<std::size_t>(s32_Got)) ||
        pt_Header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        pt_Header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        return false; // NLMSG_ERROR: no such socket here
    }
    // Only a full socket has an owner: the kernel gives uid 0 for a connection still in
    // the listener's queue (SYN_RECV) and for one closed already (TIME_WAIT).
    const auto* pt_Found = reinterpret_cast<const inet_diag_msg*>(acn_Answer + NLMSG_HDRLEN);
    *pu32_Uid = pt_Found->idiag_uid;
    return pt_Found->idiag_state == TCP_ESTABLISHED;
}

bool b_PeerOwner_UidOf(const char* pc_Name, uid_t* pu32_Uid) {
    passwd t_Entry{};
    if (!mb_PeerOwner_Find(
            [pc_Name](const passwd& t_P) { return !std::strcmp(t_P.pw_name, pc_Name); },
            &t_Entry)) {
        return false;
    }
    *pu32_Uid = t_Entry.pw_uid;
    return true;
}

void v_PeerOwner_NameOf(uid_t u32_Uid, char (&acn_Name)[XLOCD_USER_NAME_SIZE]) {
    passwd t_Entry{};
    const bool b_Found =
        mb_PeerOwner_Find([u32_Uid](const passwd& t_P) { return t_P.pw_uid == u32_Uid; }, &t_Entry);
    std::snprintf(acn_Name, XLOCD_USER_NAME_SIZE, "%s", b_Found ? t_Entry.pw_name : "unknown");
}
