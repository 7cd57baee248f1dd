#pragma once

// A top-level window hosting one page of the current skin. The main window shows the
// "ControlPanel" page; every further window is a content window that a page opened, the first of
// them the video window ("Screen"). Each has its own window.external (ExternalObject), its table
// of messages the page registered, the name the page registered it under and, once a page gives
// it one, a shape. Messages to it are handled by its owner's window procedure.

#include "SkinWindowOwner.h"
#include "WindowMessageEvent.h"

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QUrl>
#include <QWebEngineScript>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

class QWebChannel;
class QWebEngineView;

namespace gardivo {

class SkinPage;

class SkinWindow final : public QWidget {
    Q_OBJECT
public:
    SkinWindow(SkinWindowOwner& owner, bool isMainWindow);
    ~SkinWindow() override;

    bool isMainWindow() const { return m_isMain; }
    bool isVideoWindow() const { return m_isVideo; }
    void setVideoWindow() { m_isVideo = true; }

    // The name the page registered (RegisterID); empty until it does.
    const std::string& registeredName() const { return m_name; }
    void setRegisteredName(std::string name) { m_name = std::move(name); }
    // Message id -> page function (RegisterMsg).
    std::map<int32_t, std::string>& messageTable() { return m_messages; }

    // The size WindowShape gave the window; empty while it has none.
    QSize shapeSize() const { return m_shapeSize; }
    void setShape(const QSize& size, const QPolygon& outline);

    // Moving with the mouse (EnableMove / DisableMove) and the point the page grabbed.
    bool isMoving() const { return m_moving; }
    void setMoving(bool moving, QPoint grab = {}) {
        m_moving = moving;
        m_grab = grab;
    }
    QPoint grabPoint() const { return m_grab; }

    // Shows a page or a URL; only skin pages get window.external.
    void navigate(const QUrl& url);
    QUrl url() const;
    bool isPageLoaded() const { return m_loaded; }
    bool hasBridge() const { return m_bridge; }
    // Runs a script in the page; done learns whether it ran through (false when the page is not
    // there or the script threw).
    void runScript(const std::string& script, std::function<void(bool ran)> done = {});

    // Posts a message to this window (from any thread).
    void post(uint32_t message, intptr_t wParam = 0, intptr_t lParam = 0, std::string text = {});

    QWebEngineView* view() const { return m_view; }
    const std::string& programDirectory() const { return m_owner.programDirectory(); }

    // Called for every navigation of the page's main frame, before it happens; false refuses it.
    bool aboutToNavigate(const QUrl& url);
    // Whether the address is a page of the skins (and so gets window.external).
    bool isSkinUrl(const QUrl& url) const;

signals:
    void pageLoaded(bool ok);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The mouse over the page is the window's mouse too: moves, and clicks on the video window,
    // reach the window procedure as they happen; the page gets them all the same.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setBridge(bool attached);
    // Puts a new page in the view (the old one goes); forSkin: it is to show a skin document.
    void usePage(bool forSkin);
    void watchMouseOf(QObject* widget);

    SkinWindowOwner& m_owner;
    const bool m_isMain;
    bool m_isVideo = false;
    std::string m_name;
    std::map<int32_t, std::string> m_messages;
    QSize m_shapeSize;
    bool m_moving = false;
    QPoint m_grab;
    bool m_loaded = false;
    bool m_bridge = false;
    bool m_pageForSkin = false; // the page was made to show a skin document
    bool m_closing = false;

    QWebEngineView* m_view;
    SkinPage* m_page = nullptr;
    QWebChannel* m_channel;
    QObject* m_external;
    QWebEngineScript m_bridgeScript;
    QPointer<QObject> m_watchedProxy;
};

} // namespace gardivo
