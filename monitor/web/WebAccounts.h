#pragma once

// Who may use the web view, and how a login stays a login: the accounts (passwords kept only as
// Argon2id hashes, in a file its owner alone reads), a slowdown for every client that keeps
// failing to log in, and the sessions with their expiry and the token every change must carry.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace gardivo {

// The accounts file: one "name:hash" a line.
class WebAccounts {
public:
    explicit WebAccounts(std::string path);

    // Adds the account or gives it a new password. False, with the reason, for a name that
    // cannot be one (empty, too long, a ':' or a control character) or a password under 8 bytes.
    bool setPassword(const std::string& name, const std::string& password, std::string* error = nullptr);
    bool remove(const std::string& name);
    // Whether the password is the account's; takes as long for an unknown name.
    bool verify(const std::string& name, const std::string& password) const;
    std::vector<std::string> names() const;

private:
    std::map<std::string, std::string> read() const;
    bool write(const std::map<std::string, std::string>& accounts, std::string* error) const;

    std::string m_path;
    mutable std::mutex m_mutex;
};

using WebClock = std::function<std::chrono::steady_clock::time_point()>;

// Failed logins slow a client down: after three, each further try waits, one second doubling up
// to a minute. A good login forgets the client's failures.
class LoginThrottle {
public:
    explicit LoginThrottle(WebClock clock = {});
    // How long this client must still wait before its next try (zero: it may try now).
    std::chrono::milliseconds wait(const std::string& client) const;
    void failed(const std::string& client);
    void succeeded(const std::string& client);
    int failures(const std::string& client) const;

private:
    struct Record {
        int failures = 0;
        std::chrono::steady_clock::time_point next{};
    };
    WebClock m_clock;
    mutable std::mutex m_mutex;
    std::map<std::string, Record> m_clients;
};

struct WebSession {
    std::string id;   // the cookie's value
    std::string csrf; // carried by every request that changes something
    std::string user;
    std::chrono::steady_clock::time_point created;
    std::chrono::steady_clock::time_point lastUsed;
};

// Sessions by their random id; a session ends after half an hour unused or twelve hours in all.
class WebSessions {
public:
    static constexpr std::chrono::minutes kIdle{30};
    static constexpr std::chrono::hours kLongest{12};

    explicit WebSessions(WebClock clock = {});
    WebSession create(const std::string& user);
    // The live session of this id (its use noted), or nothing.
    std::optional<WebSession> find(const std::string& id);
    void end(const std::string& id);
    // Whether the token is the session's, compared in constant time.
    static bool csrfMatches(const WebSession& session, const std::string& token);
    size_t count() const;

private:
    WebClock m_clock;
    mutable std::mutex m_mutex;
    std::map<std::string, WebSession> m_sessions;
};

} // namespace gardivo
