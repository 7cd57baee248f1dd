#include "ShellReporter.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

namespace gardivo {

ShellReporter::ShellReporter() = default;
ShellReporter::~ShellReporter() = default;

QMessageBox* ShellReporter::makeBox(const Message& message) {
    auto* box = new QMessageBox;
    box->setWindowTitle(QString::fromStdString(message.caption));
    box->setText(QString::fromStdString(message.text));
    switch (message.icon) {
    case MessageIcon::Error:
        box->setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::Warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Information:
        box->setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Question:
        box->setIcon(QMessageBox::Question);
        break;
    case MessageIcon::None:
        break;
    }
    switch (message.buttons) {
    case MessageButtons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case MessageButtons::YesNoCancel:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case MessageButtons::RetryCancel:
        box->setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    if (message.topmost)
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return box;
}

MessageAnswer ShellReporter::show(const Message& message) {
    if (message.buttons == MessageButtons::Ok) {
        QMetaObject::invokeMethod(
            &m_context,
            [this, message] {
                QMessageBox* box = makeBox(message);
                box->setAttribute(Qt::WA_DeleteOnClose);
                if (onBox)
                    onBox(*box);
                box->open();
            },
            Qt::QueuedConnection);
        return MessageAnswer::Ok;
    }
    if (m_ending)
        return defaultAnswer(message.buttons);
    if (QThread::currentThread() == m_context.thread())
        return ask(message);
    MessageAnswer answer = defaultAnswer(message.buttons);
    QMetaObject::invokeMethod(
        &m_context, [&] { answer = m_ending ? defaultAnswer(message.buttons) : ask(message); },
        Qt::BlockingQueuedConnection);
    return answer;
}

MessageAnswer ShellReporter::ask(const Message& message) {
    std::unique_ptr<QMessageBox> box(makeBox(message));
    if (onBox)
        onBox(*box);
    switch (box->exec()) {
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Retry:
        return MessageAnswer::Retry;
    default:
        return MessageAnswer::Ok;
    }
}

} // namespace gardivo
