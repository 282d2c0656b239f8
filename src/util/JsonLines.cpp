#include "util/JsonLines.h"

#include "util/FileAccess.h"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

namespace varnel {

namespace {

using nlohmann::json;

// Refuses nesting deeper than the limit before the parser sees the text:
// counts brackets outside strings, without recursion and without memory.
Error CheckNesting(const std::string& s, const std::string& name) {
    int depth = 0, line = 1;
    bool inString = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\n') ++line;
        if (inString) {
            if (c == '\\' && i + 1 < s.size()) {
                ++i;
                if (s[i] == '\n') ++line;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kJsonDepthLimit)
                return Error::make(ErrorCode::BadData, name + ":" + std::to_string(line) +
                                                           ": arrays and objects nest deeper than " +
                                                           std::to_string(kJsonDepthLimit) + " levels");
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return {};
}

// The parser's events into a DOM, with the place and reason of a failure
// instead of an exception.
class DomBuilder {
public:
    explicit DomBuilder(json& root) : dom_(root, false) {}
    bool null() { return dom_.null(); }
    bool boolean(bool v) { return dom_.boolean(v); }
    bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
    bool number_unsigned(json::number_unsigned_t v) { return dom_.number_unsigned(v); }
    bool number_float(json::number_float_t v, const std::string& s) { return dom_.number_float(v, s); }
    bool string(std::string& v) { return dom_.string(v); }
    bool binary(json::binary_t& v) { return dom_.binary(v); }
    bool start_object(std::size_t n) { return dom_.start_object(n); }
    bool key(std::string& v) { return dom_.key(v); }
    bool end_object() { return dom_.end_object(); }
    bool start_array(std::size_t n) { return dom_.start_array(n); }
    bool end_array() { return dom_.end_array(); }
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& e) {
        failed = true;
        at = position;
        id = e.id;
        lastToken = token;
        what = e.what();
        return false;
    }

    bool failed = false;
    std::size_t at = 0;
    int id = 0;
    std::string lastToken, what;

private:
    nlohmann::detail::json_sax_dom_parser<json> dom_;
};

// At most `limit` bytes of a message, cut at a character boundary.
std::string Shortened(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
    return text + "...";
}

// The code point of \uXXXX at s[i] (after the 'u'), or -1.
long HexQuad(const std::string& s, std::size_t i) {
    if (i + 4 > s.size()) return -1;
    long v = 0;
    for (std::size_t k = i; k < i + 4; ++k) {
        const char c = s[k];
        v <<= 4;
        if (c >= '0' && c <= '9') v |= c - '0';
        else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
        else return -1;
    }
    return v;
}

void AppendUtf8(std::string& out, unsigned long c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Walks text that the parser has taken as JSON and notes where each value
// starts, with an explicit stack (the nesting is bounded already).
class LineScanner {
public:
    LineScanner(const std::string& text, JsonDocument& doc) : s_(text), doc_(doc) {}

    void run() {
        if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) i_ = 3;
        skipSpace();
        begin(line_, nullptr);
        while (!open_.empty() && i_ < s_.size()) {
            skipSpace();
            if (i_ >= s_.size()) break;
            const char c = s_[i_];
            if (c == ',') {
                ++i_;
                continue;
            }
            if (c == '}' || c == ']') {
                ++i_;
                close();
                continue;
            }
            if (open_.back().object) {
                const int keyLine = line_;
                std::string key = string();
                skipSpace();
                if (i_ < s_.size() && s_[i_] == ':') ++i_;
                skipSpace();
                begin(keyLine, &key);
            } else {
                begin(line_, nullptr);
            }
        }
        while (!open_.empty()) close();
    }

private:
    struct Open {
        std::uint32_t node;
        bool object;
        std::vector<std::uint32_t> members;
        std::vector<std::string> keys;
    };

    void skipSpace() {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
            if (c == '\n') ++line_;
            ++i_;
        }
    }
    std::string string() {
        std::string out;
        ++i_;  // opening quote
        while (i_ < s_.size() && s_[i_] != '"') {
            if (s_[i_] != '\\' || i_ + 1 >= s_.size()) {
                out += s_[i_++];
                continue;
            }
            const char e = s_[i_ + 1];
            i_ += 2;
            switch (e) {
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    long c = HexQuad(s_, i_);
                    if (c < 0) break;
                    i_ += 4;
                    if (c >= 0xD800 && c <= 0xDBFF && i_ + 1 < s_.size() && s_[i_] == '\\' && s_[i_ + 1] == 'u') {
                        const long low = HexQuad(s_, i_ + 2);
                        if (low >= 0xDC00 && low <= 0xDFFF) {
                            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                            i_ += 6;
                        }
                    }
                    AppendUtf8(out, static_cast<unsigned long>(c));
                    break;
                }
                default: out += e;
            }
        }
        ++i_;  // closing quote
        return out;
    }
    // A value starts here: a node of its own, a member of the open container.
    void begin(int line, std::string* key) {
        const auto id = static_cast<std::uint32_t>(doc_.nodes.size());
        doc_.nodes.push_back({line});
        if (!open_.empty()) {
            open_.back().members.push_back(id);
            if (key != nullptr) open_.back().keys.push_back(std::move(*key));
        }
        if (i_ >= s_.size()) return;
        const char c = s_[i_];
        if (c == '{' || c == '[') {
            ++i_;
            open_.push_back({id, c == '{', {}, {}});
        } else if (c == '"') {
            string();
        } else {
            while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}' && s_[i_] != ']' && s_[i_] != ' ' &&
                   s_[i_] != '\n' && s_[i_] != '\r' && s_[i_] != '\t')
                ++i_;
        }
    }
    void close() {
        Open o = std::move(open_.back());
        open_.pop_back();
        JsonDocument::LineNode& node = doc_.nodes[o.node];
        node.object = o.object;
        node.first = static_cast<std::uint32_t>(doc_.children.size());
        node.count = static_cast<std::uint32_t>(o.members.size());
        doc_.children.insert(doc_.children.end(), o.members.begin(), o.members.end());
        if (o.object) {
            node.keyFirst = static_cast<std::uint32_t>(doc_.keys.size());
            for (std::string& k : o.keys) doc_.keys.push_back(std::move(k));
        }
    }

    const std::string& s_;
    JsonDocument& doc_;
    std::vector<Open> open_;
    std::size_t i_ = 0;
    int line_ = 1;
};

}  // namespace

