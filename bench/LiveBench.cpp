// What live video costs, measured on whole processes in one run, each beside its baseline:
//
//   pipeline   the monitor's pipeline without an engine (source, preview branch)
//   watching   gardivo-monitor watching a still room (engine and grabber added), no pre-record
//   pre-record the same with the default 3 seconds of pictures kept encoded before an alarm
//   recording  gardivo-monitor recording a clip without end (the recording branch added)
//   source     a source that allocates its own frames (rawvideoparse over multifilesrc)
//   encoding   the same source through trv2enc ! trv2avisink
//
// CPU is the process's user and system time over a window after a warm-up, as a share of one
// core; scenarios are run in interleaved rounds and the medians compared. Then the time from
// motion in the source to the evidence bitmap on disk, and the monitor's resident memory.
//
//   bench_live [--seconds N] [--rounds N] [--latency-trials N] [--memory-minutes N]

#include "ProcessCpu.h"

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using gardivo::bench::cpuSeconds;

namespace {

const std::string kProgramDir = GARDIVO_PROGRAM_DIR;

// --- a child that runs one pipeline ---

int runPipeline(const std::string& description, int seconds) {
    gst_init(nullptr, nullptr);
    gst_registry_scan_path(gst_registry_get(), kProgramDir.c_str());
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        std::fprintf(stderr, "%s\n", error ? error->message : "no pipeline");
        return 1;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message =
        gst_bus_timed_pop_filtered(bus, GstClockTime(seconds) * GST_SECOND,
                                   static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
    // An end of stream is how a pipeline with num-buffers finishes; an error spoils the figures.
    if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* failure = nullptr;
        gst_message_parse_error(message, &failure, nullptr);
        std::fprintf(stderr, "pipeline failed: %s\n", failure ? failure->message : "?");
        g_clear_error(&failure);
    }
    if (message)
        gst_message_unref(message);
    gst_element_send_event(pipeline, gst_event_new_eos());
    gst_bus_timed_pop_filtered(bus, 3 * GST_SECOND, GST_MESSAGE_EOS);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return 0;
}

// --- processes ---

struct Process {
    pid_t pid = 0;
    int output = -1; // its standard output, for reading
};

Process spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnv = {}) {
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> env = extraEnv;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    Process p;
    if (posix_spawn(&p.pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        std::abort();
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    p.output = pipe[0];
    return p;
}

void finish(Process& p) {
    ::kill(p.pid, SIGTERM);
    int status = 0;
    ::waitpid(p.pid, &status, 0);
    ::close(p.output);
}

double residentMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// Share of one core the process used over the window after the warm-up.
double measure(Process& p, std::chrono::seconds warmUp, std::chrono::seconds window) {
    std::this_thread::sleep_for(warmUp);
    const double c0 = cpuSeconds(p.pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(window);
    const double c1 = cpuSeconds(p.pid);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    return (c1 - c0) / wall;
}

// --- the monitor's program directory for the runs ---

class MonitorDirectory {
public:
    explicit MonitorDirectory(const std::string& source) {
        char pattern[] = "/tmp/gardivo-bench-XXXXXX";
        m_dir = ::mkdtemp(pattern);
        std::ofstream(m_dir + "/sources.txt") << "Bench|" << source << "\n";
    }
    ~MonitorDirectory() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    // A settings record: watching with the given actions and time limit.
    void settings(uint32_t actions, int32_t timeLimit) {
        // Let gardivo-monitor write its defaults once, then change the few fields.
        Process p =
            spawn({kProgramDir + "/gardivo-monitor", "--program-dir", m_dir, "--seconds", "1"}, env());
        int status = 0;
        ::waitpid(p.pid, &status, 0);
        ::close(p.output);
        std::fstream f(m_dir + "/watchdog.cfg", std::ios::in | std::ios::out | std::ios::binary);
        const auto put = [&](std::streamoff at, int32_t value) {
            f.seekp(at);
            f.write(reinterpret_cast<const char*>(&value), 4);
        };
        put(768, static_cast<int32_t>(actions));
        put(48, timeLimit);
        put(752, 0); // no tracing
        put(756, 1); // keep watching
        const std::string work = m_dir + "/work";
        f.seekp(204);
        char field[260] = {};
        std::snprintf(field, sizeof field, "%s", work.c_str());
        f.write(field, sizeof field);
    }
    std::vector<std::string> env() const {
        return {"TAVRIN_REGISTRY_DIR=" + m_dir + "/registry", "HOME=" + m_dir};
    }
    Process monitor(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {kProgramDir + "/gardivo-monitor", "--program-dir", m_dir, "--start"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return spawn(argv, env());
    }
    const std::string& dir() const { return m_dir; }
    // A value of the evidence settings, added to the registry file the first run wrote.
    void evidenceValue(const std::string& name, uint32_t value) {
        std::ofstream(m_dir + "/registry/HKEY_CURRENT_USER.reg", std::ios::app)
            << "\n[HKEY_CURRENT_USER\\SOFTWARE\\Tavrin\\Gardivo\\Evidence]\n\"" << name
            << "\"=dword:" << std::hex << std::setw(8) << std::setfill('0') << value << "\n";
    }

private:
    std::string m_dir;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Waits for a line with the text on the process's output; false at the deadline.
bool waitForLine(Process& p, const std::string& text, Clock::time_point deadline,
                 Clock::time_point* when = nullptr) {
    static std::map<int, std::string> pending;
    std::string& buffer = pending[p.output];
    for (;;) {
        const auto eol = buffer.find('\n');
        if (eol != std::string::npos) {
            const std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 1);
            if (line.find(text) != std::string::npos) {
                if (when)
                    *when = Clock::now();
                return true;
            }
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd pfd{p.output, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(p.output, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--child-pipeline")
        return runPipeline(argv[2], std::atoi(argv[3]));

    int seconds = 15, rounds = 3, latencyTrials = 6, memoryMinutes = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (arg == "--seconds")
            seconds = value;
        else if (arg == "--rounds")
            rounds = value;
        else if (arg == "--latency-trials")
            latencyTrials = value;
        else if (arg == "--memory-minutes")
            memoryMinutes = value;
    }
    const std::string self = fs::canonical("/proc/self/exe").string();
    const auto warmUp = 4s;
    const auto window = std::chrono::seconds(seconds);

    // A still room (the figure never comes), 640x480 at 30 frames a second.
    const std::string room = "gardivotestsrc still-seconds=100000";
    // A frame of that room on disk, read again for every frame by a source that allocates its own.
    char framePattern[] = "/tmp/gardivo-frame-XXXXXX";
    const int frameFd = ::mkstemp(framePattern);
    ::close(frameFd);
    {
        Process p = spawn({self, "--child-pipeline",
                           room + " num-buffers=1 ! video/x-raw,width=640,height=480 ! filesink location=" +
                               std::string(framePattern),
                           "5"});
        int status = 0;
        ::waitpid(p.pid, &status, 0);
        ::close(p.output);
    }
    const std::string rawSource =
        std::string("multifilesrc location=") + framePattern +
        " loop=true ! rawvideoparse format=uyvy width=640 height=480 framerate=30/1 ! "
        "identity sync=true";
    char clipPattern[] = "/tmp/gardivo-clip-XXXXXX";
    ::close(::mkstemp(clipPattern));

    MonitorDirectory watching(room), prerecording(room),
        recording("gardivotestsrc still-seconds=1 move-seconds=0 rest-seconds=100000");
    watching.settings(0, 0);
    watching.evidenceValue("PreRecordSeconds", 0);
    prerecording.settings(1, 0); // clips are on, so the pictures before an alarm are kept
    prerecording.evidenceValue("PreRecordSeconds", 3);
    recording.settings(1, 0); // a clip without a time limit
    recording.evidenceValue("PreRecordSeconds", 0);

    const std::string previewOnly =
        room + " ! identity sync=true ! tee name=t t. ! queue leaky=2 max-size-buffers=2 ! "
               "videoconvert ! videoscale ! fakesink sync=false async=false";
    struct Scenario {
        const char* name;
        std::function<Process()> start;
        std::vector<double> cpu;
        std::vector<double> rss = {};
    };
    const int runFor = seconds + 8;
    std::vector<Scenario> scenarios = {
        {"pipeline",
         [&] {
             return spawn({self, "--child-pipeline", previewOnly, std::to_string(runFor)});
         },
         {}},
        {"watching", [&] { return watching.monitor(); }, {}},
        {"pre-record", [&] { return prerecording.monitor(); }, {}},
        {"recording", [&] { return recording.monitor(); }, {}},
        {"source",
         [&] {
             return spawn(
                 {self, "--child-pipeline", rawSource + " ! fakesink sync=false", std::to_string(runFor)});
         },
         {}},
        {"encoding",
         [&] {
             return spawn({self, "--child-pipeline",
                           rawSource + " ! trv2enc ! trv2avisink location=" + std::string(clipPattern),
                           std::to_string(runFor)});
         },
         {}},
    };
    std::printf("CPU, share of one core (%d rounds of %d s after %lld s of warm-up):\n", rounds, seconds,
                static_cast<long long>(warmUp.count()));
    for (int r = 0; r < rounds; ++r)
        for (auto& s : scenarios) {
            Process p = s.start();
            s.cpu.push_back(measure(p, warmUp, window));
            s.rss.push_back(residentMiB(p.pid));
            finish(p);
        }
    std::map<std::string, double> m, rss;
    for (auto& s : scenarios) {
        rss[s.name] = median(s.rss);
        m[s.name] = median(s.cpu);
        std::printf("  %-10s %6.2f %%   (", s.name, 100 * m[s.name]);
        for (double c : s.cpu)
            std::printf(" %.2f", 100 * c);
        std::printf(" )\n");
    }
    std::printf("engine and grabber add   %6.2f %% of a core (goal at most 3)\n",
                100 * (m["watching"] - m["pipeline"]));
    std::printf(
        "pre-record adds          %6.2f %% of a core (goal at most 2.5) and %.1f MiB resident (goal at "
        "most 16)\n",
        100 * (m["pre-record"] - m["watching"]), rss["pre-record"] - rss["watching"]);
    std::printf("recording adds           %6.2f %% of a core (goal at most 10)\n",
                100 * (m["recording"] - m["watching"]));
    std::printf("trv2enc ! trv2avisink add %5.2f %% of a core over the source alone (goal at most 3)\n",
                100 * (m["encoding"] - m["source"]));

    // Motion to evidence: the figure appears at once, at a moment that falls anywhere between two
    // detection ticks; the time runs from the source's message to the bitmap being closed on disk.
    std::vector<double> latencies;
    for (int t = 0; t < latencyTrials; ++t) {
        const double still = 2.0 + 0.083 * t;
        MonitorDirectory dir("gardivotestsrc still-seconds=" + std::to_string(still) +
                             " move-seconds=0 rest-seconds=100000 loop=false");
        dir.settings(0, 0);
        const int watch = ::inotify_init1(IN_CLOEXEC);
        fs::create_directories(dir.dir() + "/work");
        Process p = dir.monitor();
        Clock::time_point motion, written;
        if (!waitForLine(p, "source: motion begins", Clock::now() + 20s, &motion)) {
            finish(p);
            continue;
        }
        // The run's evidence directory exists by now: the bitmap is written into it.
        for (const auto& entry : fs::directory_iterator(dir.dir() + "/work"))
            ::inotify_add_watch(watch, entry.path().c_str(), IN_CLOSE_WRITE);
        char events[4096];
        pollfd pfd{watch, POLLIN, 0};
        bool found = false;
        while (!found && ::poll(&pfd, 1, 5000) > 0) {
            const ssize_t n = ::read(watch, events, sizeof events);
            for (char* e = events; e < events + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(e);
                if (event->len && std::strcmp(event->name, "error001.bmp") == 0) {
                    written = Clock::now();
                    found = true;
                }
                e += sizeof(inotify_event) + event->len;
            }
        }
        ::close(watch);
        finish(p);
        if (found)
            latencies.push_back(std::chrono::duration<double, std::milli>(written - motion).count());
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "motion to evidence bitmap, %zu trials: median %.0f ms, longest %.0f ms (goal at most 500 + 50 ms "
        "at the default interval)\n",
        latencies.size(), median(latencies), latencies.empty() ? 0.0 : latencies.back());

    if (memoryMinutes > 0) {
        Process p = watching.monitor();
        std::printf("resident memory of gardivo-monitor watching:");
        std::fflush(stdout);
        for (int minute = 1; minute <= memoryMinutes; ++minute) {
            std::this_thread::sleep_for(60s);
            if (minute == 1 || minute == memoryMinutes || minute % 5 == 0) {
                std::printf(" %d min %.1f MiB;", minute, residentMiB(p.pid));
                std::fflush(stdout);
            }
        }
        std::printf("\n");
        finish(p);
    }
    ::unlink(framePattern);
    ::unlink(clipPattern);
    return 0;
}
