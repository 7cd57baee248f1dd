// The settings form's "Working Mode" tab: tracing and stop rules.

#include "SettingsForm.h"
#include "SettingsFormParts.h"

#include "settings/SettingsLimits.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace gardivo {

using namespace formparts;

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

QRadioButton* SettingsForm::tracingMode(int value) const {
    return m_tracingMode[value];
}

QRadioButton* SettingsForm::stopRule(int value) const {
    return m_stopRule[value];
}

} // namespace gardivo
