#include "Credentials.h"

#include "TextCase.h"

namespace gardivo {

namespace {

bool endsValue(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '!' || c == '"' || c == '\'' || c == ',';
}

// Where a property name that holds a password ends at pos ("user-pw=", "proxy-pw=", "password=").
bool isPasswordProperty(std::string_view text, size_t equals) {
    size_t start = equals;
    while (start > 0 && !endsValue(text[start - 1]))
        --start;
    const std::string name = asciiLower(text.substr(start, equals - start));
    const auto endsWith = [&](std::string_view tail) {
        return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    return endsWith("pw") || endsWith("password") || endsWith("passwd");
}

} // namespace

std::string withoutCredentials(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 3, "://") == 0) {
            out += "://";
            i += 3;
            // The authority ends at the first '/', '?', '#' or blank; its user part at its last '@'.
            size_t end = i;
            while (end < text.size() && text[end] != '/' && text[end] != '?' && text[end] != '#' &&
                   !endsValue(text[end]))
                ++end;
            const size_t at = text.substr(i, end - i).rfind('@');
            if (at != std::string_view::npos) {
                out += "***";
                i += at;
            }
            continue;
        }
        if (text[i] == '=' && isPasswordProperty(text, i)) {
            out += "=***";
            ++i;
            const bool quoted = i < text.size() && (text[i] == '"' || text[i] == '\'');
            if (quoted) {
                const char quote = text[i];
                const size_t close = text.find(quote, i + 1);
                i = close == std::string_view::npos ? text.size() : close + 1;
            } else {
                while (i < text.size() && !endsValue(text[i]))
                    ++i;
            }
            continue;
        }
        out += text[i++];
    }
    return out;
}

} // namespace gardivo
