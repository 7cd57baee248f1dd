#include "SmtpDialog.h"

#include "platform/Base64.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace gardivo {

SmtpDialog::SmtpDialog(RegistryStore& registry, Reporter& reporter, QWidget* parent)
    : QDialog(parent), m_registry(registry), m_reporter(reporter) {
    setObjectName("SmtpDialog");
    setWindowTitle("SMTP Server Setup");
    setFixedSize(342, 294);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Outgoing Mail Server:", this));
    m_server = new QLineEdit(this);
    m_server->setObjectName("server");
    layout->addWidget(m_server);
    auto* hint = new QLabel("Please fill in the IP address or the domain name of the server,\n"
                            "e.g. 192.168.0.1 or smtp.example.com",
                            this);
    hint->setEnabled(false);
    layout->addWidget(hint);
    m_authentication = new QCheckBox("My server require authentication", this);
    m_authentication->setObjectName("authentication");
    layout->addWidget(m_authentication);
    m_group = new QGroupBox(this);
    auto* grid = new QGridLayout(m_group);
    m_userLabel = new QLabel("User ID:", m_group);
    m_passwordLabel = new QLabel("Password:", m_group);
    m_user = new QLineEdit(m_group);
    m_user->setObjectName("user");
    m_password = new QLineEdit(m_group);
    m_password->setObjectName("password");
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setMaxLength(kPasswordLength);
    m_password->setToolTip(QStringLiteral("At most %1 characters").arg(kPasswordLength));
    m_remember = new QCheckBox("Remeber password", m_group);
    m_remember->setObjectName("remember");
    grid->addWidget(m_userLabel, 0, 0);
    grid->addWidget(m_user, 0, 1);
    grid->addWidget(m_passwordLabel, 1, 0);
    grid->addWidget(m_password, 1, 1);
    grid->addWidget(m_remember, 2, 1);
    layout->addWidget(m_group);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (pressOk())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_authentication, &QCheckBox::clicked, this, [this] { applyEnableRule(); });
    load();
}

void SmtpDialog::load() {
    const auto text = [this](const char* name) {
        const auto value = m_registry.queryValue(RegistryRoot::LocalMachine, kKey, name);
        return value ? QString::fromStdString(value->text()) : QString();
    };
    m_server->setText(text("SMTP Server Name"));
    m_user->setText(text("User ID"));
    QString password;
    if (const auto stored = m_registry.queryValue(RegistryRoot::LocalMachine, kKey, "Password")) {
        std::string encoded(stored->data.begin(), stored->data.end());
        if (encoded.size() > 256)
            encoded.resize(256);
        if (const auto decoded = base64Decode(encoded))
            password = QString::fromStdString(*decoded);
    }
    m_password->setText(password);
    m_authentication->setChecked(!m_user->text().isEmpty());
    // A first setup remembers the password: alerts are sent when nobody is there to type it.
    const auto prompt = m_registry.queryValue(RegistryRoot::LocalMachine, kKey, "Prompt for Password");
    m_remember->setChecked(!prompt || prompt->dwordValue().value_or(1) == 0);
    applyEnableRule();
}

void SmtpDialog::store() {
    // Without authentication there is no login: no user the mailer would log in as, and no
    // password kept for nothing. A password the user does not want remembered is not kept either.
    const bool login = m_authentication->isChecked();
    const bool keep = login && m_remember->isChecked();
    const std::string encoded = keep ? base64Encode(m_password->text().toStdString()) : std::string();
    m_registry.update(RegistryRoot::LocalMachine, [&](RegistryHive& hive) {
        hive.setValue(kKey, "SMTP Server Name", RegistryValue::string(m_server->text().toStdString()));
        hive.setValue(kKey, "User ID",
                      RegistryValue::string(login ? m_user->text().toStdString() : std::string()));
        hive.setValue(kKey, "Password",
                      RegistryValue::binary(std::vector<uint8_t>(encoded.begin(), encoded.end())));
        hive.setValue(kKey, "Prompt for Password", RegistryValue::dword(m_remember->isChecked() ? 0 : 1));
    });
}

bool SmtpDialog::pressOk() {
    const size_t bytes = m_password->text().toUtf8().size();
    if (m_authentication->isChecked() && bytes > static_cast<size_t>(kPasswordLength)) {
        m_reporter.show({"The password is too long to be kept: at most " + std::to_string(kPasswordLength) +
                             " bytes, and this one takes " + std::to_string(bytes) +
                             " (letters beyond English take two to four bytes each).",
                         "SMTP Server Setup", MessageIcon::Warning, MessageButtons::Ok, false});
        m_password->setFocus();
        return false;
    }
    store();
    if (const std::string problem = automaticLoginProblem(m_registry); !problem.empty())
        m_reporter.show({problem, "SMTP Server Setup", MessageIcon::Information, MessageButtons::Ok, false});
    return true;
}

std::string SmtpDialog::automaticLoginProblem(const RegistryStore& registry) {
    const auto value = [&](const char* name) {
        return registry.queryValue(RegistryRoot::LocalMachine, kKey, name);
    };
    const auto server = value("SMTP Server Name");
    const auto user = value("User ID");
    if (!server || server->text().empty() || !user || user->text().empty())
        return {};
    const auto prompt = value("Prompt for Password");
    const auto password = value("Password");
    if ((prompt && prompt->dwordValue().value_or(0) == 1) || !password || password->data.empty())
        return "The password of " + user->text() +
               " is not remembered, so the e-mail sent at an alarm cannot log in to " + server->text() +
               " and will not go out; only mail sent by hand from the Tracing Box, which asks for the "
               "password, "
               "will. Check \"Remeber password\" for alerts at every alarm.";
    return {};
}

void SmtpDialog::applyEnableRule() {
    const bool on = m_authentication->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_group, m_userLabel, m_passwordLabel, m_user,
                                                      m_password, m_remember})
        w->setEnabled(on);
}

} // namespace gardivo
