// The parameter editor's frequency and byte text parsers.
#include <cstdint>
#include <limits>
#include <string>

#include "FuzzSupport.h"
#include "dialogs/Param.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint32_t old = (std::uint32_t{in.u16()} << 16) | in.u16();
    const std::string_view text = in.rest();

    (void)param::NormaliseFrequencyText(text);

    const param::ParsedValue f = param::parseFrequencyText(text, old);
    if (f.value != old) {
        // A new frequency fits the signed 32-bit field and is whole tens of hertz.
        FUZZ_CHECK(f.value <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()));
        FUZZ_CHECK(f.value % 10 == 0);
    }
    const param::ParsedValue b = param::parseByteText(text, old);
    if (b.value != old) FUZZ_CHECK(b.value <= 255);
    return 0;
}
