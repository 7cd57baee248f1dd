#pragma once

// How the programs of the suite reach each other's windows: a local socket endpoint per window
// class and user ("TavrinWatchDog" for gardivo, "TfrmSetup" for cfgwiz), in the user's runtime
// directory, open to the same user only (a peer of another uid is dropped at once).
//
// Framing, little-endian, one message a frame:
//   byte 0     'G'
//   byte 1     1 = post (the sender goes on at once), 2 = send (the sender waits for the result)
//   bytes 2-5  message (uint32)
//   bytes 6-13 wParam (int64)
//   bytes 14-21 lParam (int64)
// A send is answered, once the receiver has handled it, with 8 bytes: the result (int64).
// "The window exists" means the endpoint accepts a connection.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace gardivo {

class LocalEndpoint final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<int64_t(uint32_t message, int64_t wParam, int64_t lParam)>;
    // For a send, reply answers the sender with the result, now or later, from any thread; for
    // a post it is empty.
    using Reply = std::function<void(int64_t result)>;
    using AsyncHandler = std::function<void(uint32_t message, int64_t wParam, int64_t lParam, Reply reply)>;

    static constexpr int kFrameBytes = 22;

    // The socket path of an endpoint of this user.
    static std::string pathFor(const std::string& name);
    // Whether a program answers on the endpoint.
    static bool exists(const std::string& name, int timeout_ms = 500);
    // Sends and waits for the receiver to handle the message; false when nobody answers.
    static bool send(const std::string& name, uint32_t message, int64_t wParam, int64_t lParam,
                     int64_t* result = nullptr, int timeout_ms = 10000);
    // Posts without waiting for the handling; false when nobody takes it.
    static bool post(const std::string& name, uint32_t message, int64_t wParam, int64_t lParam,
                     int timeout_ms = 2000);

    explicit LocalEndpoint(Handler handler, QObject* parent = nullptr);
    // The handler may answer a send after it returns (when another thread handles the message).
    explicit LocalEndpoint(AsyncHandler handler, QObject* parent = nullptr);
    ~LocalEndpoint() override;
    // Listens under the name; an endpoint left by a program that died is taken over, one that
    // answers is not. False when it cannot listen.
    bool listen(const std::string& name);
    bool isListening() const;

    // What one endpoint holds at the most: connections at once, time a connection may say
    // nothing, and answers a client leaves unread before it is dropped.
    static constexpr int kMaxConnections = 32;
    static constexpr std::chrono::milliseconds kIdleTime{30000};
    static constexpr qint64 kMaxUnread = 64 * 1024;
    void setIdleTime(std::chrono::milliseconds idle) { m_idle = idle; }
    int connectionCount() const { return m_connections; }

private:
    void onConnection();
    void onReadable(QLocalSocket* socket);
    // Looks after the endpoint: listens again when the server closed itself (as it does when an
    // accept fails, for one when the process ran out of file descriptors), and drops the
    // connections that said nothing for too long.
    void look();

    AsyncHandler m_handler;
    QLocalServer* m_server;
    QString m_path; // where it listens, once it does
    QTimer m_watch;
    std::chrono::milliseconds m_idle = kIdleTime;
    int m_connections = 0;
};

} // namespace gardivo
