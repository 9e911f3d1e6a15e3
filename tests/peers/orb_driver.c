/* Plain-C driver of the framework library, for the tests: reads one command per
 * line on stdin and prints one line per result or event.
 *   register NAME              -> result N
 *   hello | goodbye | whoisthere | unregister | trigger | cancel | ignition
 *   watchdog INTERVAL CMD      -> result of s32_DBUS_RegisterWatchdog
 *   stayalive VALUE
 *   request PEER MEMBER SIZE ARG   -> result N answer <text, unterminated copy cut at SIZE>
 *   notify PEER MEMBER ARG
 *   callbacks all|named|other|none
 *   drain                      -> events, then result N of s32_DBUS_ReceiveEvents
 *   match RULE                 -> adds a match rule (the receiver adds none itself)
 *   nullchecks                 -> the codes for a null record, one line
 * Names and texts are %XX-decoded, so "%FC" is a Latin-1 byte and "%00" empty. */
#include "orb_client.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static T_DBUS_Client gt_Client;

static char* decode(char* text) {
    char* out = text;
    for (const char* in = text; text && *in; ++out) {
        unsigned byte;
        if (in[0] == '%' && sscanf(in + 1, "%2x", &byte) == 1) {
            *out = (char)byte;
            in += 3;
        } else {
            *out = *in++;
        }
    }
    if (text)
        *out = '\0';
    return text ? text : "";
}

static void on_sms(const char* a, const char* b) {
    printf("event sms %s|%s\n", a, b);
}
static void on_hello(const char* a) {
    printf("event hello %s\n", a);
}
static void on_network(const char* a, const char* b) {
    printf("event network %s|%s\n", a, b);
}
static void on_goodbye(const char* a) {
    printf("event goodbye %s\n", a);
}
static void on_indicator(const char* a) {
    printf("event indicator %s\n", a);
}
static void on_whoisthere(const char* a) {
    printf("event whoisthere %s\n", a);
}
static void on_other(DBusMessage* m) {
    const char* member = dbus_message_get_member(m);
    printf("event other %s %s\n", dbus_message_type_to_string(dbus_message_get_type(m)),
           member ? member : "-");
}

static void set_callbacks(const char* which) {
    int named = !strcmp(which, "all") || !strcmp(which, "named");
    int other = !strcmp(which, "all") || !strcmp(which, "other");
    v_DBUS_SetEventCallbacks(named ? on_sms : NULL, named ? on_hello : NULL,
                             named ? on_network : NULL, named ? on_goodbye : NULL,
                             named ? on_indicator : NULL, named ? on_whoisthere : NULL,
                             other ? on_other : NULL);
}

/* Waits up to two seconds for a first queued message, lets the rest of the burst
 * arrive for 200 ms, then drains once. */
static int drain(void) {
    for (int i = 0; i < 40; ++i) {
        if (dbus_connection_get_dispatch_status(gt_Client.pt_Connection) ==
            DBUS_DISPATCH_DATA_REMAINS)
            break;
        dbus_connection_read_write(gt_Client.pt_Connection, 50);
    }
    for (int i = 0; i < 4; ++i)
        dbus_connection_read_write(gt_Client.pt_Connection, 50);
    return s32_DBUS_ReceiveEvents(&gt_Client);
}

static void request(char* rest) {
    char* peer = decode(strtok(rest, " "));
    char* member = decode(strtok(NULL, " "));
    char* size = strtok(NULL, " ");
    char* arg = decode(strtok(NULL, ""));
    int n = size ? atoi(size) : 0;
    char answer[512];
    memset(answer, '#', sizeof answer);
    int result = s32_DBUS_Request(&gt_Client, peer, member, arg, answer, n);
    int shown = n > 0 && n < (int)sizeof answer ? n : 0;
    printf("result %d answer %.*s\n", result, (int)strnlen(answer, (size_t)shown), answer);
}

