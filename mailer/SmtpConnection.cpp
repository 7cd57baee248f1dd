#include "SmtpConnection.h"

#include "MailRoute.h"

#include "platform/Base64.h"
#include "platform/TextCase.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

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

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, at least 0.
int remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for the socket to become readable or writable; false on a time-out or an error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, remaining(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready == 1 && !(p.revents & POLLNVAL);
    }
}

// Connects within the time-out; the socket is left non-blocking.
bool connectWithin(int fd, const sockaddr* address, socklen_t length, std::chrono::milliseconds timeout) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    int rc = ::connect(fd, address, length);
    if (rc != 0 && errno == EINPROGRESS) {
        if (waitFor(fd, POLLOUT, Clock::now() + timeout)) {
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            rc = error == 0 ? 0 : -1;
        } else {
            rc = -1;
        }
    }
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

// The name this machine greets the server with.
std::string localHostName() {
    char host[81] = {};
    ::gethostname(host, sizeof host - 1);
    return host;
}

// A 4xx reply may pass when tried again; anything else will not.
SmtpConnection::Failure failureOfCode(int code) {
    return code >= 400 && code < 500 ? SmtpConnection::Failure::Temporary
                                     : SmtpConnection::Failure::Permanent;
}

std::string openSslError() {
    const unsigned long code = ::ERR_get_error();
    if (code == 0)
        return "the connection was closed";
    char text[256];
    ::ERR_error_string_n(code, text, sizeof text);
    return text;
}

} // namespace

// The connection under the dialogue: a socket, with TLS over it once it is started.
class SmtpConnection::Transport {
public:
    explicit Transport(int fd) : m_fd(fd) {}
    ~Transport() {
        if (m_ssl)
            ::SSL_free(m_ssl);
        if (m_context)
            ::SSL_CTX_free(m_context);
        ::close(m_fd);
    }
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    bool encrypted() const { return m_ssl != nullptr; }

    // The handshake, with the server's certificate checked against the system's trust store
    // (SSL_CERT_FILE and SSL_CERT_DIR add to it) and the host name. why says what went wrong;
    // certificateRefused tells a bad certificate from a broken connection.
    bool startTls(const std::string& host, Clock::time_point deadline, std::string& why,
                  bool& certificateRefused) {
        certificateRefused = false;
        ::ERR_clear_error();
        m_context = ::SSL_CTX_new(::TLS_client_method());
        if (!m_context) {
            why = "TLS cannot be set up: " + openSslError();
            return false;
        }
        ::SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
        ::SSL_CTX_set_default_verify_paths(m_context);
        ::SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
        m_ssl = ::SSL_new(m_context);
        if (!m_ssl || ::SSL_set_fd(m_ssl, m_fd) != 1) {
            why = "TLS cannot be set up: " + openSslError();
            return false;
        }
        if (isIpAddress(host)) {
            ::X509_VERIFY_PARAM_set1_ip_asc(::SSL_get0_param(m_ssl), host.c_str());
        } else {
            ::SSL_set_tlsext_host_name(m_ssl, host.c_str());
            ::SSL_set1_host(m_ssl, host.c_str());
        }
        for (;;) {
            const int rc = ::SSL_connect(m_ssl);
            if (rc == 1)
                return true;
            const int error = ::SSL_get_error(m_ssl, rc);
            if ((error == SSL_ERROR_WANT_READ && waitFor(m_fd, POLLIN, deadline)) ||
                (error == SSL_ERROR_WANT_WRITE && waitFor(m_fd, POLLOUT, deadline)))
                continue;
            const long verify = ::SSL_get_verify_result(m_ssl);
            if (verify != X509_V_OK) {
                certificateRefused = true;
                why = std::string("the server's certificate was not accepted: ") +
                      ::X509_verify_cert_error_string(verify);
            } else if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                why = "the TLS handshake timed out";
            } else {
                why = "the TLS handshake failed: " + openSslError();
            }
            return false;
        }
    }

    bool send(std::string_view text, Clock::time_point deadline) {
        while (!text.empty()) {
            if (m_ssl) {
                const int n =
                    ::SSL_write(m_ssl, text.data(), static_cast<int>(std::min<size_t>(text.size(), 1 << 20)));
                if (n > 0) {
                    text.remove_prefix(static_cast<size_t>(n));
                    continue;
                }
                const int error = ::SSL_get_error(m_ssl, n);
                if ((error == SSL_ERROR_WANT_WRITE && waitFor(m_fd, POLLOUT, deadline)) ||
                    (error == SSL_ERROR_WANT_READ && waitFor(m_fd, POLLIN, deadline)))
                    continue;
                return false;
            }
            const ssize_t n = ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL);
            if (n > 0) {
                text.remove_prefix(static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(m_fd, POLLOUT, deadline))
                continue;
            return false;
        }
        return true;
    }

    // Some bytes; 0 when the server closed the connection, -1 on an error or at the deadline.
    ssize_t receive(char* buffer, size_t size, Clock::time_point deadline) {
        for (;;) {
            if (m_ssl) {
                const int n = ::SSL_read(m_ssl, buffer, static_cast<int>(size));
                if (n > 0)
                    return n;
                const int error = ::SSL_get_error(m_ssl, n);
                if (error == SSL_ERROR_ZERO_RETURN)
                    return 0;
                if ((error == SSL_ERROR_WANT_READ && waitFor(m_fd, POLLIN, deadline)) ||
                    (error == SSL_ERROR_WANT_WRITE && waitFor(m_fd, POLLOUT, deadline)))
                    continue;
                return -1;
            }
            const ssize_t n = ::recv(m_fd, buffer, size, 0);
            if (n >= 0)
                return n;
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(m_fd, POLLIN, deadline))
                continue;
            return -1;
        }
    }

