#include "QtReporter.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <cstdio>

namespace gardivo {

void prepareMessageBox(QMessageBox& box, const Message& message) {
    box.setWindowTitle(QString::fromStdString(message.caption));
    box.setText(QString::fromStdString(message.text));
    switch (message.icon) {
    case MessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageIcon::None:
        break;
    }
    switch (message.buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case MessageButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case MessageButtons::RetryCancel:
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    if (message.topmost)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

MessageAnswer wayOutOf(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    default:
        return MessageAnswer::Cancel;
    }
}

MessageAnswer answerOfMessageBox(const QMessageBox& box, MessageButtons buttons) {
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Retry:
        return MessageAnswer::Retry;
    default:
        return wayOutOf(buttons);
    }
}

MessageAnswer QtReporter::show(const Message& message) {
    // Scripted runs (the tests of an installed copy): GARDIVO_ANSWER=yes or no answers every box
    // at once, and what it said goes to standard error.
    if (const QByteArray scripted = qgetenv("GARDIVO_ANSWER"); !scripted.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", message.caption.c_str(), message.text.c_str());
        if (message.buttons == MessageButtons::YesNo)
            return scripted == "yes" ? MessageAnswer::Yes : MessageAnswer::No;
        return defaultAnswer(message.buttons);
    }
    QMessageBox box(m_parent);
    prepareMessageBox(box, message);
    box.exec();
    return answerOfMessageBox(box, message.buttons);
}

} // namespace gardivo
