// One field of a CSV line (RFC 4180): as it is, or in double quotes with
// inner quotes doubled when it holds a comma, a quote or a line break.
#pragma once

#include <string>

namespace varnel {

inline std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace varnel
