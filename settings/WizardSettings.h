#pragma once

#include "SettingsStore.h"

#include <string>

namespace gardivo {

// cfgwiz's side of the settings: besides the record it keeps the country name and hands the
// dial program its phone values through the registry.
class WizardSettings {
public:
    static constexpr const char* kCaption = "Tavrin Gardivo - Setup";

    explicit WizardSettings(SettingsStore& store) : m_store(store) {}

    // The record is already loaded (or defaulted) by the store; this takes "COUNTRY" and
    // "PHONENUMBER" from the registry, the country falling back to the locale's. Says "Reading
    // registry error!" when the key cannot be opened.
    bool loadRegistryValues();
    // Writes the record, then "PHONECALL", "PHONENUMBER", "WARNINGFILENAME", "DIALCOUNT" and
    // "COUNTRY"; says "Writing registry error!" when the key cannot be written. Returns whether
    // the record was saved; error receives why it was not.
    bool save(std::string* error = nullptr);

    const std::string& countryName() const { return m_countryName; }
    void setCountryName(std::string name) { m_countryName = std::move(name); }
    const std::string& warningFileName() const { return m_warningFileName; }
    void setWarningFileName(std::string name) { m_warningFileName = std::move(name); }

private:
    SettingsStore& m_store;
    std::string m_countryName;
    std::string m_warningFileName;
};

} // namespace gardivo
