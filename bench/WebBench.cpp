// What the web view costs and how fast it shows an alarm: the CPU of gardivo-monitor serving its
// web view to no viewer, one and four viewers of the live picture (5 a second, 640x480 source),
// in interleaved rounds; then the time from motion in the source to the alarm's row on a history
// page that reads the rows once a second, as the page does.
//
//   bench_web [--seconds N] [--rounds N] [--alarms N]

#include "monitor/outward/tests/OutwardServers.h"
#include "settings/WatchdogSettings.h"

#include "ProcessCpu.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <random>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using gardivo::bench::cpuSeconds;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Monitor {
    pid_t pid = 0;
    int port = 0;
};

class Bench {
public:
    explicit Bench(const std::string& source, bool start) : m_start(start) {
        writeText(m_program.file("sources.txt"), "Bench|" + source + "\n");
        auto s = defaultSettings(ProgramKind::Wizard, m_program.path());
        setFieldText(s.WorkingDirectory, m_program.file("work"));
        s.ActionFlags = 0;
        s.TracingMode = 0;
        s.StopRule = 1;
        const auto bytes = s.toBytes();
        writeBytes(m_program.file("watchdog.cfg"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
        writeText(m_program.file("password"), "bench password\n");
        ::setenv("TAVRIN_REGISTRY_DIR", m_program.file("registry").c_str(), 1);
        ::setenv("HOME", m_program.path().c_str(), 1);
        std::system((std::string(GARDIVO_PROGRAM_DIR) + "/gardivo-monitor --program-dir " + m_program.path() +
                     " --web-user bench < " + m_program.file("password") + " > /dev/null")
                        .c_str());
    }
    Monitor start(const std::string& output) {
        Monitor m;
        m.port = freePort();
        std::vector<std::string> args = {std::string(GARDIVO_PROGRAM_DIR) + "/gardivo-monitor",
                                         "--program-dir",
                                         m_program.path(),
                                         "--web",
                                         std::to_string(m.port),
                                         "--size",
                                         "640x480"};
        if (m_start)
            args.push_back("--start");
        m.pid = spawnQuiet(args, output);
        for (int i = 0; i < 200 && !listening(m.port); ++i)
            std::this_thread::sleep_for(50ms);
        return m;
    }
    static void stop(Monitor& m) {
        ::kill(m.pid, SIGTERM);
        int status = 0;
        ::waitpid(m.pid, &status, 0);
    }
    static std::string cookie(int port) {
        httplib::SSLClient c("127.0.0.1", port);
        c.enable_server_certificate_verification(false);
        const auto r =
            c.Post("/login", "user=bench&password=bench+password", "application/x-www-form-urlencoded");
        if (!r)
            return {};
        const std::string set = r->get_header_value("Set-Cookie");
        return set.substr(0, set.find(';'));
    }
    std::string file(const std::string& name) const { return m_program.file(name); }

private:
    TempDir m_program;
    bool m_start;
};

} // namespace

int main(int argc, char** argv) {
    int seconds = 15, rounds = 3, alarms = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seconds")
            seconds = std::atoi(argv[i + 1]);
        else if (arg == "--rounds")
            rounds = std::atoi(argv[i + 1]);
        else if (arg == "--alarms")
            alarms = std::atoi(argv[i + 1]);
    }
    Bench still("gardivotestsrc still-seconds=100000", false);
    std::map<int, std::vector<double>> cpu;
    std::printf("CPU of gardivo-monitor with its web view, share of one core (%d rounds of %d s):\n", rounds,
                seconds);
    for (int r = 0; r < rounds; ++r)
        for (const int viewers : {0, 1, 4}) {
            Monitor m = still.start(still.file("out.txt"));
            const std::string cookie = Bench::cookie(m.port);
            std::atomic<bool> done{false};
            std::vector<std::thread> watchers;
            for (int v = 0; v < viewers; ++v)
                watchers.emplace_back([&] {
                    httplib::SSLClient c("127.0.0.1", m.port);
                    c.enable_server_certificate_verification(false);
                    c.Get("/live.mjpg", {{"Cookie", cookie}},
                          [&](const char*, size_t) { return !done.load(); });
                });
            std::this_thread::sleep_for(4s);
            const double c0 = cpuSeconds(m.pid);
            const auto t0 = Clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            const double used =
                (cpuSeconds(m.pid) - c0) / std::chrono::duration<double>(Clock::now() - t0).count();
            cpu[viewers].push_back(used);
            done = true;
            Bench::stop(m);
            for (auto& t : watchers)
                t.join();
        }
    for (const auto& [viewers, v] : cpu) {
        std::printf("  %d viewer%s  %6.2f %%   (", viewers, viewers == 1 ? " " : "s", 100 * median(v));
        for (double x : v)
            std::printf(" %.2f", 100 * x);
        std::printf(" )\n");
    }
    std::printf("one viewer adds   %5.2f %% of a core (goal at most 3)\n",
                100 * (median(cpu[1]) - median(cpu[0])));
    std::printf("four viewers add  %5.2f %% of a core (goal at most 5)\n",
                100 * (median(cpu[4]) - median(cpu[0])));

    // Motion to the row on a history page that reads once a second, at a phase of its own.
    Bench walking("gardivotestsrc still-seconds=3 move-seconds=0 rest-seconds=2", true);
    Monitor m = walking.start(walking.file("walk.txt"));
    const std::string cookie = Bench::cookie(m.port);
    httplib::SSLClient c("127.0.0.1", m.port);
    c.enable_server_certificate_verification(false);
    std::mt19937 random(7);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1000));
    std::vector<double> latencies;
    size_t shownConditions = 0;
    // The monitor's output is watched closely for the moments motion begins.
    std::mutex motionMutex;
    std::vector<Clock::time_point> motions;
    std::atomic<bool> watching{true};
    std::thread motionWatch([&] {
        size_t seen = 0;
        while (watching) {
            const std::string out = readText(walking.file("walk.txt"));
            for (size_t at = out.find("source: motion begins", seen); at != std::string::npos;
                 at = out.find("source: motion begins", at + 1)) {
                std::lock_guard lock(motionMutex);
                motions.push_back(Clock::now());
                seen = at + 1;
            }
            std::this_thread::sleep_for(5ms);
        }
    });
    const auto deadline = Clock::now() + std::chrono::seconds(6 * alarms + 20);
    while (static_cast<int>(latencies.size()) < alarms && Clock::now() < deadline) {
        const auto rows = c.Get("/api/history", {{"Cookie", cookie}});
        const auto now = Clock::now();
        if (rows) {
            size_t conditions = 0;
            for (auto at = rows->body.find("\"condition\":"); at != std::string::npos;
                 at = rows->body.find("\"condition\":", at + 1))
                ++conditions;
            std::lock_guard lock(motionMutex);
            if (conditions > shownConditions && !motions.empty()) {
                // The figure's coming is an alarm with a motion of the source; its going is one
                // without: only rows that a motion began at most 2.5 s before count.
                const double ms = std::chrono::duration<double, std::milli>(now - motions.back()).count();
                if (ms < 2500)
                    latencies.push_back(ms);
                shownConditions = conditions;
            }
        }
        std::this_thread::sleep_for(1000ms);
    }
    watching = false;
    motionWatch.join();
    Bench::stop(m);
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "motion to the row on the history page (read once a second), %zu alarms: median %.0f ms, worst "
        "%.0f ms (goal at most 2000)\n",
        latencies.size(), median(latencies), latencies.empty() ? 0.0 : latencies.back());
    return 0;
}
