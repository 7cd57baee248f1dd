#pragma once

#include "MailMessage.h"

#include <chrono>
#include <string>

namespace gardivo {

// One SMTP session: connect and greet, send one message, quit. Every failure leaves its text in
// GetLastError().
class SmtpConnection {
public:
    static constexpr int kDefaultPort = 25;

    explicit SmtpConnection(std::string server, int port = kDefaultPort);
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

private:
    enum ReplyStep { StepOk = 0, StepGreeting = 1, StepData = 2, StepQuit = 3 };

    bool CheckReply(int step);
    // Reads one whole reply, multi-line ones included; false on a socket error or time-out.
    bool readReply(std::string& reply);
    bool sendText(std::string_view text);
    void closeSocket();

    std::string m_server;
    int m_port;
    bool m_connected = false;
    std::string m_lastError = "OK";
    std::string m_reply;
    int m_socket = -1;
    std::chrono::milliseconds m_connectTimeout{30000};
    std::chrono::milliseconds m_replyTimeout{60000};
};

} // namespace gardivo
