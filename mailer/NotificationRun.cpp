#include "NotificationRun.h"

#include "MailMessage.h"
#include "SmtpConnection.h"
#include "platform/FileProbes.h"
#include "settings/SettingsLimits.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netdb.h>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace gardivo {

NotificationRun::NotificationRun(SettingsStore& store, Reporter& reporter,
                                 const std::vector<std::string>& arguments)
    : m_store(store), m_reporter(reporter), m_logPath(store.places().state + kLogName) {
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

std::string NotificationRun::senderAtThisHost(const std::string& user) {
    std::string local = user;
    if (local.empty()) {
        if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
            local = pw->pw_name;
    }
    if (local.empty())
        local = "gardivo";
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        std::snprintf(host, sizeof host, "localhost");
    return local + "@" + host;
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
    // A mail that waited for an earlier one is handed its own alarm's evidence.
    if (m_autoMode) {
        if (const char* image = std::getenv(SettingsStore::kAttachedImageVariable))
            m_imageAttachment = image;
        if (const char* video = std::getenv(SettingsStore::kAttachedVideoVariable))
            m_videoAttachment = video;
    }
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
    m_server = MailServer::fromRegistry(m_store.registry());

    std::error_code ec;
    std::filesystem::create_directories(parentDirectory(m_logPath), ec);
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

    Attempt attempt;
    for (size_t round = 0;; ++round) {
        attempt =
            m_server.configured() ? attemptThroughServer(message, fields) : attemptDirect(message, fields);
        // A temporary failure may pass: tried again after 30 seconds, then after 2 minutes.
        if (attempt.sent || !attempt.temporary || round >= m_retryDelays.size())
            break;
        if (onRetry)
            onRetry(m_retryDelays[round]);
        if (m_wait)
            m_wait(m_retryDelays[round]);
        else
            std::this_thread::sleep_for(m_retryDelays[round]);
    }
    if (!attempt.sent && !attempt.reason.empty())
        writeReasonLog(attempt.reason);
    writeLog(attempt.sent ? 100 : 102);
    lastError = attempt.lastError;
    return attempt.sent;
}

NotificationRun::Attempt NotificationRun::attemptThroughServer(MimeMessage& message,
                                                               const MailFields& fields) {
    Attempt attempt;
    if (m_server.malformed) {
        attempt.lastError = "Unable to connect to Mail server...";
        attempt.reason = "the mail server set in the setup wizard is not a host name or host:port";
        return attempt;
    }
    SmtpSecurity security;
    security.extended = true;
    security.implicitTls = m_server.port == SmtpConnection::kImplicitTlsPort;
    security.user = m_server.user;
    security.password = m_server.password;
    security.checkRecipients = true;
    if (!m_server.user.empty() && m_server.promptForPassword) {
        if (!fields.password) {
            attempt.lastError = "Authentication Error!";
            attempt.reason =
                "the mail server's password is asked for each mail, and an automatic run cannot ask";
            return attempt;
        }
        security.password = *fields.password;
    }
    // The server sends for its own user: the mail comes from that address unless the form
    // names one.
    if (message.From.find('@') == std::string::npos && m_server.user.find('@') != std::string::npos)
        message.From = m_server.user;
    // A bare IP address is no sender a provider takes: the user's name (or the login's) at this
    // machine's host name instead.
    if (message.From.find('@') == std::string::npos)
        message.From = senderAtThisHost(m_server.user);
    SmtpConnection connection(m_server.host, m_server.port, security);
    connection.setTimeouts(m_connectTimeout, m_replyTimeout);
    // Through a configured server the user is told what failed: the connection, TLS or the login.
    if (connection.Connect())
        attempt.sent = connection.SendMessage(message);
    attempt.lastError = connection.GetLastError();
    attempt.temporary = connection.failure() == SmtpConnection::Failure::Temporary;
    attempt.reason = connection.reason();
    if (!attempt.sent && attempt.reason.empty())
        attempt.reason = "the mail server " + m_server.host + " answered " + attempt.lastError;
    connection.Disconnect();
    return attempt;
}

NotificationRun::Attempt NotificationRun::attemptDirect(MimeMessage& message, const MailFields& fields) {
    Attempt attempt;
    // The recipient domain's mail exchangers in their order, then the domain itself; a host that
    // cannot be reached gives way to the next.
    const std::vector<std::string> hosts = deliveryHosts(fields.server, m_mxLookup);
    for (size_t i = 0; i < hosts.size(); ++i) {
        SmtpConnection connection(hosts[i], m_smtpPort);
        connection.setTimeouts(m_connectTimeout, m_replyTimeout);
        const bool connected =
            connection.Connect(); // a failed connect shows as "Mail Server must be connected...."
        const bool unreachable = connection.GetLastError() == "Unable to connect to Mail server..." ||
                                 connection.GetLastError() == "Unable to create the socket...";
        if (!connected && unreachable && i + 1 < hosts.size())
            continue;
        attempt.sent = connection.SendMessage(message);
        attempt.lastError = connection.GetLastError();
        attempt.temporary = connection.failure() == SmtpConnection::Failure::Temporary;
        attempt.reason = connection.reason();
        connection.Disconnect();
        return attempt;
    }
    attempt.lastError = "Mail Server must be connected....";
    attempt.temporary = true;
    return attempt;
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

std::chrono::milliseconds NotificationRun::copyWait() const {
    // A clip without a time limit (or one that lasts while a target is traced) is waited for ten
    // minutes at most.
    const int limit = limits::RecordTimeLimit.clamp(m_store.settings().RecordTimeLimit);
    const int clipSeconds = limit > 0 ? std::min(limit, 600) : 600;
    return std::chrono::seconds(clipSeconds) + m_copyTime;
}

std::vector<std::string> NotificationRun::evidenceForMail(std::vector<std::string> attachments,
                                                          const PictureWriter& writePicture) {
    if (!m_autoMode)
        return attachments;
    const EvidenceOptions& options = m_store.evidenceOptions();
    const auto endsWith = [](const std::string& s, const char* end) {
        const size_t n = std::strlen(end);
        return s.size() > n && s.compare(s.size() - n, n, end) == 0;
    };
    for (auto& path : attachments) {
        if (path.empty())
            continue;
        if (path == m_imageAttachment && endsWith(path, ".bmp") && writePicture &&
            options.mailPictureFormat != EvidenceOptions::Bitmap) {
            const int format = limits::MailPictureFormat.clamp(options.mailPictureFormat);
            const std::string picture =
                evidenceSibling(path, format == EvidenceOptions::Png ? ".png" : ".jpg");
            if (writePicture(path, picture, format))
                path = picture;
            else
                writeEvidenceLog("The picture " + path + " cannot be written as " + picture +
                                 "; it goes as it is");
        } else if (path == m_videoAttachment && endsWith(path, ".avi") && options.playableCopies &&
                   options.mailPlayableCopy && FileExists(path)) {
            const auto deadline = std::chrono::steady_clock::now() + copyWait();
            // A copy is on its way while the clip is still written or its copy is being made;
            // once neither has moved for a while (no copier, no encoder), none will come.
            const auto quiet = [&] {
                namespace fs = std::filesystem;
                fs::file_time_type newest = fs::file_time_type::min();
                for (const std::string& f :
                     {path, evidenceSibling(path, ".mp4.part"), evidenceSibling(path, ".webm.part")}) {
                    std::error_code ec;
                    const auto t = fs::last_write_time(f, ec);
                    if (!ec)
                        newest = std::max(newest, t);
                }
                return fs::file_time_type::clock::now() - newest > m_copyIdle;
            };
            std::string copy = existingPlayableCopy(path);
            while (copy.empty() && std::chrono::steady_clock::now() < deadline && !quiet()) {
                std::this_thread::sleep_for(m_copyPoll);
                copy = existingPlayableCopy(path);
            }
            if (!copy.empty())
                path = copy;
            else
                writeEvidenceLog("The playable copy of " + path + " did not come; the clip goes as it is");
        }
    }
    return attachments;
}

void NotificationRun::writeEvidenceLog(const std::string& text) {
    if (!m_log)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    std::fprintf(m_log, "EMail Log: %s (%04d/%02d/%02d %02d:%02d:%02d)\n", text.c_str(), t.tm_year + 1900,
                 t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::fflush(m_log);
}

void NotificationRun::writeAttachmentLog(const std::string& path, const char* reason) {
    writeEvidenceLog("Attached file cannot be read: " + path + ": " + reason);
}

void NotificationRun::writeReasonLog(const std::string& reason) {
    writeEvidenceLog(reason + ".");
}

void NotificationRun::closeLog() {
    if (m_log)
        std::fclose(m_log);
    m_log = nullptr;
}

} // namespace gardivo
