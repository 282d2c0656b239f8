#include "data/Safety.h"

#include <cstdio>

namespace varnel {

namespace {

constexpr BandRange kBands[2] = {{400'000'000u, 470'000'000u}, {136'000'000u, 174'000'000u}};

TunerImage g_savedImage;
bool g_haveSavedImage = false;  // nothing read, loaded or saved yet

}  // namespace

BandRange BandLimits(int band) { return kBands[band == 1 ? 1 : 0]; }

bool FrequencyInBand(std::uint32_t hertz, int band) {
    const BandRange range = BandLimits(band);
    return hertz >= range.low && hertz <= range.high;
}

bool FrequencyInAnyBand(std::uint32_t hertz) { return FrequencyInBand(hertz, 0) || FrequencyInBand(hertz, 1); }

int UsedPoints(const RadioInfo& info, int band) { return band == 1 && info.newFirmware() ? 8 : 5; }

std::vector<PlausibilityProblem> PlausibilityProblems(const RadioInfo& info, const TunerImage& image) {
    std::vector<PlausibilityProblem> problems;
    const std::string name = info.modelName();
    bool printable = !name.empty();
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) printable = false;  // control characters; other code pages pass
    }
    if (!printable) problems.push_back({PlausibilityProblem::Kind::ModelName});
    if (info.modelVariant() > 2) {
        problems.push_back({PlausibilityProblem::Kind::ModelVariant, 0, 0, info.modelVariant()});
    }
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < UsedPoints(info, b); ++i) {
            const std::uint32_t tx = image.txFrequencyIn(b, i);
            if (!FrequencyInAnyBand(tx)) problems.push_back({PlausibilityProblem::Kind::TxFrequency, b, i + 1, tx});
            const std::uint32_t rx = image.rxFrequencyIn(b, i);
            if (!FrequencyInAnyBand(rx)) problems.push_back({PlausibilityProblem::Kind::RxFrequency, b, i + 1, rx});
        }
    }
    return problems;
}

bool SameRadio(const RadioInfo& a, const RadioInfo& b) {
    return a.modelName() == b.modelName() && a.modelCode() == b.modelCode() &&
           a.modelVariant() == b.modelVariant() && a.largeModel() == b.largeModel();
}

std::string DescribeRadio(const RadioInfo& info) {
    std::string name = info.modelName();
    if (name.empty()) name = "?";
    return name + " (model " + std::to_string(info.modelCode()) + ", variant " +
           std::to_string(info.modelVariant()) + ", " + std::to_string(info.imageBytes()) + " bytes)";
}

std::string BackupFileName(const std::string& modelName, const std::tm& localTime) {
    std::string stem;
    for (const char c : modelName) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_';
        stem.push_back(keep ? c : '_');
    }
    bool onlyFill = true;
    for (const char c : stem) onlyFill = onlyFill && c == '_';
    if (onlyFill) stem = "radio";
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "_%04d-%02d-%02d_%02d-%02d-%02d", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    return stem + stamp + ".tdb";
}

void MarkImageSaved(const TunerImage& image) {
    g_savedImage = image;
    g_haveSavedImage = true;
}

bool ImageModified(const TunerImage& image) { return g_haveSavedImage && image.bytes != g_savedImage.bytes; }

void ResetSavedImage() {
    g_savedImage.clear();
    g_haveSavedImage = false;
}

}  // namespace varnel
