// JSON configuration files (procedures, instrument models) read with
// nlohmann::json, plus the line on which each value stands, so that a
// mistake can be reported as "FILE:LINE: what is wrong".
//
// Whatever the bytes, reading stays bounded: nesting deeper than
// kJsonDepthLimit is refused before anything is parsed (counted without
// recursion), every failure of the parser (syntax, a number beyond the range
// of a double such as 1e400) is a BadData "FILE:LINE: ..." and never an
// exception, and the lines are kept in memory linear in the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "util/Error.h"

namespace varnel {

// The deepest nesting of arrays and objects a JSON file here may have (a
// procedure needs four levels).
inline constexpr int kJsonDepthLimit = 64;

struct JsonDocument {
    std::string name;  // file name for messages
    nlohmann::json root;

    // Where each value starts, as a tree beside `root`: node 0 is the root;
    // a container's members are children[first .. first + count) and, for an
    // object, their keys keys[keyFirst .. keyFirst + count).
    struct LineNode {
        int line = 1;  // 1-based; a member of an object: the line of its key
        std::uint32_t first = 0, count = 0, keyFirst = 0;
        bool object = false;
    };
    std::vector<LineNode> nodes;
    std::vector<std::uint32_t> children;
    std::vector<std::string> keys;

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
