#include "TrayIcon.h"

#include "Artwork.h"
#include "WindowMessageEvent.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace gardivo {

TrayIcon::TrayIcon(Handlers handlers, QObject* parent)
    : QObject(parent), m_handlers(std::move(handlers)), m_menu(std::make_unique<QMenu>()),
      m_icon(new QSystemTrayIcon(programIcon(), this)) {
    const auto addItem = [this](int command, const char* text) {
        QAction* item = m_menu->addAction(QString::fromLatin1(text));
        item->setData(command);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, command] {
            if (m_handlers.command)
                m_handlers.command(command);
        });
    };
    addItem(kCommandStartWatchdog, "Start Watchdog");
    addItem(kCommandStopWatchdog, "Stop Watchdog");
    m_menu->addSeparator();
    addItem(kCommandOpenSetupWizard, "Open Setup wizard");
    m_menu->addSeparator();
    addItem(kCommandExit, "Exit");
    action(kCommandStopWatchdog)->setCheckable(false);
    action(kCommandExit)->setCheckable(false);
    // The states are those of the moment the menu opens.
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        updateMenu(m_handlers.mode ? m_handlers.mode() : StandBy,
                   m_handlers.wizardRunning && m_handlers.wizardRunning(),
                   m_handlers.startWaiting && m_handlers.startWaiting());
    });
    m_icon->setContextMenu(m_menu.get());
    m_icon->setToolTip(tipFor(StandBy));
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if ((reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) &&
            m_handlers.clicked)
            m_handlers.clicked();
    });
}

TrayIcon::~TrayIcon() {
    m_icon->hide();
}

bool TrayIcon::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::add() {
    if (!isAvailable())
        return false;
    m_icon->setToolTip(tipFor(m_handlers.mode ? m_handlers.mode() : StandBy));
    m_icon->show();
    return true;
}

void TrayIcon::remove() {
    m_icon->hide();
}

QString TrayIcon::tipFor(int mode) {
    switch (mode) {
    case WatchDog:
        return QStringLiteral("Detecting...");
    case Tracing:
        return QStringLiteral("Tracing...");
    default:
        return QStringLiteral("Tavrin Gardivo");
    }
}

void TrayIcon::updateTip(int mode) {
    m_icon->setToolTip(tipFor(mode));
}

QString TrayIcon::tip() const {
    return m_icon->toolTip();
}

QAction* TrayIcon::action(int command) const {
    for (QAction* item : m_menu->actions())
        if (!item->isSeparator() && item->data().toInt() == command)
            return item;
    return nullptr;
}

void TrayIcon::updateMenu(int mode, bool wizardRunning, bool startWaiting) {
    QAction* start = action(kCommandStartWatchdog);
    QAction* stop = action(kCommandStopWatchdog);
    QAction* wizard = action(kCommandOpenSetupWizard);
    const bool watching = mode != StandBy || startWaiting;
    start->setChecked(watching);
    start->setEnabled(!watching);
    stop->setEnabled(watching);
    wizard->setChecked(wizardRunning);
    wizard->setEnabled(!wizardRunning);
}

} // namespace gardivo
