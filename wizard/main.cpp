// cfgwiz: the setup wizard.

#include "Autostart.h"
#include "SettingsForm.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/ProgramDirectory.h"
#include "platform/SystemInfo.h"
#include "platform/qt/LocalEndpoint.h"
#include "platform/qt/QtReporter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QUrl>

int main(int argc, char** argv) {
    using namespace gardivo;
    QApplication app(argc, argv);
    nameWizardApplication(app);

    RegistryStore registry;
    QtReporter reporter;
    if (!passesAdministratorTest(executableDirectory(), "cfgwiz")) {
        reporter.show(
            {"Since the login account does not have the required priviledge to make application work "
             "properly,\nprogram will now exit...",
             "Tavrin Gardivo", MessageIcon::Warning, MessageButtons::Ok, false});
        return 0;
    }

    WizardEnvironment environment;
    environment.registry = &registry;
    environment.reporter = &reporter;
    environment.programDirectory = executableDirectory();
    environment.homeDirectory = homeDirectory();
    environment.makeStore = [&registry, &reporter] {
        return std::make_unique<SettingsStore>(ProgramKind::Wizard, registry, reporter);
    };
    const char* gardivo = "TavrinWatchDog";
    environment.gardivoRunning = [gardivo] { return LocalEndpoint::exists(gardivo, 300); };
    environment.sendToGardivo = [gardivo](uint32_t message, int64_t wParam, int64_t lParam) {
        return LocalEndpoint::send(gardivo, message, wParam, lParam);
    };
    environment.postToGardivo = [gardivo](uint32_t message, int64_t wParam, int64_t lParam) {
        return LocalEndpoint::post(gardivo, message, wParam, lParam);
    };
    environment.startProgram = [](const std::string& program, const std::vector<std::string>& arguments) {
        QStringList args;
        for (const auto& a : arguments)
            args << QString::fromStdString(a);
        return QProcess::startDetached(QString::fromStdString(program), args);
    };
    environment.openDocument = [](const std::string& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    };
    environment.chooseFile = [](QWidget* parent, const QString& caption, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
    };
    environment.autostartDirectory = Autostart::defaultDirectory();

    SettingsForm form(environment);
    // gardivo tells an open wizard when cameras come or go; another program may press OK.
    form.listen();
    form.show();
    form.exec();
    return 0;
}
