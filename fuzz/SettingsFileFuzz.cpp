// Fuzz target for the settings loader: "watchdog.cfg" may be cut short, edited or replaced.
// Loading it must never read past a field, and every field a program uses must come out within
// its range after clamping.

#include "platform/Reporter.h"
#include "settings/SettingsLimits.h"
#include "settings/SettingsStore.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// One program directory for the whole run.
const std::string& programDirectory() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/gardivo-fuzz-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made ? made : "/tmp") + "/";
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string dir = programDirectory();
    const std::string path = dir + "watchdog.cfg";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 0;
    const bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    if (!written)
        return 0;
    gardivo::RegistryStore registry(dir + "registry");
    gardivo::ConsoleReporter reporter;
    gardivo::SettingsStore store(gardivo::ProgramKind::Email, registry, reporter, dir, "/home/fuzz");
    const auto& s = store.settings();
    check(gardivo::fieldText(s.WorkingDirectory).size() < 261);
    check(gardivo::fieldText(s.EmailBody).size() < 261);
    check(gardivo::fieldText(s.PhoneNumber).size() < 21);
    const int32_t interval = gardivo::limits::DetectInterval.clamp(s.DetectInterval);
    check(interval >= 250 && interval <= 1000);
    const int32_t delay = gardivo::limits::StartDelay.clamp(s.StartDelay);
    check(delay >= 0 && delay <= 86400);
    // A record shorter than 1416 bytes is no record: defaults, and the file kept aside.
    if (size > 0 && size < gardivo::WatchdogSettings::kSize)
        check(store.isDefaulted() && ::access((path + ".bad").c_str(), F_OK) == 0);
    ::unlink((path + ".bad").c_str());
    return 0;
}

std::vector<std::string> fuzzSeeds() {
    const auto record = gardivo::defaultSettings(gardivo::ProgramKind::Wizard, "/home/fuzz").toBytes();
    return {std::string(record.begin(), record.end()), std::string(30, '\x01')};
}
