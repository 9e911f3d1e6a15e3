/* The public header compiles as C11 and the library links from C. */
#include "orb_client.h"

#include <stdio.h>
#include <string.h>

static void on_text(const char* pc_Text) {
    (void)pc_Text;
}

int main(void) {
    T_DBUS_Client t_Client;
    T_DBUS_GPS_Data t_Data;
    memset(&t_Client, 0, sizeof t_Client);
    memset(&t_Data, 0, sizeof t_Data);
    v_DBUS_SetEventCallbacks(NULL, on_text, NULL, on_text, NULL, on_text, NULL);
    /* Without registration every operation gives its no-connection code. */
    int ok = s32_DBUS_SendHello(&t_Client) == -1 && s32_DBUS_SendWhoIsThere(&t_Client) == -2 &&
             s32_DBUS_RegisterWatchdog(&t_Client) == -2 &&
             s32_DBUS_ReceiveEvents(&t_Client) == -10 &&
             s32_DBUS_Notify(&t_Client, "p", "m", "a") == -2 && s32_DBUS_Unregister(NULL) == -5 &&
             sizeof t_Data.acn_UTC == 32;
    puts(ok ? "ok" : "unexpected result");
    return ok ? 0 : 1;
}
