// The configuration reader over arbitrary file contents.
#include "config.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pu8_Data, std::size_t u32_Size) {
    FILE* pt_File = fmemopen(const_cast<std::uint8_t*>(pu8_Data), u32_Size, "r");
    if (pt_File == nullptr) {
        return 0;
    }
    FILE* pt_Null = std::fopen("/dev/null", "w");
    FILE* pt_Stdout = stdout;
    stdout = pt_Null; // the two default messages
    T_Config t_Config{};
    s32_Config_Read(pt_File, &t_Config);
    stdout = pt_Stdout;
    std::fclose(pt_Null);
    // Every text field stays terminated within its width.
    if (std::memchr(t_Config.acn_LogFile, 0, sizeof t_Config.acn_LogFile) == nullptr ||
        std::memchr(t_Config.acn_RtcPath, 0, sizeof t_Config.acn_RtcPath) == nullptr ||
        std::memchr(t_Config.acn_GpsSourceSpec, 0, sizeof t_Config.acn_GpsSourceSpec) == nullptr ||
        std::memchr(t_Config.acn_CmdOnWatchdog, 0, sizeof t_Config.acn_CmdOnWatchdog) == nullptr) {
        __builtin_trap();
    }
    std::fclose(pt_File);
    return 0;
}
