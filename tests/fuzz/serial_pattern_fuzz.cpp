// The serial pattern language over any pattern and serial: compiling never
// crashes and stays within its bound, matching never crashes, and a pattern
// of plain letters and digits matches exactly itself.
#include <string>

#include "FuzzSupport.h"
#include "line/LineSettings.h"
#include "util/LinearPattern.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::string pattern(in.bytes(255));
    const std::string text(in.rest());

    Result<LinearPattern> p = LinearPattern::compile(pattern);
    if (!p) {
        FUZZ_CHECK(p.error().code() == ErrorCode::BadData);
        FUZZ_CHECK(!p.error().text().empty());
    } else {
        FUZZ_CHECK(p->programSize() >= 1 && p->programSize() <= kPatternProgramLimit);
        const bool whole = p->matchesWhole(text);
        bool plain = true;
        for (char c : pattern)
            plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
        if (plain) FUZZ_CHECK(whole == (text == pattern));
    }

    Result<SerialPattern> serial = SerialPattern::make(pattern, "fuzz");
    if (serial) {
        const SerialRefusal why = serial->check(text);
        FUZZ_CHECK((why == SerialRefusal::None) == serial->refusal(text).empty());
        if (SerialLength(SerialPattern::trim(text)) > kSerialLengthLimit) FUZZ_CHECK(why == SerialRefusal::TooLong);
    }
    // File names: reversible, and only of the characters they promise.
    const std::string name = SerialFileName(text);
    FUZZ_CHECK(SerialFromFileName(name) == std::optional<std::string>(text));
    for (char c : name)
        FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_');
    return 0;
}
