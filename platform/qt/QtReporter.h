#pragma once

#include "platform/Reporter.h"

class QMessageBox;
class QWidget;

namespace gardivo {

// Message boxes on the desktop. Must be called on the GUI thread.
class QtReporter final : public Reporter {
public:
    explicit QtReporter(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    MessageAnswer show(const Message& message) override;

private:
    QWidget* m_parent;
};

// The caption, text, icon, buttons and stay-on-top flag of a message, on a box of the caller's.
void prepareMessageBox(QMessageBox& box, const Message& message);
// The answer a closed box gave: the button clicked, or the way out when it was closed without one.
MessageAnswer answerOfMessageBox(const QMessageBox& box, MessageButtons buttons);
// The answer that starts nothing: No or Cancel where the box has them.
MessageAnswer wayOutOf(MessageButtons buttons);

} // namespace gardivo
