#include "device/LinuxBackend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace varnel {

namespace fs = std::filesystem;

namespace {

inline constexpr char kAbsent[] = "(NULL)";

// A kernel device name is one path component; anything else never names a
// device of ours (and must not walk out of the sysfs or /dev tree).
bool IsDeviceName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The content of a sysfs attribute without the single newline the kernel
// appends; nothing when the attribute cannot be read. A scan reads a few
// attributes per removable device, so this is kept to open, read, close: an
// attribute is at most one page and the kernel hands it over in one read, so
// a read that does not fill the buffer has seen the end.

// `file` is relative to the open folder `directory`, or an absolute path
// when `directory` is -1.
std::optional<std::string> ReadAttributeAt(int directory, const std::string& file) {
    const int fd = directory >= 0 ? ::openat(directory, file.c_str(), O_RDONLY | O_CLOEXEC)
                                  : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    std::array<char, 4096> chunk;
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(got) < chunk.size() || text.size() > 4 * chunk.size()) break;
    }
    ::close(fd);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::optional<std::string> ReadAttribute(const std::string& file) { return ReadAttributeAt(-1, file); }

// Kernel-made block devices that never stand for a USB drive. They are
// passed over by name, without reading their attributes: a host with many
// loop devices (one per installed snap) would otherwise pay for each of them
// on every scan.
bool IsVirtualDevice(std::string_view name) {
    for (const std::string_view prefix : {"loop", "ram", "zram", "dm-", "md", "nbd"}) {
        if (name.substr(0, prefix.size()) == prefix) return true;
    }
    return false;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The system's error codes as this program reads them: what a transfer or
// an open that failed with the code means, and the code's name.
struct OsErrorRow {
    int code;
    const char* name;
    TransferOutcome::Kind transfer;
    OpenError::Kind open;
};
using TK = TransferOutcome::Kind;
using OK = OpenError::Kind;
constexpr OsErrorRow kOsErrors[] = {
    {EPERM, "EPERM", TK::Permission, OK::PermissionDenied},
    {EACCES, "EACCES", TK::Permission, OK::PermissionDenied},
    {ENODEV, "ENODEV", TK::Gone, OK::NoRadio},  // the radio went away after the scan
    {ENXIO, "ENXIO", TK::Gone, OK::NoRadio},
    {ENOENT, "ENOENT", TK::Gone, OK::NoRadio},
    {ENOMEDIUM, "ENOMEDIUM", TK::Gone, OK::NoRadio},
    {ETIMEDOUT, "ETIMEDOUT", TK::TimedOut, OK::Other},
    {EBUSY, "EBUSY", TK::DeviceBusy, OK::Busy},
    {EAGAIN, "EAGAIN", TK::DeviceBusy, OK::Other},
    {EIO, "EIO", TK::OsError, OK::Other},
    {EINVAL, "EINVAL", TK::OsError, OK::Other},
    {ENOTTY, "ENOTTY", TK::OsError, OK::Other},
};

const OsErrorRow* FindOsError(int code) {
    for (const OsErrorRow& row : kOsErrors) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

// Runs one command as an SG_IO request through `issue` and fills its
// outcome. Request and sense buffer are zeroed for every command.
void RunSgIo(const SgIoIssuer& issue, int fd, ScsiCommand& command) {
    command.sense.fill(0);
    command.senseReturned = 0;
    sg_io_hdr_t request;
    std::memset(&request, 0, sizeof request);
    request.interface_id = 'S';
    request.dxfer_direction = command.direction == TransferDirection::ToRadio ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
    request.cmd_len = command.cdbLength;
    request.mx_sb_len = std::min<unsigned char>(command.senseRoom, static_cast<unsigned char>(command.sense.size()));
    request.dxfer_len = command.length;
    request.dxferp = command.data;
    request.cmdp = command.cdb.data();
    request.sbp = command.sense.data();
    request.timeout = command.timeoutSeconds * 1000;
    TransferOutcome& outcome = command.outcome;
    outcome = TransferOutcome{};
    outcome.direction = command.direction;
    outcome.requested = command.length;
    if (!issue) return;
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    const int result = issue(fd, request);
    const int error = result < 0 ? (errno != 0 ? errno : EIO) : 0;
    RecordSgIoOutcome(request, result, error, outcome);
    if (result >= 0) command.senseReturned = std::min<unsigned char>(request.sb_len_wr, request.mx_sb_len);
    outcome.duration =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
}

// A transfer the host adapter failed may have been in flight when the cable
// was pulled: the USB core fails its URBs at once and usb-storage ends it in
// DID_ERROR; only once its disconnect has begun are commands told
// DID_NO_CONNECT (and ENODEV when the disk is removed). A TEST UNIT READY
// after the failure, repeated while it too ends in a host error (at most
// about a third of a second), tells a pulled cable from a device that is
// still there.
void NoteIfGone(const SgIoIssuer& issue, int fd, TransferOutcome& outcome) {
    if (outcome.kind() != TransferOutcome::Kind::HostError) return;
    for (int probe = 0; probe < 10; ++probe) {
        ScsiCommand ready;  // TEST UNIT READY: six zero bytes, no data
        ready.cdbLength = 6;
        ready.senseRoom = static_cast<std::uint8_t>(kSenseBytesOut);
        RunSgIo(issue, fd, ready);
        const TransferOutcome::Kind kind = ready.outcome.kind();
        if (kind == TransferOutcome::Kind::Gone) {
            outcome.deviceGone = true;
            return;
        }
        if (kind != TransferOutcome::Kind::HostError) return;  // the device answered: still there
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

bool NodeIsMissing(int code) { return code == ENOENT || code == ENXIO || code == ENODEV; }

}  // namespace

OsErrorMeaning MeaningOfOsError(int code) {
    const OsErrorRow* row = FindOsError(code);
    if (row == nullptr) return {};
    return {row->transfer, row->open};
}

std::string OsErrorName(int code) {
    const OsErrorRow* row = FindOsError(code);
    const std::string text = std::strerror(code);
    return row != nullptr ? text + " (" + row->name + ")" : text + " (errno " + std::to_string(code) + ")";
}

int PermissionErrorCode() { return EPERM; }
int DeviceGoneErrorCode() { return ENODEV; }

int IssueSgIo(int fd, sg_io_hdr_t& request) { return ::ioctl(fd, SG_IO, &request); }

void RecordSgIoOutcome(const sg_io_hdr_t& request, int ioctlResult, int error, TransferOutcome& outcome) {
    outcome.attempted = true;
    outcome.requested = request.dxfer_len;
    if (ioctlResult < 0) {
        // The request never reached the device (or the kernel refused it).
        outcome.osError = error != 0 ? error : EIO;
        outcome.transferred = 0;
        outcome.residual = static_cast<std::int32_t>(request.dxfer_len);
        return;
    }
    outcome.scsiStatus = request.status;
    outcome.hostStatus = request.host_status;
    outcome.driverStatus = request.driver_status;
    outcome.timedOut = (request.info & SG_INFO_OK_MASK) != SG_INFO_OK && request.host_status == 0x03;
    const unsigned senseBytes = std::min<unsigned>(request.sb_len_wr, request.mx_sb_len);
    if (senseBytes > 0 && request.sbp != nullptr)
        ParseSense(request.sbp, senseBytes, outcome.senseKey, outcome.asc, outcome.ascq);
    // resid is what the device did not move; a value outside 0..dxfer_len is
    // not believed (then nothing counts as moved).
    const int resid = request.resid;
    outcome.residual = resid;
    if (resid < 0 || static_cast<unsigned>(resid) > request.dxfer_len) {
        outcome.transferred = 0;
    } else {
        outcome.transferred = request.dxfer_len - static_cast<unsigned>(resid);
    }
}

bool SlotOrderLess(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

// ---- one program per radio ----

// The exclusive lock on an opened node, shared by every link of this process
// on that node (a link closed meanwhile may still be finishing its last
// transfer on the I/O thread when the next one opens). Holds a duplicate of
// the first link's descriptor: the lock lasts until the last of them closes.
class NodeLock {
public:
    explicit NodeLock(int fd) : fd_(fd) {}
    ~NodeLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    NodeLock(const NodeLock&) = delete;
    NodeLock& operator=(const NodeLock&) = delete;

private:
    int fd_;
};

// Takes the lock for the node open on `fd`, or shares the one this process
// already holds; nothing, with the errno in `error`, when another program
// holds it.
std::shared_ptr<NodeLock> LockNode(int fd, int& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = errno;
        return nullptr;
    }
    static std::mutex mutex;
    static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<NodeLock>> held;
    std::lock_guard lock(mutex);
    const auto key = std::make_pair(st.st_dev, st.st_ino);
    if (auto it = held.find(key); it != held.end()) {
        if (std::shared_ptr<NodeLock> existing = it->second.lock()) return existing;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        return nullptr;
    }
    const int keep = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (keep < 0) {
        error = errno;
        ::flock(fd, LOCK_UN);
        return nullptr;
    }
    auto created = std::make_shared<NodeLock>(keep);
    held[key] = created;
    return created;
}

// ---- LinuxRadioLink ----

LinuxRadioLink::LinuxRadioLink(int fd, std::string path, SgIoIssuer issuer)
    : fd_(fd), path_(std::move(path)), issue_(std::move(issuer)) {}

LinuxRadioLink::~LinuxRadioLink() {
    if (fd_ >= 0) ::close(fd_);
}

void LinuxRadioLink::issue(ScsiCommand& command) {
    RunSgIo(issue_, fd_, command);
    if (command.cdbLength == 16 && command.cdb == VendorCdb(command.direction)) NoteIfGone(issue_, fd_, command.outcome);
}

// ---- LinuxBackend ----

LinuxBackend::LinuxBackend(fs::path sysfsRoot, fs::path devRoot)
    : sysfsRoot_(std::move(sysfsRoot)),
      devRoot_(std::move(devRoot)),
      blockRoot_((sysfsRoot_ / "block").string() + "/"),
      issuer_(IssueSgIo),
      rawIoAllowed_([] { return ::geteuid() == 0; }) {}

void LinuxBackend::setSgIoIssuer(SgIoIssuer issuer) { issuer_ = std::move(issuer); }
void LinuxBackend::setRawIoAllowed(std::function<bool()> allowed) { rawIoAllowed_ = std::move(allowed); }

std::string LinuxBackend::blockDir(const std::string& volume) const {
    return blockRoot_ + volume;
}

LinuxBackend::~LinuxBackend() {
    if (blockFd_ >= 0) ::close(blockFd_);
}

LinuxBackend::LinuxBackend(const LinuxBackend& other)
    : sysfsRoot_(other.sysfsRoot_),
      devRoot_(other.devRoot_),
      blockRoot_(other.blockRoot_),
      issuer_(other.issuer_),
      rawIoAllowed_(other.rawIoAllowed_) {}

LinuxBackend& LinuxBackend::operator=(const LinuxBackend& other) {
    if (this == &other) return *this;
    sysfsRoot_ = other.sysfsRoot_;
    devRoot_ = other.devRoot_;
    blockRoot_ = other.blockRoot_;
    issuer_ = other.issuer_;
    rawIoAllowed_ = other.rawIoAllowed_;
    if (blockFd_ >= 0) ::close(blockFd_);
    blockFd_ = -1;
    return *this;
}

std::vector<std::string> LinuxBackend::volumeSlots() {
    std::vector<std::string> removable;
    // The folder is opened once a scan; the attributes below are read
    // relative to it.
    if (blockFd_ >= 0) ::close(blockFd_);
    blockFd_ = ::open(blockRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (blockFd_ < 0) return removable;
    const int listing = ::dup(blockFd_);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) ::close(listing);
        return removable;
    }
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (!IsDeviceName(name) || IsVirtualDevice(name)) continue;
        if (ReadAttributeAt(blockFd_, name + "/removable") == "1") removable.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(removable.begin(), removable.end(), SlotOrderLess);
    if (removable.size() > static_cast<std::size_t>(kScanSlots)) removable.resize(kScanSlots);
    return removable;
}

bool LinuxBackend::isRemovable(const std::string& volume) {
    if (!IsDeviceName(volume)) return false;
    return ReadAttribute(blockDir(volume) + "/removable") == "1";
}

std::optional<StorageIdentity> LinuxBackend::probe(const std::string& volume) {
    if (!IsDeviceName(volume)) return std::nullopt;
    const std::string device = blockDir(volume);
    std::optional<std::string> vendor = ReadAttribute(device + "/device/vendor");
    std::optional<std::string> model = ReadAttribute(device + "/device/model");
    // A missing attribute is an absent string, unless the whole device has
    // gone since the listing (then there is nothing to report).
    if ((!vendor || !model) && !IsDirectory(device)) return std::nullopt;
    StorageIdentity identity;
    identity.vendor = vendor ? std::move(*vendor) : std::string(kAbsent);
    identity.product = model ? std::move(*model) : std::string(kAbsent);
    return identity;
}

bool LinuxBackend::isRadioVolume(const std::string& volume) {
    if (!IsDeviceName(volume)) return false;
    const int at = blockFd_;
    const std::string device = at >= 0 ? volume : blockDir(volume);
    const std::optional<std::string> vendor = ReadAttributeAt(at, device + "/device/vendor");
    if (!vendor || *vendor != kRadioVendor) return false;
    const std::optional<std::string> model = ReadAttributeAt(at, device + "/device/model");
    return model && *model == kRadioProduct;
}

fs::path LinuxBackend::linkNode(const std::string& volume) const {
    std::error_code ec;
    fs::directory_iterator it(sysfsRoot_ / "block" / volume / "device" / "scsi_generic", ec);
    if (!ec) {
        // A disk has one generic node; take the lowest-named should there be more.
        std::string best;
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec) break;
            const std::string name = it->path().filename().string();
            if (IsDeviceName(name) && (best.empty() || SlotOrderLess(name, best))) best = name;
        }
        if (!best.empty()) return devRoot_ / best;
    }
    return devRoot_ / volume;
}

