// gps_data_signal: the GPSData signal after each fold that changed one of its texts.
#pragma once

// With b_On, takes the texts before any fold, so that they bring no signal.
void v_Signal_Start(bool b_On);
// After a pass's gpsd step: sends the signal when the fix state moved and a text changed.
void v_Signal_AfterFold();
