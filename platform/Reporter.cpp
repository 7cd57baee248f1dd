#include "Reporter.h"
#include "RecordingReporter.h"

#include <cstdio>

namespace gardivo {

MessageAnswer defaultAnswer(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
    case MessageButtons::OkCancel:
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
        return MessageAnswer::Yes;
    case MessageButtons::RetryCancel:
        return MessageAnswer::Retry;
    }
    return MessageAnswer::Ok;
}

MessageAnswer ConsoleReporter::show(const Message& message) {
    std::fprintf(stderr, "[%s] %s\n", message.caption.c_str(), message.text.c_str());
    return defaultAnswer(message.buttons);
}

MessageAnswer RecordingReporter::show(const Message& message) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back(message);
    if (m_answers.empty())
        return defaultAnswer(message.buttons);
    const MessageAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void RecordingReporter::queueAnswer(MessageAnswer answer) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<Message> RecordingReporter::messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<std::string> RecordingReporter::texts() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> result;
    for (const auto& m : m_messages)
        result.push_back(m.text);
    return result;
}

void RecordingReporter::clear() {
    std::lock_guard lock(m_mutex);
    m_messages.clear();
    m_answers.clear();
}

} // namespace gardivo
