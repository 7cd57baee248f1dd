#pragma once

// What a skin window needs of the program that owns it: the program directory its pages come
// from, the web profile they share, the window.external object for its pages, and the one window
// procedure that handles what happens to it. The window knows its owner only through this.

#include "WindowMessageEvent.h"

#include <cstdint>
#include <string>

class QObject;
class QPoint;
class QWebEngineProfile;

namespace gardivo {

class SkinWindow;

class SkinWindowOwner {
public:
    virtual ~SkinWindowOwner() = default;

    virtual const std::string& programDirectory() const = 0;
    virtual QWebEngineProfile* profile() const = 0;
    // window.external of the window's skin pages, owned by the window.
    virtual QObject* makeExternal(SkinWindow& window) = 0;
    // A message for the window, handled by the program's window procedure.
    virtual int64_t windowProc(SkinWindow& window, WindowMessageEvent& message) = 0;
    // The window is closing (WM_CLOSE), before it goes.
    virtual void windowClosing(SkinWindow& window) = 0;
    // The main window came back from the task bar.
    virtual void windowRestored(SkinWindow& window) = 0;
    // The page was right-clicked at a screen point.
    virtual void contextMenuAt(SkinWindow& window, const QPoint& at) = 0;

protected:
    SkinWindowOwner() = default;
    SkinWindowOwner(const SkinWindowOwner&) = default;
    SkinWindowOwner& operator=(const SkinWindowOwner&) = default;
};

} // namespace gardivo
