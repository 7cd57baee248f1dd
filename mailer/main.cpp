// email: sends the alert mail. With an argument (gardivo passes the condition number) it sends
// the evidence at once and quits; without one it is a mail form.

#include "EmailDialog.h"
#include "NotificationRun.h"
#include "platform/qt/QtReporter.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv) {
    // A mail server that hangs up in the middle of a TLS write must end the send, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    app.setApplicationName(gardivo::NotificationRun::kAppName);

    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);

    gardivo::QtReporter reporter;
    gardivo::RegistryStore registry;
    gardivo::SettingsStore store(gardivo::ProgramKind::Email, registry, reporter);
    gardivo::NotificationRun run(store, reporter, arguments);
    if (!run.start())
        return 1;
    gardivo::EmailDialog dialog(run, reporter);
    dialog.show();
    dialog.exec();
    return dialog.exitCode();
}
