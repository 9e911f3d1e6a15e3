/* The benchmark's floor for wake-ups: the design's pacing on its own, a loop that
 * lets libdbus wait at most 50 ms per pass and drops what arrives. It is what every
 * pass of the designed daemon costs while nothing happens. */
#include <dbus/dbus.h>
#include <signal.h>
#include <stdio.h>

static volatile sig_atomic_t stop;

static void on_stop(int signal_number) {
    (void)signal_number;
    stop = 1;
}

int main(void) {
    DBusConnection* connection = dbus_bus_get(DBUS_BUS_SYSTEM, NULL);
    if (connection == NULL) {
        fputs("design_pace: no bus\n", stderr);
        return 1;
    }
    signal(SIGTERM, on_stop);
    puts("READY");
    fflush(stdout);
    while (!stop) {
        dbus_connection_read_write(connection, 50);
        DBusMessage* message = dbus_connection_pop_message(connection);
        if (message != NULL)
            dbus_message_unref(message);
    }
    return 0;
}
