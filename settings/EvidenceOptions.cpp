#include "EvidenceOptions.h"

#include <sys/stat.h>

namespace gardivo {

namespace {

struct Field {
    const char* name;
    int EvidenceOptions::*number;
    bool EvidenceOptions::*flag;
    limits::Range range;
};

const Field kFields[] = {
    {"PreRecordSeconds", &EvidenceOptions::preRecordSeconds, nullptr, limits::PreRecordSeconds},
    {"RetentionMegabytes", &EvidenceOptions::retentionMegabytes, nullptr, limits::RetentionMegabytes},
    {"RetentionDays", &EvidenceOptions::retentionDays, nullptr, limits::RetentionDays},
    {"LightingRule", nullptr, &EvidenceOptions::lightingRule, {0, 1}},
    {"LightingPercent", &EvidenceOptions::lightingPercent, nullptr, limits::LightingPercent},
    {"PlayableCopies", nullptr, &EvidenceOptions::playableCopies, {0, 1}},
    {"MailPlayableCopy", nullptr, &EvidenceOptions::mailPlayableCopy, {0, 1}},
    {"MailPictureFormat", &EvidenceOptions::mailPictureFormat, nullptr, limits::MailPictureFormat},
};

} // namespace

std::string evidenceSibling(const std::string& path, const char* extension) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + extension;
}

std::string existingPlayableCopy(const std::string& clip) {
    for (const char* extension : {".mp4", ".webm"}) {
        const std::string copy = evidenceSibling(clip, extension);
        struct stat st {};
        if (::stat(copy.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
            return copy;
    }
    return {};
}

EvidenceOptions EvidenceOptions::read(const RegistryStore& registry, RegistryRoot root) {
    EvidenceOptions options;
    RegistryHive hive;
    if (!registry.read(root, hive))
        return options;
    for (const Field& f : kFields) {
        const auto value = hive.value(kKeyPath, f.name);
        const auto number = value ? value->dwordValue() : std::nullopt;
        if (!number)
            continue;
        // A DWORD written as -1 by hand is a large number, not a negative one.
        const int32_t clamped = static_cast<int32_t>(std::min<uint32_t>(*number, uint32_t(f.range.maximum)));
        if (f.number)
            options.*f.number = f.range.clamp(clamped);
        else
            options.*f.flag = clamped != 0;
    }
    return options;
}

bool EvidenceOptions::write(RegistryStore& registry, RegistryRoot root, std::string* error) const {
    return registry.update(
        root,
        [&](RegistryHive& hive) {
            for (const Field& f : kFields) {
                const int value = f.number ? f.range.clamp(this->*f.number) : (this->*f.flag ? 1 : 0);
                hive.setValue(kKeyPath, f.name, RegistryValue::dword(static_cast<uint32_t>(value)));
            }
        },
        error);
}

} // namespace gardivo
