// Reading UTF-8 one sequence at a time, for the outputs that show any bytes
// (the terminal, the PDF report): valid text stays, anything else is escaped.
#pragma once

#include <cstddef>
#include <string>

namespace varnel {

// The length of the well-formed UTF-8 sequence at `s[at]` and its code
// point in `code`; 0 when the bytes there are not one (overlong forms,
// surrogates and sequences cut by the end of `s` included).
std::size_t Utf8Sequence(const std::string& s, std::size_t at, char32_t& code);

// `text` with valid UTF-8 kept and every byte that is not part of it, and
// every control character (C0, DEL, C1), shown as \xNN: safe to print on a
// terminal or draw on a page, whatever bytes a radio or a record holds.
std::string EscapedText(const std::string& text);

}  // namespace varnel
