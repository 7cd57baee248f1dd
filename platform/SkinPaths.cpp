#include "SkinPaths.h"

#include "TextCase.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace gardivo {

namespace {

std::vector<std::string> components(const std::string& relative) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : relative) {
        if (c == '/' || c == '\\') {
            if (!part.empty() && part != ".")
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty() && part != ".")
        parts.push_back(part);
    return parts;
}

// The entry of directory whose name matches without regard to case; the first in name order
// when several do.
std::optional<std::string> findWithoutCase(const fs::path& directory, const std::string& name) {
    std::error_code ec;
    std::vector<std::string> matches;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec))
        if (const std::string entry = it->path().filename().string(); equalsIgnoringCase(entry, name))
            matches.push_back(entry);
    if (matches.empty())
        return std::nullopt;
    std::sort(matches.begin(), matches.end());
    return matches.front();
}

bool isPlainFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string resolveWithoutCase(const std::string& base, const std::string& relative) {
    fs::path path(base);
    bool matching = true; // once a component is missing, the rest cannot be there either
    for (const std::string& part : components(relative)) {
        if (part == "..") {
            path /= part;
            continue;
        }
        std::error_code ec;
        if (matching && !fs::exists(path / part, ec)) {
            if (const auto found = findWithoutCase(path, part)) {
                path /= *found;
                continue;
            }
            matching = false;
        }
        path /= part;
    }
    return path.string();
}

std::optional<std::string> canonicalPath(const std::string& path) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec)
        return std::nullopt;
    return real.string();
}

bool isWithin(const std::string& directory, const std::string& path) {
    const auto dir = canonicalPath(directory);
    const auto real = canonicalPath(path);
    if (!dir || !real)
        return false;
    if (*real == *dir)
        return true;
    const std::string prefix = *dir == "/" ? *dir : *dir + "/";
    return real->compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> programFile(const std::string& programDirectory, const std::string& relative) {
    if (relative.empty())
        return std::nullopt;
    const auto real = canonicalPath(resolveWithoutCase(programDirectory, relative));
    if (!real || !isPlainFile(*real) || !isWithin(programDirectory, *real))
        return std::nullopt;
    return real;
}

bool isSkinPage(const std::string& programDirectory, const std::string& localPath) {
    const auto skins = canonicalPath(resolveWithoutCase(programDirectory, "skins"));
    const auto real = canonicalPath(localPath);
    return skins && real && *real != *skins && isPlainFile(*real) && isWithin(*skins, *real);
}

std::vector<std::string> listSkins(const std::string& programDirectory) {
    std::vector<std::string> skins;
    std::error_code ec;
    const fs::path folder = resolveWithoutCase(programDirectory, "skins");
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError))
            continue;
        const std::string name = it->path().filename().string();
        if (!equalsIgnoringCase(name, "HTML"))
            skins.push_back(name);
    }
    std::sort(skins.begin(), skins.end());
    return skins;
}

std::optional<std::string> openableFile(const std::string& path,
                                        const std::vector<std::string>& allowedDirectories) {
    if (path.empty())
        return std::nullopt;
    const auto real = canonicalPath(path);
    if (!real)
        return std::nullopt;
    struct stat st {};
    if (::stat(real->c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)))
        return std::nullopt;
    const std::string extension = fs::path(*real).extension().string();
    if (equalsIgnoringCase(extension, ".desktop"))
        return std::nullopt;
    for (const auto& directory : allowedDirectories)
        if (!directory.empty() && isWithin(directory, *real))
            return real;
    return std::nullopt;
}

std::optional<std::string> explorableFolder(const std::string& workingDirectory, const std::string& folder) {
    if (workingDirectory.empty())
        return std::nullopt;
    std::string path = workingDirectory;
    if (path.back() != '/')
        path += '/';
    path += folder;
    const auto real = canonicalPath(path);
    std::error_code ec;
    if (!real || !fs::is_directory(*real, ec) || !isWithin(workingDirectory, *real))
        return std::nullopt;
    return real;
}

} // namespace gardivo
