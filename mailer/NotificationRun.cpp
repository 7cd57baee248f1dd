#include "NotificationRun.h"

#include "MailMessage.h"
#include "SmtpConnection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <unistd.h>

namespace gardivo {

NotificationRun::NotificationRun(SettingsStore& store, Reporter& reporter,
                                 const std::vector<std::string>& arguments)
    : m_store(store), m_reporter(reporter), m_logPath(joinPath(store.programDirectory(), kLogName)) {
    // The first argument that is not a switch selects automatic mode.
    for (const auto& arg : arguments) {
        if (!arg.empty() && (arg[0] == '/' || arg[0] == '-'))
            continue;
        if (!arg.empty()) {
            m_autoMode = true;
            m_runArgument = std::strtol(arg.c_str(), nullptr, 10);
        }
        break;
    }
}

NotificationRun::~NotificationRun() {
    closeLog();
}

std::string NotificationRun::serverFromAddress(const std::string& address) {
    const auto at = address.find('@');
    return at == std::string::npos ? address : address.substr(at + 1);
}

std::string NotificationRun::localAddress() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return {};
    char dotted[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &in->sin_addr, dotted, sizeof dotted) != nullptr;
    ::freeaddrinfo(found);
    return ok ? dotted : "";
}

bool NotificationRun::start(std::time_t now) {
    const bool registryOk = m_store.registry().update(m_store.registryRoot(), [&](RegistryHive& hive) {
        hive.createKey(SettingsStore::kKeyPath);
        if (auto v = hive.value(SettingsStore::kKeyPath, "AttachedImageFileName"))
            m_imageAttachment = v->text();
        if (auto v = hive.value(SettingsStore::kKeyPath, "AttachedVideoFileName"))
            m_videoAttachment = v->text();
    });
    if (!registryOk)
        m_reporter.show({"Opening registry key failed...", Reporter::kCaption, MessageIcon::Error,
                         MessageButtons::Ok, true});

    std::tm local{};
    ::localtime_r(&now, &local);
    char date[96];
    std::snprintf(date, sizeof date, "  Date:%d/%d/%d   Time:%d:%d:%d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    m_bodyText = fieldText(m_store.settings().EmailBody) + date;
    m_fromAddress = localAddress();

    m_log = std::fopen(m_logPath.c_str(), "a");
    if (!m_log) {
        show("Error write log file....");
        return false;
    }
    return true;
}

MailFields NotificationRun::initialFields() const {
    MailFields f;
    f.to = fieldText(m_store.settings().EmailAddress);
    f.server = serverFromAddress(f.to);
    f.from = m_fromAddress;
    f.cc = fieldText(m_store.settings().EmailCc);
    f.subject = kSubject;
    f.body = m_bodyText;
    return f;
}

void NotificationRun::show(const std::string& text) {
    m_reporter.show({text, kAppName, MessageIcon::None, MessageButtons::Ok, false});
}

bool NotificationRun::checkFields(const MailFields& fields) {
    if (fields.to.empty())
        show("Please fill -to- field");
    else if (fields.subject.empty())
        show("Please fill -subject- field");
    else if (fields.body.empty())
        show("Please write something for sending..");
    else if (fields.server.empty())
        show("Please fill server field..");
    else
        return true;
    return false;
}

bool NotificationRun::send(const MailFields& fields, std::string& lastError) {
    MimeMessage message;
    message.From = fields.from;
    message.Subject = fields.subject;
    message.Body = fields.body;
    message.AddRecipients(fields.to, RecipientTo);
    if (!fields.cc.empty())
        message.AddRecipients(fields.cc, RecipientCc);
    if (!fields.bcc.empty())
        message.AddRecipients(fields.bcc, RecipientBcc);
    for (const auto& path : fields.attachments) {
        message.AddMimePart(path, OctetStreamPart, "", 4, true);
        // The mail still goes, with an empty part in its place, but not without a word.
        if (!path.empty()) {
            std::FILE* file = std::fopen(path.c_str(), "rb");
            if (file)
                std::fclose(file);
            else
                writeAttachmentLog(path, std::strerror(errno));
        }
    }

    SmtpConnection connection(fields.server, m_smtpPort);
    connection.setTimeouts(m_connectTimeout, m_replyTimeout);
    connection.Connect(); // a failed connect shows up as "Mail Server must be connected...."
    const bool sent = connection.SendMessage(message);
    writeLog(sent ? 100 : 102);
    lastError = connection.GetLastError();
    connection.Disconnect();
    return sent;
}

void NotificationRun::writeLog(int code) {
    if (!m_log)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    const char* format = code == 100
                             ? "EMail Log: Warning EMail sending OK. (%04d/%02d/%02d %02d:%02d:%02d)\n"
                             : "EMail Log: EMail Address or Server or network error, EMail sending "
                               "failed... (%04d/%02d/%02d %02d:%02d:%02d)\n";
    std::fprintf(m_log, format, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::fflush(m_log);
}

void NotificationRun::writeAttachmentLog(const std::string& path, const char* reason) {
    if (!m_log)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    std::fprintf(m_log, "EMail Log: Attached file cannot be read: %s: %s (%04d/%02d/%02d %02d:%02d:%02d)\n",
                 path.c_str(), reason, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                 t.tm_sec);
    std::fflush(m_log);
}

void NotificationRun::closeLog() {
    if (m_log)
        std::fclose(m_log);
    m_log = nullptr;
}

} // namespace gardivo