private:
    int m_fd;
    SSL_CTX* m_context = nullptr;
    SSL* m_ssl = nullptr;
};

SmtpConnection::SmtpConnection(std::string server, int port, SmtpSecurity security)
    : m_server(std::move(server)), m_port(port), m_security(std::move(security)) {}

SmtpConnection::~SmtpConnection() {
    if (m_connected)
        Disconnect();
    closeSocket();
}

bool SmtpConnection::isEncrypted() const {
    return m_transport && m_transport->encrypted();
}

void SmtpConnection::closeSocket() {
    m_transport.reset();
}

void SmtpConnection::fail(std::string text, Failure kind, std::string reason) {
    m_lastError = std::move(text);
    m_failure = kind;
    m_reason = std::move(reason);
}

// A reply other than the one wanted.
void SmtpConnection::failOnCode(int code, const char* text) {
    char message[160];
    std::snprintf(message, sizeof message, "%d:%s", code, text);
    fail(message, failureOfCode(code));
}

bool SmtpConnection::sendText(std::string_view text) {
    // A server that stops reading must not hold the program for ever.
    if (m_transport && m_transport->send(text, Clock::now() + m_replyTimeout))
        return true;
    fail("Socket Error!", Failure::Temporary, "the connection to the mail server broke");
    return false;
}

