// Options, messages, the communication log and the radio session of varnel-cli.
#include <chrono>
#include <clocale>
#include <ctime>
#include <thread>

#include "cli/Cli.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "lang/DataFolders.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"

namespace varnel::cli {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(10);
}

int ExitCodeFor(const Error& error) {
    switch (error.code()) {
        case ErrorCode::None: return kOk;
        case ErrorCode::NoRadio: return kNoRadio;
        case ErrorCode::PermissionDenied: return kPermission;
        case ErrorCode::Busy: return kBusy;
        case ErrorCode::NoAnswer: return kNoAnswer;
        case ErrorCode::WrongSize: return kWrongSize;
        case ErrorCode::Mismatch: return kMismatch;
        case ErrorCode::NotAFile:
        case ErrorCode::FileError: return kFileError;
        case ErrorCode::Database: return kDatabase;
        case ErrorCode::Refused:
        case ErrorCode::WrongDevice: return kDeviceError;
        default: return kDiffers;
    }
}

void Fail(const std::string& message) { std::fprintf(stderr, "varnel-cli: %s\n", message.c_str()); }
void Fail(const Error& error) { Fail(error.Text()); }

void Progress(const Options& options, const std::string& message) {
    if (!options.quiet) std::fprintf(stderr, "varnel-cli: %s\n", message.c_str());
}

// ---- communication log -------------------------------------------------------

namespace {

// The tuning window's log line: date and time, two spaces, direction label,
// ":   ", every byte as two upper-case hex digits and two spaces.
void PrintLogLine(const std::uint8_t* bytes, std::size_t count, bool sent) {
    char when[96] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    std::strftime(when, sizeof when, "%x %X", &local);
    std::string line = when;
    line += "  ";
    line += Text("ChildForm", sent ? "C0021" : "C0020");
    line += ":   ";
    static const char* const kHex = "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 15];
        line += "  ";
    }
    std::printf("%s\n", line.c_str());
}

}  // namespace

// ---- the radio ---------------------------------------------------------------------

CliRadio::CliRadio(const Options& options, DeviceBackend& backend, VirtualBackend* virtualBackend)
    : options_(options), backend_(backend), virtual_(virtualBackend) {}

void CliRadio::LogSent() {
    if (options_.log) PrintLogLine(lastSentFrame.data(), sentFrameLength, true);
}
void CliRadio::LogReceived() {
    if (options_.log) PrintLogLine(replyBuffer.data(), pendingReplyLength, false);
}

Error CliRadio::Open() {
    ScanRadioDrives();
    OpenError error;
    linkHandle = OpenRadio(&error);
    if (linkHandle) return {};
    ErrorCode code = ErrorCode::Refused;
    switch (error.kind) {
        case OpenError::Kind::NoRadio: code = ErrorCode::NoRadio; break;
        case OpenError::Kind::PermissionDenied: code = ErrorCode::PermissionDenied; break;
        case OpenError::Kind::Busy: code = ErrorCode::Busy; break;
        default: break;
    }
    return Error::Make(code, DescribeOpenError(error));
}

Error CliRadio::Await(std::uint16_t command, const char* what) {
    LogSent();
    pollTicks = 0;
    for (;;) {
        switch (PollStep(cmd::reply(command))) {
            case PollResult::Match:
                pollTicks = 0;
                LogReceived();
                return {};
            case PollResult::Expired:
                AbandonPoll();
                return Error::Make(ErrorCode::NoAnswer, std::string("the radio did not answer ") + what);
            case PollResult::Pending:
                std::this_thread::sleep_for(kPollInterval);
                break;
        }
    }
}

Result<RadioInfo> CliRadio::ReadInfo() {
    if (!linkHandle) {
        if (Error e = Open(); !e.ok()) return e;
    }
    SendReadInfo();
    if (Error e = Await(cmd::kReadInfo, "the information request"); !e.ok()) return e;
    RadioInfo info;
    info.assign(replyBuffer.data() + 6);
    return info;
}

Error CliRadio::Enter() {
    auto info = ReadInfo();
    if (!info) return info.error().Wrapped("cannot enter tuner mode");
    radioInfo = *info;
    SendEnterTunerMode();
    if (Error e = Await(cmd::kEnterTunerMode, "the enter command"); !e.ok()) return e.Wrap("cannot enter tuner mode");
    std::copy_n(replyBuffer.begin() + 6, radioInfo.imageBytes(), tunerImage.bytes.begin());
    band = 0;
    inTunerMode = true;
    currentFileName.clear();
    return {};
}

Error CliRadio::WriteAll() {
    if (!linkHandle) {
        if (Error e = Open(); !e.ok()) return e;
    }
    SendWriteAll();
    if (Error e = Await(cmd::kWriteAll, "the write-all command"); !e.ok()) return e.Wrap("cannot write the tuner data");
    pollRetries = 0;
    if (afterWriteAll) afterWriteAll();
    return {};
}

Error CliRadio::Leave() {
    SendExitTunerMode();
    if (Error e = Await(cmd::kExitTunerMode, "the leave command"); !e.ok()) return e.Wrap("cannot leave tuner mode");
    pollRetries = 0;
    inTunerMode = false;
    return {};
}

