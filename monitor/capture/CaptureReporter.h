#pragma once

#include "platform/Reporter.h"

#include <functional>
#include <string>

namespace gardivo {

// How the capture side tells the user that a step failed. Every caller names its step with a
// label, which is not shown; the user sees one of two texts. Its boxes carry no caption.
class CaptureReporter {
public:
    // A step that could not connect because the source gives no picture Gardivo can turn into
    // UYVY; everything else is a plain failure.
    enum class Failure { Failed, CannotConnect };

    static constexpr const char* kUyvyText =
        "The capture device doesn't support UYVY video format!\nMotion detecing cannot work!";
    static constexpr const char* kFailedText = "Operation failed!";

    explicit CaptureReporter(Reporter& reporter) : m_reporter(reporter) {}

    void report(const char* label, Failure failure = Failure::Failed, const std::string& detail = {});
    // The capture side's own messages ("There's no capture driver!" and the like).
    void say(const std::string& text);
    MessageAnswer ask(const char* text, const char* caption, MessageButtons buttons);
    Reporter& reporter() { return m_reporter; }
    // The label of the last failure reported.
    const std::string& lastLabel() const { return m_lastLabel; }

    // The box shows neither the step nor the reason (the media framework's error text, say); both
    // go here as one line, or to standard error when this is not set.
    std::function<void(const std::string&)> log;

private:
    Reporter& m_reporter;
    std::string m_lastLabel;
};

} // namespace gardivo
