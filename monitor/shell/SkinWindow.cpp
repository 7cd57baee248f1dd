#include "SkinWindow.h"

#include "Artwork.h"
#include "BridgeScript.h"
#include "platform/SkinPaths.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QRegion>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>
#include <QWindowStateChangeEvent>

#include <cstdio>
#include <cstdlib>

namespace gardivo {

// The page of a skin window: it decides, before each navigation, whether the document to come
// is a skin page (and gets window.external) or not, opens no windows of its own, and keeps
// frames of other sites out of skin pages.
class SkinPage final : public QWebEnginePage {
public:
    SkinPage(QWebEngineProfile* profile, SkinWindow& window)
        : QWebEnginePage(profile, &window), m_window(window) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        if (isMainFrame)
            return m_window.aboutToNavigate(url);
        if (url.scheme() == "about" || url.scheme() == "data")
            return true;
        return url.isLocalFile() && isWithin(m_window.programDirectory(), url.toLocalFile().toStdString());
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int line,
                                  const QString& source) override {
        // Skin authors can see what their pages say with GARDIVO_PAGE_LOG=1.
        static const bool log = std::getenv("GARDIVO_PAGE_LOG") != nullptr;
        if (log)
            std::fprintf(stderr, "page %s:%d: %s\n", qPrintable(source), line, qPrintable(message));
    }

private:
    SkinWindow& m_window;
};

namespace {

Qt::WindowFlags frameFlags(bool isMain) {
    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    // Content windows are tool windows: no task-bar button of their own.
    return flags | (isMain ? Qt::Window : Qt::Tool);
}

const QString& bridgeSource() {
    static const QString source = bridgeScriptSource();
    return source;
}

} // namespace

SkinWindow::SkinWindow(SkinWindowOwner& owner, bool isMainWindow)
    : QWidget(nullptr, frameFlags(isMainWindow)), m_owner(owner), m_isMain(isMainWindow) {
    setObjectName(isMainWindow ? "MainWindow" : "ContentWindow");
    setWindowTitle(QString());
    setWindowIcon(programIcon());
    setAttribute(Qt::WA_QuitOnClose, false);

    m_view = new QWebEngineView(this);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_owner.contextMenuAt(*this, m_view->mapToGlobal(at)); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);

    m_external = m_owner.makeExternal(*this);
    m_channel = new QWebChannel(this);
    m_channel->registerObject(QStringLiteral("external"), m_external);
    m_bridgeScript.setName(QStringLiteral("gardivo-external"));
    m_bridgeScript.setInjectionPoint(QWebEngineScript::DocumentCreation);
    m_bridgeScript.setWorldId(QWebEngineScript::MainWorld);
    m_bridgeScript.setRunsOnSubFrames(false);
    m_bridgeScript.setSourceCode(bridgeSource());

    usePage(false);
    m_view->installEventFilter(this);
    resize(640, 480);
}

SkinWindow::~SkinWindow() {
    // The page goes before the profile and the channel it uses.
    m_view->setPage(nullptr);
    delete m_page;
}

bool SkinWindow::isSkinUrl(const QUrl& url) const {
    return url.isLocalFile() && isSkinPage(m_owner.programDirectory(), url.toLocalFile().toStdString());
}

bool SkinWindow::aboutToNavigate(const QUrl& url) {
    const bool skin = isSkinUrl(url);
    if (skin == m_bridge) {
        m_loaded = false;
        return true;
    }
    // The bridge cannot change under a navigation in progress: this one is dropped, and the page
    // goes there afresh once the bridge is what the new document may have.
    QPointer<SkinWindow> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, url] {
            if (self)
                self->navigate(url);
        },
        Qt::QueuedConnection);
    return false;
}

void SkinWindow::usePage(bool forSkin) {
    SkinPage* old = m_page;
    m_page = new SkinPage(m_owner.profile(), *this);
    m_pageForSkin = forSkin;
    m_bridge = false;
    connect(m_page, &QWebEnginePage::loadStarted, this, [this] {
        m_loaded = false;
        watchMouseOf(m_view->focusProxy());
    });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        m_loaded = ok;
        // The bridge follows the document that is there now: a skin page made for a skin keeps
        // it (a cancelled navigation to another site leaves the skin document in place); any
        // other document loses it.
        setBridge(m_pageForSkin && isSkinUrl(url()));
        watchMouseOf(m_view->focusProxy());
        emit pageLoaded(ok);
    });
    m_view->setPage(m_page);
    if (old) {
        old->disconnect(this);
        old->setWebChannel(nullptr);
        old->deleteLater();
    }
}

