#pragma once

#include "MailMessage.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace gardivo {

// How a session is secured. The direct path to a recipient's mail exchanger uses none of it (the
// plain HELO dialogue of old); a configured mail server gets EHLO, TLS and authentication.
struct SmtpSecurity {
    // Speak EHLO and use what the server offers (STARTTLS, AUTH).
    bool extended = false;
    // TLS from the first byte (port 465).
    bool implicitTls = false;
    // Log in with these when the user is not empty; never over a connection without TLS.
    std::string user;
    std::string password;
    // A recipient the server refuses fails the send.
    bool checkRecipients = false;
};

// One SMTP session: connect and greet, send one message, quit. Every failure leaves its text in
// GetLastError() and says whether trying again later may help.
class SmtpConnection {
public:
    static constexpr int kDefaultPort = 25;
    static constexpr int kImplicitTlsPort = 465;

    enum class Failure { None, Temporary, Permanent };

    explicit SmtpConnection(std::string server, int port = kDefaultPort, SmtpSecurity security = {});
    ~SmtpConnection();
    SmtpConnection(const SmtpConnection&) = delete;
    SmtpConnection& operator=(const SmtpConnection&) = delete;

    // A silent server would otherwise hold the program forever.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds reply) {
        m_connectTimeout = connect;
        m_replyTimeout = reply;
    }

    bool Connect();
    bool SendMessage(MimeMessage& message);
    bool Disconnect();
    const std::string& GetLastError() const { return m_lastError; }
    bool isConnected() const { return m_connected; }

    // What the last failure was: no connection, a time-out or a 4xx reply is temporary; a 5xx
    // reply, a refused certificate or login is permanent.
    Failure failure() const { return m_failure; }
    // Why the session failed, in words for the log ("the server's certificate ..."); empty when
    // the reply code says it all.
    const std::string& reason() const { return m_reason; }
    bool isEncrypted() const;
    // The extensions the server offered after EHLO (upper case keywords).
    const std::vector<std::string>& extensions() const { return m_extensions; }

private:
    class Transport;
    enum ReplyStep { StepOk = 0, StepGreeting = 1, StepData = 2, StepQuit = 3 };

    bool CheckReply(int step);
    // Reads one whole reply, multi-line ones included; false on a socket error or time-out.
    bool readReply(std::string& reply);
    bool sendText(std::string_view text);
    // A command and its reply; the reply's code, or -1 when the connection failed.
    int command(std::string_view text);
    bool greetExtended();
    bool startTls();
    bool authenticate();
    void fail(std::string text, Failure kind, std::string reason = {});
    void failOnCode(int code, const char* text);
    void closeSocket();
    bool offers(std::string_view keyword, std::string_view argument = {}) const;

    std::string m_server;
    int m_port;
    SmtpSecurity m_security;
    bool m_connected = false;
    std::string m_lastError = "OK";
    std::string m_reason;
    Failure m_failure = Failure::None;
    std::string m_reply;
    std::vector<std::string> m_extensions;
    std::unique_ptr<Transport> m_transport;
    std::chrono::milliseconds m_connectTimeout{30000};
    std::chrono::milliseconds m_replyTimeout{60000};
};

} // namespace gardivo
