// The settings form's "Main" tab: sensitivity, detection rate, working directory, window style, region,
// start options.

#include "SettingsForm.h"
#include "SettingsFormParts.h"

#include "DirectoryChooser.h"
#include "settings/SettingsLimits.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace gardivo {

using namespace formparts;

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

} // namespace gardivo