void SkinWindow::setBridge(bool attached) {
    if (attached == m_bridge)
        return;
    m_bridge = attached;
    if (attached) {
        m_page->setWebChannel(m_channel);
        m_page->scripts().insert(m_bridgeScript);
    } else {
        m_page->setWebChannel(nullptr);
        m_page->scripts().remove(m_bridgeScript);
    }
}

void SkinWindow::navigate(const QUrl& url) {
    m_loaded = false;
    if (isSkinUrl(url)) {
        // Every skin document gets a page of its own, and only that page ever has the channel:
        // the document that is leaving (another site, a file outside the skins) stays in the old
        // page, which never had it, so neither its timers nor its unload handler can reach the
        // bridge while the skin loads.
        usePage(true);
        setBridge(true);
    } else {
        setBridge(false);
    }
    m_page->load(url);
}

QUrl SkinWindow::url() const {
    return m_page->url();
}

void SkinWindow::runScript(const std::string& script, std::function<void(bool)> done) {
    QPointer<SkinWindow> self(this);
    m_page->runJavaScript(guardedScript(QString::fromStdString(script)),
                          [self, done](const QVariant& result) {
                              const bool ran = result.typeId() == QMetaType::Bool && result.toBool();
                              if (done && self)
                                  done(ran);
                          });
}

void SkinWindow::post(uint32_t message, intptr_t wParam, intptr_t lParam, std::string text) {
    QCoreApplication::postEvent(this, new WindowMessageEvent(message, wParam, lParam, std::move(text)));
}

void SkinWindow::setShape(const QSize& size, const QPolygon& outline) {
    hide();
    // Caption and sizing border go; the shape is the window's whole outline. (Qt drops the
    // frameless hint when any of the caption's buttons is asked for.)
    // Staying on top is the settings' and is kept.
    const bool onTop = windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    setWindowFlags((m_isMain ? Qt::Window : Qt::Tool) | Qt::FramelessWindowHint |
                   (onTop ? Qt::WindowStaysOnTopHint : Qt::WindowFlags()));
    m_shapeSize = size;
    setFixedSize(size);
    if (outline.size() >= 3)
        setMask(QRegion(outline, Qt::OddEvenFill));
    else
        clearMask();
}

bool SkinWindow::event(QEvent* event) {
    if (event->type() == WindowMessageEvent::eventType()) {
        auto* message = static_cast<WindowMessageEvent*>(event);
        const int64_t result = m_owner.windowProc(*this, *message);
        if (message->reply)
            message->reply(result);
        return true;
    }
    return QWidget::event(event);
}

void SkinWindow::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        m_closing = true;
        m_owner.windowClosing(*this);
    }
    event->accept();
}

void SkinWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && m_isMain) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        // Brought back from the task bar: the other windows come back with it.
        if ((change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized))
            m_owner.windowRestored(*this);
    }
    QWidget::changeEvent(event);
}

void SkinWindow::watchMouseOf(QObject* widget) {
    if (!widget || widget == m_watchedProxy)
        return;
    if (m_watchedProxy)
        m_watchedProxy->removeEventFilter(this);
    m_watchedProxy = widget;
    widget->installEventFilter(this);
}

bool SkinWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view) {
        // The view makes the widget that receives the page's input when its page first renders.
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished)
            watchMouseOf(m_view->focusProxy());
        return false;
    }
    if (watched != m_watchedProxy)
        return false;
    const auto type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint client = mapFromGlobal(mouse->globalPosition().toPoint());
    if (type == QEvent::MouseMove) {
        WindowMessageEvent message(WM_MOUSEMOVE, 2, packPoint(client.x(), client.y()));
        m_owner.windowProc(*this, message);
    } else if (m_isVideo && mouse->button() == Qt::LeftButton) {
        const QSize area = m_shapeSize.isEmpty() ? size() : m_shapeSize;
        if (QRect(QPoint(0, 0), area).contains(client)) {
            WindowMessageEvent message(type == QEvent::MouseButtonPress ? WM_LBUTTONDOWN : WM_LBUTTONUP, 0,
                                       packPoint(client.x(), client.y()));
            m_owner.windowProc(*this, message);
        }
    }
    return false;
}

} // namespace gardivo
