#pragma once

// An off-site copy of every alarm's evidence through rclone, which speaks SFTP, WebDAV, S3 and
// the common cloud stores: the picture first, so that it leaves the machine within seconds of the
// alarm, then the clip and its playable copy once they are finished. One upload at a time, in a
// program of its own, so that detection never waits for the network; a failed upload is tried
// again with a growing pause. What is still to go is kept in a file, so that it survives a
// restart of the program (or of the machine).

#include <QObject>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace gardivo {

class OffsiteCopies final : public QObject {
    Q_OBJECT
public:
    struct Setup {
        std::string remote;    // "remote:path"
        std::string config;    // rclone's configuration file, or ""
        std::string queueFile; // what is still to go, one file a line
        std::string logPath;   // where failures are said
        std::string rclone = "rclone";
        std::chrono::milliseconds firstRetry{2000};
        std::chrono::milliseconds longestRetry{std::chrono::minutes(5)};
    };

    explicit OffsiteCopies(Setup setup, QObject* parent = nullptr);
    ~OffsiteCopies() override;

    // A file of a watching run to copy; pictures go ahead of clips that wait.
    void add(const std::string& path);
    size_t waiting() const { return m_queue.size(); }
    // Where a file of a run goes: remote/run/name.
    std::string destination(const std::string& path) const;

    // A file arrived (or could not, and waits for the next try).
    std::function<void(const std::string& path, bool copied)> onDone;

private:
    void load();
    void save();
    void startNext();
    void finished(int exitCode, QProcess::ExitStatus status);
    void log(const std::string& line);

    Setup m_setup;
    std::deque<std::string> m_queue; // the first is the one being copied
    std::unique_ptr<QProcess> m_process;
    QTimer m_retry;
    std::chrono::milliseconds m_pause;
};

} // namespace gardivo