bool SmtpConnection::readReply(std::string& reply) {
    reply.clear();
    if (!m_transport)
        return false;
    const auto deadline = Clock::now() + m_replyTimeout;
    char buffer[1024];
    while (!replyComplete(reply)) {
        const ssize_t n = m_transport->receive(buffer, sizeof buffer, deadline);
        if (n <= 0 || reply.size() + static_cast<size_t>(n) > kMaxReplyBytes)
            return false;
        reply.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool SmtpConnection::CheckReply(int step) {
    if (!readReply(m_reply)) {
        fail("Socket Error!", Failure::Temporary, "the mail server did not answer in time");
        return false;
    }
    // The code is the reply's first three characters read as a number (the reply is at least
    // "ddd" CRLF long once it is complete).
    const int code = std::atoi(m_reply.substr(0, 3).c_str());
    if (code == kReplies[step].code)
        return true;
    failOnCode(code, kReplies[step].failure);
    return false;
}

int SmtpConnection::command(std::string_view text) {
    if (!sendText(text))
        return -1;
    if (!readReply(m_reply)) {
        fail("Socket Error!", Failure::Temporary, "the mail server did not answer in time");
        return -1;
    }
    return std::atoi(m_reply.substr(0, 3).c_str());
}

bool SmtpConnection::offers(std::string_view keyword, std::string_view argument) const {
    for (const auto& line : m_extensions) {
        // "AUTH PLAIN LOGIN", or the older "AUTH=PLAIN LOGIN".
        const size_t cut = line.find_first_of(" =");
        if (line.substr(0, cut) != keyword)
            continue;
        if (argument.empty())
            return true;
        std::string rest = cut == std::string::npos ? std::string() : " " + line.substr(cut + 1) + " ";
        for (char& c : rest)
            if (c == '=')
                c = ' ';
        if (rest.find(" " + std::string(argument) + " ") != std::string::npos)
            return true;
    }
    return false;
}

bool SmtpConnection::greetExtended() {
    const std::string host = localHostName();
    m_extensions.clear();
    const int code = command("EHLO " + host + "\r\n");
    if (code == 250) {
        // Every line after the first names an extension.
        size_t begin = m_reply.find("\r\n");
        while (begin != std::string::npos && begin + 2 < m_reply.size()) {
            const size_t end = m_reply.find("\r\n", begin + 2);
            const std::string line = m_reply.substr(begin + 2, end - begin - 2);
            if (line.size() > 4)
                m_extensions.push_back(asciiUpper(line.substr(4)));
            begin = end;
        }
        return true;
    }
    if (code < 0)
        return false;
    if (code >= 400 && code < 500) {
        failOnCode(code, "SMTP server error...");
        return false;
    }
    // A server that knows no EHLO: the plain greeting, and no extensions.
    if (command("HELO " + host + "\r\n") == 250)
        return true;
    failOnCode(std::atoi(m_reply.substr(0, 3).c_str()), "SMTP server error...");
    return false;
}

bool SmtpConnection::startTls() {
    const int code = command("STARTTLS\r\n");
    if (code != 220) {
        if (code >= 0)
            fail("TLS Error!", failureOfCode(code), "the mail server offered STARTTLS and then refused it");
        return false;
    }
    std::string why;
    bool certificateRefused = false;
    if (!m_transport->startTls(m_server, Clock::now() + m_replyTimeout, why, certificateRefused)) {
        fail("TLS Error!", certificateRefused ? Failure::Permanent : Failure::Temporary, why);
        return false;
    }
    return greetExtended();
}

bool SmtpConnection::authenticate() {
    const std::string& user = m_security.user;
    const std::string& password = m_security.password;
    int code;
    if (offers("AUTH", "PLAIN")) {
        code = command("AUTH PLAIN " + base64Encode(std::string(1, '\0') + user + '\0' + password) + "\r\n");
    } else if (offers("AUTH", "LOGIN")) {
        code = command("AUTH LOGIN\r\n");
        if (code == 334)
            code = command(base64Encode(user) + "\r\n");
        if (code == 334)
            code = command(base64Encode(password) + "\r\n");
    } else {
        fail("Authentication Error!", Failure::Permanent,
             "the mail server offers neither AUTH PLAIN nor AUTH LOGIN, so no login was possible");
        return false;
    }
    if (code == 235)
        return true;
    if (code >= 0)
        fail("Authentication Error!", failureOfCode(code),
             "the mail server refused the user name or password (" + m_reply.substr(0, m_reply.find('\r')) +
                 ")");
    return false;
}

bool SmtpConnection::Connect() {
    if (m_connected)
        return true;
    m_failure = Failure::None;
    m_reason.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(m_port);
    if (::getaddrinfo(m_server.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        fail("Unable to connect to Mail server...", Failure::Temporary,
             "the mail server's name cannot be resolved");
        return false;
    }
    bool created = false;
    for (addrinfo* a = found; a && !m_transport; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        created = true;
        if (connectWithin(fd, a->ai_addr, a->ai_addrlen, m_connectTimeout))
            m_transport = std::make_unique<Transport>(fd);
        else
            ::close(fd);
    }
    ::freeaddrinfo(found);
    if (!m_transport) {
        fail(created ? "Unable to connect to Mail server..." : "Unable to create the socket...",
             Failure::Temporary, "no connection to " + m_server + " port " + port);
        return false;
    }
    if (m_security.implicitTls) {
        std::string why;
        bool certificateRefused = false;
        if (!m_transport->startTls(m_server, Clock::now() + m_connectTimeout, why, certificateRefused)) {
            fail("TLS Error!", certificateRefused ? Failure::Permanent : Failure::Temporary, why);
            closeSocket();
            return false;
        }
    }
    if (!CheckReply(StepGreeting)) {
        const Failure kind = m_failure;
        fail("Server didn't respond...", kind);
        closeSocket();
        return false;
    }
    if (!m_security.extended) {
        if (!sendText("HELO " + localHostName() + "\r\n") || !CheckReply(StepOk)) {
            closeSocket();
            return false;
        }
        m_connected = true;
        return true;
    }
    if (!greetExtended() || (!isEncrypted() && offers("STARTTLS") && !startTls())) {
        closeSocket();
        return false;
    }
    if (!m_security.user.empty()) {
        // A password never travels in the clear.
        if (!isEncrypted()) {
            fail("Authentication Error!", Failure::Permanent,
                 "the mail server offers no encryption (STARTTLS), so the password was not sent");
            closeSocket();
            return false;
        }
        if (!authenticate()) {
            closeSocket();
            return false;
        }
    }
    m_connected = true;
    return true;
}

bool SmtpConnection::SendMessage(MimeMessage& message) {
    if (!m_connected) {
        if (m_failure == Failure::None)
            fail("Mail Server must be connected....", Failure::Temporary);
        else
            m_lastError = "Mail Server must be connected....";
        return false;
    }
    if (message.recipientCount(RecipientTo) == 0) {
        fail("No Recipients....", Failure::Permanent);
        return false;
    }
    message.FormatMessage();
    if (!sendText("MAIL From: <" + message.From + ">\r\n") || !CheckReply(StepOk))
        return false;
    for (int kind : {RecipientTo, RecipientCc, RecipientBcc}) {
        for (size_t i = 0; i < message.recipientCount(kind); ++i) {
            const std::string& address = message.recipient(kind, i).address;
            const int code = command("RCPT TO: <" + address + ">\r\n");
            if (code < 0)
                return false;
            // The direct path goes on past a refused recipient, as it always did; a configured
            // server's refusal is a failure.
            if (m_security.checkRecipients && code != 250 && code != 251) {
                failOnCode(code, "SMTP server error...");
                m_reason = "the mail server refused the recipient " + address + " (" +
                           m_reply.substr(0, m_reply.find('\r')) + ")";
                return false;
            }
        }
    }
    if (!sendText("DATA\r\n") || !CheckReply(StepData))
        return false;
    if (!sendText(dotStuff(message.header() + message.Body)) || !sendText("\r\n.\r\n"))
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
