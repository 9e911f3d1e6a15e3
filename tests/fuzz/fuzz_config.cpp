// The configuration reader over arbitrary file contents.
#include "config.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
template <std::size_t... N> void mv_RequireTerminated(const char (&... acn_Fields)[N]) {
    if (((std::memchr(acn_Fields, 0, N) == nullptr) || ...)) {
        __builtin_trap();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pu8_Data, std::size_t u32_Size) {
    FILE* pt_File = fmemopen(const_cast<std::uint8_t*>(pu8_Data), u32_Size, "r");
    FILE* pt_Stdout = stdout;
    stdout = std::fopen("/dev/null", "w"); // the reader's messages
    T_Config t_C{};
    s32_Config_Read(pt_File, &t_C);
    std::fclose(stdout);
    stdout = pt_Stdout;
    std::fclose(pt_File);
    mv_RequireTerminated(t_C.acn_LogFile, t_C.acn_RtcPath, t_C.acn_GpsSourceSpec,
                         t_C.acn_CmdOnWatchdog);
    return 0;
}
