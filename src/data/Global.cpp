#include "data/Global.h"

#include "data/Safety.h"

namespace varnel {

RadioInfo radioInfo;
TunerImage tunerImage;
int band = 0;

bool inTunerMode = false;
bool expertMode = false;
std::string currentFileName;

int currentItem = 0;
int currentPoint = 1;
int currentValue = 0;
int actionCode = 0;
bool txKeyed = false;
bool rxKeyed = false;


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
    currentItem = 0;
    currentPoint = 1;
    currentValue = 0;
    actionCode = 0;
    txKeyed = false;
    rxKeyed = false;
}

}  // namespace varnel
