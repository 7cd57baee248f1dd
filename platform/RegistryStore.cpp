#include "RegistryStore.h"

#include "FileOps.h"
#include "ProgramDirectory.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

std::vector<uint8_t> textBytes(std::string_view text, size_t bufferBytes, size_t terminators) {
    std::vector<uint8_t> data;
    if (bufferBytes == 0) {
        data.assign(text.begin(), text.end());
        data.resize(data.size() + terminators, 0);
        return data;
    }
    data.assign(bufferBytes, 0);
    const size_t room = bufferBytes > terminators ? bufferBytes - terminators : 0;
    const size_t n = std::min(text.size(), room);
    std::copy_n(text.begin(), n, data.begin());
    return data;
}

void setError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
}

bool readWholeFile(const std::string& path, std::string& contents, bool& missing) {
    missing = false;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        missing = errno == ENOENT;
        return missing;
    }
    contents.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        contents.append(buffer, static_cast<size_t>(n));
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHexList(std::string_view text, std::vector<uint8_t>& out) {
    out.clear();
    if (text.empty())
        return true;
    size_t pos = 0;
    for (;;) {
        if (pos + 2 > text.size())
            return false;
        const int hi = hexDigit(text[pos]);
        const int lo = hexDigit(text[pos + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        pos += 2;
        if (pos == text.size())
            return true;
        if (text[pos] != ',')
            return false;
        ++pos;
    }
}

std::string hexList(const std::vector<uint8_t>& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 3);
    for (size_t i = 0; i < data.size(); ++i) {
        if (i)
            out += ',';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

// A quoted string as REGEDIT writes it, with the line breaks and NULs the format cannot hold
// written as \n, \r and \0.
std::string quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += c;
            break;
        default:
            out += c;
        }
    }
    out += '"';
    return out;
}

// Reads a quoted string at the start of text; returns the characters consumed, 0 on failure.
size_t unquote(std::string_view text, std::string& out) {
    out.clear();
    if (text.empty() || text.front() != '"')
        return 0;
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size())
                return 0;
            const char escaped = text[++i];
            out += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped == '0' ? '\0' : escaped;
        } else if (c == '"') {
            return i + 1;
        } else {
            out += c;
        }
    }
    return 0;
}

bool isPlainText(const RegistryValue& v) {
    if (v.type != RegType::Sz || v.data.empty() || v.data.back() != 0)
        return false;
    return std::none_of(v.data.begin(), v.data.end() - 1,
                        [](uint8_t c) { return c == 0 || c == '\n' || c == '\r'; });
}

} // namespace

RegistryValue RegistryValue::string(std::string_view text, size_t bufferBytes) {
    return {RegType::Sz, textBytes(text, bufferBytes, 1)};
}

RegistryValue RegistryValue::multiString(std::string_view text, size_t bufferBytes) {
    return {RegType::MultiSz, textBytes(text, bufferBytes, 2)};
}

RegistryValue RegistryValue::dword(uint32_t value) {
    std::vector<uint8_t> data(4);
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<uint8_t>(value >> (8 * i));
    return {RegType::Dword, std::move(data)};
}

RegistryValue RegistryValue::binary(std::vector<uint8_t> bytes) {
    return {RegType::Binary, std::move(bytes)};
}

std::string RegistryValue::text() const {
    const auto end = std::find(data.begin(), data.end(), uint8_t{0});
    return std::string(data.begin(), end);
}

std::optional<uint32_t> RegistryValue::dwordValue() const {
    if (type != RegType::Dword || data.size() != 4)
        return std::nullopt;
    return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
}

