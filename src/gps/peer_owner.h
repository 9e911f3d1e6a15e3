// Who serves the gpsd port: the kernel's owner of the socket at the far end of a
// loopback TCP session, asked through sock_diag, and the account names it is held to.
// Names come from /etc/passwd alone, without NSS, so that no directory service can
// hold the loop.
#pragma once

#include <sys/types.h>

#include <cstddef>

constexpr std::size_t XLOCD_USER_NAME_SIZE = 33; // 32 characters, Debian's longest name

// The owning uid of the socket at the far end of the connected TCP socket s32_Fd, for
// IPv4 and IPv6. False unless the kernel knows it as an established socket (not one on
// another host, still in a listener's queue, or closed already). Never blocks: the kernel answers
// an exact lookup while it takes it.
bool b_PeerOwner_Uid(int s32_Fd, uid_t* pu32_Uid);

// The uid of account pc_Name in /etc/passwd; false when there is none.
bool b_PeerOwner_UidOf(const char* pc_Name, uid_t* pu32_Uid);

// The name of uid u32_Uid in /etc/passwd, or "unknown".
void v_PeerOwner_NameOf(uid_t u32_Uid, char (&acn_Name)[XLOCD_USER_NAME_SIZE]);
