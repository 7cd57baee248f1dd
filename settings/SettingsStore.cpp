#include "SettingsStore.h"

#include "platform/FileOps.h"
#include "platform/SystemInfo.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace gardivo {

namespace {

// A path is stored whole: the 260 bytes a Windows path fits in are the least a value holds, but
// paths here may be longer, and a cut path names another file or none.
RegistryValue pathValue(const std::string& path) {
    return RegistryValue::multiString(path, std::max(SettingsStore::kPathBytes, path.size() + 2));
}

} // namespace

std::vector<uint8_t> ProcAmpRange::toBytes() const {
    std::vector<uint8_t> bytes;
    for (int32_t v : {reserved, defaultValue, minimum, maximum, step})
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return bytes;
}

std::optional<ProcAmpRange> ProcAmpRange::fromBytes(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 20)
        return std::nullopt;
    int32_t v[5];
    for (int k = 0; k < 5; ++k) {
        uint32_t u = 0;
        for (int i = 0; i < 4; ++i)
            u |= uint32_t(bytes[static_cast<size_t>(4 * k + i)]) << (8 * i);
        v[k] = static_cast<int32_t>(u);
    }
    return ProcAmpRange{v[0], v[1], v[2], v[3], v[4]};
}

SettingsStore::SettingsStore(ProgramKind kind, RegistryStore& registry, Reporter& reporter,
                             std::string programDirectory, std::string homeDirectory)
    : m_kind(kind), m_registry(registry), m_reporter(reporter),
      m_programDirectory(std::move(programDirectory)), m_homeDirectory(std::move(homeDirectory)),
      m_osVersionCode(OsVersionCode()), m_registryRoot(registryRootFor(m_osVersionCode)),
      m_settings(defaultSettings(kind, m_homeDirectory)) {
    if (!m_programDirectory.empty() && m_programDirectory.back() != '/')
        m_programDirectory += '/';
    m_places = userPlaces(m_programDirectory, m_homeDirectory);
    m_settingsFilePath = m_places.settings + kFileName;
    m_logFilePath = m_places.state + (kind == ProgramKind::Email ? "email.log" : "watchdog.log");
    if (!load())
        applyDefaults();
    if (kind == ProgramKind::Gardivo) {
        applyConnectorOverride();
        writeWorkingDirValue();
    }
}

SettingsStore::~SettingsStore() {
    if (m_kind != ProgramKind::Gardivo)
        return;
    save(); // nothing to be done about a failure this late
    if (!m_evidenceDirectory.empty())
        ::rmdir(m_evidenceDirectory.c_str()); // only succeeds when nothing was kept there
}

void SettingsStore::applyDefaults() {
    std::lock_guard lock(m_recordMutex);
    m_settings = defaultSettings(m_kind, m_homeDirectory);
    m_defaulted = true;
}

