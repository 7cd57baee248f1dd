// How fast an alarm leaves the machine: from the motion in the Test Pattern to the alarm picture
// on an MQTT broker and on an off-site remote (rclone's WebDAV server), both on loopback, measured
// beside the evidence bitmap being written to disk, over many alarms of one gardivo-monitor run.
//
//   bench_outward [--alarms N]     (20 by default)

#include "monitor/outward/tests/OutwardServers.h"
#include "platform/RegistryStore.h"
#include "platform/SystemInfo.h"
#include "settings/ConnectionOptions.h"
#include "settings/WatchdogSettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) {
        std::printf("  %-40s no samples\n", what);
        return;
    }
    std::printf("  %-40s median %5.0f ms, worst %5.0f ms (%zu alarms)\n", what, v[v.size() / 2], v.back(),
                v.size());
}

} // namespace

int main(int argc, char** argv) {
    int alarms = 20;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--alarms")
            alarms = std::max(1, std::atoi(argv[i + 1]));
    Broker broker(Broker::Kind::Anonymous);
    Subscriber home(broker);
    WebDavServer remote;
    TempDir program, registryDir, work;
    // The figure appears at once every 4 s (the source's motion) and goes 2 s later: two alarms.
    writeText(program.file("sources.txt"),
              "Bench|gardivotestsrc still-seconds=2 move-seconds=0 rest-seconds=2\n");
    auto s = defaultSettings(ProgramKind::Wizard, program.path());
    setFieldText(s.WorkingDirectory, work.path());
    s.ActionFlags = 0;
    s.TracingMode = 0;
    s.StopRule = 1;
    const auto bytes = s.toBytes();
    writeBytes(program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    ConnectionOptions options;
    options.mqtt = true;
    options.mqttHost = "127.0.0.1";
    options.mqttPort = broker.port();
    options.mqttName = "bench";
    options.offsite = true;
    options.offsiteRemote = "offsite:bench";
    options.offsiteConfig = remote.config();
    RegistryStore registry(registryDir.path());
    options.write(registry, registryRootFor(OsVersionCode()));

    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t monitor = ::fork();
    if (monitor == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::setenv("TAVRIN_REGISTRY_DIR", registryDir.path().c_str(), 1);
        ::setenv("HOME", program.path().c_str(), 1);
        const std::string binary = std::string(GARDIVO_PROGRAM_DIR) + "/gardivo-monitor";
        ::execl(binary.c_str(), binary.c_str(), "--program-dir", program.path().c_str(), "--start", "--size",
                "320x240", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);

    // The monitor's lines as they come, each run's folder watched for its bitmaps, the remote
    // looked at for them.
    std::vector<Clock::time_point> motions;
    std::map<std::string, Clock::time_point> written, offsite;
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    std::map<int, std::string> watchedRuns;
    std::string pending;
    const auto deadline = Clock::now() + std::chrono::seconds(8 * alarms + 30);
    while (Clock::now() < deadline && static_cast<int>(offsite.size()) < alarms) {
        pollfd fds[2] = {{pipeFds[0], POLLIN, 0}, {watch, POLLIN, 0}};
        ::poll(fds, 2, 10);
        const auto now = Clock::now();
        if (fds[0].revents & POLLIN) {
            char chunk[4096];
            const ssize_t n = ::read(pipeFds[0], chunk, sizeof chunk);
            if (n <= 0)
                break;
            pending.append(chunk, static_cast<size_t>(n));
            for (auto eol = pending.find('\n'); eol != std::string::npos; eol = pending.find('\n')) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (line.find("source: motion begins") != std::string::npos)
                    motions.push_back(now);
            }
        }
        for (const auto& entry : fs::directory_iterator(work.path()))
            if (entry.is_directory() &&
                std::none_of(watchedRuns.begin(), watchedRuns.end(),
                             [&](const auto& w) { return w.second == entry.path().string(); }))
                watchedRuns[::inotify_add_watch(watch, entry.path().c_str(), IN_CLOSE_WRITE)] =
                    entry.path().string();
        char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (char* e = events; e < events + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(e);
                if (event->len && std::strstr(event->name, ".bmp") && !written.count(event->name))
                    written[event->name] = now;
                e += sizeof(inotify_event) + event->len;
            }
        for (const auto& [name, at] : written)
            if (!offsite.count(name)) {
                for (const auto& [fd, run] : watchedRuns)
                    if (fs::exists(remote.served() + "/bench/" + fs::path(run).filename().string() + "/" +
                                   name))
                        offsite[name] = now;
            }
    }
    ::kill(monitor, SIGTERM);
    int status = 0;
    ::waitpid(monitor, &status, 0);

    // The pictures on the broker, in order: one per alarm.
    std::vector<Clock::time_point> pictures;
    for (const auto& m : home.messages())
        if (m.topic == "gardivo/bench/picture")
            pictures.push_back(m.at);
    std::vector<Clock::time_point> bitmaps, remotes;
    for (const auto& [name, at] : written) {
        bitmaps.push_back(at);
        if (offsite.count(name))
            remotes.push_back(offsite[name]);
    }
    std::sort(bitmaps.begin(), bitmaps.end());
    std::vector<double> brokerAfterBitmap, remoteAfterBitmap, motionToBroker, motionToRemote;
    for (size_t i = 0; i < bitmaps.size() && i < pictures.size(); ++i)
        brokerAfterBitmap.push_back(ms(pictures[i] - bitmaps[i]));
    for (const auto& [name, at] : offsite)
        remoteAfterBitmap.push_back(ms(at - written[name]));
    // An alarm's motion is the source's last one before its bitmap, when it came at most a second
    // before (the figure going away is an alarm too, but the source posts no motion for it).
    const auto motionOf = [&](Clock::time_point bitmap) -> std::optional<Clock::time_point> {
        const auto after = std::upper_bound(motions.begin(), motions.end(), bitmap);
        if (after == motions.begin() || bitmap - *(after - 1) > 1s)
            return std::nullopt;
        return *(after - 1);
    };
    for (size_t i = 0; i < bitmaps.size() && i < pictures.size(); ++i)
        if (const auto motion = motionOf(bitmaps[i]))
            motionToBroker.push_back(ms(pictures[i] - *motion));
    for (const auto& [name, at] : offsite)
        if (const auto motion = motionOf(written[name]))
            motionToRemote.push_back(ms(at - *motion));
    std::printf("%zu motions, %zu alarm bitmaps, %zu pictures on the broker, %zu on the remote:\n",
                motions.size(), bitmaps.size(), pictures.size(), offsite.size());
    report("bitmap on disk to picture on the broker", brokerAfterBitmap);
    report("bitmap on disk to picture on the remote", remoteAfterBitmap);
    report("motion to picture on the broker", motionToBroker);
    report("motion to picture on the remote", motionToRemote);
    std::printf("(goals: within 1000 ms of the bitmap on the broker, within 3000 ms on the remote)\n");
    return 0;
}
