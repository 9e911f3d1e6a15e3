/* LD_PRELOAD shim for the RTC success path: RTC_SET_TIME succeeds and the record
 * is appended to $XLOCD_RTC_SHIM_LOG as "sec min hour mday mon year wday yday isdst".
 * Every other request goes to the real ioctl. Never touches a real RTC. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <linux/rtc.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>

/* A 64-bit time_t on a 32-bit board (Debian 13's armhf) renames it, callers too. */
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
#define REAL_IOCTL "__ioctl_time64"
#else
#define REAL_IOCTL "ioctl"
#endif

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const char* log = getenv("XLOCD_RTC_SHIM_LOG");
    if (request == RTC_SET_TIME && log != NULL) {
        const struct rtc_time* t = arg;
        FILE* out = fopen(log, "a");
        if (out == NULL)
            return -1;
        fprintf(out, "%d %d %d %d %d %d %d %d %d\n", t->tm_sec, t->tm_min, t->tm_hour, t->tm_mday,
                t->tm_mon, t->tm_year, t->tm_wday, t->tm_yday, t->tm_isdst);
        fclose(out);
        return 0;
    }
    int (*real_ioctl)(int, unsigned long, ...) =
        (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, REAL_IOCTL);
    return real_ioctl(fd, request, arg);
}
