#pragma once

// The ways evidence leaves the machine, beside the evidence settings in a key of their own: events
// to an MQTT broker (for home automation) and an off-site copy of every alarm through rclone.
// Both are off until the user turns them on in cfgwiz's "Connections" tab.

#include "platform/RegistryStore.h"

#include <string>

namespace gardivo {

struct ConnectionOptions {
    static constexpr const char* kKeyPath = "SOFTWARE\\Tavrin\\Gardivo\\Connections";
    static constexpr int kMqttPort = 1883;
    static constexpr int kMqttTlsPort = 8883;

    // MQTT
    bool mqtt = false;
    std::string mqttHost;
    int mqttPort = kMqttPort;
    bool mqttTls = false;
    std::string mqttCaFile; // empty: the system's certificate authorities
    std::string mqttUser;
    std::string mqttPassword; // kept in Base64, as the mail password
    // A password is never sent without TLS unless the user allows it here.
    bool mqttPlainPassword = false;
    std::string mqttName;      // the camera's name in the topics; empty: the machine's host name
    bool mqttDiscovery = true; // Home Assistant's discovery messages
    bool mqttCommands = false; // start and stop watching from gardivo/<name>/set

    // Off-site copies
    bool offsite = false;
    std::string offsiteRemote; // "remote:path" as rclone takes it
    std::string offsiteConfig; // rclone's configuration file; empty: rclone's own default

    // The web view
    bool web = false;
    int webPort = 8443;
    int webFrameRate = 5;    // pictures a second of the live picture, 1 to 10
    std::string webCertFile; // the user's own certificate and key; empty: one made and kept
    std::string webKeyFile;

    // The name the topics use: mqttName, else the host name, reduced to what a topic level holds.
    std::string topicName() const;

    // The key's values; a missing or wrong one keeps its default.
    static ConnectionOptions read(const RegistryStore& registry, RegistryRoot root);
    bool write(RegistryStore& registry, RegistryRoot root, std::string* error = nullptr) const;

    bool operator==(const ConnectionOptions&) const = default;
};

} // namespace gardivo
