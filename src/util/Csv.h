// One text field of a CSV line (RFC 4180): as it is, or in double quotes
// with inner quotes doubled when it holds a comma, a quote or a line break.
//
// A spreadsheet reads a field that starts with '=', '+', '-', '@', a tab or a
// carriage return as a formula. Such a field gets a leading apostrophe and
// is quoted (OWASP's advice on CSV injection), so a text from a radio, a file
// name or a record is shown as text and never run. A field that is a plain
// decimal number ("-12", "+3.5") is left as it is: every spreadsheet reads it
// as that number and nothing else. Numeric columns are written as numbers by
// their callers and do not pass through here.
#pragma once

#include <string>

namespace varnel {

// True for an optional sign, digits and at most one decimal point with a
// digit somewhere: what a spreadsheet takes as a number and nothing more.
inline bool CsvPlainNumber(const std::string& text) {
    std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    bool digit = false, point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

inline std::string CsvField(const std::string& text) {
    const bool formula = !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos &&
                         !CsvPlainNumber(text);
    if (!formula && text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = formula ? "\"'" : "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace varnel
