#pragma once

#include "NotificationRun.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QLabel;

namespace gardivo {

// The mail form. In automatic mode it attaches the evidence, sends once and quits by itself;
// otherwise the user edits, attaches and sends as often as wanted.
class EmailDialog final : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kTitle = "Tavrin Gardivo  -  EMail Sender";

    EmailDialog(NotificationRun& run, Reporter& reporter, QWidget* parent = nullptr);

    // 0 after a successful automatic send, 1 after any other automatic outcome; 0 in
    // interactive mode.
    int exitCode() const { return m_exitCode; }

    QLineEdit* serverEdit() const { return m_server; }
    QLineEdit* fromEdit() const { return m_from; }
    QLineEdit* toEdit() const { return m_to; }
    QLineEdit* ccEdit() const { return m_cc; }
    QLineEdit* bccEdit() const { return m_bcc; }
    QLineEdit* subjectEdit() const { return m_subject; }
    QPlainTextEdit* bodyEdit() const { return m_body; }
    QListWidget* attachmentList() const { return m_attachments; }
    QPushButton* sendButton() const { return m_send; }
    QPushButton* quitButton() const { return m_quit; }
    // The alarm's bitmap as a PNG or JPEG picture for the mail (any thread).
    static bool writePicture(const std::string& bitmap, const std::string& target, int format);

public slots:
    void attachFiles();
    void send();
    void quit();
    void showAbout();

protected:
    // Esc and the close box send, as the form always did.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    MailFields readFields() const;

    NotificationRun& m_run;
    Reporter& m_reporter;
    QLineEdit* m_server;
    QLineEdit* m_from;
    QLineEdit* m_to;
    QLineEdit* m_cc;
    QLabel* m_bccLabel;
    QLineEdit* m_bcc;
    QLineEdit* m_subject;
    QPlainTextEdit* m_body;
    QListWidget* m_attachments;
    QPushButton* m_attach;
    QPushButton* m_send;
    QPushButton* m_quit;
    QPushButton* m_about;
    bool m_quitting = false;
    bool m_sending = false;        // a send runs beside the form
    bool m_closeAfterSend = false; // the form was closed during it
    int m_exitCode = 0;
};

} // namespace gardivo
