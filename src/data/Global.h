// Program-wide state: one instance of each, touched by the UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"

namespace varnel {

extern RadioInfo radioInfo;    // the radio information block
extern TunerImage tunerImage;  // the tuner image
extern int band;               // 0: "400-470 MHz", 1: "136-174 MHz"

// Frequencies of point index i (0..7) in the current band.
std::uint32_t txFrequency(int i);
std::uint32_t rxFrequency(int i);

// Tuner-mode and session state.
extern bool inTunerMode;
extern bool expertMode;
extern std::string currentFileName;  // archive shown by the tuning window, or empty

// Action codes of the live-set command.
namespace action {
inline constexpr int kTransmitOn = 0;
inline constexpr int kTransmitOff = 1;
inline constexpr int kReceiveOn = 2;
inline constexpr int kReceiveOff = 3;
inline constexpr int kItemSelected = 4;
inline constexpr int kValueAdjusted = 5;
inline constexpr int kReadBack = 7;
inline constexpr int kMandownOn = 8;
inline constexpr int kMandownOff = 9;
}  // namespace action

// Back to the state at program start (tests use it between cases). Does not
// touch the device backend.
void ResetGlobalState();

}  // namespace varnel
