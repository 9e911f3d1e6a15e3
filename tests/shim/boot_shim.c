/* LD_PRELOAD stand-in for a suspend: CLOCK_BOOTTIME runs ahead of the real one by the
 * seconds written in $XLOCD_BOOT_OFFSET_FILE, read at every call, so that a test can
 * move it on while the process is stopped. Every other clock is the real one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

/* A 64-bit time_t on a 32-bit board (Debian 13's armhf) renames it, callers too. */
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
#define REAL_CLOCK_GETTIME "__clock_gettime64"
#else
#define REAL_CLOCK_GETTIME "clock_gettime"
#endif

int clock_gettime(clockid_t clock, struct timespec* now) {
    int (*real)(clockid_t, struct timespec*) =
        (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, REAL_CLOCK_GETTIME);
    const int result = real(clock, now);
    const char* path = getenv("XLOCD_BOOT_OFFSET_FILE");
    FILE* file = clock == CLOCK_BOOTTIME && path != NULL ? fopen(path, "r") : NULL;
    long seconds = 0;
    if (file != NULL) {
        if (fscanf(file, "%ld", &seconds) == 1 && result == 0)
            now->tv_sec += seconds;
        fclose(file);
    }
    return result;
}
