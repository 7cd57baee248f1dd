#pragma once

#include "MailRoute.h"
#include "platform/Reporter.h"
#include "settings/SettingsStore.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

class MimeMessage;

// The seven fields of the mail form and its attachment list.
struct MailFields {
    std::string server;
    std::string from;
    std::string to;
    std::string cc;
    std::string bcc;
    std::string subject;
    std::string body;
    std::vector<std::string> attachments;
    // The mail server's password when the wizard says to ask for it each time.
    std::optional<std::string> password;
};

// What the email program does apart from its window: reads the settings and the evidence paths,
// fills the form, checks it, sends the mail and logs the outcome.
class NotificationRun {
public:
    static constexpr const char* kAppName = "Tavrin Gardivo - EMail Notification";
    static constexpr const char* kSubject = "Tavrin Gardivo Warning....";
    static constexpr const char* kLogName = "Email.Log";

    NotificationRun(SettingsStore& store, Reporter& reporter, const std::vector<std::string>& arguments);
    ~NotificationRun();
    NotificationRun(const NotificationRun&) = delete;
    NotificationRun& operator=(const NotificationRun&) = delete;

    // Reads the evidence paths and opens the log; false (after saying so) when the log cannot be
    // opened, and the program ends.
    bool start(std::time_t now = std::time(nullptr));

    bool autoMode() const { return m_autoMode; }
    long runArgument() const { return m_runArgument; }
    const std::string& logPath() const { return m_logPath; }
    const std::string& imageAttachment() const { return m_imageAttachment; }
    const std::string& videoAttachment() const { return m_videoAttachment; }
    // The form as it is first shown.
    MailFields initialFields() const;

    // Writes the bitmap as a PNG or a JPEG picture (EvidenceOptions::PictureFormat).
    using PictureWriter =
        std::function<bool(const std::string& bitmap, const std::string& target, int format)>;
    // The alarm's evidence as the evidence settings want it mailed, in an automatic run: the
    // picture as PNG or JPEG beside the bitmap, and the clip's playable copy, waited for while
    // the clip is recorded and copied (up to copyWait(), and only while the clip or its copy is
    // being written). What cannot be had goes as it is.
    std::vector<std::string> evidenceForMail(std::vector<std::string> attachments,
                                             const PictureWriter& writePicture);
    // The longest wait for a clip's copy: the clip's time limit and two minutes to copy it.
    std::chrono::milliseconds copyWait() const;
    // Tests look for the copy more often and give it less time.
    void setCopyPoll(std::chrono::milliseconds poll) { m_copyPoll = poll; }
    void setCopyTime(std::chrono::milliseconds time) { m_copyTime = time; }
    void setCopyIdle(std::chrono::milliseconds idle) { m_copyIdle = idle; }

    // The form's checks, in order; the first failure is shown and false returned.
    bool checkFields(const MailFields& fields);
    // One send: builds the mail, talks to the server (a temporary failure is tried again after
    // 30 seconds and after 2 minutes), writes the log line. The error text is the connection's
    // last error when the send failed.
    bool send(const MailFields& fields, std::string& lastError);
    // The configured mail server, when the wizard set one.
    const MailServer& mailServer() const { return m_server; }
    // Whether the interactive form must ask for the server's password before sending.
    bool needsPassword() const {
        return m_server.configured() && !m_server.user.empty() && m_server.promptForPassword;
    }
    void closeLog();

    // Tests talk to a scripted server on another port and with a short patience, look mail
    // exchangers up in a table, and do not wait between tries.
    void setSmtpPort(int port) { m_smtpPort = port; }
    void setMxLookup(MxLookup lookup) { m_mxLookup = std::move(lookup); }
    void setRetryDelays(std::vector<std::chrono::seconds> delays) { m_retryDelays = std::move(delays); }
    void setWait(std::function<void(std::chrono::seconds)> wait) { m_wait = std::move(wait); }
    void setMailServer(MailServer server) { m_server = std::move(server); }
    // Told before each wait between tries (for the form's title).
    std::function<void(std::chrono::seconds)> onRetry;
    void setSmtpTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds reply) {
        m_connectTimeout = connect;
        m_replyTimeout = reply;
    }

    // The local address in dotted form, "" when it cannot be found.
    static std::string localAddress();
    // The part of an address after its first '@', or the whole address.
    static std::string serverFromAddress(const std::string& address);
    // The sender when no address with a domain is known: user (else the login's name) at this
    // machine's host name.
    static std::string senderAtThisHost(const std::string& user);

private:
    struct Attempt {
        bool sent = false;
        bool temporary = false;
        std::string lastError;
        std::string reason;
    };
    Attempt attemptThroughServer(MimeMessage& message, const MailFields& fields);
    Attempt attemptDirect(MimeMessage& message, const MailFields& fields);
    void show(const std::string& text);
    void writeReasonLog(const std::string& reason);
    void writeLog(int code);
    // An attachment that cannot be opened goes into the log before the mail is sent.
    void writeAttachmentLog(const std::string& path, const char* reason);
    // One line "EMail Log: TEXT (date)".
    void writeEvidenceLog(const std::string& text);

    SettingsStore& m_store;
    Reporter& m_reporter;
    bool m_autoMode = false;
    long m_runArgument = 0;
    std::string m_logPath;
    std::FILE* m_log = nullptr;
    std::string m_imageAttachment;
    std::string m_videoAttachment;
    std::string m_bodyText;
    std::string m_fromAddress;
    int m_smtpPort = 25;
    MailServer m_server;
    MxLookup m_mxLookup = lookupMx;
    std::vector<std::chrono::seconds> m_retryDelays{std::chrono::seconds(30), std::chrono::seconds(120)};
    std::function<void(std::chrono::seconds)> m_wait;
    std::chrono::milliseconds m_connectTimeout{30000};
    std::chrono::milliseconds m_replyTimeout{60000};
    std::chrono::milliseconds m_copyPoll{250};
    std::chrono::milliseconds m_copyTime{120000}; // to make a copy, beyond the clip's own time
    // Neither the clip nor a copy of it written for this long: no copy is coming.
    std::chrono::milliseconds m_copyIdle{15000};
};

} // namespace gardivo
