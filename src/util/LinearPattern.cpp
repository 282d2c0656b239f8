#include "util/LinearPattern.h"

#include <memory>
#include <optional>

namespace varnel {

// ---- characters -----------------------------------------------------------------

std::vector<char32_t> PatternCharacters(std::string_view s) {
    std::vector<char32_t> out;
    out.reserve(s.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    while (i < s.size()) {
        const unsigned char first = byte(i);
        std::size_t length = 0;
        char32_t code = 0;
        if (first < 0x80) length = 1, code = first;
        else if (first >= 0xC2 && first <= 0xDF) length = 2, code = first & 0x1F;
        else if (first >= 0xE0 && first <= 0xEF) length = 3, code = first & 0x0F;
        else if (first >= 0xF0 && first <= 0xF4) length = 4, code = first & 0x07;
        bool good = length > 0 && i + length <= s.size();
        for (std::size_t k = 1; good && k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) good = false;
            else code = (code << 6) | (byte(i + k) & 0x3F);
        }
        if (good && ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
                     (code >= 0xD800 && code <= 0xDFFF)))
            good = false;
        if (!good) {
            out.push_back(0x110000 + first);
            ++i;
            continue;
        }
        out.push_back(code);
        i += length;
    }
    return out;
}

bool LinearPattern::CharClass::contains(char32_t c) const {
    bool in = false;
    for (const Range& r : ranges)
        if (c >= r.low && c <= r.high) {
            in = true;
            break;
        }
    return in != negated;
}

// ---- the compiler -----------------------------------------------------------------

namespace {

struct Node {
    enum class Kind { Empty, Char, Any, Class, Concat, Alternatives, Repeat } kind = Kind::Empty;
    char32_t c = 0;
    int cls = 0;
    int min = 0, max = 0;  // Repeat; max -1: no limit
    std::vector<Node> parts;
};

using CharClass = LinearPattern::CharClass;
using Range = LinearPattern::Range;

void AddDigit(CharClass& k) { k.ranges.push_back({'0', '9'}); }
void AddWord(CharClass& k) {
    k.ranges.push_back({'A', 'Z'});
    k.ranges.push_back({'a', 'z'});
    k.ranges.push_back({'0', '9'});
    k.ranges.push_back({'_', '_'});
}
void AddSpace(CharClass& k) {
    k.ranges.push_back({' ', ' '});
    k.ranges.push_back({'\t', '\r'});  // \t \n \v \f \r
}

bool IsPunctuation(char32_t c) {
    return c < 0x80 && c > ' ' && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') && !(c >= 'a' && c <= 'z');
}

std::optional<char32_t> ControlEscape(char32_t c) {
    switch (c) {
        case 't': return U'\t';
        case 'n': return U'\n';
        case 'r': return U'\r';
        case 'f': return U'\f';
        case 'v': return U'\v';
        default: return std::nullopt;
    }
}

}  // namespace

class PatternCompiler {
public:
    explicit PatternCompiler(std::string_view pattern) : text_(PatternCharacters(pattern)) {}

    Result<LinearPattern> run() {
        std::size_t end = text_.size();
        // The match is of the whole text: a leading '^' and a trailing
        // (unescaped) '$' say so again and are taken as they are.
        if (!text_.empty() && text_[0] == '^') at_ = 1;
        if (end > at_ && text_[end - 1] == '$') {
            std::size_t backslashes = 0;
            for (std::size_t k = end - 1; k > at_ && text_[k - 1] == '\\'; --k) ++backslashes;
            if (backslashes % 2 == 0) --end;
        }
        end_ = end;
        for (std::size_t k = 0; k < text_.size(); ++k)
            if (text_[k] >= 0x110000) return fail(k, "the pattern is not UTF-8");
        Node root;
        if (!alternatives(root, 0)) return error_;
        if (at_ != end_) return fail(text_[at_] == ')' ? "a ')' without its '('" : "unexpected character");
        emit(root);
        if (overflow_)
            return fail(at_, "the pattern is too large (more than " + std::to_string(kPatternProgramLimit) +
                                 " steps once its repetitions are written out)");
        push({LinearPattern::Op::Match});
        if (overflow_)
            return fail(at_, "the pattern is too large (more than " + std::to_string(kPatternProgramLimit) +
                                 " steps once its repetitions are written out)");
        return std::move(out_);
    }

private:
    Error fail(const std::string& what) { return fail(at_, what); }
    Error fail(std::size_t at, const std::string& what) {
        error_ = Error::make(ErrorCode::BadData, "at character " + std::to_string(at + 1) + ": " + what);
        return error_;
    }
    bool more() const { return at_ < end_; }
    char32_t peek() const { return text_[at_]; }

