#include "util/JsonLines.h"

#include "util/FileAccess.h"

#include <vector>

namespace varnel {

namespace {

std::string escapePointerToken(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '~') out += "~0";
        else if (c == '/') out += "~1";
        else out += c;
    }
    return out;
}

// Walks text that is known to be valid JSON and records the line of every
// value under its JSON pointer.
class LineScanner {
public:
    LineScanner(const std::string& text, std::map<std::string, int>& lines) : s_(text), lines_(lines) {}
    void run() {
        skipSpace();
        value("");
    }

private:
    void skipSpace() {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == '\n') ++line_;
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
            ++i_;
        }
    }
    std::string string() {
        std::string out;
        ++i_;  // opening quote
        while (i_ < s_.size() && s_[i_] != '"') {
            if (s_[i_] == '\\' && i_ + 1 < s_.size()) {
                out += s_[i_ + 1];
                i_ += 2;
                continue;
            }
            out += s_[i_++];
        }
        ++i_;  // closing quote
        return out;
    }
    void value(const std::string& pointer) {
        lines_[pointer] = line_;
        if (i_ >= s_.size()) return;
        const char c = s_[i_];
        if (c == '{') {
            ++i_;
            skipSpace();
            while (i_ < s_.size() && s_[i_] != '}') {
                const int keyLine = line_;
                const std::string key = string();
                skipSpace();
                ++i_;  // ':'
                skipSpace();
                const std::string child = pointer + "/" + escapePointerToken(key);
                value(child);
                // A member is named by the line of its key.
                lines_[child] = std::min(lines_[child], keyLine);
                skipSpace();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    skipSpace();
                }
            }
            ++i_;
        } else if (c == '[') {
            ++i_;
            skipSpace();
            int index = 0;
            while (i_ < s_.size() && s_[i_] != ']') {
                value(pointer + "/" + std::to_string(index++));
                skipSpace();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    skipSpace();
                }
            }
            ++i_;
        } else if (c == '"') {
            string();
        } else {
            while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}' && s_[i_] != ']' && s_[i_] != ' ' &&
                   s_[i_] != '\n' && s_[i_] != '\r' && s_[i_] != '\t')
                ++i_;
        }
    }

    const std::string& s_;
    std::map<std::string, int>& lines_;
    std::size_t i_ = 0;
    int line_ = 1;
};

}  // namespace

int JsonDocument::lineOf(const std::string& pointer) const {
    std::string p = pointer;
    for (;;) {
        const auto it = lines.find(p);
        if (it != lines.end()) return it->second;
        if (p.empty()) return 1;
        const auto slash = p.rfind('/');
        p = slash == std::string::npos ? std::string() : p.substr(0, slash);
    }
}

Error JsonDocument::fail(const std::string& pointer, const std::string& text) const {
    return Error::make(ErrorCode::BadData, name + ":" + std::to_string(lineOf(pointer)) + ": " + text);
}

Result<JsonDocument> ParseJsonDocument(const std::string& text, const std::string& name) {
    JsonDocument doc;
    doc.name = name;
    try {
        doc.root = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        // Line and column of the byte where the parser stopped.
        const std::size_t at = std::min<std::size_t>(e.byte == 0 ? 0 : e.byte - 1, text.size());
        int line = 1;
        std::size_t lineStart = 0;
        for (std::size_t k = 0; k < at; ++k) {
            if (text[k] == '\n') {
                ++line;
                lineStart = k + 1;
            }
        }
        std::string what = e.what();
        // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
        const auto colon = what.find(": ");
        if (colon != std::string::npos) what = what.substr(colon + 2);
        return Error::make(ErrorCode::BadData, name + ":" + std::to_string(line) + ": column " +
                                                   std::to_string(at - lineStart + 1) + ": " + what);
    }
    LineScanner(text, doc.lines).run();
    return doc;
}

Result<JsonDocument> LoadJsonDocument(const std::string& path) {
    // A regular file only (a FIFO or device is refused at once), and never
    // more than the limit in memory.
    Result<FileBytes> file = ReadRegularFile(path, kJsonFileLimit + 1);
    if (!file) return file.error();
    if (file->size > kJsonFileLimit || file->bytes.size() > kJsonFileLimit) {
        return Error::make(ErrorCode::WrongSize,
                           "%1 holds " + std::to_string(file->size) + " bytes; a JSON file here is at most " +
                               std::to_string(kJsonFileLimit) + " bytes",
                           path);
    }
    return ParseJsonDocument(file->bytes, path);
}

}  // namespace varnel
