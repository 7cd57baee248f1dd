#include "SettingsForm.h"
#include "SettingsFormParts.h"

#include "Autostart.h"
#include "CountryTable.h"
#include "PhoneNumber.h"
#include "SmtpDialog.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/SkinPaths.h"
#include "platform/UserPlaces.h"
#include "platform/qt/LocalEndpoint.h"
#include "settings/SettingsLimits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include <filesystem>

namespace gardivo {

using namespace formparts;

void nameWizardApplication(QCoreApplication& application) {
    application.setApplicationName("cfgwiz");
}

SettingsForm::SettingsForm(WizardEnvironment environment, QWidget* parent)
    : QDialog(parent), m_env(std::move(environment)) {
    setObjectName("TfrmSetup");
    setWindowTitle(kCaption);
    setFixedSize(kWidth, kHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    const char* names[6] = {"Main",   "Working Mode",      "Handling Procedures",
                            "Device", "Storage and clips", "Connections"};
    QWidget* pages[6];
    for (int i = 0; i < 6; ++i) {
        pages[i] = new QWidget(m_tabs);
        m_tabs->addTab(pages[i], names[i]);
    }
    buildMainTab(pages[0]);
    buildWorkingModeTab(pages[1]);
    buildHandlingTab(pages[2]);
    buildDeviceTab(pages[3]);
    buildStorageTab(pages[4]);
    buildConnectionsTab(pages[5]);
    layout->addWidget(m_tabs, 1);

    auto* buttons = new QHBoxLayout;
    const auto addButton = [&](const char* caption, const char* name, auto action) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, action);
        return b;
    };
    buttons->addStretch(1);
    addButton("OK", "ok", [this] { pressOk(); });
    addButton("Cancel", "cancel", [this] { pressCancel(); });
    addButton("Default", "default", [this] { pressDefault(); });
    addButton("Help", "help", [this] { pressHelp(); });
    layout->addLayout(buttons);

    makeStore();
    loadControls();
    m_tabs->setCurrentIndex(0);
}

SettingsForm::~SettingsForm() = default;

// --- loading and saving ---

void SettingsForm::makeStore() {
    m_wizard.reset();
    m_store = m_env.makeStore();
    m_wizard = std::make_unique<WizardSettings>(*m_store);
    m_wizard->loadRegistryValues();
    // The wave file always starts as the program's own; it is only ever written.
    m_wizard->setWarningFileName(m_env.programDirectory + "Warning.wav");
    loadDevices();
}

void SettingsForm::loadControls() {
    m_loading = true;
    const WatchdogSettings& s = m_store->settings();
    const bool running = m_env.gardivoRunning && m_env.gardivoRunning();

    m_sensitivity->setValue(limits::Sensitivity.clamp(s.Sensitivity));
    // A record with no interval (or a negative one) would divide by nothing: it shows the default.
    m_detectRate->setValue(s.DetectInterval > 0 ? limits::DetectRate.clamp(1000 / s.DetectInterval) : 2);
    m_workingDirectory->setText(QString::fromStdString(fieldText(s.WorkingDirectory)));
    m_workingDirectory->setEnabled(!running);
    m_browseDirectory->setEnabled(!running);
    (s.WindowStyle == 1 || s.WindowStyle == 2 ? m_windowStyle[s.WindowStyle] : m_windowStyle[0])
        ->setChecked(true);
    m_regionMode[s.RegionMode == 1 ? 1 : 0]->setChecked(true);
    m_autoRun->setChecked(s.AutoRun != 0);
    m_warningSound->setChecked(s.WarningSound != 0);
    m_scheduled->setChecked(s.StartDelay != 0);
    m_startDelay->setValue(s.StartDelay);

    m_tracingMode[s.TracingMode >= 0 && s.TracingMode <= 2 ? s.TracingMode : 0]->setChecked(true);
    m_releaseTime->setValue(s.ReleaseTime);
    m_stopRule[s.StopRule >= 0 && s.StopRule <= 2 ? s.StopRule : 0]->setChecked(true);
    m_conditionLimit->setValue(s.ConditionLimit);

    m_recording->setChecked(s.ActionFlags & 1u);
    m_timeLimit->setValue(s.RecordTimeLimit);
    m_frameRate->setValue(s.RecordFrameRate);
    m_sendEmail->setChecked(s.ActionFlags & 4u);
    m_emailAddress->setText(QString::fromStdString(fieldText(s.EmailAddress)));
    m_emailCc->setText(QString::fromStdString(fieldText(s.EmailCc)));
    m_emailBodyText = fieldText(s.EmailBody);
    m_phoneCall->setChecked(s.ActionFlags & 2u);
    m_country->setCurrentIndex(CountryTable::indexOf(m_wizard->countryName()));
    const PhoneParts phone = splitPhoneNumber(fieldText(s.PhoneNumber));
    m_areaCode->setMaxLength(kPhoneNumberLength);
    m_phoneNumber->setMaxLength(kPhoneNumberLength);
    m_areaCode->setText(QString::fromStdString(phone.areaCode));
    m_phoneNumber->setText(QString::fromStdString(phone.number));
    limitPhoneParts();
    m_waveFile->setText(QString::fromStdString(m_wizard->warningFileName()));
    m_redials->setValue(s.RedialCount);
    m_runProgram->setChecked(s.ActionFlags & 8u);
    m_programFile->setText(QString::fromStdString(fieldText(s.ProgramFile)));

    m_captureDevice->clear();
    for (const auto& device : m_devices)
        m_captureDevice->addItem(QString::fromStdString(device));
    m_captureDevice->setCurrentIndex(
        s.CaptureDevice >= 0 && s.CaptureDevice < m_captureDevice->count() ? s.CaptureDevice : -1);
    m_videoStandard->setCurrentIndex(s.VideoStandard >= 0 && s.VideoStandard < 13 ? s.VideoStandard : 0);
    loadColours();
    loadStorageControls();
    loadConnectionControls();
    m_loading = false;
    applyEnableRules();
}

