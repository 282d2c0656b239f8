// Profile-file reader and writer; the rules are described in Profile.h.
#include "lang/Profile.h"

#include "util/FileAccess.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include "util/Win32.h"
#else
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace varnel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// ---- small text helpers ----

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

// The Windows reader drops one pair of matching quotes around a value.
std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v.remove_prefix(1);
        v.remove_suffix(1);
    }
    return v;
}

// ---- Unicode conversions ----

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Length of the valid UTF-8 sequence at s[i] and its code point, or 0 when
// the bytes there are not a valid sequence.
std::size_t utf8Sequence(std::string_view s, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::string utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    const auto unit = [&](std::size_t k) -> char16_t {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                     (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
    };
    for (std::size_t k = 0; k < units; ++k) {
        const char16_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const char16_t low = unit(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            out += kReplacement;  // unpaired surrogate
        } else {
            appendUtf8(out, u);
        }
    }
    if (bytes.size() % 2 != 0) out += kReplacement;  // dangling half unit
    return out;
}

std::string utf8ToUtf16Le(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    const auto put = [&](char32_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>((u >> 8) & 0xFF));
    };
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        std::size_t len = utf8Sequence(text, i, cp);
        if (len == 0) {
            cp = 0xFFFD;
            len = 1;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

// ---- file access ----

// Profile files are small; anything beyond this is not one.
constexpr std::size_t kMaxProfileSize = 64u * 1024 * 1024;

// Whole file into `out`; false when it is not a readable regular file (a
// FIFO, a folder or a device is refused at once, never waited on).
bool readWholeFile(const fs::path& file, std::string& out) {
    Result<FileBytes> read = ReadRegularFile(file, kMaxProfileSize + 1);
    if (!read || read->bytes.size() > kMaxProfileSize) return false;
    out = std::move(read->bytes);
    return true;
}

// The file's text as UTF-8.
std::string decodeToUtf8(std::string_view bytes, ProfileEncoding enc) {
    switch (enc) {
        case ProfileEncoding::Utf16LeBom:
            return utf16LeToUtf8(bytes.substr(kUtf16LeBom.size()));
        case ProfileEncoding::Utf8Bom:
            return std::string(bytes.substr(kUtf8Bom.size()));
        case ProfileEncoding::Gb18030:
            return Gb18030ToUtf8(bytes);
        case ProfileEncoding::Utf8:
            break;
    }
    return std::string(bytes);
}

// ---- line parsing ----

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;      // section or key name, trimmed
    std::string_view value;     // key value, trimmed, quotes kept
    std::size_t valueStart = 0; // offset of the value in the line (after '=' and blanks)
};

// One line of text without its line end.
ParsedLine parseLine(std::string_view line) {
    ParsedLine p;
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';') return p;
    if (t.front() == '[') {
        const std::size_t close = t.rfind(']');
        if (close == std::string_view::npos) return p;  // malformed header: skipped
        p.kind = LineKind::Section;
        p.name = trim(t.substr(1, close - 1));
        return p;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return p;
    const std::string_view name = trim(line.substr(0, eq));
    if (name.empty()) return p;
    p.kind = LineKind::Key;
    p.name = name;
    std::size_t start = eq + 1;
    while (start < line.size() && isBlank(line[start])) ++start;
    p.valueStart = start;
    p.value = trim(line.substr(start));
    return p;
}

// ---- writer's view of a file: raw lines in the file's own encoding ----

struct RawLine {
    std::string content;  // bytes without the line end
    std::string ending;   // "\r\n", "\n" (encoded), or empty for a last line without one
};

struct RawFile {
    ProfileEncoding encoding = ProfileEncoding::Utf8;
    std::string bom;
    std::vector<RawLine> lines;
};

RawFile splitRaw(const std::string& bytes) {
    RawFile f;
    f.encoding = DetectProfileEncoding(bytes);
    std::string_view body = bytes;
    if (f.encoding == ProfileEncoding::Utf16LeBom) {
        f.bom = std::string(kUtf16LeBom);
        body.remove_prefix(kUtf16LeBom.size());
        const std::size_t units = body.size() / 2;
        std::size_t start = 0;  // in units
        for (std::size_t k = 0; k < units; ++k) {
            if (body[2 * k] == '\n' && body[2 * k + 1] == '\0') {
                std::size_t endUnit = k;
                if (endUnit > start && body[2 * (endUnit - 1)] == '\r' && body[2 * (endUnit - 1) + 1] == '\0') {
                    --endUnit;
                }
                f.lines.push_back({std::string(body.substr(2 * start, 2 * (endUnit - start))),
                                   std::string(body.substr(2 * endUnit, 2 * (k + 1 - endUnit)))});
                start = k + 1;
            }
        }
        if (2 * start < body.size()) {
            std::string last(body.substr(2 * start));
            // A file of odd length ends in half a unit. Completing it keeps
            // that byte and keeps every unit written after it aligned, so a
            // key added at the end stays readable.
            if (last.size() % 2 != 0) last.push_back('\0');
            f.lines.push_back({std::move(last), {}});
        }
        return f;
    }
    if (f.encoding == ProfileEncoding::Utf8Bom) {
        f.bom = std::string(kUtf8Bom);
        body.remove_prefix(kUtf8Bom.size());
    }
    // In UTF-8 and GB18030 the byte 0x0A only ever stands for LF.
    std::size_t start = 0;
    while (start < body.size()) {
        const std::size_t lf = body.find('\n', start);
        if (lf == std::string_view::npos) {
            f.lines.push_back({std::string(body.substr(start)), {}});
            break;
        }
        std::size_t end = lf;
        if (end > start && body[end - 1] == '\r') --end;
        f.lines.push_back({std::string(body.substr(start, end - start)),
                           std::string(body.substr(end, lf + 1 - end))});
        start = lf + 1;
    }
    return f;
}

std::string decodeLine(const RawFile& f, const std::string& raw) {
    switch (f.encoding) {
        case ProfileEncoding::Utf16LeBom:
            return utf16LeToUtf8(raw);
        case ProfileEncoding::Gb18030:
            return Gb18030ToUtf8(raw);
        case ProfileEncoding::Utf8:
        case ProfileEncoding::Utf8Bom:
            break;
    }
    return raw;
}

std::string encodeText(ProfileEncoding enc, std::string_view utf8) {
    switch (enc) {
        case ProfileEncoding::Utf16LeBom:
            return utf8ToUtf16Le(utf8);
        case ProfileEncoding::Gb18030:
            return Utf8ToGb18030(utf8);
        case ProfileEncoding::Utf8:
        case ProfileEncoding::Utf8Bom:
            break;
    }
    return std::string(utf8);
}

std::string validateArguments(std::string_view section, std::string_view key, std::string_view value) {
    const auto hasLineBreak = [](std::string_view s) {
        return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
    };
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) {
        return "a section, key or value must not contain a line break";
    }
    // Anything else would turn a UTF-8 file into one read as GB18030, and
    // every other text in it with it.
    if (!IsValidUtf8(section) || !IsValidUtf8(key) || !IsValidUtf8(value)) {
        return "a section, key or value must be valid UTF-8";
    }
    const std::string_view k = trim(key);
    if (k.empty()) return "the key is empty";
    if (k.find('=') != std::string_view::npos) return "the key must not contain '='";
    if (k.front() == '[' || k.front() == ';') return "the key must not start with '[' or ';'";
    if (section.find(']') != std::string_view::npos) return "the section name must not contain ']'";
    return {};
}

