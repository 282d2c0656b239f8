#include "sim/VirtualBackend.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace varnel {

namespace {

// A raw link to a virtual radio, alive only within the plug generation it
// was opened in. Transfers may run on an I/O thread: the radio is touched
// only under its transport mutex, and the waits of the hang and delay faults
// are spent outside it.
class VirtualLink : public RadioLink {
public:
    explicit VirtualLink(std::shared_ptr<VirtualRadio> radio)
        : radio_(std::move(radio)), generation_(radio_->plugGeneration()) {}

    void issue(ScsiCommand& command) override {
        if (command.opcode() == 0x12) {
            command.outcome = inquire(command.data, command.length);
            return;
        }
        TransferOutcome& outcome = command.outcome;
        outcome = TransferOutcome{};
        const auto start = std::chrono::steady_clock::now();
        if (command.cdbLength != 16 || command.cdb != VendorCdb(command.direction)) {
            // The radio knows no other command: CHECK CONDITION, ILLEGAL REQUEST.
            outcome.direction = command.direction;
            outcome.attempted = true;
            outcome.requested = command.length;
            checkCondition(outcome);
        } else if (command.direction == TransferDirection::ToRadio) {
            send(command.data, command.length, outcome);
        } else {
            read(command.data, command.length, outcome);
        }
        outcome.duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    }

private:
    void send(const std::uint8_t* bytes, std::uint16_t length, TransferOutcome& outcome) {
        if (!prepare(TransferDirection::ToRadio, length, outcome)) return;
        std::lock_guard lock(radio_->transportMutex());
        if (alive()) {
            radio_->receive(bytes, length);
            outcome.transferred = length;
        } else {
            gone(outcome);
        }
    }

    void read(std::uint8_t* buffer, std::uint16_t length, TransferOutcome& outcome) {
        if (!prepare(TransferDirection::FromRadio, length, outcome)) return;
        std::lock_guard lock(radio_->transportMutex());
        if (alive()) {
            // A radio without a reply ready still completes the read: the
            // buffer holds the zeros it was given.
            radio_->answer(buffer, length);
            outcome.transferred = length;
            if (radio_->linkFaults().refusal == LinkFaults::Refusal::ShortRead) {
                outcome.transferred = length / 2;
                outcome.residual = static_cast<std::int32_t>(length - outcome.transferred);
            }
        } else {
            gone(outcome);
        }
    }

    // The identity query is answered by the volume, whatever the firmware's
    // faults; only a pulled cable stops it.
    TransferOutcome inquire(std::uint8_t* data, std::uint16_t length) {
        TransferOutcome result = TransferOutcome::done(TransferDirection::FromRadio, length);
        std::lock_guard lock(radio_->transportMutex());
        if (alive()) {
            const auto bytes = StandardInquiryData(StorageIdentity{kRadioVendor, kRadioProduct});
            const std::size_t n = std::min<std::size_t>(length, bytes.size());
            if (data != nullptr) std::memcpy(data, bytes.data(), n);
            result.transferred = static_cast<std::uint32_t>(n);
        } else {
            gone(result);
        }
        return result;
    }

    static void checkCondition(TransferOutcome& outcome) {
        outcome.scsiStatus = 0x02;
        outcome.driverStatus = 0x08;  // DRIVER_SENSE
        outcome.senseKey = 0x05;      // ILLEGAL REQUEST
        outcome.asc = 0x20;           // invalid command operation code
        outcome.residual = static_cast<std::int32_t>(outcome.requested);
    }

    bool alive() const { return radio_->plugged() && radio_->plugGeneration() == generation_; }

    void gone(TransferOutcome& outcome) {
        outcome.transferred = 0;
        outcome.osError = DeviceGoneErrorCode();
        outcome.residual = static_cast<std::int32_t>(outcome.requested);
    }

    // The link faults that strike before the radio is reached; false when
    // the transfer ends here.
    bool prepare(TransferDirection direction, std::uint16_t length, TransferOutcome& outcome) {
        outcome.direction = direction;
        outcome.attempted = true;
        outcome.requested = length;
        LinkFaults faults;
        bool hangs = false;
        {
            std::lock_guard lock(radio_->transportMutex());
            faults = radio_->linkFaults();
            hangs = radio_->transfersHang();
        }
        if (hangs) {
            std::this_thread::sleep_for(faults.hangTime);
            outcome.timedOut = true;
            outcome.hostStatus = 0x03;  // DID_TIME_OUT
            outcome.residual = length;
            return false;
        }
        if (faults.delay.count() > 0) std::this_thread::sleep_for(faults.delay);
        switch (faults.refusal) {
            case LinkFaults::Refusal::Permission:
                outcome.osError = PermissionErrorCode();
                outcome.residual = length;
                return false;
            case LinkFaults::Refusal::CheckCondition:
                checkCondition(outcome);
                return false;
            case LinkFaults::Refusal::ShortRead:
            case LinkFaults::Refusal::None:
                break;
        }
        return true;
    }

    std::shared_ptr<VirtualRadio> radio_;
    std::uint64_t generation_;
};

int checkedSlot(int slot) {
    if (slot < 0 || slot >= kScanSlots) throw std::out_of_range("virtual volume slot out of range");
    return slot;
}

}  // namespace

VirtualBackend::VirtualBackend(VirtualPreset preset, int slot)
    : VirtualBackend(std::make_shared<VirtualRadio>(preset), slot) {}