void CliRadio::Close() { linkHandle.reset(); }

// ---- virtual faults ------------------------------------------------------------------

Error ApplyCliFaults(const std::string& spec, VirtualBackend& backend, CliRadio& radio) {
    std::size_t start = 0;
    while (start <= spec.size()) {
        std::size_t end = spec.find(',', start);
        if (end == std::string::npos) end = spec.size();
        const std::string item = spec.substr(start, end - start);
        start = end + 1;
        if (item.empty()) {
            if (end == spec.size()) break;
            continue;
        }
        const auto eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        const auto number = [&](const std::string& text, long low, long high, long& out) {
            char* rest = nullptr;
            out = std::strtol(text.c_str(), &rest, 0);
            return !text.empty() && rest && *rest == '\0' && out >= low && out <= high;
        };
        if (name == "no-radio") {
            backend.clearSlot(backend.radioSlot());
        } else if (name == "permission") {
            backend.setOpenFailure(OpenError::Kind::PermissionDenied, "Permission denied");
        } else if (name == "busy") {
            backend.setOpenFailure(OpenError::Kind::Busy, "Device or resource busy");
        } else if (name == "no-answer") {
            backend.radio().setFault(Fault::NoAnswer);
        } else if (name == "bad-checksum") {
            backend.radio().setFault(Fault::WrongChecksum);
        } else if (name == "wrong-code") {
            backend.radio().setFault(Fault::WrongCommandCode);
        } else if (name == "slow") {
            long reads = 0;
            if (!number(value, 1, 1000, reads))
                return Error::Make(ErrorCode::Other, "slow needs a number of reads from 1 to 1000", item);
            backend.radio().setFault(Fault::AnswerAfterReads, static_cast<unsigned>(reads));
        } else if (name == "keep-byte" || name == "set-byte") {
            // After a write-all the radio holds another value at OFFSET than
            // it was sent: the old one (keep-byte) or VALUE (set-byte=OFFSET:VALUE).
            const auto colon = value.find(':');
            long offset = 0, byte = 0;
            if (!number(value.substr(0, colon), 0, TunerImage::kSize - 1, offset) ||
                (name == "set-byte" && (colon == std::string::npos || !number(value.substr(colon + 1), 0, 255, byte))))
                return Error::Make(ErrorCode::Other,
                                   name == "set-byte" ? "set-byte needs OFFSET:VALUE" : "keep-byte needs OFFSET", item);
            auto radioPtr = backend.sharedRadio();
            const std::uint8_t before = radioPtr->storedImage()[static_cast<std::size_t>(offset)];
            const bool keep = name == "keep-byte";
            const auto previous = radio.afterWriteAll;
            radio.afterWriteAll = [radioPtr, offset, before, keep, byte, previous] {
                if (previous) previous();
                TunerImage image = radioPtr->storedImage();
                image[static_cast<std::size_t>(offset)] = keep ? before : static_cast<std::uint8_t>(byte);
                radioPtr->setStoredImage(image);
            };
        } else {
            return Error::Make(ErrorCode::Other,
                               "unknown virtual fault \"%1\"; faults: no-radio, permission, busy, no-answer, "
                               "bad-checksum, wrong-code, slow=READS, keep-byte=OFFSET, set-byte=OFFSET:VALUE",
                               item);
        }
        if (end == spec.size()) break;
    }
    return {};
}

// ---- files, language, records ------------------------------------------------------------

Error ReadArchiveFile(const std::string& path, RadioInfo& info, TunerImage& image) {
    std::array<std::uint8_t, kArchiveSize> buffer{};
    ArchiveError error;
    if (!LoadArchive(path, buffer, &error)) {
        const ErrorCode code = error.kind == ArchiveError::Kind::WrongSize ? ErrorCode::WrongSize : ErrorCode::FileError;
        return Error::Make(code, DescribeArchiveError(error));
    }
    std::copy_n(buffer.begin(), RadioInfo::kSize, info.bytes.begin());
    std::copy_n(buffer.begin() + RadioInfo::kSize, TunerImage::kSize, image.bytes.begin());
    return {};
}

void OpenCliLanguage(const Options& options) {
    std::setlocale(LC_TIME, "");
    SetProgramDirectory(LanguageFolder(ExecutableDirectory()));
    OpenLanguage(options.language == "chinese" ? kLanguageChinese : kLanguageEnglish);
}

void RecordWarning(const Error& error) {
    if (!error.ok()) Fail("warning: " + error.Text());
}

void SetUpRecords(const Options& options) {
    Recorder& recorder = CalibrationRecorder();
    recorder.SetSerial(options.serial);
    if (options.noRecords) return;
    auto store = OpenConfiguredStore(ReadRecordsConfig());
    if (!store) {
        RecordWarning(store.error().Wrapped("calibration records are not kept"));
        return;
    }
    recorder.SetStore(std::shared_ptr<RecordStore>(std::move(*store)));
}

}  // namespace varnel::cli
