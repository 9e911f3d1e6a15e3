/* Plain-C driver of the framework library for the tests: one command per line on
 * stdin, one line per result or event on stdout. Words are %XX-decoded, so "%20" is
 * a blank, "%FC" a Latin-1 byte and "%00" an empty text.
 *   register NAME [VERSION] | hello | goodbye | whoisthere | unregister | trigger
 *   cancel | ignition | stayalive VALUE | watchdog INTERVAL CMD | notify PEER MEMBER ARG
 *   request PEER MEMBER SIZE ARG  -> result N answer <the copy, cut at SIZE>
 *   match RULE | callbacks all|named|other|none | drain -> events, then the result
 *   null -> every later call passes a null record */
#define _POSIX_C_SOURCE 200809L /* strnlen */
#include "orb_client.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define PRINTED 1000 /* a command that printed its own line */

static T_DBUS_Client gt_Client;
static T_DBUS_Client* gp_Client = &gt_Client;

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

static int32_t set_callbacks(char** a) {
    int named = !strcmp(a[1], "all") || !strcmp(a[1], "named");
    int other = !strcmp(a[1], "all") || !strcmp(a[1], "other");
    v_DBUS_SetEventCallbacks(named ? on_sms : NULL, named ? on_hello : NULL,
                             named ? on_network : NULL, named ? on_goodbye : NULL,
                             named ? on_indicator : NULL, named ? on_whoisthere : NULL,
                             other ? on_other : NULL);
    return 0;
}

/* Waits up to two seconds for a first message, lets the rest of a burst arrive for
 * 200 ms, then drains once. */
static int32_t drain(char** a) {
    DBusConnection* c = gt_Client.pt_Connection;
    (void)a;
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

static int32_t add_match(char** a) {
    DBusError error;
    dbus_error_init(&error);
    dbus_bus_add_match(gt_Client.pt_Connection, a[1], &error);
    int32_t failed = dbus_error_is_set(&error) ? -1 : 0;
    dbus_error_free(&error);
    return failed;
}

static int32_t null_client(char** a) {
    (void)a;
    gp_Client = NULL;
    return 0;
}

static int32_t register_as(char** a) {
    snprintf(gt_Client.acn_Name, sizeof gt_Client.acn_Name, "%s", a[1]);
    snprintf(gt_Client.acn_Version, sizeof gt_Client.acn_Version, "%s", *a[2] ? a[2] : "v1");
    snprintf(gt_Client.acn_Info, sizeof gt_Client.acn_Info, "info");
    snprintf(gt_Client.acn_Description, sizeof gt_Client.acn_Description, "test driver");
    return s32_DBUS_Register(gp_Client);
}

static int32_t watchdog(char** a) {
    gt_Client.s32_WatchdogInterval = atoi(a[1]);
    snprintf(gt_Client.acn_WatchdogCmd, sizeof gt_Client.acn_WatchdogCmd, "%s", a[2]);
    return s32_DBUS_RegisterWatchdog(gp_Client);
}

static int32_t stayalive(char** a) {
    return s32_DBUS_SendStayAlive(gp_Client, (uint32_t)strtoul(a[1], NULL, 10));
}

static int32_t notify(char** a) {
    return s32_DBUS_Notify(gp_Client, a[1], a[2], a[3]);
}

static int32_t command(char** a) {
    static const struct {
        const char* name;
        int32_t (*call)(T_DBUS_Client*);
    } simple[] = {{"hello", s32_DBUS_SendHello},           {"goodbye", s32_DBUS_SendGoodbye},
                  {"whoisthere", s32_DBUS_SendWhoIsThere}, {"unregister", s32_DBUS_Unregister},
                  {"trigger", s32_DBUS_TriggerWatchdog},   {"cancel", s32_DBUS_CancelWatchdog},
                  {"ignition", s32_DBUS_GetIgnition}};
    static const struct {
        const char* name;
        int32_t (*call)(char**);
    } words[] = {{"register", register_as},    {"watchdog", watchdog}, {"stayalive", stayalive},
                 {"notify", notify},           {"request", request},   {"match", add_match},
                 {"callbacks", set_callbacks}, {"drain", drain},       {"null", null_client}};
    for (size_t i = 0; i < sizeof simple / sizeof simple[0]; ++i)
        if (!strcmp(a[0], simple[i].name))
            return simple[i].call(gp_Client);
    for (size_t i = 0; i < sizeof words / sizeof words[0]; ++i)
        if (!strcmp(a[0], words[i].name))
            return words[i].call(a);
    printf("unknown %s\n", a[0]);
    return PRINTED;
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
        char empty[6][1] = {""};
        char* a[6] = {empty[0], empty[1], empty[2], empty[3], empty[4], empty[5]};
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
