// Options, messages, the communication log and the radio session of varnel-cli.
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <mutex>
#include <ctime>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Stop.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "device/HostBackend.h"
#include "lang/DataFolders.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"
#include "sim/VirtualFaults.h"
#include "util/LocalTime.h"
#include "util/Utf8.h"

namespace varnel::cli {

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
        case ErrorCode::NotFound: return kNoSuchRecord;
        case ErrorCode::Refused:
        case ErrorCode::WrongDevice: return kDeviceError;
        case ErrorCode::Instrument: return kInstrument;
        case ErrorCode::Cancelled: return kStopped;
        default: return kDiffers;
    }
}

int FileExitCode(const Error& error) {
    if (error.ok()) return kOk;
    return error.code() == ErrorCode::WrongSize ? kWrongSize : kFileError;
}

std::optional<long long> ParseWholeNumber(const std::string& text, long long low, long long high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [rest, problem] = std::from_chars(text.data(), end, value, 10);
    if (text.empty() || problem != std::errc() || rest != end || value < low || value > high) return std::nullopt;
    return value;
}

std::string TerminalText(const std::string& text) { return EscapedText(text); }

std::string MegahertzText(std::uint32_t hertz) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%06u", static_cast<unsigned>(hertz / 1000000u),
                  static_cast<unsigned>(hertz % 1000000u));
    return text;
}

void Fail(const std::string& message) { WriteOutput(stderr, "varnel-cli: " + TerminalText(message) + "\n"); }
void Fail(const Error& error) { Fail(error.text()); }

void Progress(const Options& options, const std::string& message) {
    if (!options.quiet) WriteOutput(stderr, "varnel-cli: " + TerminalText(message) + "\n");
}

// ---- communication log -------------------------------------------------------

namespace {

// The tuning window's log line: date and time, two spaces, direction label,
// ":   ", every byte as two upper-case hex digits and two spaces.
void PrintLogLine(std::FILE* to, const std::uint8_t* bytes, std::size_t count, bool sent) {
    char when[96] = {};
    const std::tm local = LocalTime(std::time(nullptr));
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
    WriteOutput(to, line + "\n");
}

}  // namespace

// ---- the radio ---------------------------------------------------------------------

CliRadio::CliRadio(const Options& options, std::FILE* logTo) {
    if (options.log) {
        session_.setFrameObserver([logTo](const FrameEvent& event) {
            if (event.kind == FrameEvent::Kind::Failed || event.bytes.empty()) return;
            PrintLogLine(logTo, event.bytes.data(), event.bytes.size(), event.kind == FrameEvent::Kind::Sent);
        });
    }
}

namespace {

Error StoppedError() { return Error::make(ErrorCode::Cancelled, StopMessage()); }

}  // namespace

Error CliRadio::open() { return session_.open(); }

Result<RadioInfo> CliRadio::readInfo() {
    if (StopRequested()) return StoppedError();
    return session_.readInfo();
}

Error CliRadio::enter() {
    if (StopRequested()) return StoppedError();
    if (Error e = session_.enter(); !e.ok()) return e;
    currentFileName.clear();
    // A stop asked for while entering ends the command here; the caller
    // leaves tuner mode again.
    if (StopRequested()) return StoppedError();
    return {};
}

Error CliRadio::writeAll(const std::function<bool(const RadioInfo& attached)>& consent) {
    if (StopRequested()) return StoppedError();
    bool stopped = false;
    std::function<bool(const RadioInfo&)> checked;
    if (consent) {
        // A stop that came while the radio was asked who it is: nothing is written.
        checked = [&](const RadioInfo& attached) {
            if (StopRequested()) {
                stopped = true;
                return false;
            }
            return consent(attached);
        };
    }
    if (Error e = session_.writeAll(checked); !e.ok()) return stopped ? StoppedError() : e;
    if (afterWriteAll) afterWriteAll();
    return {};
}

Error CliRadio::leave() { return session_.leave(); }

void CliRadio::close() { session_.close(); }

CliBackend::CliBackend(const Options& options) {
    if (options.virtualRadio) {
        auto v = std::make_unique<VirtualBackend>(*options.virtualRadio);
        virtual_ = v.get();
        backend_ = std::move(v);
    } else {
        backend_ = CreateHostBackend();
    }
    SetDeviceBackend(backend_.get());
}