void SettingsForm::saveControls() {
    WatchdogSettings& s = m_store->settings();
    s.Sensitivity = m_sensitivity->value();
    s.DetectInterval = 1000 / m_detectRate->value();
    setFieldText(s.WorkingDirectory, text(m_workingDirectory));
    s.WindowStyle = m_windowStyle[2]->isChecked() ? 2 : m_windowStyle[1]->isChecked() ? 1 : 0;
    s.RegionMode = m_regionMode[1]->isChecked() ? 1 : 0;
    s.AutoRun = m_autoRun->isChecked() ? 1 : 0;
    s.WarningSound = m_warningSound->isChecked() ? 1 : 0;
    s.StartDelay = m_scheduled->isChecked() ? m_startDelay->value() : 0;
    s.TracingMode = m_tracingMode[2]->isChecked() ? 2 : m_tracingMode[1]->isChecked() ? 1 : 0;
    s.ReleaseTime = m_releaseTime->value();
    s.StopRule = m_stopRule[2]->isChecked() ? 2 : m_stopRule[1]->isChecked() ? 1 : 0;
    s.ConditionLimit = m_conditionLimit->value();
    s.ActionFlags = (m_recording->isChecked() ? 1u : 0u) | (m_phoneCall->isChecked() ? 2u : 0u) |
                    (m_sendEmail->isChecked() ? 4u : 0u) | (m_runProgram->isChecked() ? 8u : 0u);
    s.RecordTimeLimit = m_timeLimit->value();
    s.RecordFrameRate = m_frameRate->value();
    setFieldText(s.EmailAddress, text(m_emailAddress));
    setFieldText(s.EmailCc, text(m_emailCc));
    setFieldText(s.EmailBody, m_emailBodyText);
    s.RedialCount = m_redials->value();
    setFieldText(s.ProgramFile, text(m_programFile));
    if (m_captureDevice->currentIndex() >= 0)
        s.CaptureDevice = m_captureDevice->currentIndex();
    s.VideoStandard = m_videoStandard->currentIndex();
    // A colour the device gave no range for was never shown: it keeps its value.
    for (int i = 0; i < 4; ++i)
        if (m_ranges[i].maximum > m_ranges[i].minimum)
            colourField(s, i) = m_colour[i]->value();
}

void SettingsForm::applyEnableRules() {
    m_startDelay->setEnabled(m_scheduled->isChecked());
    const bool automatic = m_tracingMode[1]->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_releaseBefore, m_releaseAfter, m_releaseTime})
        w->setEnabled(automatic);
    m_conditionLimit->setEnabled(m_stopRule[2]->isChecked());
    m_recordingGroup->setEnabled(m_recording->isChecked());
    for (QWidget* w : m_emailControls)
        w->setEnabled(m_sendEmail->isChecked());
    m_phoneGroup->setEnabled(m_phoneCall->isChecked());
    for (QWidget* w : m_programControls)
        w->setEnabled(m_runProgram->isChecked());
    applyStorageEnableRules();
    applyConnectionEnableRules();
}

// --- the buttons ---

