#pragma once

// "Setup - E-Mail Body": the text of the alert mail, kept in the record's EmailBody (259
// characters, each line ending in CR LF). The record is written by the settings form's OK.

#include <QDialog>

#include <string>

class QPlainTextEdit;

namespace gardivo {

class EmailBodyDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr size_t kLength = 259;

    explicit EmailBodyDialog(QWidget* parent = nullptr);
    void setBody(const std::string& body);
    // The box's text with every line ending in CR LF, cut to 259 characters.
    std::string body() const;
    QPlainTextEdit* editor() const { return m_text; }

private:
    QPlainTextEdit* m_text;
};

} // namespace gardivo
