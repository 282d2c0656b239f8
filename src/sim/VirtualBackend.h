// A host with the virtual radio attached: 24 volume slots ("A:" to "X:"),
// the radio in one of them (default "E:"), and optionally a second radio and
// other volumes so that a scan meets the cases a real host offers.
//
// Lifetimes: every radio is held by shared_ptr. The backend keeps its radios
// for its whole life; each link it opens keeps its own reference, so a link
// may outlive both an unplug and the backend itself. A link belongs to the
// radio's plug generation it was opened in: once that radio is unplugged the
// link is dead for good (transfers do nothing, a read leaves its zeroed
// buffer), even after the radio is plugged in again, just as a handle on a
// removed USB volume stays invalid. A fresh scan and open give a working link.
//
// Single-threaded, like the rest of the program.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/Mass_storage.h"
#include "sim/VirtualRadio.h"

namespace varnel {

class VirtualBackend : public DeviceBackend {
public:
    static constexpr int kDefaultSlot = 4;  // "E:"

    explicit VirtualBackend(VirtualPreset preset = VirtualPreset::Variant0, int slot = kDefaultSlot);
    explicit VirtualBackend(std::shared_ptr<VirtualRadio> radio, int slot = kDefaultSlot);
    ~VirtualBackend() override;

    // The primary radio (the one plug() and unplug() act on).
    VirtualRadio& radio() { return *radio_; }
    const VirtualRadio& radio() const { return *radio_; }
    std::shared_ptr<VirtualRadio> sharedRadio() const { return radio_; }
    int radioSlot() const { return radioSlot_; }

    // Slot set-up. Each replaces whatever the slot held; a slot number
    // outside 0..23 is a programming error (std::out_of_range). Replacing or
    // clearing the primary radio's slot leaves the primary radio in no slot
    // (a host without a radio); radio() still names it and addRadio on that
    // slot makes the new radio the primary one.
    // A further radio; returns it.
    std::shared_ptr<VirtualRadio> addRadio(int slot, VirtualPreset preset = VirtualPreset::Variant0);
    // A volume that is not a radio, or a fixed disk that carries the radio's
    // strings (never probed, since it is not removable).
    void addVolume(int slot, const StorageIdentity& identity, bool removable);
    // A removable volume whose descriptor query fails.
    void addUnreadableVolume(int slot);
    void clearSlot(int slot);

    // Pull and re-insert the primary radio's cable. Each fires the plug
    // listener (when the state changes) as the system's device-change
    // notification would.
    void unplug();
    void plug();
    bool plugged() const { return radio_->plugged(); }
    void setPlugListener(std::function<void(bool plugged)> listener) { listener_ = std::move(listener); }

    // Makes every open fail with `kind` (Kind::None: opens work again).
    void setOpenFailure(OpenError::Kind kind, std::string detail = {});
    int openCount() const { return opens_; }

    // "A:" for slot 0 ... "X:" for slot 23.
    static std::string slotName(int slot);

    // DeviceBackend
    std::vector<std::string> volumeSlots() override;
    bool isRemovable(const std::string& volume) override;
    std::optional<StorageIdentity> probe(const std::string& volume) override;
    std::unique_ptr<RadioLink> open(const std::string& volume, OpenError* error) override;
    std::string describe(const std::string& volume) override;

private:
    struct Slot {
        enum class Kind { Empty, Radio, Volume, Unreadable } kind = Kind::Empty;
        std::shared_ptr<VirtualRadio> radio;
        StorageIdentity identity;
        bool removable = true;
    };
    // The slot a volume name stands for, or nullptr.
    Slot* find(const std::string& volume);
    bool present(const Slot& slot) const;

    std::array<Slot, kScanSlots> slots_;
    std::shared_ptr<VirtualRadio> radio_;
    int radioSlot_;
    std::function<void(bool)> listener_;
    OpenError::Kind openFailure_ = OpenError::Kind::None;
    std::string openFailureDetail_;
    int opens_ = 0;
};

}  // namespace varnel
