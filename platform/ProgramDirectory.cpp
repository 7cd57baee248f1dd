#include "ProgramDirectory.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace gardivo {

std::string executableDirectory() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return "./";
        if (static_cast<size_t>(n) < buffer.size())
            return parentDirectory(std::string_view(buffer.data(), static_cast<size_t>(n)));
        buffer.resize(buffer.size() * 2);
    }
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

std::string joinPath(std::string_view directory, std::string_view name) {
    std::string result(directory);
    while (result.size() > 1 && result.back() == '/')
        result.pop_back();
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    if (result.empty())
        return std::string(name);
    if (result != "/")
        result += '/';
    result += name;
    return result;
}

std::string parentDirectory(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    return std::string(path.substr(0, slash + 1));
}

} // namespace gardivo
