#pragma once

// Values put into the script calls the program runs in its pages. A quote, a backslash or a line
// break in a device's name or a group's name must end up as text in the page, never as script,
// so every inserted value is written as a JavaScript string literal.

#include <cstdio>
#include <string>
#include <string_view>

namespace gardivo {

// "..." with quote, backslash, control characters and the two line separators of JavaScript
// escaped; everything else (UTF-8 included) is kept as it is.
inline std::string jsString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                out += escaped;
            } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                       (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                        static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                // U+2028 and U+2029 end a line inside a script.
                out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                i += 2;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

// A page function called with string arguments: name("a","b").
template <typename... Args>
std::string scriptCall(std::string_view function, const Args&... args) {
    std::string out(function);
    out += '(';
    bool first = true;
    ((out += (first ? "" : ","), out += jsString(args), first = false), ...);
    out += ')';
    return out;
}

} // namespace gardivo
