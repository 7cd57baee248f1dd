#include "WebAccounts.h"

#include "platform/FileOps.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>

namespace gardivo {

namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string randomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    randombytes_buf(raw.data(), raw.size());
    std::string hex(bytes * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), raw.data(), raw.size());
    hex.pop_back();
    return hex;
}

WebClock orSteady(WebClock clock) {
    return clock ? std::move(clock) : WebClock([] { return std::chrono::steady_clock::now(); });
}

} // namespace

WebAccounts::WebAccounts(std::string path) : m_path(std::move(path)) {
    sodiumReady();
}

std::map<std::string, std::string> WebAccounts::read() const {
    std::map<std::string, std::string> accounts;
    std::ifstream in(m_path);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon != std::string::npos && colon > 0)
            accounts[line.substr(0, colon)] = line.substr(colon + 1);
    }
    return accounts;
}

bool WebAccounts::write(const std::map<std::string, std::string>& accounts, std::string* error) const {
    std::string text;
    for (const auto& [name, hash] : accounts)
        text += name + ":" + hash + "\n";
    const auto slash = m_path.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirectories(m_path.substr(0, slash));
    return ReplaceFile(m_path, text, error, 0600);
}

bool WebAccounts::setPassword(const std::string& name, const std::string& password, std::string* error) {
    const auto refuse = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (name.empty() || name.size() > 64 || std::any_of(name.begin(), name.end(), [](char c) {
            return c == ':' || static_cast<unsigned char>(c) < 0x20;
        }))
        return refuse("a user name has 1 to 64 characters, none of them ':' or a control character");
    if (password.size() < 8)
        return refuse("a password has at least 8 characters");
    if (!sodiumReady())
        return refuse("the password hashing library cannot be started");
    char hash[crypto_pwhash_STRBYTES];
    // Argon2id at libsodium's interactive cost: a login takes a fraction of a second.
    if (crypto_pwhash_str_alg(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
        return refuse("not enough memory to hash the password");
    std::lock_guard lock(m_mutex);
    auto accounts = read();
    accounts[name] = hash;
    return write(accounts, error);
}

bool WebAccounts::remove(const std::string& name) {
    std::lock_guard lock(m_mutex);
    auto accounts = read();
    if (accounts.erase(name) == 0)
        return false;
    return write(accounts, nullptr);
}

bool WebAccounts::verify(const std::string& name, const std::string& password) const {
    if (!sodiumReady())
        return false;
    std::map<std::string, std::string> accounts;
    {
        std::lock_guard lock(m_mutex);
        accounts = read();
    }
    const auto it = accounts.find(name);
    if (it == accounts.end()) {
        // The same work for a name that does not exist, so that the time tells nothing.
        char hash[crypto_pwhash_STRBYTES];
        crypto_pwhash_str_alg(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13);
        return false;
    }
    if (it->second.rfind("$argon2id$", 0) != 0)
        return false; // only hashes of our own kind are taken
    return crypto_pwhash_str_verify(it->second.c_str(), password.data(), password.size()) == 0;
}

std::vector<std::string> WebAccounts::names() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& [name, hash] : read())
        out.push_back(name);
    return out;
}

LoginThrottle::LoginThrottle(WebClock clock) : m_clock(orSteady(std::move(clock))) {}

std::chrono::milliseconds LoginThrottle::wait(const std::string& client) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_clients.find(client);
    if (it == m_clients.end())
        return std::chrono::milliseconds(0);
    const auto now = m_clock();
    return it->second.next > now
               ? std::chrono::duration_cast<std::chrono::milliseconds>(it->second.next - now)
               : std::chrono::milliseconds(0);
}

void LoginThrottle::failed(const std::string& client) {
    std::lock_guard lock(m_mutex);
    Record& r = m_clients[client];
    ++r.failures;
    if (r.failures >= 3) {
        const int doublings = std::min(r.failures - 3, 6); // 1 s .. 64 s, then a minute
        const auto pause = std::min<std::chrono::milliseconds>(std::chrono::milliseconds(1000LL << doublings),
                                                               std::chrono::minutes(1));
        r.next = m_clock() + pause;
    }
}

void LoginThrottle::succeeded(const std::string& client) {
    std::lock_guard lock(m_mutex);
    m_clients.erase(client);
}

int LoginThrottle::failures(const std::string& client) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_clients.find(client);
    return it == m_clients.end() ? 0 : it->second.failures;
}

WebSessions::WebSessions(WebClock clock) : m_clock(orSteady(std::move(clock))) {
    sodiumReady();
}

WebSession WebSessions::create(const std::string& user) {
    WebSession s;
    s.id = randomHex(32);
    s.csrf = randomHex(32);
    s.user = user;
    s.created = s.lastUsed = m_clock();
    std::lock_guard lock(m_mutex);
    m_sessions[s.id] = s;
    return s;
}

std::optional<WebSession> WebSessions::find(const std::string& id) {
    std::lock_guard lock(m_mutex);
    const auto now = m_clock();
    // Ended sessions go as they are met, so the map never grows with old ones.
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = (now - it->second.lastUsed >= kIdle || now - it->second.created >= kLongest)
                 ? m_sessions.erase(it)
                 : std::next(it);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return std::nullopt;
    it->second.lastUsed = now;
    return it->second;
}

void WebSessions::end(const std::string& id) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(id);
}

bool WebSessions::csrfMatches(const WebSession& session, const std::string& token) {
    return token.size() == session.csrf.size() && !session.csrf.empty() &&
           sodium_memcmp(token.data(), session.csrf.data(), token.size()) == 0;
}

size_t WebSessions::count() const {
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

} // namespace gardivo
