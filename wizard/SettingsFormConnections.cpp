// The settings form's "Connections" tab: events to an MQTT broker and off-site copies of the
// evidence through rclone. Both are off until the user turns them on.

#include "SettingsForm.h"
#include "SettingsFormParts.h"

#include "monitor/web/Certificate.h"
#include "monitor/web/WebAccounts.h"
#include "settings/ConnectionOptions.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <unistd.h>

namespace gardivo {

using namespace formparts;

void SettingsForm::buildConnectionsTab(QWidget* page) {
    // Three connections do not fit the form's fixed size: the tab scrolls.
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName("connectionsScroll");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* tab = new QWidget(scroll);
    scroll->setWidget(tab);
    outer->addWidget(scroll);
    auto* layout = new QVBoxLayout(tab);

    m_mqtt = new QCheckBox("Send events to an MQTT broker (home automation, Home Assistant)", tab);
    m_mqtt->setObjectName("mqtt");
    layout->addWidget(m_mqtt);
    m_mqttGroup = new QGroupBox(tab);
    auto* mqtt = new QGridLayout(m_mqttGroup);
    const auto line = [&](const char* name) {
        auto* edit = new QLineEdit(m_mqttGroup);
        edit->setObjectName(name);
        return edit;
    };
    m_mqttHost = line("mqttHost");
    m_mqttPort = new IntegerSpin(1, 65535, m_mqttGroup);
    m_mqttPort->setObjectName("mqttPort");
    mqtt->addWidget(label("Broker:", m_mqttGroup), 0, 0);
    mqtt->addWidget(m_mqttHost, 0, 1);
    mqtt->addWidget(label("Port:", m_mqttGroup), 0, 2);
    mqtt->addWidget(m_mqttPort, 0, 3);
    m_mqttTls = new QCheckBox("TLS, with the broker's certificate checked", m_mqttGroup);
    m_mqttTls->setObjectName("mqttTls");
    mqtt->addWidget(m_mqttTls, 1, 0, 1, 4);
    m_mqttCaFile = line("mqttCaFile");
    m_mqttCaFile->setPlaceholderText("the system's certificate authorities");
    auto* browse = new QPushButton("...", m_mqttGroup);
    browse->setObjectName("mqttCaBrowse");
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] {
        if (!m_env.chooseFile)
            return;
        const QString file = m_env.chooseFile(this, "Certificate authority", "Certificates (*.crt *.pem)");
        if (!file.isEmpty())
            m_mqttCaFile->setText(file);
    });
    mqtt->addWidget(label("CA file:", m_mqttGroup), 2, 0);
    mqtt->addWidget(m_mqttCaFile, 2, 1, 1, 2);
    mqtt->addWidget(browse, 2, 3);
    m_mqttUser = line("mqttUser");
    m_mqttPassword = line("mqttPassword");
    m_mqttPassword->setEchoMode(QLineEdit::Password);
    mqtt->addWidget(label("User:", m_mqttGroup), 3, 0);
    mqtt->addWidget(m_mqttUser, 3, 1);
    mqtt->addWidget(label("Password:", m_mqttGroup), 3, 2);
    mqtt->addWidget(m_mqttPassword, 3, 3);
    m_mqttPlainPassword =
        new QCheckBox("Send the password without TLS (only on a network you trust)", m_mqttGroup);
    m_mqttPlainPassword->setObjectName("mqttPlainPassword");
    mqtt->addWidget(m_mqttPlainPassword, 4, 0, 1, 4);
    m_mqttName = line("mqttName");
    m_mqttName->setPlaceholderText("this machine's name");
    mqtt->addWidget(label("Camera name:", m_mqttGroup), 5, 0);
    mqtt->addWidget(m_mqttName, 5, 1, 1, 3);
    m_mqttDiscovery = new QCheckBox("Announce the camera to Home Assistant", m_mqttGroup);
    m_mqttDiscovery->setObjectName("mqttDiscovery");
    m_mqttCommands = new QCheckBox("Allow Start and Stop from the broker (gardivo/<name>/set)", m_mqttGroup);
    m_mqttCommands->setObjectName("mqttCommands");
    mqtt->addWidget(m_mqttDiscovery, 6, 0, 1, 4);
    mqtt->addWidget(m_mqttCommands, 7, 0, 1, 4);
    mqtt->setColumnStretch(1, 1);
    layout->addWidget(m_mqttGroup);

    m_offsite = new QCheckBox("Copy every alarm off-site with rclone (SFTP, WebDAV, S3, cloud stores)", tab);
    m_offsite->setObjectName("offsite");
    layout->addWidget(m_offsite);
    m_offsiteGroup = new QGroupBox(tab);
    auto* offsite = new QGridLayout(m_offsiteGroup);
    m_offsiteRemote = new QLineEdit(m_offsiteGroup);
    m_offsiteRemote->setObjectName("offsiteRemote");
    m_offsiteRemote->setPlaceholderText("remote:folder, as rclone names it");
    m_offsiteConfig = new QLineEdit(m_offsiteGroup);
    m_offsiteConfig->setObjectName("offsiteConfig");
    m_offsiteConfig->setPlaceholderText("rclone's own (~/.config/rclone/rclone.conf)");
    offsite->addWidget(label("Remote:", m_offsiteGroup), 0, 0);
    offsite->addWidget(m_offsiteRemote, 0, 1);
    offsite->addWidget(label("rclone configuration:", m_offsiteGroup), 1, 0);
    offsite->addWidget(m_offsiteConfig, 1, 1);
    offsite->setColumnStretch(1, 1);
    layout->addWidget(m_offsiteGroup);

    m_web = new QCheckBox("Serve a web view for phones and browsers (HTTPS, with a login)", tab);
    m_web->setObjectName("web");
    layout->addWidget(m_web);
    m_webGroup = new QGroupBox(tab);
    auto* web = new QGridLayout(m_webGroup);
    m_webPort = new IntegerSpin(1, 65535, m_webGroup);
    m_webPort->setObjectName("webPort");
    m_webRate = new IntegerSpin(1, 10, m_webGroup);
    m_webRate->setObjectName("webRate");
    m_webRate->setSuffix(" /s");
    m_webUser = new QLineEdit(m_webGroup);
    m_webUser->setObjectName("webUser");
    m_webUser->setPlaceholderText("add or change a user");
    m_webPassword = new QLineEdit(m_webGroup);
    m_webPassword->setObjectName("webPassword");
    m_webPassword->setEchoMode(QLineEdit::Password);
    m_webFingerprint = new QLabel(m_webGroup);
    m_webFingerprint->setObjectName("webFingerprint");
    m_webFingerprint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_webFingerprint->setWordWrap(true);
    web->addWidget(label("Port:", m_webGroup), 0, 0);
    web->addWidget(m_webPort, 0, 1);
    web->addWidget(label("Live picture:", m_webGroup), 0, 2);
    web->addWidget(m_webRate, 0, 3);
    web->addWidget(label("User:", m_webGroup), 1, 0);
    web->addWidget(m_webUser, 1, 1);
    web->addWidget(label("Password:", m_webGroup), 1, 2);
    web->addWidget(m_webPassword, 1, 3);
    m_webCert = new QLineEdit(m_webGroup);
    m_webCert->setObjectName("webCert");
    m_webCert->setPlaceholderText("one of Gardivo's own, made once and kept");
    m_webKey = new QLineEdit(m_webGroup);
    m_webKey->setObjectName("webKey");
    m_webKey->setPlaceholderText("the certificate's key (PEM)");
    web->addWidget(label("Certificate:", m_webGroup), 2, 0);
    web->addWidget(m_webCert, 2, 1, 1, 3);
    web->addWidget(label("Key:", m_webGroup), 3, 0);
    web->addWidget(m_webKey, 3, 1, 1, 3);
    web->addWidget(m_webFingerprint, 4, 0, 1, 4);
    web->setColumnStretch(1, 1);
    web->setColumnStretch(3, 1);
    layout->addWidget(m_webGroup);
    layout->addStretch(1);

    for (QCheckBox* box : {m_mqtt, m_mqttTls, m_offsite, m_web})
        connect(box, &QCheckBox::toggled, this, [this] { applyEnableRules(); });
    connect(m_web, &QCheckBox::toggled, this, [this](bool on) {
        if (on && !m_loading)
            showWebFingerprint();
    });
    // The usual port follows TLS, unless the user chose another.
    connect(m_mqttTls, &QCheckBox::toggled, this, [this](bool tls) {
        if (m_loading)
            return;
        if (tls && m_mqttPort->value() == ConnectionOptions::kMqttPort)
            m_mqttPort->setValue(ConnectionOptions::kMqttTlsPort);
        else if (!tls && m_mqttPort->value() == ConnectionOptions::kMqttTlsPort)
            m_mqttPort->setValue(ConnectionOptions::kMqttPort);
    });
}

