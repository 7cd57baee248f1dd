#pragma once

#include "platform/Reporter.h"

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

} // namespace gardivo