    bool alternatives(Node& out, int depth) {
        if (depth > kPatternNestingLimit) {
            fail("groups nest deeper than " + std::to_string(kPatternNestingLimit) + " levels");
            return false;
        }
        Node first;
        if (!sequence(first, depth)) return false;
        if (!more() || peek() != '|') {
            out = std::move(first);
            return true;
        }
        out.kind = Node::Kind::Alternatives;
        out.parts.push_back(std::move(first));
        while (more() && peek() == '|') {
            ++at_;
            Node next;
            if (!sequence(next, depth)) return false;
            out.parts.push_back(std::move(next));
        }
        return true;
    }

    bool sequence(Node& out, int depth) {
        out.kind = Node::Kind::Concat;
        while (more() && peek() != '|' && peek() != ')') {
            Node atom;
            if (!this->atom(atom, depth)) return false;
            if (!quantifier(atom)) return false;
            out.parts.push_back(std::move(atom));
        }
        return true;
    }

    bool atom(Node& out, int depth) {
        const std::size_t start = at_;
        const char32_t c = peek();
        ++at_;
        switch (c) {
            case '(': {
                if (more() && peek() == '?') {
                    if (at_ + 1 < end_ && text_[at_ + 1] == ':') {
                        at_ += 2;
                    } else {
                        fail(start, "look-around and named groups are not part of the serial pattern language");
                        return false;
                    }
                }
                if (!alternatives(out, depth + 1)) return false;
                if (!more() || peek() != ')') {
                    fail(start, "a '(' without its ')'");
                    return false;
                }
                ++at_;
                return true;
            }
            case '[': return charClass(out, start);
            case '.':
                out.kind = Node::Kind::Class;
                out.cls = addClass(CharClass{{{'\n', '\n'}, {'\r', '\r'}}, true});
                return true;
            case '*':
            case '+':
            case '?':
                fail(start, std::string("'") + static_cast<char>(c) + "' repeats nothing");
                return false;
            case '{':
                fail(start, "'{' repeats nothing (write \\{ for the character)");
                return false;
            case '^':
            case '$':
                fail(start, std::string("'") + static_cast<char>(c) +
                                "' stands only first or last (the whole serial is matched anyway)");
                return false;
            case '\\': return escape(out, start, false, nullptr);
            default:
                out.kind = Node::Kind::Char;
                out.c = c;
                return true;
        }
    }

    // After a backslash. Inside a class (`into`), a class escape adds to it;
    // `single` receives a single character.
    bool escape(Node& out, std::size_t start, bool inClass, CharClass* into, char32_t* single = nullptr) {
        if (!more()) {
            fail(start, "a '\\' at the end of the pattern");
            return false;
        }
        const char32_t c = peek();
        ++at_;
        CharClass k;
        bool isClass = true;
        switch (c) {
            case 'd': AddDigit(k); break;
            case 'w': AddWord(k); break;
            case 's': AddSpace(k); break;
            case 'D': AddDigit(k), k.negated = true; break;
            case 'W': AddWord(k), k.negated = true; break;
            case 'S': AddSpace(k), k.negated = true; break;
            default: isClass = false;
        }
        if (isClass) {
            if (inClass) {
                if (k.negated) {
                    fail(start, "\\D, \\W and \\S are not taken inside [...]; write [^...]");
                    return false;
                }
                if (into != nullptr) into->ranges.insert(into->ranges.end(), k.ranges.begin(), k.ranges.end());
                return true;
            }
            out.kind = Node::Kind::Class;
            out.cls = addClass(std::move(k));
            return true;
        }
        char32_t literal = 0;
        if (const std::optional<char32_t> control = ControlEscape(c)) {
            literal = *control;
        } else if (IsPunctuation(c)) {
            literal = c;
        } else {
            fail(start, std::string("\\") + (c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string("...")) +
                            " is not part of the serial pattern language (no back-references, word boundaries "
                            "or character codes)");
            return false;
        }
        if (single != nullptr) *single = literal;
        if (!inClass) {
            out.kind = Node::Kind::Char;
            out.c = literal;
        }
        return true;
    }

