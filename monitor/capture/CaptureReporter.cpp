#include "CaptureReporter.h"

namespace gardivo {

void CaptureReporter::report(const char* label, Failure failure, const std::string& detail) {
    m_lastLabel = label;
    m_lastDetail = detail;
    say(failure == Failure::CannotConnect ? kUyvyText : kFailedText);
}

void CaptureReporter::say(const std::string& text) {
    m_reporter.show({text, "", MessageIcon::Warning, MessageButtons::Ok, false});
}

MessageAnswer CaptureReporter::ask(const char* text, const char* caption, MessageButtons buttons) {
    return m_reporter.show({text, caption, MessageIcon::Question, buttons, false});
}

} // namespace gardivo
