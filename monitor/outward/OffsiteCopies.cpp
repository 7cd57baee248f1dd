#include "OffsiteCopies.h"

#include "platform/FileOps.h"
#include "platform/FileProbes.h"

#include <fstream>
#include <sys/resource.h>

namespace gardivo {

namespace {

bool isPicture(const std::string& path) {
    for (const char* end : {".bmp", ".jpg", ".png"})
        if (path.size() > 4 && path.compare(path.size() - 4, 4, end) == 0)
            return true;
    return false;
}

} // namespace

OffsiteCopies::OffsiteCopies(Setup setup, QObject* parent)
    : QObject(parent), m_setup(std::move(setup)), m_pause(m_setup.firstRetry) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &OffsiteCopies::startNext);
    load();
    startNext();
}

OffsiteCopies::~OffsiteCopies() {
    // An upload under way is cut off; its file is still first in the saved queue.
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(2000);
    }
}

void OffsiteCopies::load() {
    std::ifstream in(m_setup.queueFile);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            m_queue.push_back(line);
}

void OffsiteCopies::save() {
    std::string text;
    for (const auto& path : m_queue)
        text += path + "\n";
    const auto slash = m_setup.queueFile.find_last_of('/');
    if (slash != std::string::npos)
        MakeDirectories(m_setup.queueFile.substr(0, slash));
    ReplaceFile(m_setup.queueFile, text, nullptr, 0600);
}

std::string OffsiteCopies::destination(const std::string& path) const {
    // The run's folder and the file's name: remote/2026.12.08_04.00.00/error001.bmp.
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const auto runSlash = folder.find_last_of('/');
    const std::string run = runSlash == std::string::npos ? folder : folder.substr(runSlash + 1);
    std::string remote = m_setup.remote;
    if (!remote.empty() && remote.back() != '/' && remote.back() != ':')
        remote += '/';
    return remote + (run.empty() ? "" : run + "/") + name;
}

void OffsiteCopies::add(const std::string& path) {
    if (path.empty())
        return;
    if (isPicture(path)) {
        // Ahead of every clip that waits, behind the pictures (and the upload under way).
        auto at = m_queue.begin();
        if (m_process && at != m_queue.end())
            ++at;
        while (at != m_queue.end() && isPicture(*at))
            ++at;
        m_queue.insert(at, path);
    } else {
        m_queue.push_back(path);
    }
    save();
    if (!m_retry.isActive())
        startNext();
}

void OffsiteCopies::startNext() {
    if (m_process || m_queue.empty())
        return;
    const std::string path = m_queue.front();
    if (!FileExists(path)) {
        // Deleted meanwhile (by the user, or by retention): nothing to copy.
        log("Off-site copy of " + path + " given up: the file is gone");
        m_queue.pop_front();
        save();
        startNext();
        return;
    }
    QStringList arguments;
    if (!m_setup.config.empty())
        arguments << "--config" << QString::fromStdString(m_setup.config);
    arguments << "copyto" << QString::fromStdString(path) << QString::fromStdString(destination(path))
              << "--retries"
              << "1"
              << "--low-level-retries"
              << "2"
              << "--contimeout"
              << "10s"
              << "--timeout"
              << "60s";
    m_process = std::make_unique<QProcess>();
    m_process->setChildProcessModifier([] { ::setpriority(PRIO_PROCESS, 0, 10); });
    connect(m_process.get(), &QProcess::finished, this, &OffsiteCopies::finished);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finished(-1, QProcess::CrashExit);
    });
    m_process->start(QString::fromStdString(m_setup.rclone), arguments);
}

void OffsiteCopies::finished(int exitCode, QProcess::ExitStatus status) {
    if (!m_process)
        return;
    const std::string why = m_process->readAllStandardError().trimmed().toStdString();
    const bool failedToStart = m_process->error() == QProcess::FailedToStart;
    m_process.release()->deleteLater();
    const std::string path = m_queue.front();
    const bool copied = !failedToStart && status == QProcess::NormalExit && exitCode == 0;
    if (copied) {
        m_queue.pop_front();
        save();
        m_pause = m_setup.firstRetry;
    } else {
        const std::string reason = failedToStart
                                       ? m_setup.rclone + " cannot be started"
                                       : (why.empty() ? "rclone failed" : why.substr(why.rfind('\n') + 1));
        log("Off-site copy of " + path + " failed, tried again in " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_pause).count()) +
            " s: " + reason);
    }
    if (onDone)
        onDone(path, copied);
    if (copied) {
        startNext();
    } else {
        m_retry.start(m_pause);
        m_pause = std::min(m_pause * 2, m_setup.longestRetry);
    }
}

void OffsiteCopies::log(const std::string& line) {
    AppendLogLine(m_setup.logPath, "Gardivo Log: " + line);
}

} // namespace gardivo