    bool charClass(Node& out, std::size_t start) {
        CharClass k;
        if (more() && peek() == '^') {
            k.negated = true;
            ++at_;
        }
        for (;;) {
            if (!more()) {
                fail(start, "a '[' without its ']'");
                return false;
            }
            if (peek() == ']') break;  // "[]" matches nothing, "[^]" anything, as in ECMAScript
            // One member: a character, a class escape, or a range.
            std::optional<char32_t> low;
            const std::size_t memberAt = at_;
            if (peek() == '\\') {
                ++at_;
                const std::size_t before = k.ranges.size();
                Node unused;
                const char32_t marker = 0x7FFFFFFF;
                char32_t c = marker;
                if (!escape(unused, memberAt, true, &k, &c)) return false;
                if (c != marker) low = c;
                else if (k.ranges.size() > before && more() && peek() == '-' && at_ + 1 < end_ && text_[at_ + 1] != ']') {
                    fail(memberAt, "a range cannot start at \\d, \\w or \\s");
                    return false;
                }
            } else {
                low = peek();
                ++at_;
            }
            if (!low) continue;
            if (more() && peek() == '-' && at_ + 1 < end_ && text_[at_ + 1] != ']') {
                ++at_;
                char32_t high = 0;
                if (peek() == '\\') {
                    const std::size_t highAt = at_;
                    ++at_;
                    Node unused;
                    CharClass probe;
                    const char32_t marker = 0x7FFFFFFF;
                    high = marker;
                    if (!escape(unused, highAt, true, &probe, &high)) return false;
                    if (high == marker) {
                        fail(highAt, "a range cannot end at \\d, \\w or \\s");
                        return false;
                    }
                } else {
                    high = peek();
                    ++at_;
                }
                if (high < *low) {
                    fail(memberAt, "a range whose end comes before its start");
                    return false;
                }
                k.ranges.push_back({*low, high});
            } else {
                k.ranges.push_back({*low, *low});
            }
        }
        ++at_;  // ']'
        out.kind = Node::Kind::Class;
        out.cls = addClass(std::move(k));
        return true;
    }

    // A number of a {m,n} bound, at most the limit.
    std::optional<int> bound() {
        if (!more() || peek() < '0' || peek() > '9') return std::nullopt;
        long value = 0;
        while (more() && peek() >= '0' && peek() <= '9') {
            value = value * 10 + static_cast<long>(peek() - '0');
            if (value > 1000000) value = 1000000;
            ++at_;
        }
        return static_cast<int>(value);
    }

    bool quantifier(Node& atom) {
        if (!more()) return true;
        const std::size_t start = at_;
        int min = 0, max = 0;
        switch (peek()) {
            case '*': min = 0, max = -1, ++at_; break;
            case '+': min = 1, max = -1, ++at_; break;
            case '?': min = 0, max = 1, ++at_; break;
            case '{': {
                ++at_;
                const std::optional<int> m = bound();
                if (!m) {
                    fail(start, "'{' must be followed by a count: {m}, {m,} or {m,n}");
                    return false;
                }
                min = max = *m;
                if (more() && peek() == ',') {
                    ++at_;
                    const std::optional<int> n = bound();
                    max = n ? *n : -1;
                }
                if (!more() || peek() != '}') {
                    fail(start, "a '{' without its '}'");
                    return false;
                }
                ++at_;
                if (min > kPatternRepeatLimit || max > kPatternRepeatLimit) {
                    fail(start, "a count above " + std::to_string(kPatternRepeatLimit));
                    return false;
                }
                if (max != -1 && max < min) {
                    fail(start, "{m,n} with n below m");
                    return false;
                }
                break;
            }
            default: return true;
        }
        if (more() && peek() == '?') ++at_;  // lazy: the same for a whole-text match
        if (more() && (peek() == '*' || peek() == '+' || peek() == '?' || peek() == '{')) {
            fail(at_, "a repetition of a repetition (put the inner one in a group)");
            return false;
        }
        Node repeat;
        repeat.kind = Node::Kind::Repeat;
        repeat.min = min;
        repeat.max = max;
        repeat.parts.push_back(std::move(atom));
        atom = std::move(repeat);
        return true;
    }

    int addClass(CharClass k) {
        out_.classes_.push_back(std::move(k));
        return static_cast<int>(out_.classes_.size() - 1);
    }

    // ---- code ----

    int push(LinearPattern::Instruction i) {
        if (out_.program_.size() >= kPatternProgramLimit) {
            overflow_ = true;
            return static_cast<int>(out_.program_.size()) - 1;
        }
        out_.program_.push_back(i);
        return static_cast<int>(out_.program_.size() - 1);
    }
    int here() const { return static_cast<int>(out_.program_.size()); }
    LinearPattern::Instruction& at(int pc) { return out_.program_[static_cast<std::size_t>(pc)]; }

