/*
 * orb_client.h - client of the ZEL orbital relay base (ORB) on the system D-Bus.
 *
 * An application with short name N owns the bus name "zel.orb.N", emits its
 * signals from and is called at "/zel/orb/N/Object", and uses "zel.orb.N" as
 * its interface. Broadcasts use the interface "zel.orb.broadcast". N must be
 * valid as a bus-name element, an interface element and a path element at once:
 * ASCII letters, digits and '_', not starting with a digit, at most 127 chars.
 *
 * All operations return a signed 32-bit code: 0 for success, a small negative
 * number for failure. Nothing in this library logs, prints, or throws. Texts
 * are checked before libdbus sees them (libdbus would abort the process): a
 * name N against the rule above, a member name, and UTF-8 in every argument.
 * A refused text gives the operation's code for a message that was not built
 * or an argument that was not appended, as listed below. Blocking
 * calls wait up to libdbus's default reply timeout (25 s) once the bus has taken
 * the call. Every send ends with a blocking flush of the connection: a bus that
 * stops reading this connection holds the caller until it reads again. A caller
 * that must not wait checks first that libdbus holds nothing unsent for the
 * connection (dbus_connection_has_messages_to_send) and that its socket takes
 * data, as xlocd does. A connection the bus has closed counts as no
 * connection: every operation then gives its no-connection code, except
 * RegisterWatchdog (-4, no pending call) and ReceiveEvents (it drains what is
 * queued). Any operation may be called from a receiver callback. Not
 * thread-safe: use one record and the receiver from one thread.
 */
#ifndef ORB_CLIENT_H
#define ORB_CLIENT_H

#include <dbus/dbus.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The framework's plain character type. */
typedef char charn;

/* One per process, owned by the application, zeroed before use. Fill the four
 * identity texts, then call s32_DBUS_Register. */
typedef struct {
    DBusConnection* pt_Connection; /* written by s32_DBUS_Register; one reference */
    char acn_Name[128];            /* short application name N */
    char acn_Version[128];         /* second announcement argument */
    char acn_Info[128];            /* third announcement argument */
    char acn_Description[128];     /* fourth announcement argument */
    int32_t s32_WatchdogInterval;  /* seconds, sent by s32_DBUS_RegisterWatchdog */
    char acn_WatchdogCmd[2048];    /* command text sent with the registration */
} T_DBUS_Client;

/* The twelve texts of a GetGPSData reply, in reply order. */
typedef struct {
    charn acn_status[32];
    charn acn_latitude[32];
    charn acn_longitude[32];
    charn acn_altitude[32];
    charn acn_time[32];
    charn acn_satellites[32];
    charn acn_quality[32];
    charn acn_warn[32];
    charn acn_speed[32];
    charn acn_course[32];
    charn acn_date[32];
    charn acn_UTC[32];
} T_DBUS_GPS_Data;

/* ---- Identity and announcements ---------------------------------------- */

/* Connects to the system bus and requests "zel.orb.N" (REPLACE_EXISTING only).
 * 0 primary owner; -5 null record; -9 no bus connection (pt_Connection null);
 * -10 not primary owner, or N breaks the naming rule (pt_Connection keeps the
 * live connection). */
int32_t s32_DBUS_Register(T_DBUS_Client* pt_Client);

/* Releases the name and drops the record's connection reference; pt_Connection
 * is set to null so that later operations give their no-connection codes.
 * 0 answered; -5 null record; -10 no connection or the release failed. */
int32_t s32_DBUS_Unregister(T_DBUS_Client* pt_Client);

/* Broadcast signals HELLO / GOODBYE / WhoIsThere with the four identity texts.
 * 0 sent; -5 null record; -10 an argument was not appended;
 * -1 not built, or (HELLO, GOODBYE) not handed over / no connection;
 * -2 (WhoIsThere only) not handed over / no connection. */
int32_t s32_DBUS_SendHello(T_DBUS_Client* pt_Client);
int32_t s32_DBUS_SendGoodbye(T_DBUS_Client* pt_Client);
int32_t s32_DBUS_SendWhoIsThere(T_DBUS_Client* pt_Client);

/* ---- Watchdog and system-service calls to xcord ------------------------ */

/* Method call RegisterWatchdog(s name, u pid, s acn_WatchdogCmd, u interval)
 * to "zel.orb.xcord". Blocks for the answer.
 * 0 the reply text begins with "OK"; -5 null record; -2 no connection or not
 * handed over; -4 no pending call (a connection the bus has closed); -1 no reply;
 * -10 reply without arguments;
 * -9 not built, first argument not a string, or text not "OK...".
 * An error reply is read like an answer: its first argument is the error text. */
int32_t s32_DBUS_RegisterWatchdog(T_DBUS_Client* pt_Client);

/* Signal TriggerWatchdog(u pid) from the caller's own path on "zel.orb.xcord".
 * 0 sent; -5 null record; -1 no connection, not built or not handed over. */
int32_t s32_DBUS_TriggerWatchdog(T_DBUS_Client* pt_Client);

/* Method call CancelWatchdog(u pid). Blocks. 0 the reply begins with "OK";
 * -5 null record; -1 no connection / not built / not handed over / no reply;
 * -9 anything else. */
int32_t s32_DBUS_CancelWatchdog(T_DBUS_Client* pt_Client);

/* Signal StayAlive(u u32_Value) from the caller's own path on "zel.orb.xcord".
 * 0 sent; -5 null record or u32_Value 0; -1 no connection or not sent. */
