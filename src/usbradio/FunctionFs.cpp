#include "usbradio/FunctionFs.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varnel::usbradio {

namespace {

void PutLe16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}
void PutLe32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// One interface and its two bulk endpoints at the given packet size.
std::string InterfaceDescriptors(std::uint16_t packet) {
    std::string d;
    // Interface: number 0, no alternate, 2 endpoints, mass storage / SCSI / bulk-only, string 1.
    d += std::string{9, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_MASS_STORAGE, 0x06, 0x50, 1};
    // Bulk IN (FunctionFS numbers the endpoints in this order: ep1, ep2).
    d += std::string{7, USB_DT_ENDPOINT, static_cast<char>(1 | USB_DIR_IN), USB_ENDPOINT_XFER_BULK};
    PutLe16(d, packet);
    d.push_back(0);
    d += std::string{7, USB_DT_ENDPOINT, static_cast<char>(2 | USB_DIR_OUT), USB_ENDPOINT_XFER_BULK};
    PutLe16(d, packet);
    d.push_back(0);
    return d;
}

constexpr char kInterfaceName[] = "Radio Mass Storage";

// Empty handler: the signal only interrupts the bulk thread's endpoint I/O.
void OnKick(int) {}

}  // namespace

std::string FunctionDescriptors() {
    const std::string fs = InterfaceDescriptors(64);
    const std::string hs = InterfaceDescriptors(512);
    std::string blob;
    PutLe32(blob, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    PutLe32(blob, static_cast<std::uint32_t>(12 + 8 + fs.size() + hs.size()));
    PutLe32(blob, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    PutLe32(blob, 3);  // descriptors per speed
    PutLe32(blob, 3);
    return blob + fs + hs;
}

std::string FunctionStrings() {
    std::string blob;
    PutLe32(blob, FUNCTIONFS_STRINGS_MAGIC);
    PutLe32(blob, static_cast<std::uint32_t>(16 + 2 + sizeof kInterfaceName));
    PutLe32(blob, 1);  // strings
    PutLe32(blob, 1);  // languages
    PutLe16(blob, 0x0409);
    blob.append(kInterfaceName, sizeof kInterfaceName);  // with its NUL
    return blob;
}

FunctionFsRadio::FunctionFsRadio(ScsiTarget& target, Log log, bool verbose)
    : target_(target), transport_(target, *this), log_(std::move(log)), verbose_(verbose) {
    transport_.onCommand = [this](const CommandBlock& block) {
        if (verbose_) {
            char line[96];
            std::snprintf(line, sizeof line, "command %02X %s %u arrived", block.cdb[0],
                          block.dataLength == 0 ? "none" : block.dataIn ? "in" : "out", block.dataLength);
            log_(line);
        }
        return holdCommand && holdCommand(block);
    };
}

FunctionFsRadio::~FunctionFsRadio() {
    stop();
    if (bulk_.joinable()) bulk_.join();
    for (int fd : {in_, out_, ep0_}) {
        if (fd >= 0) ::close(fd);
    }
}

Error FunctionFsRadio::start(const std::string& directory) {
    const auto failure = [&](const std::string& what, const std::string& file) {
        return Error::make(ErrorCode::Other, what + ": " + std::strerror(errno), file);
    };
    const std::string ep0 = directory + "/ep0";
    ep0_ = ::open(ep0.c_str(), O_RDWR | O_CLOEXEC);
    if (ep0_ < 0) return failure("cannot open the FunctionFS control file", ep0);
    const std::string descriptors = FunctionDescriptors();
    if (::write(ep0_, descriptors.data(), descriptors.size()) != static_cast<ssize_t>(descriptors.size()))
        return failure("the kernel refused the descriptors", ep0);
    const std::string strings = FunctionStrings();
    if (::write(ep0_, strings.data(), strings.size()) != static_cast<ssize_t>(strings.size()))
        return failure("the kernel refused the strings", ep0);
    const std::string in = directory + "/ep1";
    const std::string out = directory + "/ep2";
    in_ = ::open(in.c_str(), O_RDWR | O_CLOEXEC);
    if (in_ < 0) return failure("cannot open the bulk IN endpoint", in);
    out_ = ::open(out.c_str(), O_RDWR | O_CLOEXEC);
    if (out_ < 0) return failure("cannot open the bulk OUT endpoint", out);

    struct sigaction action {};
    action.sa_handler = OnKick;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the endpoint I/O returns EINTR
    ::sigaction(SIGUSR1, &action, nullptr);
    return {};
}

void FunctionFsRadio::run() {
    bulk_ = std::thread([this] { bulkLoop(); });
    {
        std::lock_guard lock(mutex_);
        bulkHandle_ = bulk_.native_handle();
        bulkRunning_ = true;
    }
    controlLoop();
    stop();
    if (bulk_.joinable()) bulk_.join();
}

void FunctionFsRadio::stop() {
    if (stop_.exchange(true)) return;
    generation_.fetch_add(1);
    changed_.notify_all();
    std::lock_guard lock(mutex_);
    if (bulkRunning_) ::pthread_kill(bulkHandle_, SIGUSR1);
}

// ---- bulk side ---------------------------------------------------------------

void FunctionFsRadio::bulkLoop() {
    while (!stop_) {
        const std::uint64_t now = generation_.load();
        {
            std::lock_guard lock(mutex_);
            if (seenGeneration_ != now) {
                seenGeneration_ = now;
                target_.reset();
            }
        }
        changed_.notify_all();
        const Served served = transport_.serveOne();
        if (served.end == Served::End::Interrupted) {
            if (verbose_ && !stop_) log_("command interrupted: " + served.note);
            if (generation_.load() == now && !stop_) {
                // The endpoint went away under us without a reset from the
                // control side (disabled mid-transfer); wait for the next.
                ::usleep(2000);
            }
            continue;
        }
        if (served.end == Served::End::InvalidCommandBlock) {
            log_(served.note + ": both bulk endpoints halted until the host resets the device");
            continue;
        }
        if (verbose_) {
            char line[200];
            std::snprintf(line, sizeof line, "%02X %s: host %s %u, moved %u, status %u, residue %u%s%s",
                          served.block.cdb[0], ScsiTarget::opcodeName(served.block.cdb[0]),
                          served.block.dataLength == 0 ? "none" : served.block.dataIn ? "in" : "out",
                          served.block.dataLength, served.moved, served.status, served.residue,
                          served.haltedIn ? ", bulk IN halted" : "", served.haltedOut ? ", bulk OUT halted" : "");
            log_(line);
        }
    }
    std::lock_guard lock(mutex_);
    bulkRunning_ = false;
}

long FunctionFsRadio::readOut(std::uint8_t* buffer, std::size_t length) {
    const std::uint64_t at = generation_.load();
    for (;;) {
        if (stop_ || generation_.load() != at) return -EINTR;
        const ssize_t n = ::read(out_, buffer, length);
        if (n >= 0) return n;
        if (errno == EINTR && generation_.load() == at && !stop_) continue;  // a late kick
        return -errno;
    }
}

long FunctionFsRadio::writeIn(const std::uint8_t* bytes, std::size_t length) {
    const std::uint64_t at = generation_.load();
    for (;;) {
        if (stop_ || generation_.load() != at) return -EINTR;
        const ssize_t n = ::write(in_, bytes, length);
        if (n >= 0) return n;
        if (errno == EINTR && generation_.load() == at && !stop_) continue;
        return -errno;
    }
}

// FunctionFS halts an endpoint on I/O in the wrong direction (EBADMSG).
void FunctionFsRadio::haltIn() {
    std::uint8_t none = 0;
    if (::read(in_, &none, 0) < 0 && errno != EBADMSG && verbose_)
        log_(std::string("halting bulk IN failed: ") + std::strerror(errno));
}

void FunctionFsRadio::haltOut() {
    std::uint8_t none = 0;
    if (::write(out_, &none, 0) < 0 && errno != EBADMSG && verbose_)
        log_(std::string("halting bulk OUT failed: ") + std::strerror(errno));
}

std::size_t FunctionFsRadio::maxPacket() {
    usb_endpoint_descriptor descriptor{};
    if (::ioctl(in_, FUNCTIONFS_ENDPOINT_DESC, &descriptor) == 0 && descriptor.wMaxPacketSize != 0)
        maxPacket_ = descriptor.wMaxPacketSize & 0x7FF;
    return maxPacket_;
}

bool FunctionFsRadio::pause(std::chrono::milliseconds time) {
    const std::uint64_t at = generation_.load();
    std::unique_lock lock(mutex_);
    const auto same = [&] { return stop_ || generation_.load() != at; };
    if (time.count() < 0) {
        changed_.wait(lock, same);
        return false;
    }
    return !changed_.wait_for(lock, time, same);
}

// ---- control side --------------------------------------------------------------

void FunctionFsRadio::interruptBulk(const char* why) {
    const std::uint64_t target = generation_.fetch_add(1) + 1;
    changed_.notify_all();
    if (verbose_) log_(std::string("dropping the command in hand: ") + why);
    // Kick until the bulk thread has seen the new generation: a kick that
    // arrives just before it blocks would otherwise be lost.
    for (int i = 0; i < 500; ++i) {
        std::unique_lock lock(mutex_);
        if (!bulkRunning_ || seenGeneration_ >= target) return;
        ::pthread_kill(bulkHandle_, SIGUSR1);
        changed_.wait_for(lock, std::chrono::milliseconds(2));
    }
    log_("the bulk endpoints did not let go within a second");
}

void FunctionFsRadio::handleSetup(const void* raw) {
    const auto& setup = *static_cast<const usb_ctrlrequest*>(raw);
    const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
    const bool classInterface = (setup.bRequestType & (USB_TYPE_MASK | USB_RECIP_MASK)) ==
                                (USB_TYPE_CLASS | USB_RECIP_INTERFACE);
    const std::uint16_t value = setup.wValue;
    const std::uint16_t length = setup.wLength;
    if (classInterface && setup.bRequest == 0xFE && in && value == 0 && length == 1) {
        // Get Max LUN: one logical unit.
        const std::uint8_t maxLun = 0;
        if (::write(ep0_, &maxLun, 1) < 0) log_(std::string("Get Max LUN: ") + std::strerror(errno));
        return;
    }
    if (classInterface && setup.bRequest == 0xFF && !in && value == 0 && length == 0) {
        // Bulk-Only Mass Storage Reset: let go of the command, then the status stage.
        ++resets_;
        log_("Bulk-Only Mass Storage Reset from the host");
        interruptBulk("Bulk-Only reset");
        if (::read(ep0_, nullptr, 0) < 0) log_(std::string("reset status stage: ") + std::strerror(errno));
        return;
    }
    if (verbose_) {
        char line[120];
        std::snprintf(line, sizeof line, "control request %02X/%02X value %04X length %u: stalled",
                      setup.bRequestType, setup.bRequest, value, length);
        log_(line);
    }
    // Stall: FunctionFS halts ep0 on a transfer against the request's direction.
    std::uint8_t none = 0;
    if (in) {
        (void)::read(ep0_, &none, 0);
    } else {
        (void)::write(ep0_, &none, 0);
    }
}

void FunctionFsRadio::controlLoop() {
    std::array<usb_functionfs_event, 4> events{};
    while (!stop_) {
        const ssize_t n = ::read(ep0_, events.data(), sizeof events);
        if (n < 0) {
            if (errno == EINTR) continue;
            log_(std::string("FunctionFS control file failed: ") + std::strerror(errno));
            return;
        }
        const std::size_t count = static_cast<std::size_t>(n) / sizeof(usb_functionfs_event);
        for (std::size_t i = 0; i < count; ++i) {
            switch (events[i].type) {
                case FUNCTIONFS_BIND: log_("bound to a controller"); break;
                case FUNCTIONFS_UNBIND:
                    log_("unbound from the controller (cable pulled)");
                    interruptBulk("unbound");
                    break;
                case FUNCTIONFS_ENABLE: log_("configured by the host"); break;
                case FUNCTIONFS_DISABLE:
                    log_("disabled (USB reset or disconnect)");
                    interruptBulk("disabled");
                    break;
                case FUNCTIONFS_SUSPEND: if (verbose_) log_("suspended"); break;
                case FUNCTIONFS_RESUME: if (verbose_) log_("resumed"); break;
                case FUNCTIONFS_SETUP: handleSetup(&events[i].u.setup); break;
                default: break;
            }
        }
    }
}

}  // namespace varnel::usbradio