std::unique_ptr<RadioLink> LinuxBackend::open(const std::string& volume, OpenError* error) {
    OpenError result;
    std::unique_ptr<RadioLink> link;
    if (!IsDeviceName(volume)) {
        result.kind = OpenError::Kind::NoRadio;
        result.device = volume;
    } else {
        const fs::path blockNode = devRoot_ / volume;
        fs::path node = linkNode(volume);
        const bool mayUseBlockNode = rawIoAllowed_ && rawIoAllowed_();
        if (node == blockNode && !mayUseBlockNode) {
            // Through the block node the kernel refuses the vendor commands
            // to anyone without raw-I/O capability: say so now, not as a
            // radio that never answers.
            result.kind = OpenError::Kind::PermissionDenied;
            result.device = blockNode.string();
            result.detail = "the disk has no SCSI generic node (/dev/sgN); load the sg driver with "
                            "\"sudo modprobe sg\", then unplug and replug the radio";
            if (error != nullptr) *error = result;
            return link;
        }
        int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        int code = fd < 0 ? errno : 0;
        if (fd < 0 && node != blockNode && NodeIsMissing(code) && !mayUseBlockNode) {
            result.kind = OpenError::Kind::PermissionDenied;
            result.device = node.string();
            result.detail = "the generic node is missing from /dev; load the sg driver with "
                            "\"sudo modprobe sg\" or install the udev rule";
            if (error != nullptr) *error = result;
            return link;
        }
        if (fd < 0 && node != blockNode && NodeIsMissing(code)) {
            // sysfs knows a generic node that /dev lacks; the block node still
            // serves a caller with raw-I/O capability.
            node = blockNode;
            fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            code = fd < 0 ? errno : 0;
        }
        std::shared_ptr<NodeLock> held;
        if (fd >= 0) {
            // One program per radio: a second one is refused at once
            // instead of mixing its commands and replies with ours.
            held = LockNode(fd, code);
            if (!held) {
                ::close(fd);
                fd = -1;
                if (code == EWOULDBLOCK) code = EBUSY;
            }
        }
        if (fd >= 0) {
            auto opened = std::make_unique<LinuxRadioLink>(fd, node.string(), issuer_);
            opened->holdLock(std::move(held));
            link = std::move(opened);
        } else if (code == EBUSY) {
            result.kind = OpenError::Kind::Busy;
            result.device = node.string();
            result.detail = "another program has it open; close that program, or wait until it is done";
        } else {
            result.kind = MeaningOfOsError(code).open;
            result.device = node.string();
            result.detail = std::strerror(code);
        }
    }
    if (error != nullptr) *error = result;
    return link;
}

std::string LinuxBackend::describe(const std::string& volume) { return (devRoot_ / volume).string(); }

}  // namespace varnel
