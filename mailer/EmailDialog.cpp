#include "EmailDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <thread>

namespace gardivo {

namespace {

// The form edits text with bare line feeds; mail lines end in CRLF.
std::string withCrLf(const QString& text) {
    std::string out;
    const std::string in = text.toStdString();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r'))
            out += '\r';
        out += in[i];
    }
    return out;
}

} // namespace

EmailDialog::EmailDialog(NotificationRun& run, Reporter& reporter, QWidget* parent)
    : QDialog(parent), m_run(run), m_reporter(reporter) {
    setWindowTitle(kTitle);
    QFont font("Arial");
    font.setPointSize(8);
    setFont(font);

    auto* grid = new QGridLayout;
    int row = 0;
    auto addField = [&](const char* label, QWidget* field) {
        auto* l = new QLabel(label);
        l->setBuddy(field);
        grid->addWidget(l, row, 0, Qt::AlignRight | Qt::AlignTop);
        grid->addWidget(field, row, 1);
        ++row;
        return l;
    };
    m_server = new QLineEdit;
    m_from = new QLineEdit;
    m_to = new QLineEdit;
    m_cc = new QLineEdit;
    m_bcc = new QLineEdit;
    m_subject = new QLineEdit;
    m_body = new QPlainTextEdit;
    m_body->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_body->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    addField("SMTP Server :", m_server);
    addField("From:", m_from);
    addField("To:", m_to);
    addField("CC:", m_cc);
    m_bccLabel = addField("BCC:", m_bcc);
    m_bccLabel->hide();
    m_bcc->hide();
    addField("Subject:", m_subject);
    addField("Body :", m_body);

    m_attach = new QPushButton("Attach File");
    m_attach->setAutoDefault(false);
    m_attachments = new QListWidget;
    m_attachments->setSortingEnabled(true);
    m_attachments->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_attachments->setMaximumHeight(80);
    grid->addWidget(m_attach, row, 0, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(m_attachments, row, 1);
    ++row;

    m_send = new QPushButton("Send");
    m_send->setDefault(true);
    m_quit = new QPushButton("Quit");
    m_quit->setAutoDefault(false);
    // Where the window manager offers no window menu to put "About" in, a button holds it.
    m_about = new QPushButton("&About EMail...");
    m_about->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_about);
    buttons->addStretch();
    buttons->addWidget(m_send);
    buttons->addWidget(m_quit);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    resize(420, 420);

    connect(m_attach, &QPushButton::clicked, this, &EmailDialog::attachFiles);
    connect(m_send, &QPushButton::clicked, this, &EmailDialog::send);
    connect(m_quit, &QPushButton::clicked, this, &EmailDialog::quit);
    connect(m_about, &QPushButton::clicked, this, &EmailDialog::showAbout);

    const MailFields fields = m_run.initialFields();
    m_server->setText(QString::fromStdString(fields.server));
    m_from->setText(QString::fromStdString(fields.from));
    m_to->setText(QString::fromStdString(fields.to));
    m_cc->setText(QString::fromStdString(fields.cc));
    m_subject->setText(QString::fromStdString(fields.subject));
    m_body->setPlainText(QString::fromStdString(fields.body));

    if (m_run.autoMode()) {
        m_exitCode = 1; // until a send succeeds
        attachFiles();
        QTimer::singleShot(0, this, &EmailDialog::send);
    }
}

bool EmailDialog::writePicture(const std::string& bitmap, const std::string& target, int format) {
    QImage picture;
    if (!picture.load(QString::fromStdString(bitmap), "BMP"))
        return false;
    // Written under another name first: a mail never takes a picture half written.
    const QString part = QString::fromStdString(target + ".part");
    const bool png = format == EvidenceOptions::Png;
    if (!picture.save(part, png ? "PNG" : "JPG", png ? -1 : 90))
        return false;
    return std::rename(part.toStdString().c_str(), target.c_str()) == 0;
}

void EmailDialog::attachFiles() {
    if (m_run.autoMode()) {
        m_attachments->addItem(QString::fromStdString(m_run.imageAttachment()));
        m_attachments->addItem(QString::fromStdString(m_run.videoAttachment()));
        return;
    }
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly, true);
    if (dialog.exec() == QDialog::Accepted)
        m_attachments->addItems(dialog.selectedFiles());
}

