#pragma once

// Makes the playable copy of each clip that ends, one at a time, in a program of its own at the
// lowest priority, so that the copies never take the detector's time. A clip that ends while a
// copy is made waits its turn. When the program ends, the copy under way is given a moment to
// finish, and what is still waiting is handed to a last run that goes on by itself.

#include <QObject>
#include <QProcess>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace gardivo {

class PlayableCopies final : public QObject {
    Q_OBJECT
public:
    // program: gardivo-playable; logPath: where a copy that could not be made is said.
    PlayableCopies(std::string program, std::string logPath, QObject* parent = nullptr);
    ~PlayableCopies() override;
    PlayableCopies(const PlayableCopies&) = delete;
    PlayableCopies& operator=(const PlayableCopies&) = delete;

    void add(const std::string& clip);
    // Waits up to this long for the copy under way, then hands the rest to a run of their own.
    void handOver(std::chrono::milliseconds wait);
    size_t waiting() const { return m_queue.size() + (m_process ? 1 : 0); }

    // A copy was made (copy is its path) or could not be (copy is empty).
    std::function<void(const std::string& clip, const std::string& copy)> onDone;

private:
    void startNext();
    void finished(int exitCode, QProcess::ExitStatus status);
    void log(const std::string& line);

    std::string m_program;
    std::string m_logPath;
    std::unique_ptr<QProcess> m_process;
    std::string m_current;
    std::deque<std::string> m_queue;
};

} // namespace gardivo
