// Checks that stand between the operator and the radio's calibration: is an
// information block believable, is the attached radio the one an image came
// from, has the image changed since it was last read, loaded or saved, and
// where an automatic backup goes. Pure functions over the radio data, plus
// one program-wide snapshot of the image as last read, loaded or saved.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"

namespace varnel {

// The two bands of the frequency tables, in hertz, both ends included:
// band 0 is 400-470 MHz, band 1 136-174 MHz.
struct BandRange {
    std::uint32_t low;
    std::uint32_t high;
};
BandRange BandLimits(int band);
bool FrequencyInBand(std::uint32_t hertz, int band);
bool FrequencyInAnyBand(std::uint32_t hertz);

// One reason to distrust an information block and its image.
struct PlausibilityProblem {
    enum class Kind {
        ModelName,     // empty, or not printable text
        ModelVariant,  // not 0, 1 or 2
        TxFrequency,   // a used point's transmit frequency outside both bands
        RxFrequency,   // the same for the receive frequency
    };
    Kind kind;
    int band = 0;            // frequency problems: the band half (0 or 1)
    int point = 0;           // frequency problems: the point, 1-based
    std::uint32_t value = 0; // the variant, or the frequency in hertz
};

// Used points: 1 to 5 in each band half, and 6 to 8 of band half 1 when the
// block's firmware has eight points there.
int UsedPoints(const RadioInfo& info, int band);

// Everything that makes the pair unbelievable; empty when it is plausible.
std::vector<PlausibilityProblem> PlausibilityProblems(const RadioInfo& info, const TunerImage& image);

// The fields that say which radio a block belongs to: model name, model
// code, variant and the image size. True when all four agree.
bool SameRadio(const RadioInfo& a, const RadioInfo& b);
// "<model name> (model <code>, variant <v>, <848|512> bytes)", for messages
// that must name a radio; "?" stands for an empty name.
std::string DescribeRadio(const RadioInfo& info);

// The automatic backup's file name: model name (characters other than
// letters, digits, '-' and '_' become '_'; "radio" when nothing is left),
// then the local date and time: "<model>_YYYY-MM-DD_HH-MM-SS.tdb".
std::string BackupFileName(const std::string& modelName, const std::tm& localTime);
// The folder of the backups below the program's data folder.
inline constexpr const char* kBackupFolder = "backups";

// The image as last read from the radio, loaded from an archive or saved.
void MarkImageSaved(const TunerImage& image);
// True when `image` differs from it. Before the first read, load or save
// there is no image of a radio to lose, and nothing counts as modified.
bool ImageModified(const TunerImage& image);
// Back to program start: nothing read, loaded or saved.
void ResetSavedImage();

}  // namespace varnel