MailFields EmailDialog::readFields() const {
    MailFields f;
    f.server = m_server->text().toStdString();
    f.from = m_from->text().toStdString();
    f.to = m_to->text().toStdString();
    f.cc = m_cc->text().toStdString();
    f.bcc = m_bcc->text().toStdString();
    f.subject = m_subject->text().toStdString();
    f.body = withCrLf(m_body->toPlainText());
    for (int i = 0; i < m_attachments->count(); ++i)
        f.attachments.push_back(m_attachments->item(i)->text().toStdString());
    return f;
}

void EmailDialog::send() {
    // One send at a time: the form keeps handling events while a send runs, and a second one
    // would go beside the first (and, against a working server, send the mail twice).
    if (m_sending)
        return;
    setWindowTitle("Sending EMail, Please wait...");
    const MailFields fields = readFields();
    if (!m_run.checkFields(fields))
        return;
    MailFields mail = fields;
    if (m_run.needsPassword() && !m_run.autoMode()) {
        // The wizard keeps no password for this server: the user gives it for each mail.
        bool given = false;
        const QString password =
            QInputDialog::getText(this, "SMTP Server Setup",
                                  "Password for " + QString::fromStdString(m_run.mailServer().user) + ":",
                                  QLineEdit::Password, QString(), &given);
        if (!given) {
            setWindowTitle(NotificationRun::kAppName);
            return;
        }
        mail.password = password.toStdString();
    }
    showMinimized();
    QApplication::processEvents();
    // A server that is away is tried again minutes later: the send runs beside the form, which
    // stays drawn and says when it tries again.
    std::string lastError;
    bool sent = false;
    m_run.onRetry = [this](std::chrono::seconds wait) {
        QMetaObject::invokeMethod(this, [this, wait] {
            setWindowTitle(
                QStringLiteral("Sending EMail failed, trying again in %1 seconds...").arg(wait.count()));
        });
    };
    setEnabled(false);
    m_sending = true;
    QEventLoop waiting;
    if (m_run.autoMode())
        setWindowTitle("Preparing the evidence, Please wait...");
    std::thread sender([&] {
        // The evidence as the settings want it mailed; the clip's copy may take a while.
        mail.attachments = m_run.evidenceForMail(mail.attachments, writePicture);
        QMetaObject::invokeMethod(this, [this] { setWindowTitle("Sending EMail, Please wait..."); });
        sent = m_run.send(mail, lastError);
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    waiting.exec();
    sender.join();
    m_sending = false;
    m_run.onRetry = nullptr;
    setEnabled(true);
    if (!m_run.autoMode()) {
        showNormal();
        if (sent) {
            m_reporter.show({"Warning EMail is sent completely...", NotificationRun::kAppName,
                             MessageIcon::None, MessageButtons::Ok, false});
            for (QLineEdit* edit : {m_to, m_cc, m_bcc, m_subject})
                edit->clear();
            m_body->clear();
        } else {
            m_reporter.show(
                {lastError, NotificationRun::kAppName, MessageIcon::None, MessageButtons::Ok, false});
        }
    }
    m_attachments->clear();
    showNormal();
    setWindowTitle(NotificationRun::kAppName);
    if (m_run.autoMode()) {
        m_exitCode = sent ? 0 : 1;
        QTimer::singleShot(0, this, &EmailDialog::quit);
    } else if (m_closeAfterSend) {
        // The form was closed while the mail went out: now that it has, the form closes.
        QTimer::singleShot(0, this, &EmailDialog::quit);
    }
}

void EmailDialog::quit() {
    m_run.closeLog();
    m_quitting = true;
    done(QDialog::Accepted);
}

void EmailDialog::showAbout() {
    QMessageBox about(this);
    about.setWindowTitle("About Tavrin Gardivo EMail Sender");
    about.setIcon(QMessageBox::Information);
    about.setText("Tavrin Gardivo EMail Sender");
    about.setStandardButtons(QMessageBox::Ok);
    about.exec();
}

void EmailDialog::reject() {
    if (m_sending) {
        m_closeAfterSend = true;
        return;
    }
    send();
}

void EmailDialog::closeEvent(QCloseEvent* event) {
    if (m_quitting) {
        event->accept();
        return;
    }
    event->ignore();
    // Closed while a send runs: the form waits for it and then closes, and nothing is sent again.
    if (m_sending) {
        m_closeAfterSend = true;
        return;
    }
    send();
}

} // namespace gardivo
