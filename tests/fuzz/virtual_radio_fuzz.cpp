// The virtual radio's frame handler: raw bytes and well-formed frames of any
// code and payload, read back with any length, faults switched on the way.
#include <array>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualFaults.h"
#include "sim/VirtualRadio.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    static const VirtualPreset presets[] = {VirtualPreset::Variant0, VirtualPreset::Variant1,
                                            VirtualPreset::Variant2, VirtualPreset::LargeNewFirmware};
    VirtualRadio radio(presets[in.byte() % 4]);
    // The fault-spec parser over any text.
    const Result<VirtualFaultSpec> spec = ParseVirtualFaults(in.bytes(48));
    if (!spec) FUZZ_CHECK(!spec.error().text().empty());
    static const std::uint16_t codes[] = {0x0003, 0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066};
    std::vector<std::uint8_t> frame(kFrameAreaSize + 8);
    std::vector<std::uint8_t> reply(kReplyBufferSize);
    for (int step = 0; step < 64 && in.left() > 0; ++step) {
        const std::uint8_t op = in.byte();
        switch (op % 6) {
            case 0: {  // raw bytes
                const std::string_view raw = in.bytes(255);
                radio.receive(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
                break;
            }
            case 1:
            case 2: {  // a proper frame of a known code
                const std::uint16_t code = codes[in.byte() % 8];
                std::size_t length = in.byte();
                if (op & 0x80) length = length * 4;  // up to the 848-byte writes
                const std::string_view payload = in.take(std::min<std::size_t>(length, kFrameAreaSize));
                const std::uint16_t n = BuildFrame(frame.data(), code,
                                                   reinterpret_cast<const std::uint8_t*>(payload.data()),
                                                   static_cast<std::uint16_t>(payload.size()));
                radio.receive(frame.data(), n);
                break;
            }
            case 3: {  // a read of any length
                const std::size_t length = in.u16() % (kReplyBufferSize + 1);
                radio.answer(reply.data(), length);
                break;
            }
            case 4: {  // a fault
                static const Fault faults[] = {Fault::None, Fault::NoAnswer, Fault::AnswerAfterReads,
                                               Fault::WrongChecksum, Fault::WrongCommandCode};
                radio.setFault(faults[in.byte() % 5], in.byte() % 4);
                break;
            }
            case 5:
                if (op & 0x10) radio.unplug();
                else radio.plug();
                break;
        }
    }
    return 0;
}