void SettingsForm::fail(const char* text, QWidget* focus) {
    m_env.reporter->show({text, "Tavrin Gardivo", MessageIcon::Warning, MessageButtons::Ok, false});
    if (focus) {
        for (QWidget* page = focus->parentWidget(); page; page = page->parentWidget())
            if (const int tab = m_tabs->indexOf(page); tab >= 0)
                m_tabs->setCurrentIndex(tab);
        focus->setFocus();
    }
}

bool SettingsForm::checkWorkingDirectory() {
    std::string path = text(m_workingDirectory);
    // "~" is the user's home, as in a shell; any other path must start at the root, or it would
    // be made wherever cfgwiz happened to be started from.
    if (path == "~" || path.starts_with("~/")) {
        path = m_env.homeDirectory + path.substr(1);
        m_workingDirectory->setText(QString::fromStdString(path));
    }
    const auto refuse = [&](const std::string& message) {
        m_env.reporter->show({message, "Tavrin Gardivo", MessageIcon::Warning, MessageButtons::Ok, false});
        m_tabs->setCurrentIndex(0);
        m_workingDirectory->setFocus();
        return false;
    };
    if (!path.empty() && path[0] != '/')
        return refuse("The working directory must be a full path, such as " + m_env.homeDirectory +
                      "/Gardivo. Please fill another directory...");
    if (path.size() >= sizeof(WatchdogSettings::WorkingDirectory))
        return refuse("The working directory " + path + " is too long to be kept (at most " +
                      std::to_string(sizeof(WatchdogSettings::WorkingDirectory) - 1) +
                      " bytes). Please fill another directory...");
    std::error_code ec;
    if (!path.empty() &&
        (std::filesystem::is_directory(path, ec) || std::filesystem::create_directories(path, ec)) &&
        std::filesystem::is_directory(path, ec))
        return true;
    const std::string message =
        "Cannot create working directory " + path + ". Please fill another directory...";
    m_env.reporter->show({message, "Tavrin Gardivo", MessageIcon::Warning, MessageButtons::Ok, false});
    m_tabs->setCurrentIndex(0);
    m_workingDirectory->setFocus();
    return false;
}

