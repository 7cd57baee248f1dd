#pragma once

// The notification-area icon of the main window with its tip and menu 111 ("Start Watchdog",
// "Stop Watchdog", "Open Setup wizard", "Exit"). Where the desktop has no notification area the
// icon cannot be shown, and the caller minimises instead of hiding every window.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace gardivo {

class TrayIcon final : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(int command)> command; // a menu item was chosen
        std::function<void()> clicked;            // the icon was clicked
        std::function<int()> mode;                // the monitoring mode now
        std::function<bool()> wizardRunning;      // the setup wizard is open
        std::function<bool()> startWaiting;       // a Start waits out its delay
    };

    explicit TrayIcon(Handlers handlers, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon with the tip "Tavrin Gardivo"; false when there is no notification area.
    bool add();
    void remove();
    static bool isAvailable();

    // The tip for a monitoring mode: "Tavrin Gardivo", "Detecting..." or "Tracing...".
    static QString tipFor(int mode);
    void updateTip(int mode);
    QString tip() const;

    // Sets the items' check and enable states for the mode, as before each showing. A Start that
    // waits out its delay counts as watching: the user can still call it off with Stop.
    void updateMenu(int mode, bool wizardRunning, bool startWaiting = false);
    QMenu* menu() const { return m_menu.get(); }
    QAction* action(int command) const;

private:
    Handlers m_handlers;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon* m_icon;
};

} // namespace gardivo
