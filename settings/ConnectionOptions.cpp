#include "ConnectionOptions.h"

#include "platform/Base64.h"

#include <algorithm>
#include <cctype>
#include <unistd.h>

namespace gardivo {

std::string ConnectionOptions::topicName() const {
    std::string name = mqttName;
    if (name.empty()) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) == 0)
            name = host;
    }
    // Topic levels may not hold wildcards or separators; discovery ids want plain characters.
    std::string clean;
    for (const char c : name)
        clean += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
    return clean.empty() ? "gardivo" : clean;
}

ConnectionOptions ConnectionOptions::read(const RegistryStore& registry, RegistryRoot root) {
    ConnectionOptions o;
    RegistryHive hive;
    if (!registry.read(root, hive))
        return o;
    const auto flag = [&](const char* name, bool& into) {
        if (const auto v = hive.value(kKeyPath, name))
            if (const auto n = v->dwordValue())
                into = *n != 0;
    };
    const auto text = [&](const char* name, std::string& into) {
        if (const auto v = hive.value(kKeyPath, name); v && v->type == RegType::Sz)
            into = v->text();
    };
    flag("MqttEnabled", o.mqtt);
    text("MqttHost", o.mqttHost);
    if (const auto v = hive.value(kKeyPath, "MqttPort"))
        if (const auto n = v->dwordValue(); n && *n >= 1 && *n <= 65535)
            o.mqttPort = static_cast<int>(*n);
    flag("MqttTls", o.mqttTls);
    text("MqttCaFile", o.mqttCaFile);
    text("MqttUser", o.mqttUser);
    std::string encoded;
    text("MqttPassword", encoded);
    o.mqttPassword = base64Decode(encoded).value_or("");
    flag("MqttPlainPassword", o.mqttPlainPassword);
    text("MqttName", o.mqttName);
    flag("MqttDiscovery", o.mqttDiscovery);
    flag("MqttCommands", o.mqttCommands);
    flag("OffsiteEnabled", o.offsite);
    text("OffsiteRemote", o.offsiteRemote);
    text("OffsiteConfig", o.offsiteConfig);
    flag("WebEnabled", o.web);
    if (const auto v = hive.value(kKeyPath, "WebPort"))
        if (const auto n = v->dwordValue(); n && *n >= 1 && *n <= 65535)
            o.webPort = static_cast<int>(*n);
    if (const auto v = hive.value(kKeyPath, "WebFrameRate"))
        if (const auto n = v->dwordValue())
            o.webFrameRate = static_cast<int>(std::clamp<uint32_t>(*n, 1, 10));
    text("WebCertFile", o.webCertFile);
    text("WebKeyFile", o.webKeyFile);
    return o;
}

bool ConnectionOptions::write(RegistryStore& registry, RegistryRoot root, std::string* error) const {
    return registry.update(
        root,
        [&](RegistryHive& hive) {
            const auto flag = [&](const char* name, bool value) {
                hive.setValue(kKeyPath, name, RegistryValue::dword(value ? 1 : 0));
            };
            const auto text = [&](const char* name, const std::string& value) {
                hive.setValue(kKeyPath, name, RegistryValue::string(value));
            };
            flag("MqttEnabled", mqtt);
            text("MqttHost", mqttHost);
            hive.setValue(kKeyPath, "MqttPort",
                          RegistryValue::dword(static_cast<uint32_t>(std::clamp(mqttPort, 1, 65535))));
            flag("MqttTls", mqttTls);
            text("MqttCaFile", mqttCaFile);
            text("MqttUser", mqttUser);
            text("MqttPassword", base64Encode(mqttPassword));
            flag("MqttPlainPassword", mqttPlainPassword);
            text("MqttName", mqttName);
            flag("MqttDiscovery", mqttDiscovery);
            flag("MqttCommands", mqttCommands);
            flag("OffsiteEnabled", offsite);
            text("OffsiteRemote", offsiteRemote);
            text("OffsiteConfig", offsiteConfig);
            flag("WebEnabled", web);
            hive.setValue(kKeyPath, "WebPort",
                          RegistryValue::dword(static_cast<uint32_t>(std::clamp(webPort, 1, 65535))));
            hive.setValue(kKeyPath, "WebFrameRate",
                          RegistryValue::dword(static_cast<uint32_t>(std::clamp(webFrameRate, 1, 10))));
            text("WebCertFile", webCertFile);
            text("WebKeyFile", webKeyFile);
        },
        error);
}

} // namespace gardivo
