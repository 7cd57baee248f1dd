#pragma once

// Base64 with the standard alphabet and "=" padding (RFC 2045 without line breaks): the form in
// which the setup wizard keeps the mail password and the mail sender reads it back.

#include <optional>
#include <string>
#include <string_view>

namespace gardivo {

// (n + 2) / 3 x 4 characters for n bytes.
std::string base64Encode(std::string_view bytes);
// The bytes, or nothing when the text is not Base64 (a character outside the alphabet, or
// padding anywhere but at the end). Trailing NULs and line breaks are ignored.
std::optional<std::string> base64Decode(std::string_view text);

} // namespace gardivo
