// gps_data_signal: the GPSData signal after each fold that changed one of its twelve
// texts. They are made by GetGPSData's rules from a store of the signal's own: the
// reply's store keeps texts from call to call, and refreshing it here after every
// fold would change what GetGPSData answers.
#include "bus_messages.hpp"
#include "gps_data_fields.hpp"
#include "reply_format.h"
#include "xlocd.h"

#include <array>
#include <cstring>

namespace {

T_ReplyTexts gt_SignalTexts;
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
        mb_Signal_TakeChanges(at_Reply_RefreshTexts(&gt_SignalTexts)); // the texts before any fold: no signal
    }
}

void v_Signal_AfterFold() {
    if (gt_Config.s32_GpsDataSignal <= 0 || gu32_SeenVersion == gu32_StateVersion) {
        return;
    }
    gu32_SeenVersion = gu32_StateVersion;
    const T_GpsTexts at_Fields = at_Reply_RefreshTexts(&gt_SignalTexts);
    if (!mb_Signal_TakeChanges(at_Fields)) {
        return;
    }
    orb::e_EmitSignal(gt_Client.pt_Connection, orb::kXlocdPath, orb::kXlocdName, "GPSData",
                      [&at_Fields](DBusMessageIter* pt_Iter) {
                          for (const char* pc_Text : at_Fields) {
                              if (!orb::b_AppendText(pt_Iter, pc_Text)) {
                                  return false;
                              }
                          }
                          return true;
                      });
}
