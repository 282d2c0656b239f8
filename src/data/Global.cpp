#include "data/Global.h"

#include "data/Safety.h"

namespace varnel {

RadioInfo radioInfo;
TunerImage tunerImage;
int band = 0;

bool inTunerMode = false;
bool expertMode = false;
std::string currentFileName;


std::uint32_t txFrequency(int i) { return tunerImage.txFrequencyIn(band, i); }
std::uint32_t rxFrequency(int i) { return tunerImage.rxFrequencyIn(band, i); }

void ResetGlobalState() {
    radioInfo.clear();
    tunerImage.clear();
    ResetSavedImage();
    band = 0;
    inTunerMode = false;
    expertMode = false;
    currentFileName.clear();
}

}  // namespace varnel
