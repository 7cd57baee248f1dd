#pragma once

// The engine thread of the windowed program: the video window's work (capture, detection,
// tracing, evidence, recording and their timers) runs there, behind a queue of work items
// posted from the windows. The windows never wait for it, except once, at the end, and even
// then they keep handling their own events, so that a question the engine asks meanwhile is
// answered rather than deadlocked.

#include "monitor/live/EngineHost.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace gardivo {

class EngineThread final {
public:
    using Factory = std::function<std::unique_ptr<EngineHost>()>;
    using Work = std::function<void(EngineHost&)>;

    // The host is made by the factory on the engine thread, when the first work arrives.
    explicit EngineThread(Factory factory);
    ~EngineThread();
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // From any thread; run on the engine thread in the order posted. Dropped once stopped.
    void post(Work work);
    // Cuts short a start delay or a pause under way (before a Stop, and at the end).
    void interruptWaits();
    // Whether a Start waits out its delay; from any thread.
    bool startWaiting();
    // Ends the engine: a trace is released, watching stops, a clip is finished, the capture
    // side and the engine go, and the thread ends. Safe to call twice.
    void stop(bool serviceEvents = true);

private:
    class Mailbox;

    Factory m_factory;
    QThread m_thread;
    Mailbox* m_mailbox;
    std::mutex m_hostMutex; // guards m_host against interruptWaits from another thread
    EngineHost* m_host = nullptr;
    std::atomic<bool> m_stopped{false};
};

} // namespace gardivo
