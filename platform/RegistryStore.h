#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gardivo {

enum class RegistryRoot { LocalMachine, CurrentUser };

// Value types with the numbers the Windows registry gives them, so files stay familiar.
enum class RegType : uint32_t { Sz = 1, Binary = 3, Dword = 4, MultiSz = 7 };

struct RegistryValue {
    RegType type = RegType::Sz;
    std::vector<uint8_t> data;

    // A string stored with its terminating NUL; with bufferBytes > 0 the data is exactly that many
    // bytes (the text cut to leave room for the NUL, the rest zero), as the programs store their
    // fixed 256- and 260-byte buffers.
    static RegistryValue string(std::string_view text, size_t bufferBytes = 0);
    // A multi-string holding one string, sized like string().
    static RegistryValue multiString(std::string_view text, size_t bufferBytes = 0);
    static RegistryValue dword(uint32_t value);
    static RegistryValue binary(std::vector<uint8_t> bytes);

    // The text up to the first NUL (for REG_SZ and the first string of REG_MULTI_SZ).
    std::string text() const;
    std::optional<uint32_t> dwordValue() const;

    bool operator==(const RegistryValue&) const = default;
};

// The values of one root, keyed case-insensitively by key path and value name; the spelling
// first written is kept for the file.
class RegistryHive {
public:
    bool keyExists(std::string_view keyPath) const;
    // False (and the hive marked refused) for a key path with a control character in it.
    bool createKey(std::string_view keyPath);
    // Removes the key, its values and all its subkeys.
    void deleteKey(std::string_view keyPath);
    // Creates the key when it is missing.
    bool setValue(std::string_view keyPath, std::string_view name, RegistryValue value);
    std::optional<RegistryValue> value(std::string_view keyPath, std::string_view name) const;
    bool deleteValue(std::string_view keyPath, std::string_view name);
    std::vector<std::string> valueNames(std::string_view keyPath) const;

    // REGEDIT4 text; rootName heads every key section.
    std::string serialize(std::string_view rootName) const;
    // Reads as much of the text as is valid: a bad or unfinished line ends the reading and keeps
    // what came before. Returns false when anything was dropped.
    bool parse(std::string_view text, std::string_view rootName);
    // A change asked for a key path the file cannot hold; nothing of it was made.
    bool refused() const { return m_refused; }

private:
    struct Key {
        std::string path;
        // lower-case name -> (name as written, value)
        std::map<std::string, std::pair<std::string, RegistryValue>> values;
    };
    static std::string fold(std::string_view s);
    static std::string normalizeKey(std::string_view keyPath);

    std::map<std::string, Key> m_keys; // lower-case path -> key
    bool m_refused = false;
};

// A registry of our own: one REGEDIT4 file per root in one directory, shared by every program
// of the suite. Each change reads the file, applies the change and replaces the file atomically,
// all under an exclusive lock, so programs writing at the same moment never lose a value.
class RegistryStore {
public:
    static constexpr const char* kLockName = ".lock";

    explicit RegistryStore(std::string directory = defaultDirectory());

    // $TAVRIN_REGISTRY_DIR, else $XDG_CONFIG_HOME/Tavrin, else ~/.config/Tavrin.
    static std::string defaultDirectory();
    static const char* rootName(RegistryRoot root);

    const std::string& directory() const { return m_directory; }
    std::string filePath(RegistryRoot root) const;

    // Applies several changes in one locked read-modify-write. Fails, changing nothing, when the
    // file is damaged or a change names a key the file cannot hold.
    bool update(RegistryRoot root, const std::function<void(RegistryHive&)>& change,
                std::string* error = nullptr);
    // A consistent snapshot of one root; false when the directory cannot be reached or the
    // file cannot be read (a missing file is an empty hive, not an error).
    bool read(RegistryRoot root, RegistryHive& hive, std::string* error = nullptr) const;

    bool setValue(RegistryRoot root, std::string_view keyPath, std::string_view name,
                  const RegistryValue& value, std::string* error = nullptr);
    std::optional<RegistryValue> queryValue(RegistryRoot root, std::string_view keyPath,
                                            std::string_view name) const;
    bool createKey(RegistryRoot root, std::string_view keyPath, std::string* error = nullptr);
    bool deleteKey(RegistryRoot root, std::string_view keyPath, std::string* error = nullptr);
    bool keyExists(RegistryRoot root, std::string_view keyPath) const;

private:
    std::string m_directory;
};

} // namespace gardivo
