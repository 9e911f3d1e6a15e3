#include "gps/fix_rule.h"

#include <cmath>
#include <cstring>

namespace {

template <std::size_t N> void mv_SetText(char (&acn_Field)[N], const char (&acn_Text)[N]) {
    std::memcpy(acn_Field, acn_Text, N);
}

void mv_CopyIfNumber(double* pf64_Field, double f64_Value) {
    if (!std::isnan(f64_Value)) {
        *pf64_Field = f64_Value;
    }
}

void mv_Fix_Take(T_GpsState* pt_State, const T_GpsReport& t_Report) {
    mv_SetText(pt_State->acn_Status, "NMEA");
    pt_State->u8_Satellites = static_cast<std::uint8_t>(t_Report.s32_SatellitesUsed);
    pt_State->u8_FixType = 1;
    mv_SetText(pt_State->acn_Quality, "1");
    pt_State->u8_Valid = 1;
    mv_CopyIfNumber(&pt_State->f64_Latitude, t_Report.f64_Latitude);
    mv_CopyIfNumber(&pt_State->f64_Longitude, t_Report.f64_Longitude);
    mv_CopyIfNumber(&pt_State->f64_Time, t_Report.f64_Time);
    if (t_Report.s32_Mode == 3) {
        pt_State->u8_FixType = 2;
        // Speed follows the track: without a course the speed is not trusted either.
        if (!std::isnan(t_Report.f64_Track)) {
            pt_State->f64_Course = t_Report.f64_Track;
            pt_State->f64_Speed = t_Report.f64_Speed * 3600 / 1000;
        }
        mv_CopyIfNumber(&pt_State->f64_Altitude, t_Report.f64_Altitude);
    }
    mv_SetText(pt_State->acn_Warn, "A");
}

} // namespace

void v_Fix_MarkNone(T_GpsState* pt_State, std::uint8_t* pu8_MissCount) {
    mv_SetText(pt_State->acn_Status, "NONE");
    mv_SetText(pt_State->acn_Warn, "V");
    mv_SetText(pt_State->acn_Quality, "0");
    pt_State->u8_FixType = 0;
    pt_State->u8_Valid = 0;
    *pu8_MissCount = XLOCD_MISS_LIMIT - 1; // held below the limit: every later miss re-marks
}

bool b_Fix_IsFix(const T_GpsReport& t_Report) {
    return t_Report.s32_Status >= 1 && t_Report.s32_Mode >= 2;
}

bool b_Fix_Fold(T_GpsState* pt_State, std::uint8_t* pu8_MissCount, const T_GpsReport& t_Report) {
    if (b_Fix_IsFix(t_Report)) {
        mv_Fix_Take(pt_State, t_Report);
        *pu8_MissCount = 0;
        return true;
    }
    if (++*pu8_MissCount >= XLOCD_MISS_LIMIT) {
        v_Fix_MarkNone(pt_State, pu8_MissCount);
    }
    return false;
}
