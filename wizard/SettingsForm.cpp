#include "SettingsForm.h"

#include "Autostart.h"
#include "CountryTable.h"
#include "DirectoryChooser.h"
#include "EmailBodyDialog.h"
#include "PhoneNumber.h"
#include "SmtpDialog.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/SkinPaths.h"
#include "platform/qt/LocalEndpoint.h"
#include "settings/SettingsLimits.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <filesystem>

namespace gardivo {

namespace {

// A spin box that, left with no number in it, takes its minimum.
class IntegerSpin final : public QSpinBox {
public:
    IntegerSpin(int minimum, int maximum, QWidget* parent) : QSpinBox(parent) {
        setRange(minimum, maximum);
        setAccelerated(true);
    }

protected:
    void fixup(QString& input) const override { input = QString::number(minimum()); }
};

constexpr const char* kColourNames[4] = {"Brightness", "Contrast", "Saturation", "Hue"};
constexpr const char* kColourLabels[4] = {"Brightness:", "Contrast:", "Saturation:", "Hue:"};

QLabel* label(const char* text, QWidget* parent) {
    return new QLabel(QString::fromUtf8(text), parent);
}

int32_t& colourField(WatchdogSettings& s, int which) {
    switch (which) {
    case 0:
        return s.Brightness;
    case 1:
        return s.Contrast;
    case 2:
        return s.Saturation;
    default:
        return s.Hue;
    }
}

std::string text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

} // namespace

SettingsForm::SettingsForm(WizardEnvironment environment, QWidget* parent)
    : QDialog(parent), m_env(std::move(environment)) {
    setObjectName("TfrmSetup");
    setWindowTitle(kCaption);
    setFixedSize(kWidth, kHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    const char* names[4] = {"Main", "Working Mode", "Handling Procedures", "Device"};
    QWidget* pages[4];
    for (int i = 0; i < 4; ++i) {
        pages[i] = new QWidget(m_tabs);
        m_tabs->addTab(pages[i], names[i]);
    }
    buildMainTab(pages[0]);
    buildWorkingModeTab(pages[1]);
    buildHandlingTab(pages[2]);
    buildDeviceTab(pages[3]);
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

// --- the tabs ---

void SettingsForm::buildMainTab(QWidget* tab) {
    auto* grid = new QGridLayout(tab);
    grid->addWidget(label("Detecting Sensibility:", tab), 0, 0);
    auto* row = new QHBoxLayout;
    row->addWidget(label("Low", tab));
    m_sensitivity = new QSlider(Qt::Horizontal, tab);
    m_sensitivity->setObjectName("sensitivity");
    m_sensitivity->setRange(limits::Sensitivity.minimum, limits::Sensitivity.maximum);
    m_sensitivity->setPageStep(9);
    row->addWidget(m_sensitivity, 1);
    row->addWidget(label("High", tab));
    auto* sensitivityDefault = new QPushButton("Default", tab);
    sensitivityDefault->setObjectName("sensitivityDefault");
    connect(sensitivityDefault, &QPushButton::clicked, this, [this] { m_sensitivity->setValue(90); });
    row->addWidget(sensitivityDefault);
    grid->addLayout(row, 0, 1, 1, 2);

    grid->addWidget(label("Detecting Interval: (frame/sec)", tab), 1, 0);
    row = new QHBoxLayout;
    m_detectRate = new QSlider(Qt::Horizontal, tab);
    m_detectRate->setObjectName("detectRate");
    m_detectRate->setRange(limits::DetectRate.minimum, limits::DetectRate.maximum);
    m_detectRate->setTickPosition(QSlider::TicksBelow);
    m_detectRate->setTickInterval(1);
    auto* marks = new QVBoxLayout;
    marks->addWidget(m_detectRate);
    auto* numbers = new QHBoxLayout;
    for (const char* n : {"1", "2", "3", "4"}) {
        numbers->addWidget(label(n, tab));
        if (n[0] != '4')
            numbers->addStretch(1);
    }
    marks->addLayout(numbers);
    row->addLayout(marks, 1);
    auto* rateDefault = new QPushButton("Default", tab);
    rateDefault->setObjectName("detectRateDefault");
    connect(rateDefault, &QPushButton::clicked, this, [this] { m_detectRate->setValue(2); });
    row->addWidget(rateDefault);
    grid->addLayout(row, 1, 1, 1, 2);

    grid->addWidget(label("Working Directory:", tab), 2, 0);
    m_workingDirectory = new QLineEdit(tab);
    m_workingDirectory->setObjectName("workingDirectory");
    m_workingDirectory->setMaxLength(259);
    grid->addWidget(m_workingDirectory, 2, 1);
    m_browseDirectory = new QPushButton("...", tab);
    m_browseDirectory->setObjectName("browseDirectory");
    grid->addWidget(m_browseDirectory, 2, 2);
    connect(m_workingDirectory, &QLineEdit::editingFinished, this, [this] {
        if (!m_loading && m_workingDirectory->isEnabled())
            checkWorkingDirectory();
    });
    connect(m_browseDirectory, &QPushButton::clicked, this, [this] {
        DirectoryChooser* chooser = directoryChooser();
        chooser->showDirectory(m_workingDirectory->text());
        if (chooser->exec() == QDialog::Accepted)
            m_workingDirectory->setText(chooser->chosen());
    });

    auto* style = new QGroupBox("Window style", tab);
    auto* styleLayout = new QVBoxLayout(style);
    const char* styles[3] = {"Normal", "Minimized as a tray icon", "Always on top"};
    const int styleValues[3] = {0, 2, 1};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(styles[i], style);
        radio->setObjectName(QStringLiteral("windowStyle%1").arg(styleValues[i]));
        styleLayout->addWidget(radio);
        m_windowStyle[styleValues[i]] = radio;
    }
    auto* region = new QGroupBox("Detect region", tab);
    auto* regionLayout = new QVBoxLayout(region);
    const char* regions[2] = {"Full Window", "User defined region"};
    for (int i = 0; i < 2; ++i) {
        m_regionMode[i] = new QRadioButton(regions[i], region);
        m_regionMode[i]->setObjectName(QStringLiteral("regionMode%1").arg(i));
        regionLayout->addWidget(m_regionMode[i]);
    }
    regionLayout->addStretch(1);
    auto* groups = new QHBoxLayout;
    groups->addWidget(style);
    groups->addWidget(region);
    grid->addLayout(groups, 3, 0, 1, 3);

    m_autoRun = new QCheckBox("Auto-run whenever system boots up", tab);
    m_autoRun->setObjectName("autoRun");
    grid->addWidget(m_autoRun, 4, 0, 1, 3);
    m_warningSound = new QCheckBox("Play warning sound", tab);
    m_warningSound->setObjectName("warningSound");
    grid->addWidget(m_warningSound, 5, 0, 1, 3);
    m_scheduled = new QCheckBox("Enable scheduled running", tab);
    m_scheduled->setObjectName("scheduled");
    grid->addWidget(m_scheduled, 6, 0, 1, 3);
    row = new QHBoxLayout;
    row->addSpacing(24);
    row->addWidget(label("Start detecting after:", tab));
    m_startDelay = new IntegerSpin(limits::StartDelay.minimum, limits::StartDelay.maximum, tab);
    m_startDelay->setObjectName("startDelay");
    row->addWidget(m_startDelay);
    row->addWidget(label("secs", tab));
    row->addStretch(1);
    grid->addLayout(row, 7, 0, 1, 3);
    grid->setRowStretch(8, 1);
    connect(m_scheduled, &QCheckBox::clicked, this, [this] { applyEnableRules(); });
}

void SettingsForm::buildWorkingModeTab(QWidget* tab) {
    auto* layout = new QVBoxLayout(tab);
    auto* tracing = new QGroupBox("When any unusual condition is detected, ", tab);
    auto* tracingLayout = new QGridLayout(tracing);
    const char* tracings[3] = {"Start tracing, and users can choose when to stop",
                               "Start and stop tracing automatically", "No tracing"};
    const int tracingValues[3] = {2, 1, 0};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(tracings[i], tracing);
        radio->setObjectName(QStringLiteral("tracingMode%1").arg(tracingValues[i]));
        m_tracingMode[tracingValues[i]] = radio;
        connect(radio, &QRadioButton::clicked, this, [this] { applyEnableRules(); });
    }
    tracingLayout->addWidget(m_tracingMode[2], 0, 0, 1, 3);
    tracingLayout->addWidget(m_tracingMode[1], 1, 0, 1, 3);
    m_releaseBefore =
        label("If the unusual condition is still existing, set the time length to release ", tracing);
    m_releaseAfter = label("when the motion object stays still.                       secs", tracing);
    m_releaseTime = new IntegerSpin(limits::ReleaseTime.minimum, limits::ReleaseTime.maximum, tracing);
    m_releaseTime->setObjectName("releaseTime");
    auto* release = new QHBoxLayout;
    release->addSpacing(24);
    release->addWidget(m_releaseBefore);
    release->addWidget(m_releaseTime);
    release->addStretch(1);
    tracingLayout->addLayout(release, 2, 0, 1, 3);
    auto* after = new QHBoxLayout;
    after->addSpacing(24);
    after->addWidget(m_releaseAfter);
    after->addStretch(1);
    tracingLayout->addLayout(after, 3, 0, 1, 3);
    tracingLayout->addWidget(m_tracingMode[0], 4, 0, 1, 3);
    layout->addWidget(tracing);

    auto* stop = new QGroupBox("When any unusual condition is detected,", tab);
    auto* stopLayout = new QGridLayout(stop);
    const char* stops[3] = {
        "Stop Gardivo immediately", "Continue detecting, until users press <Stop>",
        "Stop Gardivo when unusual condition has continued to happen over                       times"};
    for (int i = 0; i < 3; ++i) {
        m_stopRule[i] = new QRadioButton(stops[i], stop);
        m_stopRule[i]->setObjectName(QStringLiteral("stopRule%1").arg(i));
        stopLayout->addWidget(m_stopRule[i], i, 0);
        connect(m_stopRule[i], &QRadioButton::clicked, this, [this] { applyEnableRules(); });
    }
    m_conditionLimit =
        new IntegerSpin(limits::ConditionLimitChoice.minimum, limits::ConditionLimitChoice.maximum, stop);
    m_conditionLimit->setObjectName("conditionLimit");
    // The count sits in the gap of its caption.
    const int gap = m_stopRule[2]->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                    m_stopRule[2]->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing) +
                    m_stopRule[2]->fontMetrics().horizontalAdvance(
                        "Stop Gardivo when unusual condition has continued to happen over ");
    m_conditionLimit->setFixedWidth(m_stopRule[2]->fontMetrics().horizontalAdvance(QString(22, ' ')));
    auto* inside = new QHBoxLayout;
    inside->addSpacing(gap);
    inside->addWidget(m_conditionLimit);
    inside->addStretch(1);
    stopLayout->addLayout(inside, 2, 0);
    layout->addWidget(stop);
    layout->addStretch(1);
}

