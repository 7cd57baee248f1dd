#include "SmtpConnection.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace gardivo {

namespace {

struct ReplyRow {
    int code;
    const char* failure;
};

constexpr ReplyRow kReplies[] = {
    {250, "SMTP server error..."},
    {220, "SMTP server not available..."},
    {354, "SMTP server not ready for data..."},
    {221, "SMTP server didn't terminate session..."},
};

// A reply larger than this is no SMTP reply; the session is given up.
constexpr size_t kMaxReplyBytes = 64 * 1024;

// Milliseconds left until the deadline, at least 0.
int remaining(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Connects within the time-out; the socket is left blocking.
bool connectWithin(int fd, const sockaddr* address, socklen_t length, std::chrono::milliseconds timeout) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, address, length);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        rc = ::poll(&p, 1, static_cast<int>(timeout.count()));
        if (rc == 1) {
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            rc = error == 0 ? 0 : -1;
        } else {
            rc = -1;
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return rc == 0;
}

// True when the text ends with the last line of a reply: "ddd " or "ddd" then CRLF; lines of
// the form "ddd-" announce more lines.
bool replyComplete(const std::string& text) {
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return false;
    const size_t lineStart = text.rfind("\r\n", text.size() - 3);
    const size_t begin = lineStart == std::string::npos ? 0 : lineStart + 2;
    return text.size() - begin < 6 || text[begin + 3] != '-';
}

} // namespace

SmtpConnection::SmtpConnection(std::string server, int port) : m_server(std::move(server)), m_port(port) {}

SmtpConnection::~SmtpConnection() {
    if (m_connected)
        Disconnect();
    closeSocket();
}

void SmtpConnection::closeSocket() {
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

bool SmtpConnection::sendText(std::string_view text) {
    // A server that stops reading must not hold the program for ever: each part of the text has
    // to be taken within the reply time-out.
    while (!text.empty()) {
        const ssize_t n = ::send(m_socket, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            text.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_socket, POLLOUT, 0};
            int ready;
            do
                ready = ::poll(&p, 1, static_cast<int>(m_replyTimeout.count()));
            while (ready < 0 && errno == EINTR);
            if (ready == 1 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                continue;
        }
        m_lastError = "Socket Error!";
        return false;
    }
    return true;
}

bool SmtpConnection::readReply(std::string& reply) {
    reply.clear();
    const auto deadline = std::chrono::steady_clock::now() + m_replyTimeout;
    char buffer[1024];
    while (!replyComplete(reply)) {
        pollfd p{m_socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, remaining(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || reply.size() + static_cast<size_t>(n) > kMaxReplyBytes)
            return false;
        reply.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool SmtpConnection::CheckReply(int step) {
    if (!readReply(m_reply)) {
        m_lastError = "Socket Error!";
        return false;
    }
    // The code is the reply's first three characters read as a number (the reply is at least
    // "ddd" CRLF long once it is complete).
    const int code = std::atoi(m_reply.substr(0, 3).c_str());
    if (code == kReplies[step].code)
        return true;
    char text[128];
    std::snprintf(text, sizeof text, "%d:%s", code, kReplies[step].failure);
    m_lastError = text;
    return false;
}

bool SmtpConnection::Connect() {
    if (m_connected)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(m_port);
    if (::getaddrinfo(m_server.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        m_lastError = "Unable to connect to Mail server...";
        return false;
    }
    bool created = false;
    for (addrinfo* a = found; a && m_socket < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        created = true;
        if (connectWithin(fd, a->ai_addr, a->ai_addrlen, m_connectTimeout))
            m_socket = fd;
        else
            ::close(fd);
    }
    ::freeaddrinfo(found);
    if (m_socket < 0) {
        m_lastError = created ? "Unable to connect to Mail server..." : "Unable to create the socket...";
        return false;
    }
    if (!CheckReply(StepGreeting)) {
        m_lastError = "Server didn't respond...";
        closeSocket();
        return false;
    }
    char host[81] = {};
    ::gethostname(host, sizeof host - 1);
    if (!sendText(std::string("HELO ") + host + "\r\n") || !CheckReply(StepOk)) {
        closeSocket();
        return false;
    }
    m_connected = true;
    return true;
}

bool SmtpConnection::SendMessage(MimeMessage& message) {
    if (!m_connected) {
        m_lastError = "Mail Server must be connected....";
        return false;
    }
    if (message.recipientCount(RecipientTo) == 0) {
        m_lastError = "No Recipients....";
        return false;
    }
    message.FormatMessage();
    if (!sendText("MAIL From: <" + message.From + ">\r\n") || !CheckReply(StepOk))
        return false;
    for (int kind : {RecipientTo, RecipientCc, RecipientBcc}) {
        for (size_t i = 0; i < message.recipientCount(kind); ++i) {
            if (!sendText("RCPT TO: <" + message.recipient(kind, i).address + ">\r\n"))
                return false;
            // A refused recipient does not stop the send; only a dead connection does.
            if (!readReply(m_reply)) {
                m_lastError = "Socket Error!";
                return false;
            }
        }
    }
    if (!sendText("DATA\r\n") || !CheckReply(StepData))
        return false;
    if (!sendText(message.header()) || !sendText(dotStuff(message.Body)) || !sendText("\r\n.\r\n"))
        return false;
    return CheckReply(StepOk);
}

bool SmtpConnection::Disconnect() {
    if (!m_connected)
        return true;
    const bool ok = sendText("QUIT\r\n") && CheckReply(StepQuit);
    closeSocket();
    m_connected = false;
    return ok;
}

} // namespace gardivo
