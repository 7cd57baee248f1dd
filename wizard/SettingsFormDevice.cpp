// The settings form's "Device" tab: capture device, video standard and colour tuning, kept in step with
// gardivo.

#include "SettingsForm.h"
#include "SettingsFormParts.h"

#include "monitor/messages/WindowMessages.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace gardivo {

using namespace formparts;

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

} // namespace gardivo
