// gardivo: the monitoring program with its skin windows.

#include "Artwork.h"
#include "MonitorShell.h"
#include "ShellReporter.h"
#include "SkinWindow.h"
#include "StartUpChecks.h"
#include "WebEngineSetup.h"
#include "monitor/shell/CompanionLauncher.h"
#include "platform/ProgramDirectory.h"
#include "platform/SystemInfo.h"
#include "platform/qt/LocalEndpoint.h"
#include "platform/qt/QtReporter.h"

#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace {

int g_signalPipe[2] = {-1, -1};
// The end made from the exit handlers when the event loop never returns.
std::function<void()> g_endWithoutUnwinding;

void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// Milliseconds since this process was started (for GARDIVO_TIMING).
double sinceProcessStart_ms() {
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    // Field 22 is the start time in clock ticks since boot; fields after ")" start at 3.
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const double started_ms = std::stod(field) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6 - started_ms;
}

} // namespace

int main(int argc, char** argv) {
    using namespace gardivo;
    prepareWebEngineEnvironment();
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    app.setApplicationName("gardivo");
    // Hidden windows and closed message boxes never end the program; closing the main window does.
    app.setQuitOnLastWindowClosed(false);

    // The single-instance lock first: a second copy leaves before it has read, and so before it
    // could write, the settings; and the first lets go of the lock only after its settings are
    // written (objects go in the reverse order of their making).
    QtReporter startReporter;
    StartUpChecks checks;
    checks.isAdministrator = [] { return passesAdministratorTest(executableDirectory(), "gardivo"); };
    checks.otherCopyAnswers = [] { return LocalEndpoint::exists(MonitorShell::kEndpointName, 300); };
    const auto instance = passStartUpChecks(startReporter, checks);
    if (!instance)
        return 0;

    RegistryStore registry;
    ShellReporter reporter;
    auto settings = std::make_unique<SettingsStore>(ProgramKind::Gardivo, registry, reporter);

    CompanionLauncher companions(*settings, reporter);
    setArtworkDirectory(settings->programDirectory());
    MonitorShell::Options options;
    options.beforeShutDown = [&reporter] { reporter.setEnding(); };
    options.remoteContent = webSandboxOn();
    // --web PORT serves the web view on that port, whatever the settings say.
    int webPort = 0;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "--web")
            webPort = std::clamp(arguments[i + 1].toInt(), 0, 65535);
    // For demonstrations and measurements: the source to open by name, when it is listed.
    const std::string source = qgetenv("GARDIVO_SOURCE").toStdString();
    if (!source.empty() || webPort > 0)
        options.adjustEngine = [source, webPort](EngineHost::Setup& setup) {
            if (!source.empty())
                setup.preferredSource = source;
            setup.webPort = webPort;
        };
    MonitorShell shell(*settings, reporter, companions, options);
    shell.listen();
    // When the display goes away (a logout that ends XWayland), Qt ends the process with exit()
    // from inside its event loop, and nothing here unwinds: the end is made orderly from the
    // exit handlers instead, the clip finished and the settings written.
    g_endWithoutUnwinding = [&shell, &settings] {
        shell.endWithoutDisplay();
        settings->save();
    };
    std::atexit([] {
        if (g_endWithoutUnwinding)
            std::exchange(g_endWithoutUnwinding, nullptr)();
    });
    QTimer paintRate;
    if (qEnvironmentVariableIsSet("GARDIVO_TIMING")) {
        QObject::connect(&shell, &MonitorShell::mainPageLoaded, [](bool ok) {
            std::fprintf(stderr, "gardivo: main page %s %.0f ms after start\n", ok ? "loaded" : "failed",
                         sinceProcessStart_ms());
        });
        // How many live pictures arrive and are painted, every ten seconds.
        QObject::connect(
            &paintRate, &QTimer::timeout, [&shell, arrived = uint64_t(0), painted = uint64_t(0)]() mutable {
                const uint64_t nowArrived = shell.preview().frameCount();
                const uint64_t nowPainted = shell.videoWidget() ? shell.videoWidget()->paintedFrames() : 0;
                std::fprintf(stderr, "gardivo: live pictures %.1f/s arrived, %.1f/s painted\n",
                             double(nowArrived - arrived) / 10.0, double(nowPainted - painted) / 10.0);
                arrived = nowArrived;
                painted = nowPainted;
            });
        paintRate.start(10000);
    }
    QObject::connect(&shell, &MonitorShell::ended, &app, [&app] { app.exit(0); });
    // For measurements: start watching this many seconds after the main page loaded, as the
    // Start button would.
    if (const int after_s = qEnvironmentVariableIntValue("GARDIVO_START_WATCHING"); after_s > 0)
        QObject::connect(&shell, &MonitorShell::mainPageLoaded, &app, [&shell, after_s] {
            QTimer::singleShot(after_s * 1000, &shell, [&shell] {
                shell.engine().post([](EngineHost& host) {
                    if (host.engine() && host.engine()->mode() == StandBy)
                        host.startOrStop(false);
                });
            });
        });

    // The end of the session (SIGTERM) or Ctrl+C closes the program the way its Exit does: a clip
    // being written is finished and the settings are saved.
    std::unique_ptr<QSocketNotifier> terminate;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        terminate = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(terminate.get(), &QSocketNotifier::activated, &app, [&shell, &app] {
            char byte = 0;
            [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
            if (SkinWindow* main = shell.mainWindow())
                main->post(WM_CLOSE);
            else
                app.exit(0);
        });
        struct sigaction action {};
        action.sa_handler = onTerminate;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
    shell.start();

    // For a machine without a screen (the demo under Xvfb): a picture of the screen after a
    // while, and then, when asked, the end.
    if (const QString shot = qEnvironmentVariable("GARDIVO_SCREENSHOT"); !shot.isEmpty()) {
        const int after_s = qEnvironmentVariableIntValue("GARDIVO_SCREENSHOT_AFTER");
        QTimer::singleShot((after_s > 0 ? after_s : 10) * 1000, &app, [&shell, shot] {
            if (QScreen* screen = QGuiApplication::primaryScreen()) {
                const bool saved = screen->grabWindow(0).save(shot);
                std::fprintf(stderr, "gardivo: %s %s\n", saved ? "screenshot written to" : "cannot write",
                             qPrintable(shot));
            }
            if (qEnvironmentVariableIsSet("GARDIVO_SCREENSHOT_EXIT"))
                if (SkinWindow* main = shell.mainWindow())
                    main->post(WM_CLOSE);
        });
    }
    const int code = app.exec();
    g_endWithoutUnwinding = nullptr; // ended the ordinary way: the objects below see to it
    return code;
}
