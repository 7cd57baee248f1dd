#include "PlayableCopies.h"

#include "platform/FileOps.h"

#include <QStringList>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sys/resource.h>

namespace gardivo {

namespace {

void lowestPriority() {
    ::setpriority(PRIO_PROCESS, 0, 19);
}

} // namespace

PlayableCopies::PlayableCopies(std::string program, std::string logPath, QObject* parent)
    : QObject(parent), m_program(std::move(program)), m_logPath(std::move(logPath)) {}

PlayableCopies::~PlayableCopies() {
    handOver(std::chrono::milliseconds(0));
}

void PlayableCopies::add(const std::string& clip) {
    m_queue.push_back(clip);
    if (!m_process)
        startNext();
}

void PlayableCopies::startNext() {
    if (m_process || m_queue.empty())
        return;
    m_current = m_queue.front();
    m_queue.pop_front();
    m_process = std::make_unique<QProcess>();
    m_process->setChildProcessModifier(lowestPriority);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    connect(m_process.get(), &QProcess::finished, this, &PlayableCopies::finished);
    m_process->start(QString::fromStdString(m_program), {QString::fromStdString(m_current)});
    if (!m_process->waitForStarted(5000)) {
        log("No playable copy of " + m_current + ": " + m_program + " cannot be started");
        m_process.reset();
        if (onDone)
            onDone(m_current, {});
        startNext();
    }
}

void PlayableCopies::finished(int exitCode, QProcess::ExitStatus status) {
    if (!m_process)
        return;
    const std::string out = m_process->readAllStandardOutput().trimmed().toStdString();
    const std::string err = m_process->readAllStandardError().trimmed().toStdString();
    // Deleted later: this runs inside the process's own signal.
    m_process.release()->deleteLater();
    const bool made = status == QProcess::NormalExit && exitCode == 0 && !out.empty();
    if (!made)
        log("No playable copy of " + m_current + ": " + (err.empty() ? "the copy failed" : err));
    const std::string clip = m_current;
    m_current.clear();
    if (onDone)
        onDone(clip, made ? out : std::string());
    startNext();
}

void PlayableCopies::handOver(std::chrono::milliseconds wait) {
    if (m_process) {
        m_process->disconnect(this);
        if (!m_process->waitForFinished(static_cast<int>(wait.count()))) {
            // It begins again in the run below rather than be cut off half made.
            m_process->kill();
            m_process->waitForFinished(2000);
            m_queue.push_front(m_current);
        }
        m_process.reset();
        m_current.clear();
    }
    if (m_queue.empty())
        return;
    QStringList clips;
    for (const auto& clip : m_queue)
        clips << QString::fromStdString(clip);
    m_queue.clear();
    QProcess last;
    last.setProgram(QString::fromStdString(m_program));
    last.setArguments(clips);
    last.setChildProcessModifier(lowestPriority);
    last.setStandardOutputFile(QProcess::nullDevice());
    last.setStandardErrorFile(QString::fromStdString(m_logPath), QIODevice::Append);
    if (!last.startDetached())
        log("No playable copies of " + std::to_string(clips.size()) + " clips: " + m_program +
            " cannot be started");
}

void PlayableCopies::log(const std::string& line) {
    AppendLogLine(m_logPath, "Gardivo Log: " + line);
}

} // namespace gardivo
