#pragma once

// window.external of one skin window. The page's stub sends every call here as a name and an
// array of arguments; the answer is {"result": value} or {"error": "DISP_E_..."}. Each method
// checks its arguments before it does anything: a wrong count or type is an error, never a crash.

#include "BridgeArguments.h"

#include <QObject>
#include <QVariantList>
#include <QVariantMap>

namespace gardivo {

class MonitorShell;
class SkinWindow;

class ExternalObject final : public QObject {
    Q_OBJECT
public:
    ExternalObject(MonitorShell& shell, SkinWindow& window);

    Q_INVOKABLE QVariantMap call(const QString& name, const QVariantList& args);

protected:
    // The channel publishes what every QObject has beside call(): deleteLater, which a page
    // could use to take the bridge away from its window, is ignored; the window deletes this
    // object itself.
    bool event(QEvent* event) override;

private:
    QVariantMap GetInitialStatus(const QVariantList& args);
    QVariantMap CreateContentWindow(const QVariantList& args);
    QVariantMap Help(const QVariantList& args);
    QVariantMap Explore(const QVariantList& args);
    QVariantMap Setup(const QVariantList& args);
    QVariantMap WindowShape(const QVariantList& args);
    QVariantMap EnableMove(const QVariantList& args);
    QVariantMap DisableMove(const QVariantList& args);
    QVariantMap Notify(const QVariantList& args);
    QVariantMap RegisterMsg(const QVariantList& args);
    QVariantMap UnRegisterMsg(const QVariantList& args);
    QVariantMap RegisterID(const QVariantList& args);
    QVariantMap Minimize(const QVariantList& args);
    QVariantMap MoveTo(const QVariantList& args);
    QVariantMap CloseWindow(const QVariantList& args);
    QVariantMap SetTitleIcon(const QVariantList& args);
    QVariantMap SetWindowRegion(const QVariantList& args);
    QVariantMap SetRegion(const QVariantList& args);
    QVariantMap Start(const QVariantList& args);
    QVariantMap VideoSource(const QVariantList& args);
    QVariantMap CloseHistory(const QVariantList& args);
    QVariantMap Localize(const QVariantList& args);
    QVariantMap SelectGroup(const QVariantList& args);
    QVariantMap OpenFile(const QVariantList& args);
    QVariantMap InitGroups(const QVariantList& args);
    QVariantMap DeleteRecord(const QVariantList& args);
    QVariantMap SaveCopy(const QVariantList& args);
    QVariantMap HistoryRows(const QVariantList& args);

    MonitorShell& shell() { return m_shell; }
    // Runs a script in this window's page (a failure is not reported).
    void run(const std::string& script);

    MonitorShell& m_shell;
    SkinWindow& m_window;
};

} // namespace gardivo
