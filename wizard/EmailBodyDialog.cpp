#include "EmailBodyDialog.h"

#include "settings/WatchdogSettings.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace gardivo {

EmailBodyDialog::EmailBodyDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("EmailBodyDialog");
    setWindowTitle("Setup - E-Mail Body");
    resize(420, 300);
    auto* layout = new QVBoxLayout(this);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName("body");
    layout->addWidget(m_text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void EmailBodyDialog::setBody(const std::string& body) {
    m_text->clear();
    QString text = QString::fromStdString(body);
    text.replace("\r\n", "\n");
    m_text->setPlainText(text);
}

std::string EmailBodyDialog::body() const {
    // Every line ends in CR LF, the last one too; a text that ends in a line break already has
    // it, so that opening and closing the dialog gives back the body it was given.
    QString text = m_text->toPlainText();
    text.replace("\n", "\r\n");
    if (!text.endsWith("\r\n"))
        text += "\r\n";
    std::string out = text.toStdString();
    // Cut at a character boundary: the record holds UTF-8.
    out.resize(utf8FittingLength(out, kLength));
    return out;
}

} // namespace gardivo