void SettingsForm::loadConnectionControls() {
    const ConnectionOptions& o = m_store->connectionOptions();
    m_mqtt->setChecked(o.mqtt);
    m_mqttHost->setText(QString::fromStdString(o.mqttHost));
    m_mqttPort->setValue(o.mqttPort);
    m_mqttTls->setChecked(o.mqttTls);
    m_mqttCaFile->setText(QString::fromStdString(o.mqttCaFile));
    m_mqttUser->setText(QString::fromStdString(o.mqttUser));
    m_mqttPassword->setText(QString::fromStdString(o.mqttPassword));
    m_mqttPlainPassword->setChecked(o.mqttPlainPassword);
    m_mqttName->setText(QString::fromStdString(o.mqttName));
    m_mqttDiscovery->setChecked(o.mqttDiscovery);
    m_mqttCommands->setChecked(o.mqttCommands);
    m_offsite->setChecked(o.offsite);
    m_offsiteRemote->setText(QString::fromStdString(o.offsiteRemote));
    m_offsiteConfig->setText(QString::fromStdString(o.offsiteConfig));
    m_web->setChecked(o.web);
    m_webPort->setValue(o.webPort);
    m_webRate->setValue(o.webFrameRate);
    m_webCert->setText(QString::fromStdString(o.webCertFile));
    m_webKey->setText(QString::fromStdString(o.webKeyFile));
    m_webUser->clear();
    m_webPassword->clear();
    showWebFingerprint();
}

