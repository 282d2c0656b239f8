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

Result<double> ParseScpiNumber(std::string_view reply) {
    const std::string text = trim(reply);
    if (text.empty()) return Error::Make(ErrorCode::BadData, "empty reply where a number was expected");
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        return Error::Make(ErrorCode::BadData, "reply \"%1\" is not a number", text);
    if (std::fabs(value) >= 9.9e37)
        return Error::Make(ErrorCode::BadData, "the instrument has no reading (%1)", text);
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
            return Error::Make(ErrorCode::BadData, "instrument address \"%1\" is not HOST[:PORT]", url);
        return OpenSocketInstrument(host, port, timeout);
    }
    if (u.rfind("lxi://", 0) == 0) {
        int port = 0;  // 0: VXI-11
        if (!splitHostPort(u.substr(6), &host, &port))
            return Error::Make(ErrorCode::BadData, "instrument address \"%1\" is not HOST[:PORT]", url);
        return OpenLxiInstrument(host, port, timeout);
    }
    if (u.rfind("usbtmc://", 0) == 0) {
        const std::string device(u.substr(9));
        if (device.empty())
            return Error::Make(ErrorCode::BadData, "instrument address \"%1\" names no device", url);
        return OpenUsbtmcInstrument(device, timeout);
    }
    return Error::Make(ErrorCode::BadData,
                       "unknown instrument address \"%1\" (use tcp://HOST:PORT, lxi://HOST[:PORT] or "
                       "usbtmc:///dev/usbtmcN)",
                       url);
}

}  // namespace varnel
