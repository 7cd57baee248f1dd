#pragma once

// "SMTP Server Setup": the outgoing mail server, the user and the password (Base64) under
// HKEY_LOCAL_MACHINE "SOFTWARE\Tavrin\Gardivo\Email". Only OK writes; Cancel leaves the values.

#include "platform/RegistryStore.h"
#include "platform/Reporter.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace gardivo {

class SmtpDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kKey = "SOFTWARE\\Tavrin\\Gardivo\\Email";
    // 189 bytes encode to 252, within the 255 the value may hold and the 256 its readers take.
    // The box counts letters; a password of letters beyond English is checked by its bytes at OK.
    static constexpr int kPasswordLength = 189;

    SmtpDialog(RegistryStore& registry, Reporter& reporter, QWidget* parent = nullptr);

    // Reads the values into the controls (as the dialog does when it opens).
    void load();
    // Writes the controls into the registry.
    void store();
    // OK: a password too long to be kept is refused and the dialog stays; otherwise the values
    // are stored, and when alerts sent at an alarm could not log in the user is told why.
    bool pressOk();
    // Why e-mail alerts sent at an alarm (no one there to type a password) cannot log in to the
    // configured server, or "" when they can.
    static std::string automaticLoginProblem(const RegistryStore& registry);

    QLineEdit* server() const { return m_server; }
    QCheckBox* authentication() const { return m_authentication; }
    QLineEdit* user() const { return m_user; }
    QLineEdit* password() const { return m_password; }
    QCheckBox* remember() const { return m_remember; }

private:
    void applyEnableRule();

    RegistryStore& m_registry;
    Reporter& m_reporter;
    QLineEdit* m_server;
    QCheckBox* m_authentication;
    QGroupBox* m_group;
    QLabel* m_userLabel;
    QLabel* m_passwordLabel;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QCheckBox* m_remember;
};

} // namespace gardivo
