// The base of the core tests that talk to a virtual radio through the
// program's own device layer: every case starts and ends with no radio
// installed, no link, and the program-wide and poll state cleared.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "data/Global.h"
#include "device/Mass_storage.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"

namespace varnel::test {

class VirtualRadioCase : public ::testing::Test {
protected:
    void SetUp() override { ResetRadioState(); }
    void TearDown() override {
        ResetRadioState();
        backend_.reset();
    }

    // The program-wide state, the poll state and the installed backend.
    static void ResetRadioState() {
        ResetGlobalState();
        ResetPollState();
        SetDeviceBackend(nullptr);
    }

    // Installs a new virtual radio as the device backend (no link opened).
    void InstallRadio(VirtualPreset preset = VirtualPreset::Variant0) {
        backend_ = std::make_unique<VirtualBackend>(preset);
        SetDeviceBackend(backend_.get());
    }

    VirtualRadio& radio() { return backend_->radio(); }

    std::unique_ptr<VirtualBackend> backend_;
};

}  // namespace varnel::test
