#include "EngineThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>

namespace gardivo {

namespace {

class WorkEvent final : public QEvent {
public:
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    explicit WorkEvent(std::function<void()> work) : QEvent(eventType()), work(std::move(work)) {}
    std::function<void()> work;
};

} // namespace

// Lives on the engine thread and runs the work posted to it there.
class EngineThread::Mailbox final : public QObject {
public:
    void customEvent(QEvent* event) override {
        if (event->type() == WorkEvent::eventType())
            static_cast<WorkEvent*>(event)->work();
    }
};

EngineThread::EngineThread(Factory factory) : m_factory(std::move(factory)), m_mailbox(new Mailbox) {
    m_thread.setObjectName("engine");
    m_mailbox->moveToThread(&m_thread);
    m_thread.start();
}

EngineThread::~EngineThread() {
    stop();
    delete m_mailbox;
}

void EngineThread::post(Work work) {
    if (m_stopped)
        return;
    QCoreApplication::postEvent(m_mailbox, new WorkEvent([this, work = std::move(work)] {
                                    // Work queued before the end is not started any more.
                                    if (m_stopped)
                                        return;
                                    if (!m_host) {
                                        auto host = m_factory();
                                        std::lock_guard lock(m_hostMutex);
                                        m_host = host.release();
                                    }
                                    if (m_stopped)
                                        m_host->interruptWaits();
                                    work(*m_host);
                                }));
}

void EngineThread::interruptWaits() {
    std::lock_guard lock(m_hostMutex);
    if (m_host)
        m_host->interruptWaits();
}

bool EngineThread::startWaiting() {
    std::lock_guard lock(m_hostMutex);
    return m_host && m_host->startWaiting();
}

void EngineThread::stop(bool serviceEvents) {
    if (m_stopped)
        return;
    m_stopped = true;
    interruptWaits();
    QCoreApplication::postEvent(m_mailbox, new WorkEvent([this] {
                                    EngineHost* host = nullptr;
                                    {
                                        std::lock_guard lock(m_hostMutex);
                                        host = std::exchange(m_host, nullptr);
                                    }
                                    if (host) {
                                        host->shutdown();
                                        delete host;
                                    }
                                    m_thread.quit();
                                }));
    // The engine never waits for this thread, but what it posts here is handled meanwhile; at
    // an end without a display nothing here may run any more, and the thread is simply waited for.
    if (serviceEvents && m_thread.isRunning()) {
        QEventLoop loop;
        QObject::connect(&m_thread, &QThread::finished, &loop, &QEventLoop::quit);
        if (m_thread.isRunning())
            loop.exec();
    }
    m_thread.wait();
}

} // namespace gardivo