void SettingsForm::buildHandlingTab(QWidget* tab) {
    auto* layout = new QGridLayout(tab);
    // Recording
    m_recording = new QCheckBox("Recording", tab);
    m_recording->setObjectName("recording");
    layout->addWidget(m_recording, 0, 0);
    m_recordingGroup = new QGroupBox(tab);
    auto* recording = new QHBoxLayout(m_recordingGroup);
    recording->addWidget(label("Time limit (secs) :", m_recordingGroup));
    m_timeLimit = new IntegerSpin(limits::RecordTimeLimitChoice.minimum,
                                  limits::RecordTimeLimitChoice.maximum, m_recordingGroup);
    m_timeLimit->setObjectName("timeLimit");
    recording->addWidget(m_timeLimit);
    recording->addWidget(label("Frame rate:", m_recordingGroup));
    m_frameRate =
        new IntegerSpin(limits::RecordFrameRate.minimum, limits::RecordFrameRate.maximum, m_recordingGroup);
    m_frameRate->setObjectName("frameRate");
    recording->addWidget(m_frameRate);
    recording->addStretch(1);
    layout->addWidget(m_recordingGroup, 1, 0, 1, 2);

    // E-mail
    m_sendEmail = new QCheckBox("Send email", tab);
    m_sendEmail->setObjectName("sendEmail");
    layout->addWidget(m_sendEmail, 2, 0);
    auto* email = new QGridLayout;
    QLabel* addressLabel = label("E-Mail Address:", tab);
    QLabel* ccLabel = label("Carbon Copy:", tab);
    QLabel* bodyLabel = label("EMail Body:", tab);
    QLabel* smtpLabel = label("SMTP Mail Server setup:", tab);
    m_emailAddress = new QLineEdit(tab);
    m_emailAddress->setObjectName("emailAddress");
    m_emailAddress->setMaxLength(49);
    m_emailCc = new QLineEdit(tab);
    m_emailCc->setObjectName("emailCc");
    m_emailCc->setMaxLength(49);
    m_emailBody = new QPushButton("Edit", tab);
    m_emailBody->setObjectName("emailBody");
    m_smtp = new QPushButton("Setup", tab);
    m_smtp->setObjectName("smtp");
    email->addWidget(addressLabel, 0, 0);
    email->addWidget(m_emailAddress, 0, 1);
    email->addWidget(ccLabel, 0, 2);
    email->addWidget(m_emailCc, 0, 3);
    email->addWidget(bodyLabel, 1, 0);
    email->addWidget(m_emailBody, 1, 1, Qt::AlignLeft);
    email->addWidget(smtpLabel, 1, 2);
    email->addWidget(m_smtp, 1, 3, Qt::AlignLeft);
    layout->addLayout(email, 3, 0, 1, 2);
    m_emailControls = {addressLabel,   ccLabel,   bodyLabel,   smtpLabel,
                       m_emailAddress, m_emailCc, m_emailBody, m_smtp};
    connect(m_emailBody, &QPushButton::clicked, this, [this] {
        EmailBodyDialog dialog(this);
        dialog.setBody(m_emailBodyText);
        if (dialog.exec() == QDialog::Accepted)
            m_emailBodyText = dialog.body();
    });
    connect(m_smtp, &QPushButton::clicked, this, [this] {
        SmtpDialog dialog(*m_env.registry, *m_env.reporter, this);
        dialog.exec();
    });

    // Phone call
    m_phoneCall = new QCheckBox("Make phone call", tab);
    m_phoneCall->setObjectName("phoneCall");
    layout->addWidget(m_phoneCall, 4, 0);
    m_phoneGroup = new QGroupBox(tab);
    auto* phone = new QGridLayout(m_phoneGroup);
    auto* number = new QGroupBox("Number to be dialed", m_phoneGroup);
    auto* numberLayout = new QGridLayout(number);
    numberLayout->addWidget(label("Country Code:", number), 0, 0);
    m_country = new QComboBox(number);
    m_country->setObjectName("country");
    for (int i = 0; i < CountryTable::kCount; ++i)
        m_country->addItem(QString::fromStdString(CountryTable::shownName(i)));
    numberLayout->addWidget(m_country, 0, 1, 1, 3);
    numberLayout->addWidget(label("Area Code:", number), 1, 0);
    m_areaCode = new QLineEdit(number);
    m_areaCode->setObjectName("areaCode");
    numberLayout->addWidget(m_areaCode, 1, 1);
    numberLayout->addWidget(label("Phone Number:", number), 1, 2);
    m_phoneNumber = new QLineEdit(number);
    m_phoneNumber->setObjectName("phoneNumber");
    numberLayout->addWidget(m_phoneNumber, 1, 3);
    phone->addWidget(number, 0, 0, 1, 4);
    phone->addWidget(label("Wave file:", m_phoneGroup), 1, 0);
    m_waveFile = new QLineEdit(m_phoneGroup);
    m_waveFile->setObjectName("waveFile");
    m_waveFile->setMaxLength(259);
    phone->addWidget(m_waveFile, 1, 1, 1, 2);
    m_waveBrowse = new QPushButton("...", m_phoneGroup);
    m_waveBrowse->setObjectName("waveBrowse");
    phone->addWidget(m_waveBrowse, 1, 3);
    auto* soundRecorder = new QPushButton(" Recording", m_phoneGroup);
    soundRecorder->setObjectName("soundRecorder");
    auto* modem = new QPushButton("Modem Setup", m_phoneGroup);
    modem->setObjectName("modemSetup");
    phone->addWidget(soundRecorder, 2, 0);
    phone->addWidget(modem, 2, 1);
    phone->addWidget(label("Number of redials:", m_phoneGroup), 2, 2);
    m_redials = new IntegerSpin(limits::RedialCount.minimum, limits::RedialCount.maximum, m_phoneGroup);
    m_redials->setObjectName("redials");
    phone->addWidget(m_redials, 2, 3);
    layout->addWidget(m_phoneGroup, 5, 0, 1, 2);
    connect(m_country, &QComboBox::currentIndexChanged, this, [this] { limitPhoneParts(); });
    // What was typed is kept beside what fits: a country with a longer calling code takes digits
    // away, and changing back gives them back.
    connect(m_areaCode, &QLineEdit::textChanged, this, [this](const QString& typed) {
        if (m_limiting)
            return;
        m_typedArea = typed;
        limitPhoneParts();
    });
    connect(m_phoneNumber, &QLineEdit::textChanged, this, [this](const QString& typed) {
        if (!m_limiting)
            m_typedNumber = typed;
    });
    connect(m_waveBrowse, &QPushButton::clicked, this, [this] { browseWaveFile(); });
    connect(soundRecorder, &QPushButton::clicked, this, [this] {
        // The desktop's sound recorder, whichever one is installed.
        bool started = false;
        for (const char* recorder : {"gnome-sound-recorder", "audacity", "kwave", "tenacity", "ocenaudio"})
            if ((started = m_env.startProgram && m_env.startProgram(recorder, {})))
                break;
        if (!started)
            fail("Can't execute voice recording program...", nullptr);
    });
    connect(modem, &QPushButton::clicked, this, [this] {
        if (!m_env.startProgram || !m_env.startProgram(m_env.programDirectory + "dial", {}))
            fail("Can't execute modem setup...", nullptr);
    });

    // A program of the user's
    m_runProgram = new QCheckBox("Execute specific program", tab);
    m_runProgram->setObjectName("runProgram");
    layout->addWidget(m_runProgram, 6, 0);
    auto* program = new QHBoxLayout;
    QLabel* programLabel = label("Program file name:", tab);
    m_programFile = new QLineEdit(tab);
    m_programFile->setObjectName("programFile");
    m_programFile->setMaxLength(259);
    auto* programBrowse = new QPushButton("...", tab);
    programBrowse->setObjectName("programBrowse");
    program->addSpacing(24);
    program->addWidget(programLabel);
    program->addWidget(m_programFile, 1);
    program->addWidget(programBrowse);
    layout->addLayout(program, 7, 0, 1, 2);
    m_programControls = {programLabel, m_programFile, programBrowse};
    connect(programBrowse, &QPushButton::clicked, this, [this] { browseProgram(); });
    layout->setRowStretch(8, 1);

    for (QCheckBox* check : {m_recording, m_sendEmail, m_phoneCall, m_runProgram})
        connect(check, &QCheckBox::clicked, this, [this] { applyEnableRules(); });
}