bool SettingsForm::pressOk() {
    // 1. The checks, in order; the first that fails keeps the form open on its field.
    if (m_workingDirectory->isEnabled() && !checkWorkingDirectory())
        return false;
    if (m_sendEmail->isChecked()) {
        const QString address = m_emailAddress->text();
        const QString cc = m_emailCc->text();
        if (address.isEmpty()) {
            fail("EMail address can't be blank, please fill a valid e-mail address...", m_emailAddress);
            return false;
        }
        if (!address.contains('@') || address.startsWith('@')) {
            fail("EMail address format is not valid, please fill a valid e-mail address...", m_emailAddress);
            return false;
        }
        if (!cc.isEmpty() && (!cc.contains('@') || cc.startsWith('@'))) {
            fail("CC EMail address format is not valid, please fill a valid e-mail address...", m_emailCc);
            return false;
        }
        // Not a reason to refuse the settings, but alerts would not go out: the user hears why.
        if (const std::string problem = SmtpDialog::automaticLoginProblem(*m_env.registry); !problem.empty())
            m_env.reporter->show(
                {problem, "Tavrin Gardivo", MessageIcon::Information, MessageButtons::Ok, false});
    }
    if (m_phoneCall->isChecked()) {
        if (m_phoneNumber->text().isEmpty()) {
            fail("Please fill in the phone number...", m_phoneNumber);
            return false;
        }
        const Country country = CountryTable::at(m_country->currentIndex());
        m_wizard->setCountryName(country.name);
        setFieldText(m_store->settings().PhoneNumber,
                     composePhoneNumber(country.callingCode, text(m_areaCode), text(m_phoneNumber)));
        if (!QFileInfo(m_waveFile->text()).isFile()) {
            m_env.reporter->show({"The warning sound file is not existing, set to default...",
                                  "Tavrin Gardivo", MessageIcon::Warning, MessageButtons::Ok, false});
            m_waveFile->setText(QString::fromStdString(m_env.programDirectory + "Warning.wav"));
        }
        m_wizard->setWarningFileName(text(m_waveFile));
    }
    if (m_runProgram->isChecked() && m_programFile->text().isEmpty()) {
        fail("Program file name can't be blank, please fill a program file name...", m_programFile);
        return false;
    }
    // A path is kept whole or not at all: a cut one would name another file.
    if (text(m_programFile).size() >= sizeof(WatchdogSettings::ProgramFile)) {
        const std::string message = "The program file name is too long to be kept (at most " +
                                    std::to_string(sizeof(WatchdogSettings::ProgramFile) - 1) +
                                    " bytes), please fill a shorter one...";
        fail(message.c_str(), m_programFile);
        return false;
    }
    if (!checkConnections())
        return false;
    // 2, 3. The controls into the record, the record and the registry values saved. When they
    // cannot be, the form stays open with everything the user typed.
    saveControls();
    std::string why;
    if (!m_wizard->save(&why)) {
        if (!why.empty())
            m_env.reporter->show({"Cannot save the settings to " + m_store->settingsFilePath() + " (" + why +
                                      "). Nothing you typed is lost: make the folder writable and press OK "
                                      "again, or press Cancel.",
                                  "Tavrin Gardivo", MessageIcon::Error, MessageButtons::Ok, false});
        return false;
    }
    // The evidence settings beside the record, in their own key: like the record's other registry
    // values, a failure is said and the rest is kept.
    if (!saveWebUser())
        return false;
    const EvidenceOptions evidence = storageControls();
    const ConnectionOptions connections = connectionControls();
    m_store->setEvidenceOptions(evidence);
    m_store->setConnectionOptions(connections);
    if (!evidence.write(*m_env.registry, m_store->registryRoot()) ||
        !connections.write(*m_env.registry, m_store->registryRoot()))
        m_env.reporter->show(
            {"Writing registry error!", "Tavrin Gardivo", MessageIcon::Error, MessageButtons::Ok, false});
    // 4. The autostart entry.
    Autostart autostart(m_env.autostartDirectory);
    const Autostart::Result autostartDone = m_store->settings().AutoRun == 1
                                                ? autostart.enable(gardivoLauncher(m_env.programDirectory))
                                                : autostart.disable();
    if (autostartDone == Autostart::Result::NoFolder)
        m_env.reporter->show({"Writing registry occured error! can't set always run at starting...",
                              "Tavrin Gardivo", MessageIcon::Error, MessageButtons::Ok, false});
    else if (autostartDone == Autostart::Result::EntryFailed)
        m_env.reporter->show({"Writing registry occured error!", "Tavrin Gardivo", MessageIcon::Error,
                              MessageButtons::Ok, false});
    // 5. A running gardivo reads the settings again; otherwise the user may start it.
    if (m_env.gardivoRunning && m_env.gardivoRunning()) {
        if (m_env.postToGardivo)
            m_env.postToGardivo(WM_APP_SETTINGS_CHANGED, 0, 0);
    } else if (m_env.reporter->show({"Do you want to execute Gardivo now?", "Tavrin Gardivo",
                                     MessageIcon::Question, MessageButtons::YesNo, false}) ==
               MessageAnswer::Yes) {
        if (!m_env.startProgram || !m_env.startProgram(m_env.programDirectory + "gardivo", {}))
            m_env.reporter->show({"Cannot execute Gardivo...", "Tavrin Gardivo", MessageIcon::Error,
                                  MessageButtons::Ok, false});
    }
    // 6.
    accept();
    return true;
}

void SettingsForm::pressCancel() {
    reject();
}

void SettingsForm::reject() {
    // Every way out that does not save (Cancel, Escape, the close box) ends alike: a running
    // gardivo reads the settings again and so drops the device and standard it was shown.
    if (m_env.gardivoRunning && m_env.gardivoRunning() && m_env.postToGardivo)
        m_env.postToGardivo(WM_APP_SETTINGS_CHANGED, 0, 0);
    QDialog::reject();
}

void SettingsForm::pressDefault() {
    makeStore();
    loadControls();
}

void SettingsForm::pressHelp() {
    const auto page = gardivo::programFile(m_env.programDirectory, "Help/Help.htm");
    if (!page || !m_env.openDocument || !m_env.openDocument(*page))
        m_env.reporter->show(
            {"Can't find help file...", "Tavrin Gardivo", MessageIcon::Warning, MessageButtons::Ok, false});
}

bool SettingsForm::listen() {
    m_endpoint = std::make_unique<LocalEndpoint>([this](uint32_t message, int64_t, int64_t) -> int64_t {
        if (message == WM_APP_SELECT_DEVICE) {
            refreshDevices();
            return 1;
        }
        if (message == WM_APP_SETUP_OK) {
            // Not inside the endpoint's own handling: OK may ask the user a question.
            QMetaObject::invokeMethod(
                this, [this] { pressOk(); }, Qt::QueuedConnection);
            return 1;
        }
        return 0;
    });
    return m_endpoint->listen(kEndpointName);
}

} // namespace gardivo
