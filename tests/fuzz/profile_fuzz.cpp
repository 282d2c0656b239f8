// The profile reader over arbitrary bytes in each encoding, the text lookup,
// and the writer: a key written is the key read back.
#include <string>

#include "FuzzSupport.h"
#include "lang/Loadlanguage.h"
#include "lang/Profile.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    static const std::string_view prefixes[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "[A]\r\n"};
    const std::uint8_t choice = in.byte();
    const std::string_view section = in.bytes(12);
    const std::string_view key = in.bytes(12);
    std::string bytes(prefixes[choice % 4]);
    bytes += in.rest();

    const std::filesystem::path dir = fuzz::ScratchDirectory();
    const std::filesystem::path file = dir / "english.lang";
    fuzz::WriteWhole(file, bytes);

    (void)DetectProfileEncoding(bytes);
    (void)Gb18030ToUtf8(bytes);
    if (IsValidUtf8(bytes)) (void)Utf8ToGb18030(bytes);
    (void)ReadProfileString(file, section, key, "default");
    (void)ReadProfileString(file, "A", "B");

    // The lookup the windows use.
    SetProgramDirectory(dir);
    OpenLanguage(kLanguageEnglish);
    (void)Text(section, key);
    (void)Text("MainForm", "S001");

    // Writing: whatever the file held, the key written is read back, and
    // the writer refuses only arguments it says it refuses.
    if (choice & 0x80) {
        const Error written = WriteProfileString(file, "Fz", "key", "value 1");
        FUZZ_CHECK(written.ok());
        FUZZ_CHECK(ReadProfileString(file, "Fz", "key") == "value 1");
        const Error again = WriteProfileString(file, section, key, "v2");
        if (again.ok()) FUZZ_CHECK(ReadProfileString(file, section, key) == "v2");
    }
    ResetLanguageState();
    return 0;
}
