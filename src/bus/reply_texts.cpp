#include "bus/reply_texts.h"

#include "clock/fix_time.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Wide enough for any double printed with "%f" (about 317 characters).
constexpr std::size_t kScratchSize = 400;

// The value formatted as "%<width>.<precision>f" into the field when the text is
// usable; false otherwise.
template <std::size_t N>
bool mb_Reply_Take(char (&acn_Field)[N], int s32_Width, int s32_Precision, double f64_Value) {
    char acn_Scratch[kScratchSize];
    const int s32_Len = std::snprintf(acn_Scratch, sizeof acn_Scratch, "%*.*f", s32_Width,
                                      s32_Precision, f64_Value);
    if (s32_Len < 0 || static_cast<std::size_t>(s32_Len) >= N ||
        std::strcmp(acn_Scratch, "nan") == 0) {
        return false;
    }
    std::memcpy(acn_Field, acn_Scratch, static_cast<std::size_t>(s32_Len) + 1);
    return true;
}

bool mb_Reply_IsNanText(double f64_Value) {
    char acn_Scratch[kScratchSize];
    std::snprintf(acn_Scratch, sizeof acn_Scratch, "%f", f64_Value);
    return std::strcmp(acn_Scratch, "nan") == 0;
}

void mv_Reply_TimeFields(T_ReplyTexts* pt_Texts, double f64_Time) {
    std::tm t_Tm{};
    if (mb_Reply_IsNanText(f64_Time) || !b_Clock_LocalTime(f64_Time, &t_Tm)) {
        return;
    }
    const unsigned u32_Year2 = u32_TwoDigitYear(t_Tm);
    std::snprintf(pt_Texts->acn_Time, sizeof pt_Texts->acn_Time, "%02u%02u%02u",
                  u32_Field(t_Tm.tm_hour % 24), u32_Field(t_Tm.tm_min), u32_Field(t_Tm.tm_sec));
    std::snprintf(pt_Texts->acn_Date, sizeof pt_Texts->acn_Date, "%02u%02u%02u",
                  u32_Field(t_Tm.tm_mday), u32_Field(t_Tm.tm_mon + 1), u32_Year2);
    if (2000 + u32_Year2 <= 2006) {
        std::snprintf(pt_Texts->acn_UTC, sizeof pt_Texts->acn_UTC, "0");
        return;
    }
    // MMDDhhmm20YY, from the date (ddmmyy) and time (hhmmss) fields.
    const char* pc_Date = pt_Texts->acn_Date;
    const char* pc_Time = pt_Texts->acn_Time;
    std::snprintf(pt_Texts->acn_UTC, sizeof pt_Texts->acn_UTC, "%.2s%.2s%.4s20%.2s", pc_Date + 2,
                  pc_Date, pc_Time, pc_Date + 4);
}

} // namespace

void v_Reply_Refresh(T_ReplyTexts* pt_Texts, const T_GpsState& t_State) {
    std::memcpy(pt_Texts->acn_Status, t_State.acn_Status, sizeof pt_Texts->acn_Status);
    std::memcpy(pt_Texts->acn_Warn, t_State.acn_Warn, sizeof pt_Texts->acn_Warn);
    mb_Reply_Take(pt_Texts->acn_Latitude, 2, 6, t_State.f64_Latitude);
    mb_Reply_Take(pt_Texts->acn_Longitude, 2, 6, t_State.f64_Longitude);
    mv_Reply_TimeFields(pt_Texts, t_State.f64_Time);
    mb_Reply_Take(pt_Texts->acn_Speed, 3, 5, t_State.f64_Speed);
    if (!std::isnan(t_State.f64_Course)) {
        mb_Reply_Take(pt_Texts->acn_Course, 3, 5, t_State.f64_Course);
    }
    std::snprintf(pt_Texts->acn_Satellites, sizeof pt_Texts->acn_Satellites, "%u",
                  static_cast<unsigned>(t_State.u8_Satellites));
    if (t_State.u8_FixType == 2) {
        mb_Reply_Take(pt_Texts->acn_Altitude, 0, 0, t_State.f64_Altitude);
    }
    std::snprintf(pt_Texts->acn_Quality, sizeof pt_Texts->acn_Quality, "%.*s",
                  static_cast<int>(sizeof t_State.acn_Quality), t_State.acn_Quality);
}

// One entry a field, in reply order.
const std::array<T_ReplyField, 12> kReplyFields = {{
    {"acn_status", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Status; }},
    {"acn_latitude", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Latitude; }},
    {"acn_longitude", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Longitude; }},
    {"acn_altitude", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Altitude; }},
    {"acn_time", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Time; }},
    {"acn_satellites", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Satellites; }},
    {"acn_quality", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Quality; }},
    {"acn_warn", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Warn; }},
    {"acn_speed", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Speed; }},
    {"acn_course", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Course; }},
    {"acn_date", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_Date; }},
    {"acn_UTC", [](const T_ReplyTexts& t_T) -> const char* { return t_T.acn_UTC; }},
}};

T_ReplyRow t_Reply_Row(T_ReplyTexts* pt_Texts, const T_GpsState& t_State) {
    v_Reply_Refresh(pt_Texts, t_State);
    T_ReplyRow t_Row{};
    for (std::size_t i = 0; i < kReplyFields.size(); ++i) {
        const char* pc_Text = kReplyFields[i].pf_Text(*pt_Texts);
        std::memcpy(t_Row[i].data(), pc_Text, strnlen(pc_Text, t_Row[i].size() - 1));
    }
    return t_Row;
}
