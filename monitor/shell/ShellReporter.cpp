#include "ShellReporter.h"

#include "platform/qt/QtReporter.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <optional>

namespace gardivo {

// A question from another thread, until it has its answer.
struct ShellReporter::Question {
    MessageButtons buttons = MessageButtons::Ok;
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<MessageAnswer> answer;
    QPointer<QMessageBox> box; // on the GUI thread only

    void give(MessageAnswer given) {
        {
            std::lock_guard lock(mutex);
            if (answer)
                return;
            answer = given;
        }
        answered.notify_all();
    }
};

ShellReporter::ShellReporter() = default;
ShellReporter::~ShellReporter() = default;

QMessageBox* ShellReporter::makeBox(const Message& message) {
    auto* box = new QMessageBox;
    prepareMessageBox(*box, message);
    return box;
}

MessageAnswer ShellReporter::show(const Message& message) {
    if (message.buttons == MessageButtons::Ok) {
        QMetaObject::invokeMethod(
            &m_context,
            [this, message] {
                QMessageBox* box = makeBox(message);
                box->setAttribute(Qt::WA_DeleteOnClose);
                if (onBox)
                    onBox(*box);
                box->open();
            },
            Qt::QueuedConnection);
        return MessageAnswer::Ok;
    }
    if (QThread::currentThread() == m_context.thread())
        return askHere(message);

    auto question = std::make_shared<Question>();
    question->buttons = message.buttons;
    {
        std::lock_guard lock(m_mutex);
        if (m_ending)
            return wayOutOf(message.buttons);
        m_open.push_back(question);
    }
    QMetaObject::invokeMethod(&m_context, [this, message, question] {
        if (question->answer)
            return; // the program ended before the box could show
        QMessageBox* box = makeBox(message);
        box->setAttribute(Qt::WA_DeleteOnClose);
        question->box = box;
        QObject::connect(box, &QMessageBox::finished, box, [box, question, buttons = message.buttons] {
            question->give(answerOfMessageBox(*box, buttons));
        });
        if (onBox)
            onBox(*box);
        box->open();
    });
    std::unique_lock lock(question->mutex);
    question->answered.wait(lock, [&] { return question->answer.has_value(); });
    const MessageAnswer answer = *question->answer;
    lock.unlock();
    std::lock_guard openLock(m_mutex);
    std::erase(m_open, question);
    return answer;
}

void ShellReporter::setEnding() {
    std::vector<std::shared_ptr<Question>> open;
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
        open = m_open;
    }
    for (const auto& question : open) {
        question->give(wayOutOf(question->buttons));
        QMetaObject::invokeMethod(&m_context, [question] {
            if (question->box)
                question->box->close();
        });
    }
}

MessageAnswer ShellReporter::askHere(const Message& message) {
    {
        std::lock_guard lock(m_mutex);
        if (m_ending)
            return wayOutOf(message.buttons);
    }
    std::unique_ptr<QMessageBox> box(makeBox(message));
    if (onBox)
        onBox(*box);
    box->exec();
    return answerOfMessageBox(*box, message.buttons);
}

} // namespace gardivo
