#include "instrument/Instrument.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace varnel {

namespace {

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return std::string(s);
}

bool splitHostPort(std::string_view rest, std::string* host, int* port) {
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos) {
        *host = std::string(rest);
        return !host->empty();
    }
    *host = std::string(rest.substr(0, colon));
    const std::string digits(rest.substr(colon + 1));
    if (host->empty() || digits.empty() || digits.size() > 5) return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    *port = std::atoi(digits.c_str());
    return *port > 0 && *port < 65536;
}

}  // namespace

namespace {

// The length of the valid UTF-8 sequence at `s[i]`, 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t utf8Sequence(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    unsigned lowest = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        lowest = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lowest = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    unsigned code = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code >= 0x80 && code <= 0x9F) return 0;  // C1 controls are escaped too
    return n;
}

}  // namespace

std::string SafeInstrumentText(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if ((c >= 0x20 && c < 0x7F) || c == '\t') {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = c >= 0x80 ? utf8Sequence(bytes, i) : 0; n > 0) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
            ++i;
        }
    }
    return out;
}

Result<double> ParseScpiNumber(std::string_view reply) {
    const std::string text = trim(reply);
    if (text.empty()) return Error::make(ErrorCode::BadData, "empty reply where a number was expected");
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        return Error::make(ErrorCode::BadData, "reply \"%1\" is not a number", text);
    if (std::fabs(value) >= 9.9e37)
        return Error::make(ErrorCode::BadData, "the instrument has no reading (%1)", text);
    return value;
}

// A malformed address is BadData; an instrument that cannot be reached is
// an Instrument failure.
Result<std::unique_ptr<Instrument>> OpenInstrument(const std::string& url,
                                                   std::chrono::milliseconds timeout) {
    const std::string_view u = url;
    std::string host;
    if (u.rfind("tcp://", 0) == 0) {
        int port = 5025;
        if (!splitHostPort(u.substr(6), &host, &port))
            return Error::make(ErrorCode::BadData, "instrument address \"%1\" is not HOST[:PORT]", url);
        return OpenSocketInstrument(host, port, timeout);
    }
    if (u.rfind("lxi://", 0) == 0) {
        int port = 0;  // 0: VXI-11
        if (!splitHostPort(u.substr(6), &host, &port))
            return Error::make(ErrorCode::BadData, "instrument address \"%1\" is not HOST[:PORT]", url);
        // liblxi's raw mode is the plain SCPI socket this program has of its
        // own; without liblxi only VXI-11 is missing.
        if (port > 0 && !LxiAvailable()) return OpenSocketInstrument(host, port, timeout);
        return OpenLxiInstrument(host, port, timeout);
    }
    if (u.rfind("usbtmc://", 0) == 0) {
        const std::string device(u.substr(9));
        if (device.empty())
            return Error::make(ErrorCode::BadData, "instrument address \"%1\" names no device", url);
        return OpenUsbtmcInstrument(device, timeout);
    }
    return Error::make(ErrorCode::BadData,
                       "unknown instrument address \"%1\" (use tcp://HOST:PORT, lxi://HOST[:PORT] or "
                       "usbtmc:///dev/usbtmcN)",
                       url);
}

}  // namespace varnel
