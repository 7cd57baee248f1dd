#pragma once

#include "ConnectionOptions.h"
#include "EvidenceOptions.h"
#include "WatchdogSettings.h"
#include "platform/ProgramDirectory.h"
#include "platform/RegistryStore.h"
#include "platform/Reporter.h"
#include "platform/UserPlaces.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

// The colour-control range a capture device reports, stored as 20 bytes under the value names
// "Brightness", "Contrast", "Saturation" and "Hue".
struct ProcAmpRange {
    int32_t reserved = 0;
    int32_t defaultValue = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 0;

    std::vector<uint8_t> toBytes() const;
    static std::optional<ProcAmpRange> fromBytes(const std::vector<uint8_t>& bytes);
    bool operator==(const ProcAmpRange&) const = default;
};

// Monitoring modes kept by the store while gardivo runs.
enum DetectionMode { StandBy = 0, WatchDog = 1, Tracing = 2 };

// The mode as the pages and the console name it.
inline const char* detectionModeName(int mode) {
    return mode == WatchDog ? "WatchDog" : mode == Tracing ? "Tracing" : "StandBy";
}

// Owns the settings record of one program and everything derived from where the program lives:
// the settings file, the log file, the registry root and key.
class SettingsStore {
public:
    static constexpr const char* kKeyPath = "SOFTWARE\\Tavrin\\Gardivo";
    static constexpr const char* kCaptureDevicesKey = "SOFTWARE\\Tavrin\\Gardivo\\CaptureDevices";
    static constexpr const char* kVideoConnectorsKey = "SOFTWARE\\Tavrin\\Gardivo\\VideoConnectors";
    static constexpr const char* kFileName = "watchdog.cfg";
    static constexpr size_t kPathBytes = 260; // attached-file and evidence paths
    // An alarm's mail run is handed that alarm's evidence in these, beside its condition number;
    // email takes them before the registry's values, which hold the latest alarm's.
    static constexpr const char* kAttachedImageVariable = "GARDIVO_ATTACHED_IMAGE";
    static constexpr const char* kAttachedVideoVariable = "GARDIVO_ATTACHED_VIDEO";
    static constexpr size_t kNameBufferBytes = 256; // device and connector names in the registry

    // Loads the record (defaults when the file cannot be read). gardivo then takes the connector
    // from the registry and records its program directory as "WORKINGDIR".
    SettingsStore(ProgramKind kind, RegistryStore& registry, Reporter& reporter,
                  std::string programDirectory = executableDirectory(),
                  std::string homeDirectory = gardivo::homeDirectory());
    // gardivo writes the record back and removes its evidence directory when nothing was kept
    // in it; the other programs leave the file alone.
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Reads the file into the record; a longer one gives its first 1416 bytes. A missing or empty
    // file gives false and leaves the record as it was; so does a shorter one, which no program
    // writes: it is renamed to "watchdog.cfg.bad" so that nothing of it is lost.
    bool load();
    // Replaces the file through a temporary file and a rename, so a crash or a full disk never
    // leaves a cut-off record behind.
    // error, when given, receives what went wrong.
    bool save(std::string* error = nullptr);
    void applyDefaults();

    // The record belongs to the thread that loads it (gardivo's engine thread). Another thread
    // reads fields through readLocked, and only fields that nothing but load() and the defaults
    // change (the window and working-directory choices).
    WatchdogSettings& settings() { return m_settings; }
    const WatchdogSettings& settings() const { return m_settings; }
    template <typename Reader>
    auto readLocked(Reader&& reader) const {
        std::lock_guard lock(m_recordMutex);
        return reader(static_cast<const WatchdogSettings&>(m_settings));
    }
    ProgramKind kind() const { return m_kind; }
    bool isDefaulted() const { return m_defaulted; }
    // The evidence settings of the registry, read with the record (load()).
    const EvidenceOptions& evidenceOptions() const { return m_evidenceOptions; }
    void setEvidenceOptions(const EvidenceOptions& options) { m_evidenceOptions = options; }
    // The connections of the registry (MQTT, off-site copies), read with the record as well.
    const ConnectionOptions& connectionOptions() const { return m_connectionOptions; }
    void setConnectionOptions(const ConnectionOptions& options) { m_connectionOptions = options; }

    const std::string& programDirectory() const { return m_programDirectory; }
    const std::string& homeDirectory() const { return m_homeDirectory; }
    const std::string& settingsFilePath() const { return m_settingsFilePath; }
    // Where this user's files are: beside the program, or per user for an installed copy.
    const UserPlaces& places() const { return m_places; }
    // The folder of the history database, and the user's sources.txt.
    const std::string& dataDirectory() const { return m_places.data; }
    std::string sourcesFile() const { return userSourcesFile(m_places, m_programDirectory); }
    const std::string& logFilePath() const { return m_logFilePath; }
    int osVersionCode() const { return m_osVersionCode; }
    RegistryRoot registryRoot() const { return m_registryRoot; }
    RegistryStore& registry() { return m_registry; }
    Reporter& reporter() { return m_reporter; }

    // ActionFlags bits.
    bool wantsRecording() const { return m_settings.ActionFlags & 1u; }
    bool wantsPhoneCall() const { return m_settings.ActionFlags & 2u; }
    bool wantsEmail() const { return m_settings.ActionFlags & 4u; }
    bool wantsProgram() const { return m_settings.ActionFlags & 8u; }

    int mode() const { return m_mode.load(); }
    void setMode(int mode) { m_mode.store(mode); }

    // Paths handed to email, kept whole however long they are.
    const std::string& attachedImagePath() const { return m_attachedImagePath; }
    const std::string& attachedVideoPath() const { return m_attachedVideoPath; }
    void setAttachedImagePath(std::string_view path);
    void setAttachedVideoPath(std::string_view path);
    // A copy: the engine thread changes it while the windows read it.
    std::string evidenceDirectory() const;
    void setEvidenceDirectory(std::string_view path);

    // Registry values exchanged with the other programs.
    void applyConnectorOverride();
    bool writeWorkingDirValue();
    // Writes "AttachedImageFileName" and "AttachedVideoFileName"; when the key cannot be opened
    // it says "EMail sending fail..." and writes nothing.
    bool writeAttachedFiles();
    bool writeCurrentConnector();
    bool writeCaptureDevices(const std::vector<std::string>& friendlyNames);
    bool writeConnectorList(const std::vector<std::string>& connectorNames);
    bool writeProcAmpRange(std::string_view property, const ProcAmpRange& range);
    std::optional<ProcAmpRange> readProcAmpRange(std::string_view property) const;
    // "Device0" ... "Device9", stopping at the first missing value.
    std::vector<std::string> readCaptureDevices() const;

private:
    bool rewriteList(const char* keyPath, const char* valueFormat, const std::vector<std::string>& names);

    ProgramKind m_kind;
    RegistryStore& m_registry;
    Reporter& m_reporter;
    std::string m_programDirectory;
    std::string m_homeDirectory;
    UserPlaces m_places;
    std::string m_settingsFilePath;
    std::string m_logFilePath;
    int m_osVersionCode;
    RegistryRoot m_registryRoot;
    WatchdogSettings m_settings;
    EvidenceOptions m_evidenceOptions;
    ConnectionOptions m_connectionOptions;
    bool m_defaulted = false;
    mutable std::mutex m_recordMutex; // held while the record or the evidence path changes
    std::atomic<int> m_mode{StandBy};
    std::string m_attachedImagePath;
    std::string m_attachedVideoPath;
    std::string m_evidenceDirectory;
};

} // namespace gardivo