std::string RegistryHive::fold(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string RegistryHive::normalizeKey(std::string_view keyPath) {
    std::string out;
    for (char c : keyPath) {
        if (c == '/')
            c = '\\';
        if (c == '\\' && (out.empty() || out.back() == '\\'))
            continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

bool RegistryHive::keyExists(std::string_view keyPath) const {
    const std::string folded = fold(normalizeKey(keyPath));
    if (m_keys.count(folded))
        return true;
    const std::string prefix = folded + "\\";
    const auto it = m_keys.lower_bound(prefix);
    return it != m_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

bool RegistryHive::createKey(std::string_view keyPath) {
    const std::string path = normalizeKey(keyPath);
    // A key path stands alone on its header line: it cannot hold a line break or any other
    // control character.
    if (path.empty() || std::any_of(path.begin(), path.end(), [](char c) { return uint8_t(c) < 0x20; })) {
        m_refused = true;
        return false;
    }
    auto& key = m_keys[fold(path)];
    if (key.path.empty())
        key.path = path;
    return true;
}

void RegistryHive::deleteKey(std::string_view keyPath) {
    const std::string folded = fold(normalizeKey(keyPath));
    m_keys.erase(folded);
    const std::string prefix = folded + "\\";
    auto it = m_keys.lower_bound(prefix);
    while (it != m_keys.end() && it->first.compare(0, prefix.size(), prefix) == 0)
        it = m_keys.erase(it);
}

bool RegistryHive::setValue(std::string_view keyPath, std::string_view name, RegistryValue value) {
    if (!createKey(keyPath))
        return false;
    auto it = m_keys.find(fold(normalizeKey(keyPath)));
    if (it == m_keys.end())
        return false;
    auto& slot = it->second.values[fold(name)];
    if (slot.first.empty())
        slot.first = std::string(name);
    slot.second = std::move(value);
    return true;
}

std::optional<RegistryValue> RegistryHive::value(std::string_view keyPath, std::string_view name) const {
    const auto key = m_keys.find(fold(normalizeKey(keyPath)));
    if (key == m_keys.end())
        return std::nullopt;
    const auto v = key->second.values.find(fold(name));
    if (v == key->second.values.end())
        return std::nullopt;
    return v->second.second;
}

bool RegistryHive::deleteValue(std::string_view keyPath, std::string_view name) {
    const auto key = m_keys.find(fold(normalizeKey(keyPath)));
    return key != m_keys.end() && key->second.values.erase(fold(name)) > 0;
}

std::vector<std::string> RegistryHive::valueNames(std::string_view keyPath) const {
    std::vector<std::string> names;
    const auto key = m_keys.find(fold(normalizeKey(keyPath)));
    if (key != m_keys.end())
        for (const auto& [folded, entry] : key->second.values)
            names.push_back(entry.first);
    return names;
}

std::string RegistryHive::serialize(std::string_view rootName) const {
    std::string out = "REGEDIT4\n";
    for (const auto& [folded, key] : m_keys) {
        out += "\n[";
        out += rootName;
        out += '\\';
        out += key.path;
        out += "]\n";
        for (const auto& [foldedName, entry] : key.values) {
            const auto& [name, value] = entry;
            out += name.empty() ? std::string("@") : quote(name);
            out += '=';
            if (isPlainText(value)) {
                out += quote(std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                              value.data.size() - 1));
            } else if (value.dwordValue()) {
                char buffer[16];
                std::snprintf(buffer, sizeof buffer, "dword:%08x", *value.dwordValue());
                out += buffer;
            } else if (value.type == RegType::Binary) {
                out += "hex:" + hexList(value.data);
            } else {
                // The type number is hexadecimal, as it is read back.
                char type[16];
                std::snprintf(type, sizeof type, "hex(%x):", static_cast<uint32_t>(value.type));
                out += type + hexList(value.data);
            }
            out += '\n';
        }
    }
    return out;
}

bool RegistryHive::parse(std::string_view text, std::string_view rootName) {
    m_keys.clear();
    m_refused = false;
    size_t pos = 0;
    bool first = true;
    std::string currentKey;
    bool haveKey = false;
    const std::string rootPrefix = fold(rootName) + "\\";
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            return false; // the last line was cut short
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            if (line != "REGEDIT4")
                return false;
            first = false;
            continue;
        }
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return false;
            const std::string path(line.substr(1, line.size() - 2));
            if (fold(path).compare(0, rootPrefix.size(), rootPrefix) != 0)
                return false;
            currentKey = normalizeKey(std::string_view(path).substr(rootPrefix.size()));
            if (!createKey(currentKey))
                return false;
            haveKey = true;
            continue;
        }
        if (!haveKey)
            return false;
        std::string name;
        size_t used = 0;
        if (line.front() == '@') {
            used = 1;
        } else {
            used = unquote(line, name);
            if (used == 0)
                return false;
        }
        if (used >= line.size() || line[used] != '=')
            return false;
        std::string_view rest = line.substr(used + 1);
        RegistryValue value;
        if (!rest.empty() && rest.front() == '"') {
            std::string s;
            const size_t n = unquote(rest, s);
            if (n == 0 || n != rest.size())
                return false;
            value = RegistryValue::string(s);
        } else if (rest.rfind("dword:", 0) == 0) {
            const std::string_view digits = rest.substr(6);
            if (digits.size() != 8)
                return false;
            uint32_t v = 0;
            for (char c : digits) {
                const int d = hexDigit(c);
                if (d < 0)
                    return false;
                v = v * 16 + static_cast<uint32_t>(d);
            }
            value = RegistryValue::dword(v);
        } else if (rest.rfind("hex:", 0) == 0) {
            value.type = RegType::Binary;
            if (!parseHexList(rest.substr(4), value.data))
                return false;
        } else if (rest.rfind("hex(", 0) == 0) {
            const size_t close = rest.find("):");
            if (close == std::string_view::npos || close <= 4 || close > 12)
                return false;
            uint32_t type = 0;
            for (char c : rest.substr(4, close - 4)) {
                const int d = hexDigit(c);
                if (d < 0)
                    return false;
                type = type * 16 + static_cast<uint32_t>(d);
            }
            value.type = static_cast<RegType>(type);
            if (!parseHexList(rest.substr(close + 2), value.data))
                return false;
        } else {
            return false;
        }
        setValue(currentKey, name, std::move(value));
    }
    return !first || text.empty();
}