static int command(char* line) {
    char* verb = strtok(line, " ");
    char* rest = strtok(NULL, "");
    if (!verb)
        return 0;
    if (!strcmp(verb, "register")) { /* register NAME [VERSION] */
        char* name = decode(strtok(rest, " "));
        char* version = strtok(NULL, " ");
        snprintf(gt_Client.acn_Name, sizeof gt_Client.acn_Name, "%s", name);
        snprintf(gt_Client.acn_Version, sizeof gt_Client.acn_Version, "%s",
                 version ? decode(version) : "v1");
        snprintf(gt_Client.acn_Info, sizeof gt_Client.acn_Info, "info");
        snprintf(gt_Client.acn_Description, sizeof gt_Client.acn_Description, "test driver");
        return s32_DBUS_Register(&gt_Client);
    }
    if (!strcmp(verb, "hello"))
        return s32_DBUS_SendHello(&gt_Client);
    if (!strcmp(verb, "goodbye"))
        return s32_DBUS_SendGoodbye(&gt_Client);
    if (!strcmp(verb, "whoisthere"))
        return s32_DBUS_SendWhoIsThere(&gt_Client);
    if (!strcmp(verb, "unregister"))
        return s32_DBUS_Unregister(&gt_Client);
    if (!strcmp(verb, "trigger"))
        return s32_DBUS_TriggerWatchdog(&gt_Client);
    if (!strcmp(verb, "cancel"))
        return s32_DBUS_CancelWatchdog(&gt_Client);
    if (!strcmp(verb, "ignition"))
        return s32_DBUS_GetIgnition(&gt_Client);
    if (!strcmp(verb, "stayalive"))
        return s32_DBUS_SendStayAlive(&gt_Client, (uint32_t)strtoul(rest, NULL, 10));
    if (!strcmp(verb, "watchdog")) {
        char* interval = strtok(rest, " ");
        char* cmd = strtok(NULL, "");
        gt_Client.s32_WatchdogInterval = atoi(interval);
        snprintf(gt_Client.acn_WatchdogCmd, sizeof gt_Client.acn_WatchdogCmd, "%s", decode(cmd));
        return s32_DBUS_RegisterWatchdog(&gt_Client);
    }
    if (!strcmp(verb, "notify")) {
        char* peer = decode(strtok(rest, " "));
        char* member = decode(strtok(NULL, " "));
        return s32_DBUS_Notify(&gt_Client, peer, member, decode(strtok(NULL, "")));
    }
    if (!strcmp(verb, "match")) {
        DBusError error;
        dbus_error_init(&error);
        dbus_bus_add_match(gt_Client.pt_Connection, rest, &error);
        int failed = dbus_error_is_set(&error);
        dbus_error_free(&error);
        return failed ? -1 : 0;
    }
    if (!strcmp(verb, "callbacks")) {
        set_callbacks(rest ? rest : "none");
        return 0;
    }
    if (!strcmp(verb, "drain"))
        return drain();
    if (!strcmp(verb, "request")) {
        request(rest);
        return 1000;
    }
    if (!strcmp(verb, "nullchecks")) {
        char buf[4];
        printf("nullchecks %d %d %d %d %d %d %d %d %d %d %d %d %d %d %d\n", s32_DBUS_Register(NULL),
               s32_DBUS_Unregister(NULL), s32_DBUS_SendHello(NULL), s32_DBUS_SendGoodbye(NULL),
               s32_DBUS_SendWhoIsThere(NULL), s32_DBUS_RegisterWatchdog(NULL),
               s32_DBUS_TriggerWatchdog(NULL), s32_DBUS_CancelWatchdog(NULL),
               s32_DBUS_SendStayAlive(NULL, 1), s32_DBUS_GetIgnition(NULL),
               s32_DBUS_Request(NULL, "p", "m", "a", buf, 4),
               s32_DBUS_Request(&gt_Client, "p", "m", "a", buf, 0),
               s32_DBUS_Notify(NULL, "p", "m", "a"), s32_DBUS_ReceiveEvents(NULL),
               s32_DBUS_SendStayAlive(&gt_Client, 0));
        return 1000;
    }
    printf("unknown %s\n", verb);
    return 1000;
}

int main(void) {
    char line[4096];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\n")] = '\0';
        int result = command(line);
        if (result != 1000)
            printf("result %d\n", result);
        fflush(stdout);
    }
    return 0;
}
