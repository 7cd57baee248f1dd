#include "CaptureReporter.h"

#include "platform/Credentials.h"

#include <cstdio>

namespace gardivo {

void CaptureReporter::report(const char* label, Failure failure, const std::string& detail) {
    m_lastLabel = label;
    // The reason may quote a source line, and with it a camera's password.
    const std::string line = withoutCredentials(std::string("gardivo: ") + label + " failed" +
                                                (detail.empty() ? "" : ": " + detail));
    if (log)
        log(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
    say(failure == Failure::CannotConnect ? kUyvyText : kFailedText);
}

void CaptureReporter::say(const std::string& text) {
    m_reporter.show({withoutCredentials(text), "", MessageIcon::Warning, MessageButtons::Ok, false});
}

MessageAnswer CaptureReporter::ask(const char* text, const char* caption, MessageButtons buttons) {
    return m_reporter.show({text, caption, MessageIcon::Question, buttons, false});
}

} // namespace gardivo
