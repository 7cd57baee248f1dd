#include "WatchdogSettings.h"

#include "platform/ProgramDirectory.h"

namespace gardivo {

WatchdogSettings::Bytes WatchdogSettings::toBytes() const {
    Bytes bytes;
    std::memcpy(bytes.data(), this, kSize);
    return bytes;
}

WatchdogSettings WatchdogSettings::fromBytes(const Bytes& bytes) {
    WatchdogSettings s;
    std::memcpy(&s, bytes.data(), kSize);
    return s;
}

WatchdogSettings defaultSettings(ProgramKind kind, const std::string& homeDirectory) {
    WatchdogSettings s;
    std::memset(&s, 0, sizeof s);
    s.VideoStandard = 0;
    setFieldText(s.VideoConnector, "Composite");
    s.Brightness = 128;
    s.Contrast = 64;
    s.Hue = 0;
    s.Saturation = 64;
    s.RecordFormat = 2;
    s.RecordAudio = 1;
    s.RecordTimeLimit = 2;
    switch (kind) {
    case ProgramKind::Gardivo:
        s.Reserved52 = 10;
        break;
    case ProgramKind::Wizard:
        s.Reserved52 = 9;
        break;
    case ProgramKind::Email:
        s.Reserved52 = 4;
        break;
    }
    s.RecordFrameRate = 30000;
    s.Reserved180 = 5;
    setFieldText(s.WorkingDirectory, joinPath(homeDirectory, "Gardivo"));
    setFieldText(s.DatabaseName, "watchdog");
    s.Sensitivity = 90;
    s.DetectInterval = 500;
    s.WarningSound = 1;
    s.ReleaseTime = 120;
    s.RedialCount = kind == ProgramKind::Wizard ? 3 : 0;
    return s;
}

} // namespace gardivo
