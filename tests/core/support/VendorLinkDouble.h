// A radio link for tests that stands in for the transport: the vendor
// commands reach sendBytes() and readBytes(); any other command (the
// identity query) is left not attempted, as by a link that cannot carry it.
#pragma once

#include "device/Mass_storage.h"

namespace varnel::testing {

class VendorLinkDouble : public RadioLink {
public:
    void issue(ScsiCommand& command) final {
        if (command.cdbLength != 16 || command.cdb != VendorCdb(command.direction)) {
            command.outcome = TransferOutcome::noLinkFor(command.direction, command.length);
            return;
        }
        command.outcome = command.direction == TransferDirection::ToRadio ? sendBytes(command.data, command.length)
                                                                          : readBytes(command.data, command.length);
    }

protected:
    virtual TransferOutcome sendBytes(const std::uint8_t* bytes, std::uint16_t length) = 0;
    virtual TransferOutcome readBytes(std::uint8_t* buffer, std::uint16_t length) = 0;
};

}  // namespace varnel::testing
