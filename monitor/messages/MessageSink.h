#pragma once

// How the parts of gardivo below the windows reach them: by the name a skin page registered, with
// the program's own window messages. The engine and the history watcher post through it; the
// shell delivers.

#include <cstdint>
#include <string>

namespace gardivo {

// Messages to the skin windows by registered name, and the few window actions the engine asks for.
// Every call may come from any thread and never waits for the window.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual bool windowExists(const std::string& name) const = 0;
    virtual void postMessage(const std::string& window, uint32_t message, intptr_t wParam,
                             intptr_t lParam) = 0;
    virtual void runScript(const std::string& window, const std::string& script) = 0;
    // Hide the main window and show the tray icon (tip "Tavrin Gardivo").
    virtual void minimizeToTray() = 0;
    virtual void openTracingBox() = 0;
    virtual void closeTracingBox() = 0;
};

} // namespace gardivo
