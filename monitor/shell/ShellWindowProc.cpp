// The window procedure every skin window shares, the tray icon's clicks, the commands of the tray
// and pop-up menus, and those menus.

#include "MonitorShell.h"

#include "SkinWindow.h"
#include "TrayIcon.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/messages/ScriptText.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/SkinPaths.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPointer>
#include <QUrl>

#include <algorithm>

namespace gardivo {

int64_t MonitorShell::windowProc(SkinWindow& window, WindowMessageEvent& message) {
    const intptr_t w = message.wParam;
    const intptr_t l = message.lParam;
    switch (message.message) {
    case WM_CLOSE:
        window.close();
        return 0;
    case WM_USER:
        if (window.isVideoWindow())
            videoWindowStartUp(window);
        return 0;
    case WM_MOUSEMOVE:
        if (window.isMoving()) {
            const QPoint grab = window.grabPoint();
            window.move(window.pos() + QPoint(pointX(l) - grab.x(), pointY(l) - grab.y()));
        } else if (window.isVideoWindow()) {
            m_engine->post([x = pointX(l), y = pointY(l)](EngineHost& host) {
                if (host.engine())
                    host.engine()->regionMouseMove(x, y);
            });
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        if (window.isVideoWindow())
            m_engine->post(
                [down = message.message == WM_LBUTTONDOWN, x = pointX(l), y = pointY(l)](EngineHost& host) {
                    if (!host.engine())
                        return;
                    if (down)
                        host.engine()->regionButtonDown(x, y);
                    else
                        host.engine()->regionButtonUp(x, y);
                });
        return 0;
    case WM_APP_ENABLE_MOVE:
        window.setMoving(true, QPoint(pointX(l), pointY(l)));
        return 0;
    case WM_APP_DISABLE_MOVE:
        window.setMoving(false);
        return 0;
    case WM_APP_RUN_SCRIPT:
        window.runScript(message.text);
        return 0;
    case WM_APP_HIDE:
        window.hide();
        return 0;
    case WM_APP_SHOW:
        window.show();
        window.raise();
        window.activateWindow();
        return 0;
    case WM_APP_NEW_RECORD: {
        const std::string group = evidenceGroup();
        if (!window.isMainWindow()) {
            window.showNormal();
            window.raise();
            runScriptWhenReady(window, scriptCall("SelectRecord", group));
        } else if (!historyOpen) {
            historyOpen = true;
            runScriptWhenReady(window, "CreateHistoryWindow()");
        } else {
            runScriptWhenReady(window, scriptCall("SelectRecord", group));
        }
        return 0;
    }
    case WM_APP_PRUNE_HISTORY: {
        HistoryStore history(m_settings.dataDirectory());
        std::vector<std::string> groups;
        if (history.PruneMissingGroups(workingDirectory(), groups))
            for (const auto& group : groups)
                runScriptWhenReady(window, scriptCall("DeleteItemFromGroups", group));
        return 0;
    }
    case WM_APP_MODE_CHANGED:
        if (window.isMainWindow()) {
            const int mode = m_settings.mode();
            m_tray->updateTip(mode);
            runScriptWhenReady(window, scriptCall("DescChange", "mode", detectionModeName(mode)));
        }
        return 0;
    case WM_APP_REPORT:
        if (w == 1 || w == 2)
            m_engine->post([w](EngineHost& host) { host.handleMessage(WM_APP_REPORT, w, 0); });
        else
            runScriptWhenReady(
                window, scriptCall("DescChange", "dimension", std::to_string(w) + "x" + std::to_string(l)));
        return 0;
    case WM_APP_REGION_DONE:
        if (window.isVideoWindow()) {
            // The user confirms the region on the engine thread; once selecting is over, the engine
            // tells the main page.
            m_engine->post([](EngineHost& host) {
                if (host.engine())
                    host.engine()->EndRegionSelection();
            });
        } else if (window.isMainWindow()) {
            runScriptWhenReady(window, "SetRegion(0)");
        }
        return 0;
    case WM_APP_SELECT_DEVICE:
    case WM_APP_SELECT_STANDARD:
    case WM_APP_SETTINGS_CHANGED:
    case WM_APP_PROC_AMP: {
        // The capture side is the engine thread's; a sender that waits is answered once it has
        // been handled there.
        auto reply = std::exchange(message.reply, {});
        m_engine->post([this, id = message.message, w, l, reply](EngineHost& host) {
            host.handleMessage(id, w, l);
            // The windows follow the settings once they have been read again.
            if (id == WM_APP_SETTINGS_CHANGED)
                QMetaObject::invokeMethod(this, [this] { applyTopmost(); });
            if (reply)
                reply(1);
        });
        return 0;
    }
    case WM_APP_TRAY:
        trayMessage(window, l);
        return 0;
    case WM_COMMAND:
        command(window, static_cast<int>(w & 0xFFFF));
        return 0;
    default:
        return 0;
    }
}

void MonitorShell::trayMessage(SkinWindow&, intptr_t mouseMessage) {
    switch (mouseMessage) {
    case WM_MOUSEMOVE:
        m_tray->updateTip(m_settings.mode());
        break;
    case WM_LBUTTONDOWN:
        showAll(true);
        removeTrayIcon();
        // A nudge, so the video window repaints over what was there.
        if (SkinWindow* screen = findWindow(kScreen)) {
            const QRect frame = screen->geometry();
            screen->setGeometry(frame.translated(-1, -1));
        }
        break;
    case WM_RBUTTONDOWN:
        m_tray->updateMenu(m_settings.mode(), !m_companions.IsSetupWizardFree(), m_engine->startWaiting());
        m_tray->menu()->popup(QCursor::pos());
        break;
    default:
        break;
    }
}

void MonitorShell::command(SkinWindow& window, int id) {
    if (id == kCommandStartWatchdog) {
        if (m_settings.mode() == StandBy)
            m_engine->post([](EngineHost& host) {
                if (host.engine() && host.engine()->mode() == StandBy)
                    host.engine()->StartCommand(true);
            });
    } else if (id == kCommandStopWatchdog) {
        stopFromMenu();
    } else if (id == kCommandOpenSetupWizard) {
        if (m_companions.IsSetupWizardFree())
            m_companions.StartSetupWizard(false);
    } else if (id == kCommandExit) {
        window.post(WM_CLOSE);
        removeTrayIcon();
    } else if (id >= kCommandFirstVideoSource - 1 && id <= kCommandLastVideoSource) {
        QAction* item = nullptr;
        if (m_popup)
            for (QAction* a : m_popup->actions())
                if (a->data().toInt() == id)
                    item = a;
        if (!item)
            return;
        m_engine->post([name = item->text().toStdString()](EngineHost& host) {
            if (host.capture())
                host.capture()->SelectVideoSource(name);
        });
    } else if (id >= kCommandFirstSkin) {
        // Every skin listed in the menu can be chosen.
        const std::vector<std::string> skins = listSkins(programDirectory());
        const size_t index = static_cast<size_t>(id - kCommandFirstSkin);
        if (index >= skins.size())
            return;
        const std::string& skin = skins[index];
        const auto page = programFile(programDirectory(), "skins/" + skin + "/skin.htm");
        if (!page)
            return;
        if (SkinWindow* history = findWindow(kHistory))
            history->close();
        showAll(false);
        skinChangePending = true;
        window.navigate(QUrl::fromLocalFile(QString::fromStdString(*page)));
        currentSkin = skin;
    }
}

void MonitorShell::stopFromMenu() {
    // A start delay under way ends now rather than after its time.
    m_engine->interruptWaits();
    m_engine->post([](EngineHost& host) {
        if (host.engine())
            host.engine()->StopCommand();
        host.waitsMayRunAgain();
    });
}

void MonitorShell::showSkinMenu(SkinWindow& window, const QPoint& at) {
    if (!window.isMainWindow())
        return;
    m_popup = std::make_unique<QMenu>();
    const std::vector<std::string> skins = listSkins(programDirectory());
    for (size_t n = 0; n < skins.size(); ++n) {
        QAction* item = m_popup->addAction(QString::fromStdString(skins[n]));
        const int id = kCommandFirstSkin + static_cast<int>(n);
        item->setData(id);
        item->setCheckable(true);
        item->setChecked(QString::fromStdString(skins[n]).compare(QString::fromStdString(currentSkin),
                                                                  Qt::CaseInsensitive) == 0);
        QPointer<SkinWindow> target(&window);
        connect(item, &QAction::triggered, this, [this, target, id] {
            if (target)
                command(*target, id);
        });
    }
    m_popup->popup(at);
}

void MonitorShell::showVideoSourceMenu(SkinWindow& window, const std::vector<std::string>& inputs,
                                       const std::string& current, const QPoint& at) {
    m_popup = std::make_unique<QMenu>();
    const size_t count =
        std::min<size_t>(inputs.size(), kCommandLastVideoSource - kCommandFirstVideoSource + 1);
    for (size_t i = 0; i < count; ++i) {
        QAction* item = m_popup->addAction(QString::fromStdString(inputs[i]));
        const int id = kCommandFirstVideoSource + static_cast<int>(i);
        item->setData(id);
        item->setCheckable(true);
        item->setChecked(inputs[i] == current);
        QPointer<SkinWindow> target(&window);
        connect(item, &QAction::triggered, this, [this, target, id] {
            if (target)
                command(*target, id);
        });
    }
    m_popup->popup(at);
}

} // namespace gardivo
