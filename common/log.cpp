#include "log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <ctime>

namespace {
FILE* pt_LogStream = nullptr;

char* mpc_Log_Stamp(char* pc_Buffer, bool b_Utc) {
    const std::time_t t_Now = std::time(nullptr);
    const std::tm* pt_Tm = b_Utc ? std::gmtime(&t_Now) : std::localtime(&t_Now);
    const std::size_t u32_Len =
        pt_Tm == nullptr ? 0
        : b_Utc          ? std::strftime(pc_Buffer, XLOCD_STAMP_SIZE, "%Y%m%dT%H%M%SZ", pt_Tm)
                         : std::strftime(pc_Buffer, XLOCD_STAMP_SIZE, "%d.%m.%y_%X", pt_Tm);
    pc_Buffer[u32_Len] = '\0';
    return pc_Buffer;
}

bool mb_Log_TwoDigits(const char* pc_Text, int* ps32_Out) {
    if (!std::isdigit(static_cast<unsigned char>(pc_Text[0])) ||
        !std::isdigit(static_cast<unsigned char>(pc_Text[1]))) {
        return false;
    }
    *ps32_Out = (pc_Text[0] - '0') * 10 + (pc_Text[1] - '0');
    return true;
}
} // namespace

// Mode "a+" as fopen gives it, but non-blocking: a Log_File that is a FIFO nobody
// reads then loses lines once the pipe is full, instead of holding the daemon in
// write. Regular files and devices behave as with fopen.
std::int32_t s32_Log_Open(const char* pc_Path) {
    const int s32_Fd = open(pc_Path, O_RDWR | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0666);
    pt_LogStream = s32_Fd < 0 ? nullptr : fdopen(s32_Fd, "a+");
    if (pt_LogStream == nullptr) {
        if (s32_Fd >= 0) {
            close(s32_Fd);
        }
        std::printf("Can not open log file '%s' to write to.\n", pc_Path);
        return -1;
    }
    return 0;
}

std::int32_t s32_Log_Write(const char* pc_Message) {
    v_Log_Printf("%s", pc_Message);
    return 0;
}

// The line goes straight into the stream, so no length is imposed on it.
void v_Log_Printf(const char* pc_Format, ...) {
    char acn_Stamp[XLOCD_STAMP_SIZE];
    pc_Log_LocalTimeStamp(acn_Stamp);
    FILE* pt_Out = pt_LogStream != nullptr ? pt_LogStream : stdout;
    std::fprintf(pt_Out, "%s ", acn_Stamp);
    va_list t_Args;
    va_start(t_Args, pc_Format);
    // clang-analyzer 14 misses the va_start above for C++ variadics.
    std::vfprintf(pt_Out, pc_Format, t_Args); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(t_Args);
    std::fputc('\n', pt_Out);
    if (pt_LogStream != nullptr) {
        std::fflush(pt_LogStream); // standard output keeps its own buffering
    }
}

std::int32_t s32_Log_Close() {
    if (pt_LogStream == nullptr) {
        return -1;
    }
    const int s32_Result = std::fclose(pt_LogStream);
    pt_LogStream = nullptr;
    return s32_Result == 0 ? 0 : -1;
}

char* pc_Log_LocalTimeStamp(char* pc_Buffer) {
    return mpc_Log_Stamp(pc_Buffer, false);
}

char* pc_Log_UtcTimeStamp(char* pc_Buffer) {
    return mpc_Log_Stamp(pc_Buffer, true);
}

std::int32_t s32_Log_ParseTimeStamp(const char* pc_Stamp) {
    if (pc_Stamp == nullptr) {
        return 0;
    }
    int as32_Field[6] = {};
    for (int i = 0; i < 6; ++i) {
        const std::size_t u32_Pos = static_cast<std::size_t>(i) * 3;
        if (std::strlen(pc_Stamp) < u32_Pos + 2 ||
            !mb_Log_TwoDigits(pc_Stamp + u32_Pos, &as32_Field[i])) {
            return -1;
        }
        if (i < 5 && (pc_Stamp[u32_Pos + 2] == '\0' ||
                      std::strchr("._:", pc_Stamp[u32_Pos + 2]) == nullptr)) {
            return -1;
        }
    }
    if (as32_Field[0] < 1 || as32_Field[0] > 31) {
        return -10;
    }
    std::tm t_Tm{};
    t_Tm.tm_mday = as32_Field[0];
    t_Tm.tm_mon = as32_Field[1] - 1;
    t_Tm.tm_year = 100 + as32_Field[2];
    t_Tm.tm_hour = as32_Field[3];
    t_Tm.tm_min = as32_Field[4];
    t_Tm.tm_sec = as32_Field[5];
    t_Tm.tm_isdst = -1;
    return static_cast<std::int32_t>(std::mktime(&t_Tm));
}

std::int32_t s32_File_WriteString(FILE* pt_Stream, const char* pc_Text) {
    if (pt_Stream == nullptr || pc_Text == nullptr) {
        return -1;
    }
    const std::size_t u32_Len = std::strlen(pc_Text) % 65536;
    return std::fwrite(pc_Text, 1, u32_Len, pt_Stream) > 0 ? 0 : -10;
}