bool SettingsStore::load() {
    m_evidenceOptions = EvidenceOptions::read(m_registry, m_registryRoot);
    m_connectionOptions = ConnectionOptions::read(m_registry, m_registryRoot);
    const int fd = ::open(m_settingsFilePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    WatchdogSettings::Bytes bytes{};
    size_t got = 0;
    bool failed = false;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    // An empty file is what an interrupted save used to leave; a record of zeros would run the
    // detector with a 0 ms period, so it counts as no file.
    if (failed || got == 0)
        return false;
    // No program writes a shorter record: the file is damaged. It is kept beside the settings
    // file, where the next save does not overwrite it, and the defaults are used.
    if (got < bytes.size()) {
        ::rename(m_settingsFilePath.c_str(), (m_settingsFilePath + ".bad").c_str());
        return false;
    }
    std::lock_guard lock(m_recordMutex);
    m_settings = WatchdogSettings::fromBytes(bytes);
    m_defaulted = false;
    return true;
}

bool SettingsStore::save(std::string* error) {
    const auto bytes = m_settings.toBytes();
    // A user's first save of an installed copy makes the user's settings folder.
    std::error_code ec;
    std::filesystem::create_directories(m_places.settings, ec);
    return ReplaceFile(m_settingsFilePath,
                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
}

void SettingsStore::setAttachedImagePath(std::string_view path) {
    m_attachedImagePath = path;
}

void SettingsStore::setAttachedVideoPath(std::string_view path) {
    m_attachedVideoPath = path;
}

std::string SettingsStore::evidenceDirectory() const {
    std::lock_guard lock(m_recordMutex);
    return m_evidenceDirectory;
}

void SettingsStore::setEvidenceDirectory(std::string_view path) {
    std::lock_guard lock(m_recordMutex);
    m_evidenceDirectory = path;
}

void SettingsStore::applyConnectorOverride() {
    const auto current = m_registry.queryValue(m_registryRoot, kVideoConnectorsKey, "Current");
    if (current)
        setFieldText(m_settings.VideoConnector, current->text());
}

bool SettingsStore::writeWorkingDirValue() {
    // Always under the machine root, whatever the system.
    return m_registry.setValue(RegistryRoot::LocalMachine, kKeyPath, "WORKINGDIR",
                               pathValue(m_programDirectory));
}

bool SettingsStore::writeAttachedFiles() {
    const bool ok = m_registry.update(m_registryRoot, [&](RegistryHive& hive) {
        hive.setValue(kKeyPath, "AttachedImageFileName", pathValue(m_attachedImagePath));
        hive.setValue(kKeyPath, "AttachedVideoFileName", pathValue(m_attachedVideoPath));
    });
    if (!ok)
        m_reporter.show(
            {"EMail sending fail...", Reporter::kCaption, MessageIcon::Error, MessageButtons::Ok, true});
    return ok;
}

bool SettingsStore::writeCurrentConnector() {
    return m_registry.setValue(m_registryRoot, kVideoConnectorsKey, "Current",
                               RegistryValue::string(fieldText(m_settings.VideoConnector), kNameBufferBytes));
}

bool SettingsStore::rewriteList(const char* keyPath, const char* valueFormat,
                                const std::vector<std::string>& names) {
    // One locked change, so cfgwiz never reads half a list.
    return m_registry.update(m_registryRoot, [&](RegistryHive& hive) {
        hive.deleteKey(keyPath);
        hive.createKey(keyPath);
        for (size_t n = 0; n < names.size(); ++n) {
            char valueName[32];
            std::snprintf(valueName, sizeof valueName, valueFormat, static_cast<int>(n));
            hive.setValue(keyPath, valueName, RegistryValue::string(names[n], kNameBufferBytes));
        }
    });
}

bool SettingsStore::writeCaptureDevices(const std::vector<std::string>& friendlyNames) {
    return rewriteList(kCaptureDevicesKey, "Device%d", friendlyNames);
}

bool SettingsStore::writeConnectorList(const std::vector<std::string>& connectorNames) {
    return rewriteList(kVideoConnectorsKey, "Source%d", connectorNames);
}

bool SettingsStore::writeProcAmpRange(std::string_view property, const ProcAmpRange& range) {
    return m_registry.setValue(m_registryRoot, kKeyPath, property, RegistryValue::binary(range.toBytes()));
}

std::optional<ProcAmpRange> SettingsStore::readProcAmpRange(std::string_view property) const {
    const auto value = m_registry.queryValue(m_registryRoot, kKeyPath, property);
    if (!value)
        return std::nullopt;
    return ProcAmpRange::fromBytes(value->data);
}

std::vector<std::string> SettingsStore::readCaptureDevices() const {
    std::vector<std::string> names;
    RegistryHive hive;
    if (!m_registry.read(m_registryRoot, hive))
        return names;
    for (int n = 0; n < 10; ++n) {
        const auto value = hive.value(kCaptureDevicesKey, "Device" + std::to_string(n));
        if (!value)
            break;
        names.push_back(value->text());
    }
    return names;
}

} // namespace gardivo
