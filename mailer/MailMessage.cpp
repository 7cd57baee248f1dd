#include "MailMessage.h"

#include "platform/Base64.h"

#include <cstdio>
#include <fstream>

namespace gardivo {

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

void ensureCrLf(std::string& s) {
    if (s.size() < 2 || s.compare(s.size() - 2, 2, kCrLf) != 0)
        s += kCrLf;
}

class TextPlainWriter final : public MimePartWriter {
public:
    void append(std::string& body, const MimePart& part, const MimeMessage& message) const override {
        body += "Content-Type: text/plain" + part.parameters + "\r\n";
        body += "Content-Transfer-Encoding: 7Bit\r\n";
        body += kCrLf;
        body += wrapText(part.content, message.wrapWidth());
    }
};

class OctetStreamWriter final : public MimePartWriter {
public:
    void append(std::string& body, const MimePart& part, const MimeMessage&) const override {
        std::ifstream file(part.content, std::ios::binary);
        if (!file.is_open())
            return; // the boundary line stays: an empty part
        const auto slash = part.content.find_last_of('/');
        const std::string name = slash == std::string::npos ? part.content : part.content.substr(slash + 1);
        body += "Content-Type: application/octet-stream; file=" + name + "\r\n";
        body += "Content-Transfer-Encoding: base64\r\n";
        body += "Content-Disposition: attachment; filename=" + name + "\r\n";
        body += kCrLf;
        uint8_t chunk[54];
        for (;;) {
            file.read(reinterpret_cast<char*>(chunk), sizeof chunk);
            const auto got = static_cast<size_t>(file.gcount());
            body += base64Encode(std::string_view(reinterpret_cast<const char*>(chunk), got));
            body += kCrLf;
            if (got != sizeof chunk)
                break;
        }
        body += kCrLf;
    }
};

} // namespace

std::string wrapText(std::string_view text, size_t width) {
    std::string out;
    size_t lineStart = 0;                 // where the current line begins in out
    size_t lastSpace = std::string::npos; // the line's last space, kept as we go: a long line
                                          // without one must not be searched again for each character
    for (char c : text) {
        out += c;
        if (c == ' ')
            lastSpace = out.size() - 1;
        if (c == '\n' && out.size() >= 2 && out[out.size() - 2] == '\r') {
            lineStart = out.size();
            lastSpace = std::string::npos;
            continue;
        }
        if (out.size() - lineStart <= width)
            continue;
        const size_t space = lastSpace;
        if (space == std::string::npos)
            continue; // no space on this line: it stays whole
        std::string_view before(out.data() + lineStart, space - lineStart);
        while (!before.empty() && isSpace(before.back()))
            before.remove_suffix(1);
        std::string_view after(out.data() + space, out.size() - space);
        while (!after.empty() && isSpace(after.front()))
            after.remove_prefix(1);
        std::string rebuilt = std::string(before) + "\r\n" + std::string(after);
        out.replace(lineStart, out.size() - lineStart, rebuilt);
        lineStart += before.size() + 2;
        // What follows the break begins after the line's last space.
        lastSpace = std::string::npos;
    }
    return out;
}

std::string dotStuff(std::string_view body) {
    // Every line that starts with a dot gets a second one, which the receiving server takes off
    // again (RFC 5321, 4.5.2); a lone "." would end the message early, and a line like ".net"
    // would lose its dot.
    std::string out;
    out.reserve(body.size() + 16);
    bool lineStart = true;
    for (size_t i = 0; i < body.size(); ++i) {
        if (lineStart && body[i] == '.')
            out += '.';
        out += body[i];
        lineStart = body[i] == '\n' && i > 0 && body[i - 1] == '\r';
    }
    return out;
}

bool MailMessage::AddRecipients(std::string_view text, int kind) {
    if (kind < 0 || kind > 2)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t semicolon = text.find(';', start);
        const std::string_view item = text.substr(
            start, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - start);
        const size_t open = item.find('<');
        if (open != std::string_view::npos) {
            const size_t close = item.find('>', open + 1);
            if (close == std::string_view::npos)
                return false;
            m_recipients[kind].push_back(
                {std::string(item.substr(open + 1, close - open - 1)), std::string(item.substr(0, open))});
        } else {
            m_recipients[kind].push_back({std::string(item), {}});
        }
        if (semicolon == std::string_view::npos)
            return true;
        start = semicolon + 1;
    }
}

