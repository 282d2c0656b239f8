// The Linux view of the host's volumes: removable block devices found in
// sysfs, and the radio's vendor commands carried by the SG_IO ioctl.
//
// Scan slots. Linux has no drive letters, so the 24 slots are filled from
// <sysfs>/block: every entry whose `removable` attribute reads "1", sorted by
// name length first and then by name (byte order). That gives the kernel's
// own naming order for SCSI disks, sda < sdb < ... < sdz < sdaa < sdab, and
// sorts other removable devices (sr0, mmcblk0, ...) by the same rule. The
// first 24 of that list are slots A to X; later ones are never scanned, as a
// radio on Y: or Z: is never found on Windows. Only removable devices take a
// slot, so fixed disks (however many) can neither be probed nor push a radio
// out of the 24 slots. Kernel-made devices (loop*, ram*, zram*, dm-*, md*,
// nbd*) are passed over by name without reading anything. A slot's volume
// id is the kernel name ("sdb").
//
// Probing reads the SCSI inquiry strings the kernel keeps in
// <sysfs>/block/<name>/device/vendor and .../model; no device node is opened.
// Only the newline sysfs appends is removed: the space padding is part of
// the strings ("STM     ", "microSD Flash   ").
//
// Opening. The kernel filters the SCSI commands a block device such as
// /dev/sdb accepts through SG_IO: without CAP_SYS_RAWIO the radio's vendor
// opcode 0xFF is refused with EPERM, however the node's permissions are set.
// The SCSI generic node of the same disk (/dev/sgN), opened read-write,
// accepts any command. So open() uses the generic node that sysfs lists under
// <sysfs>/block/<name>/device/scsi_generic/, and falls back to the block node
// (enough for root) when the disk has no generic node or that node is
// missing from /dev; for any other user that fallback is refused with advice
// (load the sg driver), since every vendor command would fail with EPERM. The node is opened O_RDWR | O_NONBLOCK | O_CLOEXEC:
// O_NONBLOCK makes the open return EBUSY instead of waiting while another
// program holds the disk exclusively, and lets a disk that reports no medium
// be opened; SG_IO itself always waits for its command, whatever the flag.
//
// One program per radio: the opened node is locked (flock LOCK_EX | LOCK_NB,
// an advisory lock on the node's inode, released when the program closes it
// or exits, also when it is killed). A second program of ours is refused at
// once with Busy naming the node, instead of interleaving its frames and
// replies with the first one's. The links of one process share the lock.
#pragma once

#ifndef _WIN32

#include <scsi/sg.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/Mass_storage.h"

namespace varnel {

inline constexpr unsigned kSgTimeoutMs = kTransferTimeoutSeconds * 1000;

// Issues one SG_IO request on an open descriptor and returns the ioctl's
// result. The link goes through this so tests can watch the requests.
using SgIoIssuer = std::function<int(int fd, sg_io_hdr_t& request)>;
// The real thing: ioctl(fd, SG_IO, &request).
int IssueSgIo(int fd, sg_io_hdr_t& request);

// Fills `outcome` from a finished SG_IO request: the ioctl's result and
// errno, status, host and driver status, sense, residual count.
void RecordSgIoOutcome(const sg_io_hdr_t& request, int ioctlResult, int error, TransferOutcome& outcome);

// True when `a` comes before `b` in scan order (length, then name).
bool SlotOrderLess(const std::string& a, const std::string& b);

// An open device node of the radio. Owns the descriptor and closes it when
// destroyed.
class LinuxRadioLink : public RadioLink {
public:
    LinuxRadioLink(int fd, std::string path, SgIoIssuer issuer = IssueSgIo);
    ~LinuxRadioLink() override;
    LinuxRadioLink(const LinuxRadioLink&) = delete;
    LinuxRadioLink& operator=(const LinuxRadioLink&) = delete;

    // One SG_IO request through the link's issuer, with the command's
    // descriptor block, buffer, sense room and time-out.
    void issue(ScsiCommand& command) override;

    int fd() const { return fd_; }
    // The node that was opened ("/dev/sg2", or "/dev/sdb" as a fallback).
    const std::string& path() const { return path_; }
    // The exclusive lock on the node (LinuxBackend::open), held as long as
    // the link lives.
    void holdLock(std::shared_ptr<void> lock) { lock_ = std::move(lock); }

private:
    int fd_;
    std::string path_;
    SgIoIssuer issue_;
    std::shared_ptr<void> lock_;
};

class LinuxBackend : public DeviceBackend {
public:
    explicit LinuxBackend(std::filesystem::path sysfsRoot = "/sys",
                          std::filesystem::path devRoot = "/dev");
    ~LinuxBackend() override;
    // A copy opens its own block folder at its first listing.
    LinuxBackend(const LinuxBackend& other);
    LinuxBackend& operator=(const LinuxBackend& other);

    // Links opened from now on send their requests through `issuer`.
    void setSgIoIssuer(SgIoIssuer issuer);
    // Whether this process may send vendor commands through a block node
    // (raw-I/O capability; root). Without it, a disk without a generic node
    // is refused at open with advice instead of failing every transfer with
    // EPERM. Default: the effective user is root. Tests may override.
    void setRawIoAllowed(std::function<bool()> allowed);

    // The removable block devices in scan order, at most 24.
    std::vector<std::string> volumeSlots() override;
    // Re-reads <sysfs>/block/<name>/removable; a device that has gone is not removable.
    bool isRemovable(const std::string& volume) override;
    // Vendor and model from sysfs, "(NULL)" for a missing attribute; nothing
    // when the device itself has gone.
    std::optional<StorageIdentity> probe(const std::string& volume) override;
    // volumeSlots() lists removable disks only.
    bool slotsAreRemovable() const override { return true; }
    // The vendor attribute decides most disks: the model is read only after
    // the radio's vendor. Both are read relative to the block folder the
    // listing opened, so that the system walks three path components, not
    // the whole sysfs path, for each.
    bool isRadioVolume(const std::string& volume) override;
    // Opens the disk's generic node (or its block node) for the vendor commands.
    std::unique_ptr<RadioLink> open(const std::string& volume, OpenError* error) override;
    // "/dev/sdb".
    std::string describe(const std::string& volume) override;

    // The node open() tries first for `volume`: the generic node when sysfs
    // lists one, else the block node.
    std::filesystem::path linkNode(const std::string& volume) const;

private:
    std::string blockDir(const std::string& volume) const;

    std::filesystem::path sysfsRoot_;
    std::filesystem::path devRoot_;
    std::string blockRoot_;  // "<sysfs>/block/"
    SgIoIssuer issuer_;
    std::function<bool()> rawIoAllowed_;
    int blockFd_ = -1;  // <sysfs>/block, opened by volumeSlots(), -1 before or when it failed
};

}  // namespace varnel

#endif  // !_WIN32
