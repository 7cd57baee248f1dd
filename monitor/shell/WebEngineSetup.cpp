#include "WebEngineSetup.h"

#include <QByteArray>
#include <QtGlobal>

#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace gardivo {

std::string withProgramSwitches(const std::string& userSwitches) {
    std::vector<std::string> given;
    std::istringstream words(userSwitches);
    for (std::string word; words >> word;)
        given.push_back(word.substr(0, word.find('=')));
    std::string switches = userSwitches;
    for (const char* own : {"--process-per-site", "--no-unsandboxed-zygote"}) {
        bool present = false;
        for (const auto& word : given)
            present |= word == own;
        if (present)
            continue;
        if (!switches.empty())
            switches += ' ';
        switches += own;
    }
    return switches;
}

void prepareWebEngineEnvironment() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    const std::string flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").toStdString();
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", QByteArray::fromStdString(withProgramSwitches(flags)));
    if (!webSandboxPossible() && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

bool webSandboxOn() {
    // The web engine turns the sandbox off when the variable is there at all, whatever it holds.
    return !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") &&
           !qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--no-sandbox");
}

bool webSandboxPossible(const std::string& kernelSettings) {
    if (::geteuid() == 0)
        return false;
    const auto number = [&](const char* file) {
        std::ifstream in(kernelSettings + "/" + file);
        long value = -1;
        return (in >> value) ? value : -1L;
    };
    // Debian's switch for unprivileged user namespaces, and the number a user may make.
    if (number("kernel/unprivileged_userns_clone") == 0 || number("user/max_user_namespaces") == 0)
        return false;
    return true;
}

} // namespace gardivo
