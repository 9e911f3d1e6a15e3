// Time-stamped log: one writer, a file opened once at start-up or standard output.
#pragma once

#include <cstdint>
#include <cstdio>

// Both stamp functions write at most this many bytes, terminator included.
constexpr std::size_t XLOCD_STAMP_SIZE = 31;

std::int32_t s32_Log_Open(const char* pc_Path);
std::int32_t s32_Log_Write(const char* pc_Message);
std::int32_t s32_Log_Close();

// "%d.%m.%y_%X" local time, e.g. 01.03.24_07:05:09.
char* pc_Log_LocalTimeStamp(char* pc_Buffer);
// "%Y%m%dT%H%M%SZ" UTC, e.g. 20240301T070509Z.
char* pc_Log_UtcTimeStamp(char* pc_Buffer);

// Inverse of the local stamp, as seconds since the epoch; the year is 20YY and
// mktime decides daylight-saving time from the zone rules (tm_isdst = -1).
// 0 for a null text, -10 for a day outside 1..31, -1 for any other shape.
std::int32_t s32_Log_ParseTimeStamp(const char* pc_Stamp);

// Writes the text without terminator or line feed. -1 null argument, 0 something
// written, -10 nothing written. The length handed over is strlen modulo 65536.
std::int32_t s32_File_WriteString(FILE* pt_Stream, const char* pc_Text);

// Messages formatted by the caller; checked by the compiler like printf.
__attribute__((format(printf, 1, 2))) void v_Log_Printf(const char* pc_Format, ...);
