// The settings form's "Handling Procedures" tab: recording, e-mail, phone call and the user's program.

#include "SettingsForm.h"
#include "SettingsFormParts.h"

#include "CountryTable.h"
#include "EmailBodyDialog.h"
#include "PhoneNumber.h"
#include "SmtpDialog.h"
#include "platform/SkinPaths.h"
#include "settings/SettingsLimits.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gardivo {

using namespace formparts;

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

} // namespace gardivo
