#include "data/ArchiveValues.h"

#include <cstdio>

#include "data/ItemTable.h"

namespace varnel {

const char* NamedValueKindName(NamedValue::Kind kind) {
    switch (kind) {
        case NamedValue::Kind::RxFrequency: return "rx-frequency";
        case NamedValue::Kind::TxFrequency: return "tx-frequency";
        case NamedValue::Kind::Single: return "single";
        case NamedValue::Kind::Array: return "array";
        case NamedValue::Kind::FskByte: return "fsk-byte";
        case NamedValue::Kind::FskWord: return "fsk-word";
        case NamedValue::Kind::Unassigned: return "unassigned";
    }
    return "";
}

namespace {

std::uint32_t Read(const TunerImage& image, NamedValue::Kind kind, int offset) {
    const auto at = [&](int i) { return static_cast<std::uint32_t>(image[static_cast<std::size_t>(i)]); };
    switch (kind) {
        case NamedValue::Kind::RxFrequency:
        case NamedValue::Kind::TxFrequency:
            return (at(offset) << 24) | (at(offset + 1) << 16) | (at(offset + 2) << 8) | at(offset + 3);
        case NamedValue::Kind::FskWord:
            return image.word(static_cast<std::size_t>(offset));
        default:
            return at(offset);
    }
}

int Width(NamedValue::Kind kind) {
    switch (kind) {
        case NamedValue::Kind::RxFrequency:
        case NamedValue::Kind::TxFrequency: return 4;
        case NamedValue::Kind::FskWord: return 2;
        default: return 1;
    }
}

NamedValue::Kind KindOf(GridRowKind kind) {
    switch (kind) {
        case GridRowKind::RxFrequency: return NamedValue::Kind::RxFrequency;
        case GridRowKind::TxFrequency: return NamedValue::Kind::TxFrequency;
        case GridRowKind::Single: return NamedValue::Kind::Single;
        case GridRowKind::Array: return NamedValue::Kind::Array;
        case GridRowKind::FskBytes: return NamedValue::Kind::FskByte;
        case GridRowKind::FskWords: return NamedValue::Kind::FskWord;
    }
    return NamedValue::Kind::Single;
}

}  // namespace

std::vector<NamedValue> ArchiveValues(const TunerImage& image, bool withFsk, bool withUnassigned) {
    std::vector<NamedValue> out;
    std::array<bool, TunerImage::kSize> covered{};
    const auto add = [&](NamedValue v) {
        v.value = Read(image, v.kind, v.offset);
        for (int i = 0; i < Width(v.kind); ++i) covered[static_cast<std::size_t>(v.offset + i)] = true;
        out.push_back(v);
    };
    for (int band = 0; band < 2; ++band) {
        for (const ParamGridRow& row : ParamGridRows()) {
            if (row.fskRow && !withFsk) continue;
            const NamedValue::Kind kind = KindOf(row.kind);
            const int code = row.code[band];
            if (kind == NamedValue::Kind::Single) {
                add({kind, row.section, row.key, code, band, 0, ParamGridOffset(row, band, 1), 0});
                continue;
            }
            for (int p = 1; p <= TunerImage::kPoints; ++p)
                add({kind, row.section, row.key, code, band, p, ParamGridOffset(row, band, p), 0});
        }
        // Items with bytes that the grid does not show, by their tree caption.
        for (const TuningItem& item : TuningItems()) {
            if (item.offset[band] < 0 || item.code[band] == kNoCode || item.layout == ItemLayout::Shared) continue;
            if (covered[static_cast<std::size_t>(item.offset[band])]) continue;
            if (item.layout == ItemLayout::FskBlock) continue;
            if (item.layout == ItemLayout::Single) {
                add({NamedValue::Kind::Single, "TreeView", item.treeKey, item.code[band], band, 0, item.offset[band], 0});
            } else if (item.layout == ItemLayout::Array) {
                for (int p = 1; p <= TunerImage::kPoints; ++p)
                    add({NamedValue::Kind::Array, "TreeView", item.treeKey, item.code[band], band, p,
                         item.offset[band] + p - 1, 0});
            }
        }
    }
    if (withUnassigned) {
        const int end = withFsk ? static_cast<int>(TunerImage::kSize) : static_cast<int>(TunerImage::kSmallSize);
        for (int i = 0; i < end; ++i) {
            if (covered[static_cast<std::size_t>(i)]) continue;
            const int band = i >= 256 && i < 512 ? 1 : 0;
            add({NamedValue::Kind::Unassigned, nullptr, nullptr, -1, band, 0, i, 0});
        }
    }
    return out;
}

std::vector<ValueDifference> DiffValues(const TunerImage& a, const TunerImage& b, bool withFsk) {
    const auto va = ArchiveValues(a, withFsk, true);
    const auto vb = ArchiveValues(b, withFsk, true);
    std::vector<ValueDifference> out;
    for (std::size_t i = 0; i < va.size() && i < vb.size(); ++i)
        if (va[i].value != vb[i].value) out.push_back({va[i], vb[i]});
    return out;
}

std::vector<InfoDifference> DiffInfo(const RadioInfo& a, const RadioInfo& b) {
    std::vector<InfoDifference> out;
    const auto field = [&](const char* name, const std::string& x, const std::string& y) {
        if (x != y) out.push_back({name, x, y});
    };
    const auto yesNo = [](bool v) { return std::string(v ? "yes" : "no"); };
    field("model name", a.modelName(), b.modelName());
    field("firmware version", a.firmwareVersion(), b.firmwareVersion());
    field("model code", std::to_string(a.modelCode()), std::to_string(b.modelCode()));
    field("model variant", std::to_string(a.modelVariant()), std::to_string(b.modelVariant()));
    char fa[8], fb[8];
    std::snprintf(fa, sizeof fa, "0x%02X", a.featureFlags());
    std::snprintf(fb, sizeof fb, "0x%02X", b.featureFlags());
    field("feature flags", fa, fb);
    field("largeModel", yesNo(a.largeModel()), yesNo(b.largeModel()));
    field("newFirmware", yesNo(a.newFirmware()), yesNo(b.newFirmware()));
    for (std::size_t i = 0; i < RadioInfo::kSize; ++i) {
        const bool interpreted = i < 64 || (i >= 64 && i < 72) || i == 88 || i == 89 || i == 128;
        if (interpreted || a.bytes[i] == b.bytes[i]) continue;
        out.push_back({"info byte " + std::to_string(i), std::to_string(a.bytes[i]), std::to_string(b.bytes[i])});
    }
    return out;
}

}  // namespace varnel