size_t MailMessage::recipientCount(int kind) const {
    return kind >= 0 && kind <= 2 ? m_recipients[kind].size() : 0;
}

const Recipient& MailMessage::recipient(int kind, size_t index) const {
    return m_recipients[kind].at(index);
}

std::string MailMessage::recipientList(int kind) const {
    std::string list;
    for (const auto& r : m_recipients[kind]) {
        if (!list.empty())
            list += ',';
        list += r.name + "<" + r.address + ">";
    }
    return list;
}

void MailMessage::addHeaderLine(std::string_view line) {
    m_header += line;
    m_header += kCrLf;
}

void MailMessage::PrepareHeader() {
    addHeaderLine("From: " + From);
    addHeaderLine("To: " + recipientList(RecipientTo));
    addHeaderLine("Cc: " + recipientList(RecipientCc));
    const std::time_t now = m_fixedTime ? *m_fixedTime : std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    // Mail readers expect English names here, whatever the user's locale.
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char zone[16];
    std::strftime(zone, sizeof zone, "%Z", &local);
    char date[128];
    std::snprintf(date, sizeof date, "%s, %02d %s %02d %02d:%02d:%02d %s", kDays[local.tm_wday % 7],
                  local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year % 100, local.tm_hour, local.tm_min,
                  local.tm_sec, zone);
    addHeaderLine(std::string("Date: ") + date);
    addHeaderLine("Subject: " + Subject);
    addHeaderLine(std::string("X-Mailer: ") + kMailer);
}

void MailMessage::FormatMessage() {
    m_header.clear();
    PrepareHeader();
    m_header += kCrLf;
    PrepareBody();
}

MimePartWriterRegistry& MimePartWriterRegistry::instance() {
    static MimePartWriterRegistry registry;
    return registry;
}

void MimePartWriterRegistry::registerWriter(int kind, std::unique_ptr<MimePartWriter> writer) {
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_writers)
        if (entry.first == kind)
            return;
    m_writers.emplace_back(kind, std::move(writer));
}

const MimePartWriter* MimePartWriterRegistry::writer(int kind) const {
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_writers)
        if (entry.first == kind)
            return entry.second.get();
    return nullptr;
}

MimeMessage::MimeMessage() {
    auto& registry = MimePartWriterRegistry::instance();
    registry.registerWriter(TextPlainPart, std::make_unique<TextPlainWriter>());
    registry.registerWriter(OctetStreamPart, std::make_unique<OctetStreamWriter>());
}

void MimeMessage::AddMimePart(std::string_view content, int kind, std::string_view parameters, int encoding,
                              bool isPath) {
    MimePart part{std::string(trim(content)), kind, std::string(parameters), encoding, isPath};
    if (kind == TextPlainPart)
        m_parts.insert(m_parts.begin(), std::move(part));
    else
        m_parts.push_back(std::move(part));
}

void MimeMessage::PrepareHeader() {
    MailMessage::PrepareHeader();
    addHeaderLine("MIME-Version: 1.0");
    addHeaderLine(std::string("Content-Type: ") + kContentType + "; boundary=" + kBoundary);
}

void MimeMessage::PrepareBody() {
    if (!Body.empty())
        AddMimePart(Body, TextPlainPart, "", 0, false);
    Body = std::string(kPreamble) + "\r\n\r\n";
    const auto& registry = MimePartWriterRegistry::instance();
    for (const auto& part : m_parts) {
        const MimePartWriter* writer = registry.writer(part.kind);
        if (!writer)
            continue;
        ensureCrLf(Body);
        Body += std::string("--") + kBoundary + "\r\n";
        writer->append(Body, part, *this);
    }
    ensureCrLf(Body);
    Body += std::string("--") + kBoundary + "--\r\n";
    ensureCrLf(Body);
}

} // namespace gardivo
