// Commands on archive files: diff and dump.
#include <cstdio>
#include <utility>

#include "cli/Cli.h"
#include "data/ArchiveValues.h"
#include "data/TunerImage.h"
#include "lang/Loadlanguage.h"
#include "util/Csv.h"

namespace varnel::cli {

namespace {

const char* BandName(int band) { return band == 0 ? "400-470 MHz" : "136-174 MHz"; }

bool IsFrequency(const NamedValue& v) {
    return v.kind == NamedValue::Kind::RxFrequency || v.kind == NamedValue::Kind::TxFrequency;
}

// A word of the diff in the language of --lang, English when the file lacks it.
std::string Word(const char* key, const char* english) {
    std::string text = Text("Cli", key);
    return text.empty() ? english : text;
}

// "<where>: <a> -> <b>" in the language of --lang.
std::string Change(const std::string& where, const std::string& a, const std::string& b) {
    std::string line = Word("I0004", "%1: %2 -> %3");
    for (const auto& [mark, value] : {std::pair<const char*, const std::string*>{"%1", &where}, {"%2", &a}, {"%3", &b}}) {
        if (const std::size_t at = line.find(mark); at != std::string::npos) line.replace(at, 2, *value);
    }
    return line;
}

std::string Caption(const NamedValue& v) {
    if (v.kind == NamedValue::Kind::Unassigned) {
        std::string text = Word("I0003", "byte %1");
        if (const std::size_t at = text.find("%1"); at != std::string::npos) text.replace(at, 2, std::to_string(v.offset));
        return text;
    }
    if (!v.section) return v.key ? v.key : "";
    std::string text = Text(v.section, v.key);
    return text.empty() ? std::string(v.key) : text;
}

std::string Shown(const NamedValue& v) {
    return IsFrequency(v) ? MegahertzText(v.value) + " MHz" : std::to_string(v.value);
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        // DEL and the C1 controls (U+0080 to U+009F) are escaped like the C0 ones.
        const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", next);
            out += buf;
            ++i;
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace

int CmdDiff(const Options& options) {
    if (options.args.size() != 2) {
        Fail("diff needs two archive files");
        return kUsage;
    }
    RadioInfo infoA, infoB;
    TunerImage imageA, imageB;
    for (int i = 0; i < 2; ++i) {
        if (Error e = ReadArchiveFile(options.args[static_cast<std::size_t>(i)], i == 0 ? infoA : infoB,
                                      i == 0 ? imageA : imageB);
            !e.ok()) {
            Fail(e);
            return kUsage;  // diff: 2 on any error
        }
    }
    int count = 0;
    for (const InfoDifference& d : DiffInfo(infoA, infoB)) {
        std::printf("%s\n", TerminalText(Change(d.field, d.a, d.b)).c_str());
        ++count;
    }
    // The FSK blocks count when either archive comes from a large-model radio.
    const bool withFsk = infoA.largeModel() || infoB.largeModel();
    for (const ValueDifference& d : DiffValues(imageA, imageB, withFsk)) {
        std::string line = Caption(d.a);
        if (d.a.code >= 0) line += " [" + Word("I0001", "item") + " " + std::to_string(d.a.code) + "]";
        line += std::string(" ") + BandName(d.a.band);
        if (d.a.point > 0) {
            line += " " + Word("I0002", "point") + " " + std::to_string(d.a.point);
            if (!IsFrequency(d.a) && d.a.kind != NamedValue::Kind::Unassigned)
                line += " (" + MegahertzText(imageA.txFrequencyIn(d.a.band, d.a.point - 1)) + " MHz)";
        }
        std::printf("%s\n", TerminalText(Change(line, Shown(d.a), Shown(d.b))).c_str());
        ++count;
    }
    if (count == 0) return kOk;
    if (!options.quiet) std::fprintf(stderr, "varnel-cli: %d difference(s)\n", count);
    return kDiffers;
}

int CmdDump(const Options& options) {
    if (options.args.size() != 1) {
        Fail("dump needs one archive file");
        return kUsage;
    }
    const std::string format = options.format.empty() ? "json" : options.format;
    if (format != "json" && format != "csv") {
        Fail("unknown format \"" + format + "\"; formats: json, csv");
        return kUsage;
    }
    RadioInfo info;
    TunerImage image;
    if (Error e = ReadArchiveFile(options.args[0], info, image); !e.ok()) {
        Fail(e);
        return FileExitCode(e);
    }
    const auto values = ArchiveValues(image, info.largeModel(), false);
    if (format == "csv") {
        std::printf("band,caption,key,item,point,kind,offset,value,display\r\n");
        for (const NamedValue& v : values) {
            std::printf("%s,%s,%s,%s,%s,%s,%d,%u,%s\r\n", BandName(v.band), CsvField(Caption(v)).c_str(),
                        CsvField(v.key ? v.key : "").c_str(), v.code >= 0 ? std::to_string(v.code).c_str() : "",
                        v.point > 0 ? std::to_string(v.point).c_str() : "", NamedValueKindName(v.kind), v.offset,
                        v.value, IsFrequency(v) ? MegahertzText(v.value).c_str() : std::to_string(v.value).c_str());
        }
        return kOk;
    }
    std::string out = "{\n  \"file\": " + JsonString(options.args[0]) + ",\n  \"info\": {\n";
    out += "    \"modelName\": " + JsonString(info.modelName()) + ",\n";
    out += "    \"firmwareVersion\": " + JsonString(info.firmwareVersion()) + ",\n";
    out += "    \"modelCode\": " + std::to_string(info.modelCode()) + ",\n";
    out += "    \"modelVariant\": " + std::to_string(info.modelVariant()) + ",\n";
    out += "    \"featureFlags\": " + std::to_string(info.featureFlags()) + ",\n";
    out += std::string("    \"largeModel\": ") + (info.largeModel() ? "true" : "false") + ",\n";
    out += std::string("    \"newFirmware\": ") + (info.newFirmware() ? "true" : "false") + "\n  },\n";
    out += "  \"values\": [\n";
    for (std::size_t i = 0; i < values.size(); ++i) {
        const NamedValue& v = values[i];
        out += "    {\"band\": " + std::to_string(v.band) + ", \"bandName\": " + JsonString(BandName(v.band)) +
               ", \"caption\": " + JsonString(Caption(v)) + ", \"key\": " + JsonString(v.key ? v.key : "") +
               ", \"item\": " + (v.code >= 0 ? std::to_string(v.code) : std::string("null")) +
               ", \"point\": " + (v.point > 0 ? std::to_string(v.point) : std::string("null")) +
               ", \"kind\": " + JsonString(NamedValueKindName(v.kind)) + ", \"offset\": " + std::to_string(v.offset) +
               ", \"value\": " + std::to_string(v.value);
        if (IsFrequency(v)) out += ", \"mhz\": " + JsonString(MegahertzText(v.value));
        out += i + 1 < values.size() ? "},\n" : "}\n";
    }
    out += "  ]\n}\n";
    std::fputs(out.c_str(), stdout);
    return kOk;
}

}  // namespace varnel::cli
