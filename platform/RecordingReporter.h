#pragma once

#include "Reporter.h"

#include <deque>
#include <mutex>
#include <vector>

namespace gardivo {

// Keeps every message shown and answers from a queue the test fills; with the queue empty it
// answers like a user pressing Enter. Safe to share between threads.
class RecordingReporter final : public Reporter {
public:
    MessageAnswer show(const Message& message) override;

    void queueAnswer(MessageAnswer answer);
    std::vector<Message> messages() const;
    std::vector<std::string> texts() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
    std::deque<MessageAnswer> m_answers;
};

} // namespace gardivo