namespace {

// VARNEL_VIRTUAL_RADIO_STATE=FILE: the virtual radio's state when the command
// is done (tuner mode, keying, and the command frames it took, oldest
// first, in hex), for scripts and tests that check how a command left the
// radio also when its standard output and error were closed.
void WriteVirtualRadioState(VirtualBackend& backend) {
    const char* file = std::getenv("VARNEL_VIRTUAL_RADIO_STATE");
    if (file == nullptr || *file == '\0') return;
    VirtualRadio& radio = backend.radio();
    std::lock_guard lock(radio.transportMutex());
    std::string text = "{\"tuner_mode\": ";
    text += radio.inTunerMode() ? "true" : "false";
    text += ", \"transmitting\": ";
    text += radio.transmitting() ? "true" : "false";
    text += ", \"receiving\": ";
    text += radio.receiving() ? "true" : "false";
    text += ", \"frames\": [";
    static const char* const kHex = "0123456789ABCDEF";
    bool first = true;
    for (const std::vector<std::uint8_t>& frame : radio.receivedFrames()) {
        text += first ? "\"" : ", \"";
        first = false;
        for (const std::uint8_t b : frame) {
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
        text += "\"";
    }
    text += "]}\n";
    if (std::FILE* out = std::fopen(file, "wb")) {
        std::fputs(text.c_str(), out);
        std::fclose(out);
    }
}

}  // namespace

CliBackend::~CliBackend() {
    if (virtual_ != nullptr) WriteVirtualRadioState(*virtual_);
    SetDeviceBackend(nullptr);
}

// ---- virtual faults ------------------------------------------------------------------

namespace {

// The faults of a comma-separated list, empty entries left out.
std::vector<std::string> SplitFaultList(const std::string& spec) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= spec.size()) {
        std::size_t end = spec.find(',', start);
        if (end == std::string::npos) end = spec.size();
        std::string item = spec.substr(start, end - start);
        start = end + 1;
        if (!item.empty()) items.push_back(std::move(item));
        if (end == spec.size()) break;
    }
    return items;
}

// A whole number (decimal, octal or hexadecimal) from low to high.
bool ParseFaultNumber(const std::string& text, long low, long high, long& out) {
    char* rest = nullptr;
    out = std::strtol(text.c_str(), &rest, 0);
    return !text.empty() && rest && *rest == '\0' && out >= low && out <= high;
}

// slow=READS: the radio answers only after that many reads.
Error ApplySlowFault(const std::string& value, const std::string& item, VirtualBackend& backend) {
    long reads = 0;
    if (!ParseFaultNumber(value, 1, 1000, reads))
        return Error::make(ErrorCode::Other, "slow needs a number of reads from 1 to 1000", item);
    backend.radio().setFault(Fault::AnswerAfterReads, static_cast<unsigned>(reads));
    return {};
}

// After a write-all the radio holds another value at OFFSET than it was
// sent: the old one (keep-byte=OFFSET) or VALUE (set-byte=OFFSET:VALUE).
Error ApplyByteFault(const std::string& name, const std::string& value, const std::string& item,
                     VirtualBackend& backend, CliRadio& radio) {
    const auto colon = value.find(':');
    long offset = 0, byte = 0;
    if (!ParseFaultNumber(value.substr(0, colon), 0, TunerImage::kSize - 1, offset) ||
        (name == "set-byte" &&
         (colon == std::string::npos || !ParseFaultNumber(value.substr(colon + 1), 0, 255, byte))))
        return Error::make(ErrorCode::Other,
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
    return {};
}

}  // namespace

Error ApplyCliFaults(const std::string& spec, VirtualBackend& backend, CliRadio& radio) {
    std::string shared;
    for (const std::string& item : SplitFaultList(spec)) {
        const auto eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        if (name == "no-radio") {
            backend.clearSlot(backend.radioSlot());
        } else if (name == "permission") {
            backend.setOpenFailure(OpenError::Kind::PermissionDenied, "Permission denied");
        } else if (name == "busy") {
            backend.setOpenFailure(OpenError::Kind::Busy, "Device or resource busy");
        } else if (name == "wrong-code") {
            backend.radio().setFault(Fault::WrongCommandCode);
        } else if (name == "slow") {
            if (Error e = ApplySlowFault(value, item, backend); !e.ok()) return e;
        } else if (name == "keep-byte" || name == "set-byte") {
            if (Error e = ApplyByteFault(name, value, item, backend, radio); !e.ok()) return e;
        } else {
            // The faults every virtual radio knows (link and firmware).
            if (!shared.empty()) shared += ',';
            shared += item;
        }
    }
    if (shared.empty()) return {};
    return ApplyVirtualFaults(backend.radio(), shared)
        .wrap("unknown virtual fault; the tool also knows no-radio, permission, busy, wrong-code, slow=READS, "
              "keep-byte=OFFSET, set-byte=OFFSET:VALUE");
}

// ---- files, language, records ------------------------------------------------------------

Error ReadArchiveFile(const std::string& path, RadioInfo& info, TunerImage& image) {
    std::array<std::uint8_t, kArchiveSize> buffer{};
    if (Error error = LoadArchive(path, buffer); !error.ok()) return error;
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
    if (!error.ok()) Fail("warning: " + error.text());
}

void SetUpRecords(const Options& options) {
    Recorder& recorder = CalibrationRecorder();
    recorder.setSerial(options.serial);
    if (options.noRecords) return;
    auto store = OpenConfiguredStore(ReadRecordsConfig());
    if (!store) {
        RecordWarning(store.error().wrapped("calibration records are not kept"));
        return;
    }
    recorder.setStore(std::shared_ptr<RecordStore>(std::move(*store)));
}

}  // namespace varnel::cli
