// The settings form's "Storage and clips" tab: the seconds before an alarm a clip begins with,
// how long evidence is kept, the lighting rule, and the copies that phones and browsers play.

#include "SettingsForm.h"
#include "SettingsFormParts.h"

#include "settings/EvidenceOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <cmath>

namespace gardivo {

using namespace formparts;

void SettingsForm::buildStorageTab(QWidget* tab) {
    auto* layout = new QVBoxLayout(tab);

    auto* clips = new QGroupBox("Alarm clips", tab);
    auto* clipsLayout = new QGridLayout(clips);
    m_preRecord = new IntegerSpin(limits::PreRecordSeconds.minimum, limits::PreRecordSeconds.maximum, clips);
    m_preRecord->setObjectName("preRecord");
    clipsLayout->addWidget(label("Begin each clip", clips), 0, 0);
    clipsLayout->addWidget(m_preRecord, 0, 1);
    clipsLayout->addWidget(label("seconds before the alarm (AVI clips; 0 begins at the alarm)", clips), 0, 2);
    m_playableCopies =
        new QCheckBox("Make a copy of each clip that phones and browsers play (MP4 or WebM)", clips);
    m_playableCopies->setObjectName("playableCopies");
    clipsLayout->addWidget(m_playableCopies, 1, 0, 1, 3);
    clipsLayout->setColumnStretch(2, 1);
    layout->addWidget(clips);

    auto* keep = new QGroupBox("Keeping evidence", tab);
    auto* keepLayout = new QGridLayout(keep);
    m_retainSize = new QCheckBox("Keep the evidence under", keep);
    m_retainSize->setObjectName("retainSize");
    m_retainGigabytes = new QDoubleSpinBox(keep);
    m_retainGigabytes->setObjectName("retainGigabytes");
    m_retainGigabytes->setDecimals(1);
    m_retainGigabytes->setRange(0.1, limits::RetentionMegabytes.maximum / 1000.0);
    m_retainGigabytes->setSingleStep(0.5);
    m_retainAge = new QCheckBox("Keep the evidence for", keep);
    m_retainAge->setObjectName("retainAge");
    m_retainDays = new IntegerSpin(1, limits::RetentionDays.maximum, keep);
    m_retainDays->setObjectName("retainDays");
    keepLayout->addWidget(m_retainSize, 0, 0);
    keepLayout->addWidget(m_retainGigabytes, 0, 1);
    keepLayout->addWidget(label("GB", keep), 0, 2);
    keepLayout->addWidget(m_retainAge, 1, 0);
    keepLayout->addWidget(m_retainDays, 1, 1);
    keepLayout->addWidget(label("days", keep), 1, 2);
    auto* keepNote = label("The oldest watching runs are deleted first, whole, with their history; the run "
                           "being watched is always kept. With a limit set, old runs are also deleted "
                           "before the disk gets too full for a clip.",
                           keep);
    keepNote->setWordWrap(true);
    keepLayout->addWidget(keepNote, 2, 0, 1, 4);
    keepLayout->setColumnStretch(3, 1);
    layout->addWidget(keep);

    auto* light = new QGroupBox("Changes of light", tab);
    auto* lightLayout = new QGridLayout(light);
    m_lightingRule =
        new QCheckBox("A lamp or a cloud is no alarm: when this share of the watched area changes", light);
    m_lightingRule->setObjectName("lightingRule");
    m_lightingPercent =
        new IntegerSpin(limits::LightingPercent.minimum, limits::LightingPercent.maximum, light);
    m_lightingPercent->setObjectName("lightingPercent");
    m_lightingPercent->setSuffix(" %");
    lightLayout->addWidget(m_lightingRule, 0, 0);
    lightLayout->addWidget(m_lightingPercent, 0, 1);
    lightLayout->addWidget(label("by an even change of brightness, a new reference picture is taken.", light),
                           1, 0, 1, 3);
    lightLayout->setColumnStretch(2, 1);
    layout->addWidget(light);

    auto* mail = new QGroupBox("The alert mail", tab);
    auto* mailLayout = new QGridLayout(mail);
    m_mailPlayableCopy =
        new QCheckBox("Attach the playable copy instead of the AVI clip (the mail waits for it)", mail);
    m_mailPlayableCopy->setObjectName("mailPlayableCopy");
    m_mailPicture = new QComboBox(mail);
    m_mailPicture->setObjectName("mailPicture");
    m_mailPicture->addItems({"BMP (as kept)", "PNG", "JPEG (smallest)"});
    mailLayout->addWidget(m_mailPlayableCopy, 0, 0, 1, 3);
    mailLayout->addWidget(label("Attach the alarm picture as", mail), 1, 0);
    mailLayout->addWidget(m_mailPicture, 1, 1);
    mailLayout->setColumnStretch(2, 1);
    layout->addWidget(mail);
    layout->addStretch(1);

    for (QCheckBox* box : {m_retainSize, m_retainAge, m_lightingRule, m_playableCopies})
        connect(box, &QCheckBox::toggled, this, [this] { applyEnableRules(); });
}

void SettingsForm::loadStorageControls() {
    const EvidenceOptions& o = m_store->evidenceOptions();
    m_preRecord->setValue(limits::PreRecordSeconds.clamp(o.preRecordSeconds));
    m_playableCopies->setChecked(o.playableCopies);
    m_retainSize->setChecked(o.retentionMegabytes > 0);
    m_retainGigabytes->setValue(o.retentionMegabytes > 0 ? o.retentionMegabytes / 1000.0 : 50.0);
    m_retainAge->setChecked(o.retentionDays > 0);
    m_retainDays->setValue(o.retentionDays > 0 ? o.retentionDays : 30);
    m_lightingRule->setChecked(o.lightingRule);
    m_lightingPercent->setValue(limits::LightingPercent.clamp(o.lightingPercent));
    m_mailPlayableCopy->setChecked(o.mailPlayableCopy);
    m_mailPicture->setCurrentIndex(limits::MailPictureFormat.clamp(o.mailPictureFormat));
}

EvidenceOptions SettingsForm::storageControls() const {
    EvidenceOptions o;
    o.preRecordSeconds = m_preRecord->value();
    o.playableCopies = m_playableCopies->isChecked();
    o.retentionMegabytes =
        m_retainSize->isChecked() ? static_cast<int>(std::lround(m_retainGigabytes->value() * 1000.0)) : 0;
    o.retentionDays = m_retainAge->isChecked() ? m_retainDays->value() : 0;
    o.lightingRule = m_lightingRule->isChecked();
    o.lightingPercent = m_lightingPercent->value();
    o.mailPlayableCopy = m_mailPlayableCopy->isChecked();
    o.mailPictureFormat = m_mailPicture->currentIndex();
    return o;
}

void SettingsForm::applyStorageEnableRules() {
    m_retainGigabytes->setEnabled(m_retainSize->isChecked());
    m_retainDays->setEnabled(m_retainAge->isChecked());
    m_lightingPercent->setEnabled(m_lightingRule->isChecked());
    m_mailPlayableCopy->setEnabled(m_playableCopies->isChecked());
}

} // namespace gardivo