std::string SettingsForm::webAccountsFile() const {
    return m_store->places().settings + "web-users";
}

void SettingsForm::showWebFingerprint() {
    const auto users = WebAccounts(webAccountsFile()).names();
    std::string shown = users.empty() ? "No users yet." : "Users:";
    for (size_t i = 0; i < users.size(); ++i)
        shown += (i ? ", " : " ") + users[i];
    // The certificate the web view shows phones, made now if it is ours and not yet there, so
    // that its fingerprint can be compared on the phone the first time.
    std::string cert = text(m_webCert);
    if (cert.empty() && m_web->isChecked()) {
        cert = m_store->places().state + "web/certificate.pem";
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        ensureSelfSignedCertificate(cert, m_store->places().state + "web/key.pem", host);
    }
    const std::string fingerprint = cert.empty() ? std::string() : certificateFingerprint(cert);
    if (!fingerprint.empty())
        shown += "\nCertificate SHA-256: " + fingerprint;
    m_webFingerprint->setText(QString::fromStdString(shown));
}

ConnectionOptions SettingsForm::connectionControls() const {
    ConnectionOptions o;
    o.mqtt = m_mqtt->isChecked();
    o.mqttHost = text(m_mqttHost);
    o.mqttPort = m_mqttPort->value();
    o.mqttTls = m_mqttTls->isChecked();
    o.mqttCaFile = text(m_mqttCaFile);
    o.mqttUser = text(m_mqttUser);
    o.mqttPassword = text(m_mqttPassword);
    o.mqttPlainPassword = m_mqttPlainPassword->isChecked();
    o.mqttName = text(m_mqttName);
    o.mqttDiscovery = m_mqttDiscovery->isChecked();
    o.mqttCommands = m_mqttCommands->isChecked();
    o.offsite = m_offsite->isChecked();
    o.offsiteRemote = text(m_offsiteRemote);
    o.offsiteConfig = text(m_offsiteConfig);
    o.web = m_web->isChecked();
    o.webPort = m_webPort->value();
    o.webFrameRate = m_webRate->value();
    o.webCertFile = text(m_webCert);
    o.webKeyFile = text(m_webKey);
    return o;
}