VirtualBackend::VirtualBackend(std::shared_ptr<VirtualRadio> radio, int slot)
    : radio_(radio ? std::move(radio) : std::make_shared<VirtualRadio>()), radioSlot_(checkedSlot(slot)) {
    Slot& s = slots_[static_cast<std::size_t>(radioSlot_)];
    s.kind = Slot::Kind::Radio;
    s.radio = radio_;
}

VirtualBackend::~VirtualBackend() {
    // A backend still installed for the scan would dangle.
    if (CurrentDeviceBackend() == this) SetDeviceBackend(nullptr);
}

std::shared_ptr<VirtualRadio> VirtualBackend::addRadio(int slot, VirtualPreset preset) {
    Slot& s = slots_[static_cast<std::size_t>(checkedSlot(slot))];
    s = Slot{};
    s.kind = Slot::Kind::Radio;
    s.radio = std::make_shared<VirtualRadio>(preset);
    if (slot == radioSlot_) radio_ = s.radio;
    return s.radio;
}

void VirtualBackend::addVolume(int slot, const StorageIdentity& identity, bool removable) {
    Slot& s = slots_[static_cast<std::size_t>(checkedSlot(slot))];
    s = Slot{};
    s.kind = Slot::Kind::Volume;
    s.identity = identity;
    s.removable = removable;
}

void VirtualBackend::addUnreadableVolume(int slot) {
    Slot& s = slots_[static_cast<std::size_t>(checkedSlot(slot))];
    s = Slot{};
    s.kind = Slot::Kind::Unreadable;
}

void VirtualBackend::clearSlot(int slot) { slots_[static_cast<std::size_t>(checkedSlot(slot))] = Slot{}; }

void VirtualBackend::unplug() {
    {
        std::lock_guard lock(radio_->transportMutex());
        if (!radio_->plugged()) return;
        radio_->unplug();
    }
    if (listener_) listener_(false);
}

void VirtualBackend::plug() {
    {
        std::lock_guard lock(radio_->transportMutex());
        if (radio_->plugged()) return;
        radio_->plug();
    }
    if (listener_) listener_(true);
}

void VirtualBackend::setOpenFailure(OpenError::Kind kind, std::string detail) {
    openFailure_ = kind;
    openFailureDetail_ = std::move(detail);
}

std::string VirtualBackend::slotName(int slot) {
    std::string name(1, static_cast<char>('A' + checkedSlot(slot)));
    return name + ":";
}

bool VirtualBackend::present(const Slot& slot) const {
    switch (slot.kind) {
        case Slot::Kind::Empty:
            return false;
        case Slot::Kind::Radio:
            return slot.radio->plugged();
        case Slot::Kind::Volume:
        case Slot::Kind::Unreadable:
            return true;
    }
    return false;
}

VirtualBackend::Slot* VirtualBackend::find(const std::string& volume) {
    if (volume.size() != 2 || volume[1] != ':') return nullptr;
    const int n = volume[0] - 'A';
    if (n < 0 || n >= kScanSlots) return nullptr;
    Slot& slot = slots_[static_cast<std::size_t>(n)];
    return present(slot) ? &slot : nullptr;
}

std::vector<std::string> VirtualBackend::volumeSlots() {
    std::vector<std::string> names(kScanSlots);
    for (int n = 0; n < kScanSlots; ++n) {
        if (present(slots_[static_cast<std::size_t>(n)])) names[static_cast<std::size_t>(n)] = slotName(n);
    }
    return names;
}

bool VirtualBackend::isRemovable(const std::string& volume) {
    const Slot* slot = find(volume);
    return slot != nullptr && (slot->kind != Slot::Kind::Volume || slot->removable);
}

std::optional<StorageIdentity> VirtualBackend::probe(const std::string& volume) {
    const Slot* slot = find(volume);
    if (slot == nullptr) return std::nullopt;
    switch (slot->kind) {
        case Slot::Kind::Radio:
            return StorageIdentity{kRadioVendor, kRadioProduct};
        case Slot::Kind::Volume:
            return slot->identity;
        case Slot::Kind::Empty:
        case Slot::Kind::Unreadable:
            break;
    }
    return std::nullopt;
}

std::unique_ptr<RadioLink> VirtualBackend::open(const std::string& volume, OpenError* error) {
    ++opens_;
    OpenError result;
    result.device = describe(volume);
    std::unique_ptr<RadioLink> link;
    const Slot* slot = find(volume);
    if (openFailure_ != OpenError::Kind::None) {
        result.kind = openFailure_;
        result.detail = openFailureDetail_;
    } else if (slot == nullptr) {
        result.kind = OpenError::Kind::NoRadio;
        result.detail = "no such volume";
    } else if (slot->kind != Slot::Kind::Radio) {
        result.kind = OpenError::Kind::Other;
        result.detail = "not a radio";
    } else {
        link = std::make_unique<VirtualLink>(slot->radio);
        result = OpenError{};
    }
    if (error != nullptr) *error = result;
    return link;
}

std::string VirtualBackend::describe(const std::string& volume) {
    const int n = (volume.size() == 2 && volume[1] == ':') ? volume[0] - 'A' : -1;
    // Drive letters are a Windows notion: elsewhere a volume is named by its
    // slot, as the host's own devices are by their number.
#ifdef _WIN32
    const std::string where = volume;
#else
    const std::string where = n >= 0 && n < kScanSlots ? "slot " + std::to_string(n + 1) : volume;
#endif
    if (n >= 0 && n < kScanSlots && slots_[static_cast<std::size_t>(n)].kind == Slot::Kind::Radio)
        return "virtual radio (" + where + ")";
    return "virtual volume (" + where + ")";
}

}  // namespace varnel
