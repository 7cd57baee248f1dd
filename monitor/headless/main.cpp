// gardivo-monitor: watches one source with Gardivo's engine and every alarm action, without any
// window. It stops on SIGINT or SIGTERM, or after --seconds N, with a clip under way finished.

#include "HeadlessMonitor.h"
#include "monitor/web/WebAccounts.h"

#include "platform/ProgramDirectory.h"
#include "platform/UserPlaces.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

void usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--start] [--seconds N] [--source NAME] [--size WIDTHxHEIGHT]\n"
                 "          [--program-dir DIR] [--list] [--web PORT] [--web-user NAME]\n"
                 "  --start        start watching at once (otherwise only the picture runs)\n"
                 "  --seconds N    stop after N seconds (otherwise at SIGINT or SIGTERM)\n"
                 "  --source NAME  the source to watch, as listed by --list\n"
                 "  --size WxH     the picture the detector works on (default 640x480)\n"
                 "  --program-dir  the program directory (default: the program's own); its\n"
                 "                 watchdog.cfg, watchdog.mdb and sources.txt are used unless it\n"
                 "                 is an installed copy, whose users keep theirs in ~/.config and\n"
                 "                 ~/.local/share/gardivo\n"
                 "  --list         list the sources and end\n"
                 "  --web PORT     serve the web view (HTTPS) on this port\n"
                 "  --web-user NAME  give the web view's user NAME the password read from\n"
                 "                 standard input (a line) and end\n",
                 program);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    gardivo::HeadlessMonitor::Options options;
    options.programDirectory = gardivo::executableDirectory();
    bool list = false;
    std::string webUser;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--start") {
            options.startWatching = true;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--web" && hasValue) {
            options.webPort = std::atoi(argv[++i]);
            if (options.webPort < 1 || options.webPort > 65535) {
                usage(argv[0]);
                return 2;
            }
        } else if (arg == "--web-user" && hasValue) {
            webUser = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            options.seconds = std::atoi(argv[++i]);
        } else if (arg == "--source" && hasValue) {
            options.source = argv[++i];
        } else if (arg == "--program-dir" && hasValue) {
            options.programDirectory = argv[++i];
        } else if (arg == "--size" && hasValue &&
                   std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) == 2 &&
                   options.width > 0 && options.height > 0) {
        } else {
            usage(argv[0]);
            return 2;
        }
    }
    if (!options.programDirectory.empty() && options.programDirectory.back() != '/')
        options.programDirectory += '/';

    if (!webUser.empty()) {
        // The accounts live with the user's settings, where the web view reads them.
        const gardivo::UserPlaces places = gardivo::userPlaces(options.programDirectory);
        std::string password;
        std::getline(std::cin, password);
        std::string why;
        if (!gardivo::WebAccounts(places.settings + "web-users").setPassword(webUser, password, &why)) {
            std::fprintf(stderr, "gardivo-monitor: %s\n", why.c_str());
            return 1;
        }
        std::printf("web user %s set\n", webUser.c_str());
        return 0;
    }
    if (list) {
        gardivo::initMediaFramework(gardivo::executableDirectory());
        gardivo::ConsoleReporter reporter;
        gardivo::CaptureReporter captureReporter(reporter);
        gardivo::SourceCatalog catalog(
            gardivo::userSourcesFile(gardivo::userPlaces(options.programDirectory), options.programDirectory),
            captureReporter);
        catalog.enumerate();
        for (const auto& s : catalog.video())
            std::printf("video  %s%s%s\n", s.name.c_str(), s.devicePath.empty() ? "" : "  ",
                        s.devicePath.c_str());
        for (const auto& s : catalog.audio())
            std::printf("sound  %s\n", s.name.c_str());
        return 0;
    }

    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char byte;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    gardivo::HeadlessMonitor monitor(options, stdout);
    QObject::connect(&monitor, &gardivo::HeadlessMonitor::finished, &app, &QCoreApplication::quit);
    if (!monitor.start())
        return 1;
    app.exec();
    monitor.finish();
    return 0;
}
