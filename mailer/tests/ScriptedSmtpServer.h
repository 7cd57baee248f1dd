#pragma once

// An SMTP server of the tests' own on loopback: it answers each command from a table, records
// everything it receives, and can misbehave on purpose.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace gardivo::testing {

// A listening socket on 127.0.0.1 (port 0 picks a free one, which comes back in boundPort); -1
// when the port cannot be had.
inline int listenOnLoopback(int port, int& boundPort) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    boundPort = ntohs(addr.sin_port);
    return fd;
}

class ScriptedSmtpServer {
public:
    // Replies by command word ("HELO", "MAIL", "RCPT", "DATA", "QUIT", and "." for the end of
    // the data); the greeting is sent on connect.
    std::string greeting = "220 test ready\r\n";
    std::map<std::string, std::string> replies = {{"HELO", "250 hello\r\n"}, {"MAIL", "250 ok\r\n"},
                                                  {"RCPT", "250 ok\r\n"},    {"DATA", "354 go on\r\n"},
                                                  {".", "250 queued\r\n"},   {"QUIT", "221 bye\r\n"}};
    bool splitReplies = false;    // send every reply in two pieces, a moment apart
    std::string closeAfter;       // hang up instead of answering this command
    std::string stopReadingAfter; // answer this command, then read nothing more

    // Listens on 127.0.0.1; port 0 picks a free one. false when the port cannot be had.
    bool listen(int port = 0) {
        m_listener = listenOnLoopback(port, m_port);
        if (m_listener < 0)
            return false;
        m_thread = std::thread([this] { serve(); });
        return true;
    }

    ~ScriptedSmtpServer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
    }

    int port() const { return m_port; }
    std::string received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    // The message text between DATA and the final dot, as it went over the wire.
    std::string data() {
        std::lock_guard lock(m_mutex);
        return m_data;
    }

private:
    void reply(int fd, const std::string& text) {
        if (!splitReplies || text.size() < 2) {
            ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
            return;
        }
        const size_t half = text.size() / 2;
        ::send(fd, text.data(), half, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ::send(fd, text.data() + half, text.size() - half, MSG_NOSIGNAL);
    }

    void serve() {
        pollfd p{m_listener, POLLIN, 0};
        while (!m_stop && ::poll(&p, 1, 50) == 0) {
        }
        if (m_stop)
            return;
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        if (!greeting.empty())
            reply(fd, greeting);
        std::string pending;
        bool inData = false;
        char buffer[4096];
        while (!m_stop) {
            pollfd c{fd, POLLIN, 0};
            if (::poll(&c, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(n));
            {
                std::lock_guard lock(m_mutex);
                m_received.append(buffer, static_cast<size_t>(n));
            }
            size_t eol;
            bool hungUp = false;
            while ((eol = pending.find("\r\n")) != std::string::npos) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 2);
                std::string word;
                if (inData) {
                    if (line != ".") {
                        std::lock_guard lock(m_mutex);
                        m_data += line + "\r\n";
                        continue;
                    }
                    inData = false;
                    word = ".";
                } else {
                    word = line.substr(0, line.find(' '));
                    if (word == "DATA")
                        inData = replies["DATA"].rfind("354", 0) == 0;
                }
                if (word == closeAfter) {
                    hungUp = true;
                    break;
                }
                const auto r = replies.find(word);
                reply(fd, r == replies.end() ? "500 what\r\n" : r->second);
            }
            if (hungUp)
                break;
            if (!stopReadingAfter.empty() && m_received.find(stopReadingAfter) != std::string::npos) {
                while (!m_stop)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                break;
            }
        }
        ::close(fd);
    }

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_received;
    std::string m_data;
};

} // namespace gardivo::testing