#ifndef _WIN32
// iconv from glibc, converting everything it can and replacing what it cannot.
std::string iconvConvert(const char* to, const char* from, std::string_view in, std::string_view replacement) {
    std::string out;
    if (in.empty()) return out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return std::string(in);  // no converter: bytes as they are
    out.resize(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    std::size_t used = 0;
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (errno == EILSEQ) {
            out.replace(used, replacement.size(), replacement);
            used += replacement.size();
            ++src;
            --srcLeft;
            if (out.size() - used < 16) out.resize(out.size() * 2);
        } else {
            // EINVAL: the input ends inside a sequence. Treated like a broken
            // sequence anywhere else: one replacement for its first byte, and
            // the bytes after it are decoded on their own.
            out.replace(used, replacement.size(), replacement);
            used += replacement.size();
            ++src;
            --srcLeft;
            if (out.size() - used < 16) out.resize(out.size() * 2);
        }
    }
    iconv_close(cd);
    out.resize(used);
    return out;
}
#else
std::wstring toWide(UINT codePage, std::string_view in) {
    if (in.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), w.data(), n);
    return w;
}

std::string fromWide(UINT codePage, const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(codePage, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

constexpr UINT kGb18030CodePage = 54936;
#endif

}  // namespace

// ---- public helpers ----

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        // ASCII runs are by far the most common: skip them eight bytes at a time.
        if (i + 8 <= bytes.size()) {
            std::uint64_t chunk;
            std::memcpy(&chunk, bytes.data() + i, sizeof chunk);
            if ((chunk & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t cp;
        const std::size_t len = utf8Sequence(bytes, i, cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

ProfileEncoding DetectProfileEncoding(std::string_view bytes) {
    if (bytes.substr(0, kUtf16LeBom.size()) == kUtf16LeBom) return ProfileEncoding::Utf16LeBom;
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) return ProfileEncoding::Utf8Bom;
    return IsValidUtf8(bytes) ? ProfileEncoding::Utf8 : ProfileEncoding::Gb18030;
}

std::string Gb18030ToUtf8(std::string_view bytes) {
#ifdef _WIN32
    return fromWide(CP_UTF8, toWide(kGb18030CodePage, bytes));
#else
    return iconvConvert("UTF-8", "GB18030", bytes, kReplacement);
#endif
}

std::string Utf8ToGb18030(std::string_view text) {
#ifdef _WIN32
    return fromWide(kGb18030CodePage, toWide(CP_UTF8, text));
#else
    return iconvConvert("GB18030", "UTF-8", text, "?");
#endif
}

// ---- reader ----

std::string ReadProfileString(const fs::path& file, std::string_view section, std::string_view key,
                              std::string_view defaultValue) {
    std::string bytes;
    if (!readWholeFile(file, bytes)) return std::string(defaultValue);
    const ProfileEncoding enc = DetectProfileEncoding(bytes);
    std::string decoded;
    std::string_view text;
    if (enc == ProfileEncoding::Utf8) {
        text = bytes;  // no copy for the common case
    } else {
        decoded = decodeToUtf8(bytes, enc);
        text = decoded;
    }
    const std::string_view wantSection = trim(section);
    const std::string_view wantKey = trim(key);
    bool inSection = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) lf = text.size();
        const ParsedLine p = parseLine(text.substr(start, lf - start));
        if (p.kind == LineKind::Section) {
            inSection = equalsIgnoreCase(p.name, wantSection);
        } else if (p.kind == LineKind::Key && inSection && equalsIgnoreCase(p.name, wantKey)) {
            return std::string(unquote(p.value));
        }
        start = lf + 1;
    }
    return std::string(defaultValue);
}

Error CheckProfileFile(const fs::path& file) {
    if (Error e = CheckRegularFile(file, true); !e.ok()) return e;
    std::error_code ec;
    if (!fs::exists(file, ec)) return {};
    Result<FileBytes> read = ReadRegularFile(file, 0);
    return read ? Error{} : read.error();
}

// ---- writer ----

namespace {

// The profile file's lines as they stand (none when there is no file yet). A
// FIFO, folder or device is refused before anything is read.
Result<RawFile> readForUpdate(const fs::path& file) {
    if (Error e = CheckRegularFile(file, true); !e.ok()) return e;
    std::error_code ec;
    const bool exists = fs::exists(file, ec);

    RawFile raw;
    if (exists) {
        Result<FileBytes> read = ReadRegularFile(file, kMaxProfileSize + 1);
        if (!read) return read.error();
        if (read->bytes.size() > kMaxProfileSize) {
            return Error::make(ErrorCode::WrongSize, "%1 is too large for a profile file", PathText(file));
        }
        raw = splitRaw(read->bytes);
    }
    return raw;
}

// Where a key stands in the file, or where it is to be added.
struct KeyPlace {
    std::optional<std::size_t> keyLine;  // the key's first occurrence in the section
    std::size_t keyValueStart = 0;
    std::optional<std::size_t> insertAfter;  // the last key line of the section's first block
};

// Finds the key's first occurrence in the section (all blocks of it, in file
// order) and the place to add it: after the last key line of the section's
// first block.
KeyPlace findKey(const RawFile& raw, std::string_view wantSection, std::string_view wantKey) {
    KeyPlace place;
    bool inSection = false;
    bool inFirstBlock = false;
    for (std::size_t i = 0; i < raw.lines.size() && !place.keyLine; ++i) {
        const std::string text = decodeLine(raw, raw.lines[i].content);
        const ParsedLine p = parseLine(text);
        if (p.kind == LineKind::Section) {
            inSection = equalsIgnoreCase(p.name, wantSection);
            inFirstBlock = inSection && !place.insertAfter;
            if (inFirstBlock) place.insertAfter = i;
        } else if (p.kind == LineKind::Key && inSection) {
            if (equalsIgnoreCase(p.name, wantKey)) {
                place.keyLine = i;
                place.keyValueStart = p.valueStart;
            } else if (inFirstBlock) {
                place.insertAfter = i;
            }
        }
    }
    return place;
}

// The line end the file uses already, else CR LF.
std::string lineEndOf(const RawFile& raw) {
    for (const RawLine& l : raw.lines) {
        if (!l.ending.empty()) return l.ending;  // the file's own convention
    }
    return encodeText(raw.encoding, "\r\n");
}

// Adds the key's line at its place, with the section's header when the file
// has no such section yet.
void insertKeyLine(RawFile& raw, const KeyPlace& place, std::string_view wantSection, const std::string& newLine) {
    const ProfileEncoding enc = raw.encoding;
    const std::string ending = lineEndOf(raw);
    std::size_t at;
    std::vector<RawLine> added;
    if (place.insertAfter) {
        at = *place.insertAfter + 1;
    } else {
        at = raw.lines.size();
        std::string header;
        header.reserve(wantSection.size() + 2);
        header.push_back('[');
        header.append(wantSection);
        header.push_back(']');
        added.push_back({encodeText(enc, header), ending});
    }
    added.push_back({newLine, ending});
    if (at > 0 && raw.lines[at - 1].ending.empty()) raw.lines[at - 1].ending = ending;
    raw.lines.insert(raw.lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
}

std::string joinRaw(const RawFile& raw) {
    std::string out = raw.bom;
    for (const RawLine& l : raw.lines) {
        out += l.content;
        out += l.ending;
    }
    return out;
}

}  // namespace

Error WriteProfileString(const fs::path& file, std::string_view section, std::string_view key,
                         std::string_view value) {
    if (const std::string bad = validateArguments(section, key, value); !bad.empty()) {
        return Error::make(ErrorCode::BadData, bad, PathText(file));
    }
    const std::string_view wantSection = trim(section);
    const std::string_view wantKey = trim(key);

    Result<RawFile> read = readForUpdate(file);
    if (!read) return read.error();
    RawFile& raw = read.value();
    const ProfileEncoding enc = raw.encoding;
    const KeyPlace place = findKey(raw, wantSection, wantKey);

    const std::string newLine = encodeText(enc, std::string(wantKey) + "=" + std::string(value));
    if (place.keyLine) {
        RawLine& line = raw.lines[*place.keyLine];
        const std::string text = decodeLine(raw, line.content);
        line.content = encodeText(enc, text.substr(0, place.keyValueStart) + std::string(value));
    } else {
        insertKeyLine(raw, place, wantSection, newLine);
    }
    return WriteFileSafely(file, joinRaw(raw));
}

}  // namespace varnel
