#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gardivo {

// Splits a command line into arguments the way a POSIX shell would for a simple command:
// blanks separate words, single quotes keep everything, double quotes keep everything but
// backslash escapes of " \ $ `, and a backslash outside quotes keeps the next character.
// Nothing is expanded and no shell runs. An unterminated quote gives nothing.
std::optional<std::vector<std::string>> splitCommandLine(std::string_view line);

} // namespace gardivo
