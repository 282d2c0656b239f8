// Commands that talk to the radio: scan, info, demo, backup, restore.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/Cli.h"
#include "data/ArchiveValues.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "data/Safety.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"
#include "util/FileAccess.h"

namespace varnel::cli {

namespace {

void PrintInfo(const RadioInfo& info) {
    std::printf("model name       : %s\n", TerminalText(info.modelName()).c_str());
    std::printf("firmware version : %s\n", TerminalText(info.firmwareVersion()).c_str());
    std::printf("model code       : %u\n", info.modelCode());
    std::printf("model variant    : %u\n", info.modelVariant());
    std::printf("feature flags    : 0x%02X\n", info.featureFlags());
    std::printf("largeModel       : %s (%zu-byte tuner image)\n", info.largeModel() ? "yes" : "no", info.imageBytes());
    std::printf("newFirmware      : %s\n", info.newFirmware() ? "yes" : "no");
}

std::string Identity(const RadioInfo& info) {
    return "\"" + info.modelName() + "\" (model code " + std::to_string(info.modelCode()) + ", variant " +
           std::to_string(info.modelVariant()) + (info.largeModel() ? ", large model" : ", small model") + ")";
}

// Leaves tuner mode after a failure in it (a stop too), keeping the first
// error; the records say it was left.
int FailInTunerMode(const Error& error, CliRadio& radio) {
    Fail(error);
    if (inTunerMode) {
        if (Error e = radio.leave(); e.ok()) RecordWarning(CalibrationRecorder().left(tunerImage));
        else Fail(e.wrapped("the radio may still be in tuner mode"));
    }
    return ExitCodeFor(error);
}

std::string PlaceOf(int offset) {
    // The item, band and point an image byte belongs to.
    const auto values = ArchiveValues(tunerImage, true, true);
    for (const NamedValue& v : values) {
        const int width = v.kind == NamedValue::Kind::RxFrequency || v.kind == NamedValue::Kind::TxFrequency ? 4
                          : v.kind == NamedValue::Kind::FskWord ? 2 : 1;
        if (offset < v.offset || offset >= v.offset + width) continue;
        std::string caption = v.key == nullptr ? std::string("byte ") + std::to_string(offset)
                              : v.section ? Text(v.section, v.key) : std::string(v.key);
        if (caption.empty() && v.key) caption = v.key;
        std::string out = caption;
        if (v.code >= 0) out += " (item " + std::to_string(v.code) + ")";
        out += v.band == 0 ? ", 400-470 MHz" : ", 136-174 MHz";
        if (v.point > 0) out += ", point " + std::to_string(v.point);
        return out;
    }
    return "byte " + std::to_string(offset);
}

}  // namespace

int CmdScan(const Options&, DeviceBackend& backend) {
    const std::uint16_t count = ScanRadioDrives();
    std::printf("%u radio(s) found\n", count);
    for (std::uint16_t i = 0; i < count; ++i) std::printf("  %s\n", TerminalText(backend.describe(radioDriveLetters[i])).c_str());
    return count == 0 ? kNoRadio : kOk;
}

int CmdInfo(const Options& options, CliRadio& radio) {
    Progress(options, "entering tuner mode");
    if (Error e = radio.enter(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().entered(radioInfo, tunerImage));
    PrintInfo(radioInfo);
    if (Error e = radio.leave(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().left(tunerImage));
    return kOk;
}

int CmdDemo(const Options& options, CliRadio& radio) {
    Progress(options, "entering tuner mode");
    if (Error e = radio.enter(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().entered(radioInfo, tunerImage));
    PrintInfo(radioInfo);
    static const char* const kBands[] = {"400-470 MHz", "136-174 MHz"};
    for (int b = 0; b < 2; ++b) {
        const int points = (b == 1 && radioInfo.newFirmware()) ? 8 : 5;
        std::printf("\n%s        TX (MHz)      RX (MHz)\n", kBands[b]);
        for (int i = 0; i < points; ++i)
            std::printf("  point %d   %12s  %12s\n", i + 1, MegahertzText(tunerImage.txFrequencyIn(b, i)).c_str(),
                        MegahertzText(tunerImage.rxFrequencyIn(b, i)).c_str());
    }
    if (Error e = radio.leave(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().left(tunerImage));
    return kOk;
}

namespace {

// Why the archive may not be saved at `file`, before the radio is touched:
// an existing file is replaced only with --force (and never a read-only one,
// a folder, a FIFO or a device).
Error CheckBackupTarget(const Options& options, const std::string& file) {
    std::error_code ec;
    if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
        return Error::make(ErrorCode::FileError, "%1 exists; it was not replaced (--force replaces it)", file);
    }
    return CheckWritableTarget(file);
}

}  // namespace

int CmdBackup(const Options& options, CliRadio& radio) {
    if (options.args.size() != 1) {
        Fail("backup needs exactly one FILE");
        return kUsage;
    }
    const std::string& file = options.args[0];
    if (Error e = CheckBackupTarget(options, file); !e.ok()) {
        Fail(e);
        return FileExitCode(e);
    }
    Progress(options, "entering tuner mode and reading the tuner image");
    if (Error e = radio.enter(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().entered(radioInfo, tunerImage));
    Progress(options, "saving " + file);
    PackArchive(archiveBuffer);
    Error saved = CheckBackupTarget(options, file);  // the file may have appeared meanwhile
    if (saved.ok()) saved = SaveArchive(file, archiveBuffer.data(), kArchiveSize);
    if (!saved.ok()) {
        FailInTunerMode(saved, radio);
        return FileExitCode(saved);
    }
    RecordWarning(CalibrationRecorder().backup(radioInfo, tunerImage, file));
    Progress(options, "leaving tuner mode");
    if (Error e = radio.leave(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().left(tunerImage));
    std::printf("%s\n", TerminalText(file + ": " + Identity(radioInfo) + ", " + std::to_string(radioInfo.imageBytes()) +
                                     " image bytes saved")
                             .c_str());
    return kOk;
}

namespace {

// Prints every byte of the first `exchanged` in which the radio's image
// differs from the archive's; their number.
int PrintDifferences(const TunerImage& archiveImage, std::size_t exchanged) {
    int differences = 0;
    for (std::size_t i = 0; i < exchanged; ++i) {
        if (tunerImage[i] == archiveImage[i]) continue;
        ++differences;
        std::printf("differs: %s: byte %zu: archive %u, radio %u\n", TerminalText(PlaceOf(static_cast<int>(i))).c_str(),
                    i, archiveImage[i], tunerImage[i]);
    }
    return differences;
}

// restore --verify: enters tuner mode, reads the image back and compares it
// with the archive written.
int VerifyRestore(const Options& options, CliRadio& radio, const std::string& file, const RadioInfo& archiveInfo,
                  const TunerImage& archiveImage, const RadioInfo& attached) {
    Progress(options, "verifying: entering tuner mode and reading the tuner image back");
    if (Error e = radio.enter(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().entered(radioInfo, tunerImage));
    const std::size_t exchanged = std::min(radioInfo.imageBytes(), archiveInfo.imageBytes());
    const int differences = PrintDifferences(archiveImage, exchanged);
    if (Error e = radio.leave(); !e.ok()) return FailInTunerMode(e, radio);
    RecordWarning(CalibrationRecorder().left(tunerImage));
    if (differences > 0) {
        Fail("verify failed: " + std::to_string(differences) + " of " + std::to_string(exchanged) +
             " image bytes differ from " + file);
        return kVerifyFailed;
    }
    std::printf("%s\n",
                TerminalText(file + " written to " + Identity(attached) + " and verified (" + std::to_string(exchanged) +
                             " bytes)")
                    .c_str());
    return kOk;
}

// A restore whose write-all got no acknowledgement: the outcome is unknown
// until the radio's image has been read back and compared with the archive.
// The record says what is known; the image is not sent again.
int ReadBackUnacknowledged(const Options& options, CliRadio& radio, const std::string& file,
                           const RadioInfo& archiveInfo, const TunerImage& archiveImage, const RadioInfo& attached,
                           const std::string& detail, const Error& written) {
    Fail("outcome unknown: " + written.text());
    Progress(options, "reading the radio's image back to compare it with " + file);
    Result<TunerImage> back = radio.readImageBack();
    if (!back) {
        RecordWarning(CalibrationRecorder().writeAllUnconfirmed(
            archiveInfo, archiveImage, detail + "; outcome unknown: no acknowledgement, read-back failed"));
        Fail(back.error().wrapped("the outcome stays unknown: the image could not be read back"));
        return ExitCodeFor(back.error());
    }
    const std::size_t bytes = std::min(radioInfo.imageBytes(), archiveInfo.imageBytes());
    int differences = 0;
    for (std::size_t i = 0; i < bytes; ++i) differences += back.value()[i] != archiveImage[i];
    if (differences > 0) {
        RecordWarning(CalibrationRecorder().writeAllUnconfirmed(
            archiveInfo, archiveImage,
            detail + "; no acknowledgement; read back: " + std::to_string(differences) + " of " +
                std::to_string(bytes) + " bytes differ, not written"));
        Fail("not written: the radio's image read back differs from " + file + " in " + std::to_string(differences) +
             " of " + std::to_string(bytes) + " bytes; restore again to write it");
        return kVerifyFailed;
    }
    RecordWarning(CalibrationRecorder().wroteAll(archiveInfo, archiveImage,
                                                 detail + "; no acknowledgement; read back: the radio holds it"));
    std::printf("%s\n", TerminalText(file + " written to " + Identity(attached) +
                                     ": the acknowledgement was lost, the image read back is the archive (" +
                                     std::to_string(bytes) + " bytes)")
                            .c_str());
    return kOk;
}

const char* BandName(int band) { return band == 0 ? "400-470 MHz" : "136-174 MHz"; }

// One reason why an archive is not believable, as the window names it.
std::string ProblemText(const PlausibilityProblem& problem) {
    using Kind = PlausibilityProblem::Kind;
    switch (problem.kind) {
        case Kind::ModelName: return "the model name is not printable text";
        case Kind::ModelVariant: return "the model variant is " + std::to_string(problem.value) + ", not 0, 1 or 2";
        case Kind::TxFrequency:
        case Kind::RxFrequency:
            return std::string(BandName(problem.band)) + " band, point " + std::to_string(problem.point) + ": " +
                   (problem.kind == Kind::TxFrequency ? "transmit" : "receive") + " frequency " +
                   MegahertzText(problem.value) + " MHz is outside both bands";
    }
    return {};
}

// The same check as the window's before a write-all: an archive that is not
// plausible is written only with --force (the window's expert mode).
bool PlausibleOrForced(const Options& options, const std::string& file, const RadioInfo& info,
                       const TunerImage& image, bool& overridden) {
    const std::vector<PlausibilityProblem> problems = PlausibilityProblems(info, image);
    overridden = !problems.empty();
    if (problems.empty()) return true;
    Fail(options.force ? "warning: " + file + " does not look like a radio's data; writing it anyway (--force):"
                       : "refusing to restore: " + file + " does not look like a radio's data (--force writes it "
                                                          "anyway):");
    for (const PlausibilityProblem& problem : problems) Fail("  " + ProblemText(problem));
    return options.force;
}

}  // namespace

int CmdRestore(const Options& options, CliRadio& radio) {
    if (options.args.size() != 1) {
        Fail("restore needs exactly one FILE");
        return kUsage;
    }
    const std::string& file = options.args[0];
    RadioInfo archiveInfo;
    TunerImage archiveImage;
    if (Error e = ReadArchiveFile(file, archiveInfo, archiveImage); !e.ok()) {
        Fail(e);
        return FileExitCode(e);
    }
    bool implausible = false;
    if (!PlausibleOrForced(options, file, archiveInfo, archiveImage, implausible)) return kImplausible;
    Progress(options, "reading the radio's information block");
    // The window's identity check, inside the write-all: the image goes only
    // to the archive's radio unless --force says otherwise.
    RadioInfo attached;
    bool same = false;
    int refused = kOk;
    const Error written = radio.writeAll([&](const RadioInfo& seen) {
        attached = seen;
        same = SameRadio(seen, archiveInfo);
        if (!same && !options.force) {
            Fail("refusing to restore: " + file + " belongs to " + Identity(archiveInfo) + ", the attached radio is " +
                 Identity(seen) + " (--force writes it anyway)");
            refused = kMismatch;
            return false;
        }
        if (!same) Fail("warning: writing an archive of " + Identity(archiveInfo) + " to " + Identity(seen));
        // The archive's block decides how many bytes go out, as in the program.
        radioInfo = archiveInfo;
        tunerImage = archiveImage;
        Progress(options, "writing " + std::to_string(radioInfo.imageBytes()) + " image bytes");
        return true;
    });
    if (refused != kOk) return refused;
    std::string detail = "restore " + file;
    if (!same || implausible) {
        detail += " --force (";
        detail += !same ? "another model" : "";
        detail += !same && implausible ? ", " : "";
        detail += implausible ? "not plausible" : "";
        detail += ")";
    }
    if (!written.ok() && radio.writeUnacknowledged()) {
        // The image went out and its acknowledgement never came: not called
        // written, not sent again; the radio's own image tells.
        return ReadBackUnacknowledged(options, radio, file, archiveInfo, archiveImage, attached, detail, written);
    }
    if (!written.ok()) {
        Fail(written);
        return ExitCodeFor(written);
    }
    RecordWarning(CalibrationRecorder().wroteAll(archiveInfo, archiveImage, detail));
    if (!options.verify) {
        std::printf("%s\n", TerminalText(file + " written to " + Identity(attached)).c_str());
        return kOk;
    }
    return VerifyRestore(options, radio, file, archiveInfo, archiveImage, attached);
}

}  // namespace varnel::cli
