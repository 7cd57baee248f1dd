#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gardivo {

enum RecipientKind { RecipientTo = 0, RecipientCc = 1, RecipientBcc = 2 };

struct Recipient {
    std::string address;
    std::string name;
};

// A plain mail: sender, subject, body and three recipient lists; FormatMessage() turns it into
// the header and body texts sent after DATA.
class MailMessage {
public:
    static constexpr const char* kMailer = "DE Zozo";
    static constexpr size_t kWrapWidth = 76;

    virtual ~MailMessage() = default;

    std::string From;
    std::string Subject;
    std::string Body;

    // Adds every ';'-separated recipient of text to the list; false at an item with a '<' but no
    // '>' after it (the items before it stay added).
    bool AddRecipients(std::string_view text, int kind);
    size_t recipientCount(int kind) const;
    const Recipient& recipient(int kind, size_t index) const;

    void FormatMessage();
    const std::string& header() const { return m_header; }
    size_t wrapWidth() const { return kWrapWidth; }

    // Tests fix the Date header's time; otherwise it is the time FormatMessage() runs.
    void setFixedTime(std::time_t when) { m_fixedTime = when; }

protected:
    virtual void PrepareHeader();
    virtual void PrepareBody() {}
    void addHeaderLine(std::string_view line);

    std::string m_header;

private:
    std::string recipientList(int kind) const;

    std::vector<Recipient> m_recipients[3];
    std::optional<std::time_t> m_fixedTime;
};

enum MimePartKind { TextPlainPart = 0, OctetStreamPart = 1 };

struct MimePart {
    std::string content; // text, or a file path
    int kind = TextPlainPart;
    std::string parameters;
    int encoding = 0;
    bool isPath = false;
};

class MimeMessage;

// Writes one kind of part into a message body after its boundary line.
class MimePartWriter {
public:
    virtual ~MimePartWriter() = default;
    virtual void append(std::string& body, const MimePart& part, const MimeMessage& message) const = 0;
};

// The process-wide writers by part kind.
class MimePartWriterRegistry {
public:
    static MimePartWriterRegistry& instance();
    // Registers a writer for the kind unless one is there already.
    void registerWriter(int kind, std::unique_ptr<MimePartWriter> writer);
    const MimePartWriter* writer(int kind) const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<int, std::unique_ptr<MimePartWriter>>> m_writers;
};

// A multipart/mixed mail: the text body first, then the attachments in base64.
class MimeMessage : public MailMessage {
public:
    static constexpr const char* kContentType = "multipart/mixed";
    static constexpr const char* kBoundary = "KM_MAIL_PaRt_BoUnDaRy_05151998";
    static constexpr const char* kPreamble = "This is a multi-part message in MIME format.";

    MimeMessage();

    // Text parts go to the front, everything else to the back; content is trimmed.
    void AddMimePart(std::string_view content, int kind, std::string_view parameters, int encoding,
                     bool isPath);
    const std::vector<MimePart>& parts() const { return m_parts; }

protected:
    void PrepareHeader() override;
    void PrepareBody() override;

private:
    std::vector<MimePart> m_parts;
};

// Wraps text at width as the text/plain writer does.
std::string wrapText(std::string_view text, size_t width);
// The DATA text made safe to send: a dot that starts a line is doubled.
std::string dotStuff(std::string_view body);

} // namespace gardivo
