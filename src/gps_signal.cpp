// gps_data_signal: the GPSData signal, with the twelve texts GetGPSData would answer,
// after each fold that changed one of them.
#include "bus_messages.hpp"
#include "xlocd.h"

#include <array>
#include <cstring>

namespace {

std::array<std::array<char, 32>, 12> gat_LastSent; // what subscribers saw last
std::uint32_t gu32_SeenVersion;                    // of gu32_StateVersion

// Copies the texts that differ; true when one did.
bool mb_Signal_TakeChanges(const T_GpsTexts& at_Fields) {
    bool b_Changed = false;
    for (std::size_t i = 0; i < at_Fields.size(); ++i) {
        if (std::strncmp(gat_LastSent[i].data(), at_Fields[i], gat_LastSent[i].size()) != 0) {
            std::snprintf(gat_LastSent[i].data(), gat_LastSent[i].size(), "%s", at_Fields[i]);
            b_Changed = true;
        }
    }
    return b_Changed;
}

} // namespace

void v_Signal_Start() {
    if (gt_Config.s32_GpsDataSignal > 0) {
        mb_Signal_TakeChanges(at_Reply_Fields()); // the texts before any fold: no signal
    }
}

void v_Signal_AfterFold() {
    if (gt_Config.s32_GpsDataSignal <= 0 || gu32_SeenVersion == gu32_StateVersion) {
        return;
    }
    gu32_SeenVersion = gu32_StateVersion;
    const T_GpsTexts at_Fields = at_Reply_Fields();
    if (!mb_Signal_TakeChanges(at_Fields)) {
        return;
    }
    orb::e_EmitSignal(gt_Client.pt_Connection, "/zel/orb/xlocd/Object", "zel.orb.xlocd", "GPSData",
                      [&at_Fields](DBusMessageIter* pt_Iter) {
                          for (const char* pc_Text : at_Fields) {
                              if (!orb::b_AppendText(pt_Iter, pc_Text)) {
                                  return false;
                              }
                          }
                          return true;
                      });
}