RegistryStore::RegistryStore(std::string directory) : m_directory(std::move(directory)) {}

std::string RegistryStore::defaultDirectory() {
    if (const char* dir = std::getenv("TAVRIN_REGISTRY_DIR"); dir && *dir)
        return dir;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return joinPath(config, "Tavrin");
    return joinPath(joinPath(homeDirectory(), ".config"), "Tavrin");
}

const char* RegistryStore::rootName(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string RegistryStore::filePath(RegistryRoot root) const {
    return joinPath(m_directory, std::string(rootName(root)) + ".reg");
}

bool RegistryStore::read(RegistryRoot root, RegistryHive& hive, std::string* error) const {
    hive = RegistryHive();
    struct stat st {};
    if (::stat(m_directory.c_str(), &st) != 0)
        return errno == ENOENT; // nothing written yet
    FileLock lock(joinPath(m_directory, kLockName), false);
    std::string contents;
    bool missing = false;
    if (!readWholeFile(filePath(root), contents, missing)) {
        setError(error, "cannot read " + filePath(root) + ": " + std::strerror(errno));
        return false;
    }
    hive.parse(contents, rootName(root)); // a damaged tail is dropped, the rest is used
    return true;
}

bool RegistryStore::update(RegistryRoot root, const std::function<void(RegistryHive&)>& change,
                           std::string* error) {
    if (!MakeDirectories(m_directory)) {
        setError(error, "cannot create " + m_directory + ": " + std::strerror(errno));
        return false;
    }
    FileLock lock(joinPath(m_directory, kLockName), true);
    if (!lock.ok()) {
        setError(error, "cannot lock " + m_directory + ": " + std::strerror(errno));
        return false;
    }
    std::string contents;
    bool missing = false;
    if (!readWholeFile(filePath(root), contents, missing)) {
        setError(error, "cannot read " + filePath(root) + ": " + std::strerror(errno));
        return false;
    }
    RegistryHive hive;
    // Rewriting a file that could not be read whole would drop what follows the damage.
    if (!hive.parse(contents, rootName(root))) {
        setError(error, filePath(root) + " is damaged; it is left as it is");
        return false;
    }
    change(hive);
    if (hive.refused()) {
        setError(error, "a key name holds a line break or another control character");
        return false;
    }
    // The files hold the mail server's password: readable by their owner only.
    return ReplaceFile(filePath(root), hive.serialize(rootName(root)), error, 0600);
}

bool RegistryStore::setValue(RegistryRoot root, std::string_view keyPath, std::string_view name,
                             const RegistryValue& value, std::string* error) {
    return update(
        root, [&](RegistryHive& hive) { hive.setValue(keyPath, name, value); }, error);
}

std::optional<RegistryValue> RegistryStore::queryValue(RegistryRoot root, std::string_view keyPath,
                                                       std::string_view name) const {
    RegistryHive hive;
    if (!read(root, hive))
        return std::nullopt;
    return hive.value(keyPath, name);
}

bool RegistryStore::createKey(RegistryRoot root, std::string_view keyPath, std::string* error) {
    return update(
        root, [&](RegistryHive& hive) { hive.createKey(keyPath); }, error);
}

bool RegistryStore::deleteKey(RegistryRoot root, std::string_view keyPath, std::string* error) {
    return update(
        root, [&](RegistryHive& hive) { hive.deleteKey(keyPath); }, error);
}

bool RegistryStore::keyExists(RegistryRoot root, std::string_view keyPath) const {
    RegistryHive hive;
    return read(root, hive) && hive.keyExists(keyPath);
}

} // namespace gardivo
