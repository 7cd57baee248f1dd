#include "LocalEndpoint.h"

#include "platform/ProgramDirectory.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

// Where the answer to a send goes; cleared when the socket goes.
struct ReplyChannel {
    std::mutex mutex;
    QLocalSocket* socket = nullptr;
};

// A directory of this user's alone, made when missing. One that is a link, belongs to someone
// else or is open to others is not used: whoever controls it could stand in for an endpoint.
bool privateDirectory(const std::string& dir) {
    ::mkdir(dir.c_str(), 0700);
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

std::string runtimeDirectory() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir && ::access(dir, W_OK) == 0)
        return dir;
    // Without a session's runtime directory: one of our own in the temporary directory, else in
    // the home directory when that name is taken.
    const char* tmp = std::getenv("TMPDIR");
    const std::string shared =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/gardivo-" + std::to_string(::getuid());
    if (privateDirectory(shared))
        return shared;
    const std::string own = joinPath(homeDirectory(), ".gardivo-run");
    privateDirectory(own);
    return own;
}

QByteArray frame(char kind, uint32_t message, int64_t wParam, int64_t lParam) {
    QByteArray bytes(LocalEndpoint::kFrameBytes, '\0');
    bytes[0] = 'G';
    bytes[1] = kind;
    for (int i = 0; i < 4; ++i)
        bytes[2 + i] = static_cast<char>(message >> (8 * i));
    for (int i = 0; i < 8; ++i) {
        bytes[6 + i] = static_cast<char>(static_cast<uint64_t>(wParam) >> (8 * i));
        bytes[14 + i] = static_cast<char>(static_cast<uint64_t>(lParam) >> (8 * i));
    }
    return bytes;
}

int64_t read64(const char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= uint64_t(static_cast<uint8_t>(p[i])) << (8 * i);
    return static_cast<int64_t>(v);
}

bool connectTo(QLocalSocket& socket, const std::string& name, int timeout_ms) {
    socket.connectToServer(QString::fromStdString(LocalEndpoint::pathFor(name)));
    return socket.waitForConnected(timeout_ms);
}

// The uid of the program at the other end of a local socket.
bool sameUser(QLocalSocket* socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                        &size) == 0 &&
           credentials.uid == ::getuid();
}

} // namespace

std::string LocalEndpoint::pathFor(const std::string& name) {
    return runtimeDirectory() + "/gardivo-" + name;
}

bool LocalEndpoint::exists(const std::string& name, int timeout_ms) {
    QLocalSocket socket;
    return connectTo(socket, name, timeout_ms);
}

bool LocalEndpoint::send(const std::string& name, uint32_t message, int64_t wParam, int64_t lParam,
                         int64_t* result, int timeout_ms) {
    QLocalSocket socket;
    if (!connectTo(socket, name, timeout_ms))
        return false;
    socket.write(frame(2, message, wParam, lParam));
    if (!socket.waitForBytesWritten(timeout_ms))
        return false;
    QByteArray reply;
    while (reply.size() < 8) {
        if (!socket.waitForReadyRead(timeout_ms))
            return false;
        reply += socket.readAll();
    }
    if (result)
        *result = read64(reply.constData());
    return true;
}

bool LocalEndpoint::post(const std::string& name, uint32_t message, int64_t wParam, int64_t lParam,
                         int timeout_ms) {
    QLocalSocket socket;
    if (!connectTo(socket, name, timeout_ms))
        return false;
    socket.write(frame(1, message, wParam, lParam));
    const bool written = socket.waitForBytesWritten(timeout_ms);
    socket.disconnectFromServer();
    return written;
}

LocalEndpoint::LocalEndpoint(Handler handler, QObject* parent)
    : LocalEndpoint(AsyncHandler([handler = std::move(handler)](uint32_t message, int64_t wParam,
                                                                int64_t lParam, Reply reply) {
                        const int64_t result = handler ? handler(message, wParam, lParam) : 0;
                        if (reply)
                            reply(result);
                    }),
                    parent) {}