int JsonDocument::lineOf(const std::string& pointer) const {
    if (nodes.empty()) return 1;
    std::uint32_t at = 0;
    std::size_t from = 0;
    while (from < pointer.size() && pointer[from] == '/') {
        std::size_t end = pointer.find('/', from + 1);
        if (end == std::string::npos) end = pointer.size();
        std::string token;
        for (std::size_t k = from + 1; k < end; ++k) {
            if (pointer[k] == '~' && k + 1 < end && (pointer[k + 1] == '0' || pointer[k + 1] == '1')) {
                token += pointer[k + 1] == '0' ? '~' : '/';
                ++k;
            } else {
                token += pointer[k];
            }
        }
        from = end;
        const LineNode& node = nodes[at];
        std::optional<std::uint32_t> next;
        if (node.object) {
            // A key given twice: the parser keeps the last.
            for (std::uint32_t k = node.count; k > 0 && !next; --k)
                if (keys[node.keyFirst + k - 1] == token) next = children[node.first + k - 1];
        } else if (!token.empty() && token.size() < 10 &&
                   token.find_first_not_of("0123456789") == std::string::npos) {
            const auto index = static_cast<std::uint32_t>(std::stoul(token));
            if (index < node.count) next = children[node.first + index];
        }
        if (!next) break;
        at = *next;
    }
    return nodes[at].line;
}

Error JsonDocument::fail(const std::string& pointer, const std::string& text) const {
    return Error::make(ErrorCode::BadData, name + ":" + std::to_string(lineOf(pointer)) + ": " + text);
}

Result<JsonDocument> ParseJsonDocument(const std::string& text, const std::string& name) {
    if (Error e = CheckNesting(text, name); !e.ok()) return e;
    JsonDocument doc;
    doc.name = name;
    DomBuilder builder(doc.root);
    std::string problem;
    try {
        json::sax_parse(text, &builder);
    } catch (const std::bad_alloc&) {
        problem = "not enough memory to read it";
    } catch (const json::exception& e) {
        problem = e.what();
    }
    if (builder.failed || !problem.empty()) {
        // Line and column of the byte where the parser stopped.
        const std::size_t at = std::min<std::size_t>(builder.at == 0 ? 0 : builder.at - 1, text.size());
        int line = 1;
        std::size_t lineStart = 0;
        for (std::size_t k = 0; k < at; ++k) {
            if (text[k] == '\n') {
                ++line;
                lineStart = k + 1;
            }
        }
        std::string what = problem.empty() ? builder.what : problem;
        if (builder.failed && builder.id == 406) {
            what = "the number " + Shortened(builder.lastToken, 40) + " is too large (a number here lies within +/-1.7e308)";
        } else {
            // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ..."
            if (const auto bracket = what.find("] "); what.rfind("[json.exception.", 0) == 0 && bracket != std::string::npos)
                what = what.substr(bracket + 2);
            if (what.rfind("parse error", 0) == 0) {
                if (const auto colon = what.find(": "); colon != std::string::npos) what = what.substr(colon + 2);
            }
        }
        doc.root = json();
        return Error::make(ErrorCode::BadData, name + ":" + std::to_string(line) + ": column " +
                                                   std::to_string(at - lineStart + 1) + ": " + Shortened(what, 200));
    }
    LineScanner(text, doc).run();
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
