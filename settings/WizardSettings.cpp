#include "WizardSettings.h"

#include "platform/SystemInfo.h"

namespace gardivo {

bool WizardSettings::loadRegistryValues() {
    std::string country;
    std::optional<RegistryValue> phone;
    // The key is opened for full access and created when missing, as the other values expect.
    const bool ok = m_store.registry().update(m_store.registryRoot(), [&](RegistryHive& hive) {
        hive.createKey(SettingsStore::kKeyPath);
        if (auto v = hive.value(SettingsStore::kKeyPath, "COUNTRY"))
            country = v->text();
        phone = hive.value(SettingsStore::kKeyPath, "PHONENUMBER");
    });
    if (!ok) {
        m_store.reporter().show(
            {"Reading registry error!", kCaption, MessageIcon::Error, MessageButtons::Ok, false});
    } else if (phone) {
        setFieldText(m_store.settings().PhoneNumber, phone->text());
    }
    m_countryName = country.empty() ? intlProfile().sCountry : country;
    return ok;
}

bool WizardSettings::save(std::string* error) {
    const bool saved = m_store.save(error);
    const WatchdogSettings& s = m_store.settings();
    const bool ok = m_store.registry().update(m_store.registryRoot(), [&](RegistryHive& hive) {
        const char* key = SettingsStore::kKeyPath;
        hive.setValue(key, "PHONECALL", RegistryValue::dword((s.ActionFlags >> 1) & 1u));
        hive.setValue(key, "PHONENUMBER", RegistryValue::string(fieldText(s.PhoneNumber)));
        hive.setValue(key, "WARNINGFILENAME", RegistryValue::string(m_warningFileName));
        hive.setValue(key, "DIALCOUNT", RegistryValue::string(std::to_string(s.RedialCount)));
        hive.setValue(key, "COUNTRY", RegistryValue::string(m_countryName));
    });
    if (!ok)
        m_store.reporter().show(
            {"Writing registry error!", kCaption, MessageIcon::Error, MessageButtons::Ok, false});
    return saved;
}

} // namespace gardivo