LocalEndpoint::LocalEndpoint(AsyncHandler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &LocalEndpoint::onConnection);
    connect(&m_watch, &QTimer::timeout, this, &LocalEndpoint::look);
}

LocalEndpoint::~LocalEndpoint() {
    m_server->close();
}

bool LocalEndpoint::listen(const std::string& name) {
    const QString path = QString::fromStdString(pathFor(name));
    bool listening = m_server->listen(path);
    // Left behind by a program that ended without closing it: taken over, unless it answers.
    if (!listening && !exists(name, 200)) {
        QLocalServer::removeServer(path);
        listening = m_server->listen(path);
    }
    if (listening) {
        m_path = path;
        m_watch.start(std::max<int>(100, static_cast<int>(m_idle.count() / 4)));
    }
    return listening;
}

void LocalEndpoint::look() {
    if (!m_path.isEmpty() && !m_server->isListening()) {
        // The socket file is still ours: nobody else listens under our name while we run.
        QLocalServer::removeServer(m_path);
        m_server->listen(m_path);
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto idle = std::chrono::duration_cast<std::chrono::steady_clock::duration>(m_idle).count();
    for (QLocalSocket* socket : findChildren<QLocalSocket*>(QString(), Qt::FindDirectChildrenOnly)) {
        const auto last = socket->property("gardivo-last").toLongLong();
        if (last > 0 && now - last > idle)
            socket->abort();
    }
}

bool LocalEndpoint::isListening() const {
    return m_server->isListening();
}

void LocalEndpoint::onConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // Another user, or one connection too many: turned away at once.
        if (!sameUser(socket) || m_connections >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // The connection is the endpoint's, so that the watch finds it.
        socket->setParent(this);
        ++m_connections;
        socket->setProperty("gardivo-last", QVariant::fromValue<qlonglong>(
                                                std::chrono::steady_clock::now().time_since_epoch().count()));
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadable(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0)
            onReadable(socket);
    }
}

void LocalEndpoint::onReadable(QLocalSocket* socket) {
    socket->setProperty("gardivo-last", QVariant::fromValue<qlonglong>(
                                            std::chrono::steady_clock::now().time_since_epoch().count()));
    // A client that sends and never reads its answers would make us keep them all.
    if (socket->bytesToWrite() > kMaxUnread) {
        socket->abort();
        return;
    }
    while (socket->bytesAvailable() >= kFrameBytes) {
        const QByteArray bytes = socket->read(kFrameBytes);
        // A frame of any other form ends the conversation.
        if (bytes[0] != 'G' || (bytes[1] != 1 && bytes[1] != 2)) {
            socket->abort();
            return;
        }
        uint32_t message = 0;
        for (int i = 0; i < 4; ++i)
            message |= uint32_t(static_cast<uint8_t>(bytes[2 + i])) << (8 * i);
        Reply reply;
        if (bytes[1] == 2) {
            // The answer may come from another thread, and after the sender gave up: it goes to
            // the socket's thread, and only while the socket is there.
            auto channel = std::make_shared<ReplyChannel>();
            channel->socket = socket;
            connect(socket, &QObject::destroyed, [channel] {
                std::lock_guard lock(channel->mutex);
                channel->socket = nullptr;
            });
            reply = [channel](int64_t result) {
                std::lock_guard lock(channel->mutex);
                QLocalSocket* target = channel->socket;
                if (!target)
                    return;
                const auto write = [target, result] {
                    QByteArray answer(8, '\0');
                    for (int i = 0; i < 8; ++i)
                        answer[i] = static_cast<char>(static_cast<uint64_t>(result) >> (8 * i));
                    target->write(answer);
                    target->flush();
                };
                if (QThread::currentThread() == target->thread())
                    write();
                else
                    QMetaObject::invokeMethod(target, write, Qt::QueuedConnection);
            };
        }
        if (m_handler)
            m_handler(message, read64(bytes.constData() + 6), read64(bytes.constData() + 14),
                      std::move(reply));
        else if (reply)
            reply(0);
    }
}

} // namespace gardivo