void SettingsForm::applyConnectionEnableRules() {
    m_mqttGroup->setEnabled(m_mqtt->isChecked());
    m_mqttCaFile->setEnabled(m_mqttTls->isChecked());
    m_mqttPlainPassword->setEnabled(!m_mqttTls->isChecked());
    m_offsiteGroup->setEnabled(m_offsite->isChecked());
    m_webGroup->setEnabled(m_web->isChecked());
}

bool SettingsForm::checkConnections() {
    if (m_mqtt->isChecked()) {
        if (m_mqttHost->text().trimmed().isEmpty()) {
            fail("Please fill in the MQTT broker's host name or address...", m_mqttHost);
            return false;
        }
        if (m_mqttTls->isChecked() && !m_mqttCaFile->text().isEmpty() &&
            !QFileInfo(m_mqttCaFile->text()).isFile()) {
            fail("The certificate authority file does not exist, please fill another one...", m_mqttCaFile);
            return false;
        }
        if (!m_mqttUser->text().isEmpty() && !m_mqttTls->isChecked() && !m_mqttPlainPassword->isChecked()) {
            fail("The MQTT password would be sent unencrypted: turn on TLS, or allow it for a network you "
                 "trust...",
                 m_mqttTls);
            return false;
        }
    }
    if (m_offsite->isChecked() && !m_offsiteRemote->text().contains(':')) {
        fail("Please fill in the rclone remote, such as backup:gardivo...", m_offsiteRemote);
        return false;
    }
    if (m_offsite->isChecked() && !m_offsiteConfig->text().isEmpty() &&
        !QFileInfo(m_offsiteConfig->text()).isFile()) {
        fail("The rclone configuration file does not exist, please fill another one...", m_offsiteConfig);
        return false;
    }
    if (m_web->isChecked()) {
        const bool typed = !m_webUser->text().isEmpty() || !m_webPassword->text().isEmpty();
        if (!typed && WebAccounts(webAccountsFile()).names().empty()) {
            fail("The web view needs a user: please fill in a user name and a password...", m_webUser);
            return false;
        }
        if (typed && m_webUser->text().isEmpty()) {
            fail("Please fill in the web user's name...", m_webUser);
            return false;
        }
        if (m_webCert->text().isEmpty() != m_webKey->text().isEmpty()) {
            fail("Please fill in both the certificate and its key, or neither...",
                 m_webCert->text().isEmpty() ? m_webCert : m_webKey);
            return false;
        }
        for (QLineEdit* file : {m_webCert, m_webKey})
            if (!file->text().isEmpty() && !QFileInfo(file->text()).isFile()) {
                fail("The certificate or key file does not exist, please fill another one...", file);
                return false;
            }
        if (typed && m_webPassword->text().toUtf8().size() < 8) {
            fail("The web user's password needs at least 8 characters...", m_webPassword);
            return false;
        }
    }
    return true;
}

bool SettingsForm::saveWebUser() {
    if (!m_web->isChecked() || m_webUser->text().isEmpty())
        return true;
    std::string why;
    if (!WebAccounts(webAccountsFile())
             .setPassword(text(m_webUser), m_webPassword->text().toStdString(), &why)) {
        fail(("The web user cannot be kept: " + why + "...").c_str(), m_webUser);
        return false;
    }
    return true;
}

} // namespace gardivo
