#pragma once

#include <string>

namespace gardivo {

enum class MessageIcon { None, Error, Warning, Information, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No, Retry };

// One message box: what the user sees and which answers are offered.
struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    bool topmost = false;
};

// Every user-facing message of the programs goes through a reporter, so that the desktop shows
// message boxes while tests and the console demo record or print them.
class Reporter {
public:
    virtual ~Reporter() = default;
    // Shows the message and returns the user's answer.
    virtual MessageAnswer show(const Message& message) = 0;

    // The caption the monitoring program puts on its own boxes.
    static constexpr const char* kCaption = "Tavrin Gardivo";
};

// The answer a user gives by just pressing Enter: the first button offered.
MessageAnswer defaultAnswer(MessageButtons buttons);

// Prints each message on standard error and answers with the default button.
class ConsoleReporter final : public Reporter {
public:
    MessageAnswer show(const Message& message) override;
};

} // namespace gardivo