int32_t s32_DBUS_SendStayAlive(T_DBUS_Client* pt_Client, uint32_t u32_Value);

/* Method call GetIgnition(). Blocks. 0 off (reply text begins with "OF");
 * 1 on (any other text, no text, an error reply); -5 null record;
 * -1 no connection / not handed over / no reply. Test for < 0 first. */
int32_t s32_DBUS_GetIgnition(T_DBUS_Client* pt_Client);

/* ---- Generic requests and notifications -------------------------------- */

/* Method call pc_Member(s pc_Argument) on "zel.orb.<pc_Peer>" at
 * "/zel/orb/<pc_Peer>/Object"; pc_Peer at most 239 characters. Blocks.
 * The reply's first string is copied into pc_Answer (s32_AnswerSize bytes,
 * NUL-padded). A 0 result always leaves a terminated text: a reply of
 * s32_AnswerSize characters or more gives -6, with pc_Answer holding the first
 * s32_AnswerSize bytes and no terminator.
 * 0 delivered; -5 a null pointer or s32_AnswerSize <= 0; -1 no connection, not
 * built, not handed over; -9 no reply or first argument not a string;
 * -8 the text begins with "ERROR". An error reply (unknown peer, timeout)
 * delivers its error text like an answer. */
int32_t s32_DBUS_Request(T_DBUS_Client* pt_Client, const char* pc_Peer, const char* pc_Member,
                         const char* pc_Argument, char* pc_Answer, int32_t s32_AnswerSize);

/* Signal pc_Member(s pc_Argument) from "/zel/orb/<pc_Peer>/Object" on the
 * interface "zel.orb.<pc_Peer>", no destination.
 * 0 sent; -5 a null pointer; -1 not built; -2 no connection or not handed over. */
int32_t s32_DBUS_Notify(T_DBUS_Client* pt_Client, const char* pc_Peer, const char* pc_Member,
                        const char* pc_Argument);

/* ---- GetGPSData client ------------------------------------------------ */

/* Calls GetGPSData on "zel.orb.xlocd" over pt_Client->pt_Connection (a client
 * needs no bus name of its own: a connection from dbus_bus_get will do) and
 * fills pt_Data. s32_TimeoutMs < 0 means libdbus's default timeout.
 * 0 filled; -5 null pointer; -1 no connection, not built or not handed over;
 * -7 xlocd is not on the bus; -9 no answer within the timeout;
 * -8 another error reply (its name is not kept); -6 the reply is not twelve
 * strings. Texts longer than 31 characters are cut. */
int32_t s32_DBUS_GetGPSData(T_DBUS_Client* pt_Client, T_DBUS_GPS_Data* pt_Data,
                            int32_t s32_TimeoutMs);

/* ---- Broadcast receiver ------------------------------------------------ */

/* Callbacks get pointers into the library's event buffers; a text stays valid
 * until the next event that writes the same buffer, so copy what you keep. */
typedef void (*pf_DBUS_OnText)(const char* pc_Text);
typedef void (*pf_DBUS_OnTwoTexts)(const char* pc_First, const char* pc_Second);
/* The message is released after the callback returns; take a reference
 * (dbus_message_ref) to keep it. */
typedef void (*pf_DBUS_OnMessage)(DBusMessage* pt_Message);

/* Replaces all seven entries; null means "not wanted".
 *   pf_OnSms                   SMS on "zel.orb.xtxtd" (<=19 chars, <=199 chars)
 *   pf_OnHello                 HELLO on "zel.orb.broadcast" (sender name, <=199)
 *   pf_OnNetworkNotification   Network_Notification on "zel.orb.xlinkd" (<=9, <=9)
 *   pf_OnGoodbye               GOODBYE on "zel.orb.broadcast" (sender name)
 *   pf_OnResponseTimeIndicator NetworkResponseTimeIndicator on broadcast (<=199)
 *   pf_OnWhoIsThere            WhoIsThere on broadcast ("" when it has no args)
 *   pf_OnOtherMessage          everything the named rules above did not take,
 *                              checked before WhoIsThere: while installed it
 *                              also receives every WhoIsThere. */
void v_DBUS_SetEventCallbacks(pf_DBUS_OnTwoTexts pf_OnSms, pf_DBUS_OnText pf_OnHello,
                              pf_DBUS_OnTwoTexts pf_OnNetworkNotification,
                              pf_DBUS_OnText pf_OnGoodbye,
                              pf_DBUS_OnText pf_OnResponseTimeIndicator,
                              pf_DBUS_OnText pf_OnWhoIsThere, pf_DBUS_OnMessage pf_OnOtherMessage);

/* Drains the incoming queue without waiting, one callback per message.
 * The application adds its own match rules first. 0 queue drained;
 * -9 stopped at a malformed event (missing argument, wrong type, text too
 * long), which was released; the rest waits for the next call;
 * -10 null record or no connection. On a connection the bus has closed, what is
 * queued is drained all the same, ending with libdbus's local Disconnected signal
 * (pf_OnOtherMessage gets it): that is how an application learns the connection is
 * gone. libdbus ends the process (_exit(1)) as it hands that signal out, unless the
 * application has called dbus_connection_set_exit_on_disconnect(pt_Connection, FALSE)
 * after s32_DBUS_Register, as xlocd does. A callback that unregisters, or
 * registers anew, ends the drain after it returns (0). Allocates nothing of its
 * own. */
int32_t s32_DBUS_ReceiveEvents(T_DBUS_Client* pt_Client);

#ifdef __cplusplus
}
#endif

#endif /* ORB_CLIENT_H */