void SettingsForm::buildDeviceTab(QWidget* tab) {
    auto* layout = new QGridLayout(tab);
    layout->addWidget(label("Capture Device:", tab), 0, 0);
    m_captureDevice = new QComboBox(tab);
    m_captureDevice->setObjectName("captureDevice");
    layout->addWidget(m_captureDevice, 0, 1);
    layout->addWidget(label("Video Standard:", tab), 1, 0);
    m_videoStandard = new QComboBox(tab);
    m_videoStandard->setObjectName("videoStandard");
    for (const char* standard : kVideoStandards)
        m_videoStandard->addItem(standard);
    layout->addWidget(m_videoStandard, 1, 1);
    connect(m_captureDevice, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_loading)
            captureDeviceChosen(index);
    });
    connect(m_videoStandard, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_loading && index >= 0 && m_env.gardivoRunning && m_env.gardivoRunning() && m_env.sendToGardivo)
            m_env.sendToGardivo(WM_APP_SELECT_STANDARD, index, 0);
    });

    auto* tuning = new QGroupBox("Color Tuning", tab);
    auto* grid = new QGridLayout(tuning);
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(label(kColourLabels[i], tuning), i, 0);
        m_colourMinimum[i] = new QLabel(tuning);
        m_colourMinimum[i]->setObjectName(QStringLiteral("%1Minimum").arg(kColourNames[i]));
        m_colour[i] = new QSlider(Qt::Horizontal, tuning);
        m_colour[i]->setObjectName(kColourNames[i]);
        m_colourMaximum[i] = new QLabel(tuning);
        m_colourMaximum[i]->setObjectName(QStringLiteral("%1Maximum").arg(kColourNames[i]));
        m_colourValue[i] = new QLabel(tuning);
        m_colourValue[i]->setObjectName(QStringLiteral("%1Value").arg(kColourNames[i]));
        m_colourValue[i]->setMinimumWidth(40);
        grid->addWidget(m_colourMinimum[i], i, 1);
        grid->addWidget(m_colour[i], i, 2);
        grid->addWidget(m_colourMaximum[i], i, 3);
        grid->addWidget(m_colourValue[i], i, 4);
        connect(m_colour[i], &QSlider::valueChanged, this, [this, i](int value) {
            m_colourValue[i]->setText(QString::number(value));
            if (!m_loading && m_env.gardivoRunning && m_env.gardivoRunning() && m_env.postToGardivo)
                m_env.postToGardivo(WM_APP_PROC_AMP, 1001 + i, value);
        });
    }
    grid->setColumnStretch(2, 1);
    layout->addWidget(tuning, 2, 0, 1, 2);
    m_resetColours = new QPushButton("Reset to Default ", tab);
    m_resetColours->setObjectName("resetColours");
    layout->addWidget(m_resetColours, 3, 1, Qt::AlignRight);
    connect(m_resetColours, &QPushButton::clicked, this, [this] {
        for (int i = 0; i < 4; ++i)
            m_colour[i]->setValue(m_ranges[i].defaultValue);
    });
    layout->setRowStretch(4, 1);
    layout->setColumnStretch(1, 1);
}

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

