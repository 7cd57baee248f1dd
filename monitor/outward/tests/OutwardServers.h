#pragma once

// The servers the outward tests talk to, started for real on loopback: a mosquitto broker (plain
// with a password file, or TLS with a certificate made at test time) and rclone serving WebDAV.

#include "platform/tests/TempDir.h"

#include <mosquitto.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace gardivo::testing {

inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

inline pid_t spawnQuiet(std::vector<std::string> arguments, const std::string& output) {
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A server program of a test, on a loopback port; stopped with the test.
class LoopbackServer {
public:
    explicit LoopbackServer(int port) : m_port(port) {}
    ~LoopbackServer() { halt(); }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    int port() const { return m_port; }

protected:
    // Starts it and waits (up to 10 s) until it listens.
    void launch(std::vector<std::string> arguments, const std::string& log) {
        m_pid = spawnQuiet(std::move(arguments), log);
        for (int i = 0; i < 200 && !listening(m_port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    void halt() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_pid = 0;
        }
    }

private:
    int m_port;
    pid_t m_pid = 0;
};

// A mosquitto broker of its own, on a free port.
class Broker : public LoopbackServer {
public:
    enum class Kind { Anonymous, Password, Tls };
    static constexpr const char* kUser = "camera";
    static constexpr const char* kPassword = "s3cret word";

    explicit Broker(Kind kind) : LoopbackServer(freePort()), m_kind(kind) {
        // Persistent, so that a subscriber's session (and what waits for it) outlives a restart.
        std::string config = "listener " + std::to_string(port()) + " 127.0.0.1\npersistence true\n" +
                             "persistence_location " + m_dir.path() + "/\n";
        // Started by root, mosquitto becomes the user "mosquitto", who may not read the test's folder.
        if (::geteuid() == 0)
            config += "user root\n";
        if (kind == Kind::Anonymous) {
            config += "allow_anonymous true\n";
        } else {
            run("mosquitto_passwd -c -b " + m_dir.file("passwords") + " " + kUser + " '" + kPassword + "'");
            config += "allow_anonymous false\npassword_file " + m_dir.file("passwords") + "\n";
        }
        if (kind == Kind::Tls) {
            // A certificate authority and the broker's certificate for localhost, made now.
            const std::string d = m_dir.path();
            run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=GardivoTestCA -keyout " + d +
                "/ca.key -out " + d + "/ca.crt");
            run("openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout " + d + "/server.key -out " +
                d + "/server.csr");
            writeText(d + "/san.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
            run("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.crt -CAkey " + d +
                "/ca.key -CAcreateserial -days 2 -extfile " + d + "/san.ext -out " + d + "/server.crt");
            config +=
                "cafile " + d + "/ca.crt\ncertfile " + d + "/server.crt\nkeyfile " + d + "/server.key\n";
        }
        writeText(m_dir.file("mosquitto.conf"), config);
        start();
    }
    // Stopped before its folder goes.
    ~Broker() { halt(); }
    void start() { launch({"mosquitto", "-c", m_dir.file("mosquitto.conf")}, m_dir.file("broker.log")); }
    void stop() { halt(); }
    std::string caFile() const { return m_dir.file("ca.crt"); }
    // What the broker said, for a test's failure message.
    std::string log() const { return readText(m_dir.file("broker.log")); }

private:
    Kind m_kind;
    TempDir m_dir;
};

// A subscriber to everything, as a home automation system would be.
class Subscriber {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retained;
        std::chrono::steady_clock::time_point at = std::chrono::steady_clock::now(); // when it came
    };
    // With a session name, the broker keeps the subscription and what comes meanwhile while the
    // subscriber is away, across a restart of the broker too.
    explicit Subscriber(const Broker& broker, const std::string& caFile = {},
                        const std::string& session = {}) {
        mosquitto_lib_init();
        m_client = session.empty() ? mosquitto_new(nullptr, true, this)
                                   : mosquitto_new(session.c_str(), false, this);
        if (!caFile.empty()) {
            mosquitto_tls_set(m_client, caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
            mosquitto_username_pw_set(m_client, Broker::kUser, Broker::kPassword);
        }
        mosquitto_message_callback_set(m_client, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* me = static_cast<Subscriber*>(self);
            std::lock_guard lock(me->m_mutex);
            me->m_messages.push_back(
                {m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen), m->retain});
        });
        mosquitto_connect_callback_set(m_client, [](mosquitto* client, void*, int rc) {
            if (rc == 0)
                mosquitto_subscribe(client, nullptr, "#", 1);
        });
        mosquitto_subscribe_callback_set(m_client, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->m_subscribed = true;
        });
        mosquitto_connect(m_client, caFile.empty() ? "127.0.0.1" : "localhost", broker.port(), 30);
        mosquitto_loop_start(m_client);
    }
    ~Subscriber() {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
    }
    bool subscribed() const { return m_subscribed; }
    std::vector<Message> messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    // The payloads on one topic, in the order they came.
    std::vector<std::string> on(const std::string& topic) {
        std::vector<std::string> out;
        for (const auto& m : messages())
            if (m.topic == topic)
                out.push_back(m.payload);
        return out;
    }
    template <typename Condition>
    bool waitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return condition();
    }

private:
    mosquitto* m_client;
    std::atomic<bool> m_subscribed{false};
    std::mutex m_mutex;
    std::vector<Message> m_messages;
};

// rclone serving a folder over WebDAV with a user and password, and a configuration file that
// names it as the remote "offsite".
class WebDavServer : public LoopbackServer {
public:
    WebDavServer() : LoopbackServer(freePort()) {
        const std::string obscured = obscure("d4v-pass");
        writeText(m_dir.file("rclone.conf"),
                  "[offsite]\ntype = webdav\nurl = http://127.0.0.1:" + std::to_string(port()) +
                      "\nvendor = other\nuser = gardivo\npass = " + obscured + "\n");
        std::filesystem::create_directories(served());
        start();
    }
    ~WebDavServer() { halt(); }
    void start() {
        launch({"rclone", "serve", "webdav", served(), "--addr", "127.0.0.1:" + std::to_string(port()),
                "--user", "gardivo", "--pass", "d4v-pass"},
               m_dir.file("server.log"));
    }
    void stop() { halt(); }
    std::string config() const { return m_dir.file("rclone.conf"); }
    std::string served() const { return m_dir.file("served"); }

private:
    static std::string obscure(const std::string& password) {
        std::string out;
        if (FILE* p = ::popen(("rclone obscure '" + password + "'").c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, p))
                out += buffer;
            ::pclose(p);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
            out.pop_back();
        return out;
    }
    TempDir m_dir;
};

} // namespace gardivo::testing
