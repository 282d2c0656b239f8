// JSON configuration files (procedures, instrument models) read with
// nlohmann::json, plus the line on which each value stands, so that a
// mistake can be reported as "FILE:LINE: what is wrong".
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "util/Error.h"

namespace varnel {

struct JsonDocument {
    std::string name;  // file name for messages
    nlohmann::json root;
    std::map<std::string, int> lines;  // JSON pointer ("/steps/0/item") -> 1-based line

    // The line of the value at `pointer`, or of its nearest enclosing value.
    int lineOf(const std::string& pointer) const;
    // A BadData error "NAME:LINE: text" for the value at `pointer`.
    Error fail(const std::string& pointer, const std::string& text) const;
};

// Parses `text`; a syntax error names the line and column.
Result<JsonDocument> ParseJsonDocument(const std::string& text, const std::string& name);
// The largest JSON file LoadJsonDocument takes (procedures and instrument
// models are a few kilobytes).
inline constexpr std::size_t kJsonFileLimit = 1024 * 1024;

// Reads and parses a regular file of at most kJsonFileLimit bytes; a folder,
// FIFO or device is refused at once (util/FileAccess.h).
Result<JsonDocument> LoadJsonDocument(const std::string& path);

}  // namespace varnel