void SettingsForm::loadDevices() {
    m_devices = m_store->readCaptureDevices();
    for (int i = 0; i < 4; ++i)
        m_ranges[i] = m_store->readProcAmpRange(kColourNames[i]).value_or(ProcAmpRange{});
}

void SettingsForm::loadColours() {
    const bool loading = std::exchange(m_loading, true);
    WatchdogSettings& s = m_store->settings();
    for (int i = 0; i < 4; ++i) {
        m_colour[i]->setRange(m_ranges[i].minimum, std::max(m_ranges[i].minimum, m_ranges[i].maximum));
        m_colour[i]->setSingleStep(std::max(1, m_ranges[i].step));
        m_colour[i]->setValue(colourField(s, i));
        m_colourMinimum[i]->setText(QString::number(m_ranges[i].minimum));
        m_colourMaximum[i]->setText(QString::number(m_ranges[i].maximum));
        m_colourValue[i]->setText(QString::number(m_colour[i]->value()));
    }
    m_loading = loading;
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
    m_loading = false;
    applyEnableRules();
}

// The area code and the number leave room for "+code (area) " within the 19 characters.
void SettingsForm::limitPhoneParts() {
    const int code =
        static_cast<int>(std::to_string(CountryTable::at(m_country->currentIndex()).callingCode).size());
    const int frame = 5 + code; // "+", " (", ") "
    if (m_limiting)
        return;
    m_limiting = true;
    m_areaCode->setMaxLength(std::max(1, kPhoneNumberLength - frame - 1));
    if (m_areaCode->text() != m_typedArea.left(m_areaCode->maxLength()))
        m_areaCode->setText(m_typedArea.left(m_areaCode->maxLength()));
    const int area = static_cast<int>(m_areaCode->text().toUtf8().size());
    m_phoneNumber->setMaxLength(area == 0 ? kPhoneNumberLength
                                          : std::max(1, kPhoneNumberLength - frame - area));
    if (m_phoneNumber->text() != m_typedNumber.left(m_phoneNumber->maxLength()))
        m_phoneNumber->setText(m_typedNumber.left(m_phoneNumber->maxLength()));
    m_limiting = false;
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
    // 4. The autostart entry.
    Autostart autostart(m_env.autostartDirectory);
    const Autostart::Result autostartDone = m_store->settings().AutoRun == 1
                                                ? autostart.enable(m_env.programDirectory + "gardivo")
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

void SettingsForm::refreshDevices() {
    const bool loading = std::exchange(m_loading, true);
    m_devices = m_store->readCaptureDevices();
    m_captureDevice->clear();
    for (const auto& device : m_devices)
        m_captureDevice->addItem(QString::fromStdString(device));
    const int selected = m_store->settings().CaptureDevice;
    m_captureDevice->setCurrentIndex(selected >= 0 && selected < m_captureDevice->count() ? selected : -1);
    m_loading = loading;
}

void SettingsForm::captureDeviceChosen(int index) {
    if (index < 0 || index == m_store->settings().CaptureDevice)
        return;
    // gardivo switches devices and writes the new lists and colour ranges before it answers.
    if (m_env.gardivoRunning && m_env.gardivoRunning() && m_env.sendToGardivo)
        m_env.sendToGardivo(WM_APP_SELECT_DEVICE, index, 0);
    m_store->settings().CaptureDevice = index;
    loadDevices();
    loadColours();
}

void SettingsForm::browseWaveFile() {
    if (!m_env.chooseFile)
        return;
    const QString chosen = m_env.chooseFile(this, "Wave file", "Wave file name (*.wav)");
    if (chosen.isEmpty())
        return;
    const QString suffix = QFileInfo(chosen).suffix();
    if (suffix.isEmpty())
        m_waveFile->setText(chosen + ".wav");
    else if (suffix.compare("wav", Qt::CaseInsensitive) == 0)
        m_waveFile->setText(chosen);
    else
        m_env.reporter->show(
            {"It must be a wave file...", "Tavrin Gardivo", MessageIcon::Warning, MessageButtons::Ok, false});
}

void SettingsForm::browseProgram() {
    if (!m_env.chooseFile)
        return;
    const QString chosen = m_env.chooseFile(this, "Program", "File name (*)");
    if (!chosen.isEmpty())
        m_programFile->setText(chosen);
}

DirectoryChooser* SettingsForm::directoryChooser() {
    // Made on first use and kept for the rest of the run.
    if (!m_chooser)
        m_chooser = new DirectoryChooser(*m_env.reporter, m_env.mounts, this);
    return m_chooser;
}

QRadioButton* SettingsForm::windowStyle(int value) const {
    return m_windowStyle[value];
}

QRadioButton* SettingsForm::regionMode(int value) const {
    return m_regionMode[value];
}

QRadioButton* SettingsForm::tracingMode(int value) const {
    return m_tracingMode[value];
}

QRadioButton* SettingsForm::stopRule(int value) const {
    return m_stopRule[value];
}

} // namespace gardivo
