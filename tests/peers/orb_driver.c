/* Plain-C driver of the framework library for the tests: one command per line on
 * stdin, one line per result or event on stdout. Words are %XX-decoded, so "%20" is
 * a blank, "%FC" a Latin-1 byte and "%00" an empty text.
 *   register NAME [VERSION] | hello | goodbye | whoisthere | unregister | trigger
 *   cancel | ignition | gpsdata | stayalive VALUE | watchdog INTERVAL CMD | notify PEER MEMBER ARG
 *   request PEER MEMBER SIZE ARG  -> result N answer <the copy, cut at SIZE>
 *   match RULE | callbacks all|named|other|none|unregister | drain -> events, then the result
 *   null -> every later call passes a null record */
#define _POSIX_C_SOURCE 200809L /* strnlen */
#include "orb_client.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define PRINTED 1000 /* a command that printed its own line */

static T_DBUS_Client gt_Client;
static T_DBUS_Client* gp_Client = &gt_Client;
static T_DBUS_GPS_Data gt_Data;

/* clang-format off */
#define ON_TEXT(name) static void on_##name(const char* a) { printf("event " #name " %s\n", a); }
#define ON_TWO(name) \
    static void on_##name(const char* a, const char* b) { printf("event " #name " %s|%s\n", a, b); }
ON_TWO(sms) ON_TEXT(hello) ON_TWO(network) ON_TEXT(goodbye) ON_TEXT(indicator) ON_TEXT(whoisthere)
/* clang-format on */

static void on_other(DBusMessage* m) {
    const char* member = dbus_message_get_member(m);
    printf("event other %s %s\n", dbus_message_type_to_string(dbus_message_get_type(m)),
           member ? member : "-");
}

/* Leaves the bus from inside the receiver, as an application may on a peer's HELLO. */
static void on_hello_unregister(const char* a) {
    printf("event hello %s unregister %d\n", a, (int)s32_DBUS_Unregister(gp_Client));
}

static int32_t set_callbacks(const char* which) {
    if (!strcmp(which, "unregister")) {
        v_DBUS_SetEventCallbacks(NULL, on_hello_unregister, NULL, NULL, NULL, NULL, NULL);
        return 0;
    }
    int named = !strcmp(which, "all") || !strcmp(which, "named");
    int other = !strcmp(which, "all") || !strcmp(which, "other");
    v_DBUS_SetEventCallbacks(named ? on_sms : NULL, named ? on_hello : NULL,
                             named ? on_network : NULL, named ? on_goodbye : NULL,
                             named ? on_indicator : NULL, named ? on_whoisthere : NULL,
                             other ? on_other : NULL);
    return 0;
}

/* Waits up to two seconds for a first message, lets the rest of a burst arrive for
 * 200 ms, then drains once. */
static int32_t drain(void) {
    DBusConnection* c = gt_Client.pt_Connection;
    for (int i = 0;
         c && i < 40 && dbus_connection_get_dispatch_status(c) != DBUS_DISPATCH_DATA_REMAINS; ++i)
        dbus_connection_read_write(c, 50);
    for (int i = 0; c && i < 4; ++i)
        dbus_connection_read_write(c, 50);
    return s32_DBUS_ReceiveEvents(gp_Client);
}

static int32_t request(char** a) {
    char answer[512];
    int n = atoi(a[3]);
    memset(answer, '#', sizeof answer);
    int32_t result = s32_DBUS_Request(gp_Client, a[1], a[2], a[4], answer, n);
    printf("result %d answer %.*s\n", result,
           (int)strnlen(answer, n > 0 && n < (int)sizeof answer ? (size_t)n : 0), answer);
    return PRINTED;
}

static int32_t add_match(const char* rule) {
    DBusError error;
    dbus_error_init(&error);
    dbus_bus_add_match(gt_Client.pt_Connection, rule, &error);
    int32_t failed = dbus_error_is_set(&error) ? -1 : 0;
    dbus_error_free(&error);
    return failed;
}

static int32_t register_as(char** a) {
    snprintf(gt_Client.acn_Name, sizeof gt_Client.acn_Name, "%s", a[1]);
    snprintf(gt_Client.acn_Version, sizeof gt_Client.acn_Version, "%s", *a[2] ? a[2] : "v1");
    snprintf(gt_Client.acn_Info, sizeof gt_Client.acn_Info, "info");
    snprintf(gt_Client.acn_Description, sizeof gt_Client.acn_Description, "test driver");
    int32_t result = s32_DBUS_Register(gp_Client);
    if (gp_Client && gt_Client.pt_Connection) /* to learn of a lost bus, not be ended by it */
        dbus_connection_set_exit_on_disconnect(gt_Client.pt_Connection, FALSE);
    return result;
}

static int32_t watchdog(char** a) {
    gt_Client.s32_WatchdogInterval = atoi(a[1]);
    snprintf(gt_Client.acn_WatchdogCmd, sizeof gt_Client.acn_WatchdogCmd, "%s", a[2]);
    return s32_DBUS_RegisterWatchdog(gp_Client);
}

#define IS(name) !strcmp(a[0], name)
static int32_t command(char** a) {
    return IS("hello")        ? s32_DBUS_SendHello(gp_Client)
           : IS("goodbye")    ? s32_DBUS_SendGoodbye(gp_Client)
           : IS("whoisthere") ? s32_DBUS_SendWhoIsThere(gp_Client)
           : IS("unregister") ? s32_DBUS_Unregister(gp_Client)
           : IS("trigger")    ? s32_DBUS_TriggerWatchdog(gp_Client)
           : IS("cancel")     ? s32_DBUS_CancelWatchdog(gp_Client)
           : IS("ignition")   ? s32_DBUS_GetIgnition(gp_Client)
           : IS("gpsdata")    ? s32_DBUS_GetGPSData(gp_Client, &gt_Data, 1000)
           : IS("stayalive")  ? s32_DBUS_SendStayAlive(gp_Client, (uint32_t)strtoul(a[1], 0, 10))
           : IS("notify")     ? s32_DBUS_Notify(gp_Client, a[1], a[2], a[3])
           : IS("register")   ? register_as(a)
           : IS("watchdog")   ? watchdog(a)
           : IS("request")    ? request(a)
           : IS("match")      ? add_match(a[1])
           : IS("callbacks")  ? set_callbacks(a[1])
           : IS("drain")      ? drain()
           : IS("null")       ? (gp_Client = NULL, 0)
                              : (printf("unknown %s\n", a[0]), PRINTED);
}

static char* decode(char* text) {
    char* out = text;
    for (const char* in = text; *in; ++out) {
        unsigned byte;
        if (in[0] == '%' && sscanf(in + 1, "%2x", &byte) == 1)
            *out = (char)byte, in += 3;
        else
            *out = *in++;
    }
    *out = '\0';
    return text;
}

int main(void) {
    char line[4096];
    while (fgets(line, sizeof line, stdin)) {
        static char none[] = ""; /* a missing word; never written */
        char* a[6] = {none, none, none, none, none, none};
        char* word = strtok(line, " \n");
        for (int i = 0; word && i < 6; ++i, word = strtok(NULL, " \n"))
            a[i] = decode(word);
        int32_t result = command(a);
        if (result != PRINTED)
            printf("result %d\n", result);
        fflush(stdout);
    }
    return 0;
}