    void emit(const Node& n) {
        using Op = LinearPattern::Op;
        if (overflow_) return;
        switch (n.kind) {
            case Node::Kind::Empty: return;
            case Node::Kind::Char: push({Op::Char, n.c}); return;
            case Node::Kind::Any: push({Op::Any}); return;
            case Node::Kind::Class: push({Op::Class, 0, n.cls}); return;
            case Node::Kind::Concat:
                for (const Node& p : n.parts) emit(p);
                return;
            case Node::Kind::Alternatives: {
                std::vector<int> jumps;
                for (std::size_t i = 0; i < n.parts.size() && !overflow_; ++i) {
                    if (i + 1 < n.parts.size()) {
                        const int split = push({Op::Split});
                        if (overflow_) return;
                        at(split).x = here();
                        emit(n.parts[i]);
                        jumps.push_back(push({Op::Jump}));
                        if (overflow_) return;
                        at(split).y = here();
                    } else {
                        emit(n.parts[i]);
                    }
                }
                if (overflow_) return;
                for (const int j : jumps) at(j).x = here();
                return;
            }
            case Node::Kind::Repeat: {
                const Node& body = n.parts.front();
                for (int i = 0; i < n.min && !overflow_; ++i) emit(body);
                if (n.max == -1) {
                    const int split = push({Op::Split});
                    if (overflow_) return;
                    at(split).x = here();
                    emit(body);
                    const int back = push({Op::Jump});
                    if (overflow_) return;
                    at(back).x = split;
                    at(split).y = here();
                    return;
                }
                std::vector<int> splits;
                for (int i = n.min; i < n.max && !overflow_; ++i) {
                    const int split = push({Op::Split});
                    if (overflow_) return;
                    at(split).x = here();
                    splits.push_back(split);
                    emit(body);
                }
                if (overflow_) return;
                for (const int s : splits) at(s).y = here();
                return;
            }
        }
    }

    std::vector<char32_t> text_;
    std::size_t at_ = 0, end_ = 0;
    LinearPattern out_;
    Error error_;
    bool overflow_ = false;
};

Result<LinearPattern> LinearPattern::compile(std::string_view pattern) {
    if (pattern.size() > kPatternTextLimit)
        return Error::make(ErrorCode::BadData,
                           "the pattern is longer than " + std::to_string(kPatternTextLimit) + " characters");
    return PatternCompiler(pattern).run();
}

// ---- the machine ------------------------------------------------------------------

namespace {

// The states of one step, each at most once.
class StateSet {
public:
    explicit StateSet(std::size_t size) : mark_(size, 0) { dense_.reserve(size); }
    void clear() {
        dense_.clear();
        ++generation_;
    }
    bool insert(int pc) {
        std::uint32_t& m = mark_[static_cast<std::size_t>(pc)];
        if (m == generation_) return false;
        m = generation_;
        dense_.push_back(pc);
        return true;
    }
    const std::vector<int>& states() const { return dense_; }

private:
    std::vector<std::uint32_t> mark_;
    std::vector<int> dense_;
    std::uint32_t generation_ = 1;
};

}  // namespace

bool LinearPattern::matchesWhole(std::string_view text) const {
    if (program_.empty()) return false;
    const std::size_t size = program_.size();
    StateSet current(size), next(size);
    std::vector<int> stack;
    stack.reserve(size);
    // Follows jumps and splits from `pc` (with an explicit stack), keeping
    // the states that read a character or match.
    const auto add = [&](StateSet& set, std::vector<bool>& seen, int pc) {
        stack.push_back(pc);
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            if (seen[static_cast<std::size_t>(p)]) continue;
            seen[static_cast<std::size_t>(p)] = true;
            const Instruction& i = program_[static_cast<std::size_t>(p)];
            if (i.op == Op::Jump) stack.push_back(i.x);
            else if (i.op == Op::Split) {
                stack.push_back(i.y);
                stack.push_back(i.x);
            } else set.insert(p);
        }
    };
    std::vector<bool> seen(size, false);
    current.clear();
    add(current, seen, 0);
    for (const char32_t c : PatternCharacters(text)) {
        next.clear();
        seen.assign(size, false);
        for (const int pc : current.states()) {
            const Instruction& i = program_[static_cast<std::size_t>(pc)];
            bool step = false;
            switch (i.op) {
                case Op::Char: step = i.c == c; break;
                case Op::Any: step = true; break;
                case Op::Class: step = classes_[static_cast<std::size_t>(i.x)].contains(c); break;
                default: break;
            }
            if (step) add(next, seen, pc + 1);
        }
        std::swap(current, next);
        if (current.states().empty()) return false;
    }
    for (const int pc : current.states())
        if (program_[static_cast<std::size_t>(pc)].op == Op::Match) return true;
    return false;
}

}  // namespace varnel
