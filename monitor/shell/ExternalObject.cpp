#include "ExternalObject.h"

#include "MonitorShell.h"
#include "OutlineTracer.h"
#include "SkinWindow.h"
#include "monitor/capture/PlayableCopy.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/messages/ScriptText.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/ProgramDirectory.h"
#include "platform/SkinPaths.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QPolygon>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gardivo {

namespace {

QVariantMap result(const QVariant& value = 0) {
    return {{QStringLiteral("result"), value}};
}

QVariantMap failure(BridgeFailure why) {
    return {{QStringLiteral("error"), QString::fromLatin1(failureName(why))}};
}

// The two arguments of a call that takes a point, fractions dropped; the failure when they are
// not two numbers.
std::optional<BridgeFailure> pointArgument(const QVariantList& args, QPoint& point) {
    if (args.size() != 2)
        return BridgeFailure::BadParamCount;
    const auto x = truncatedInt32(args[0]);
    const auto y = truncatedInt32(args[1]);
    if (!x || !y)
        return BridgeFailure::TypeMismatch;
    point = QPoint(*x, *y);
    return std::nullopt;
}

std::string text(const QVariant& value) {
    return value.toString().toStdString();
}

constexpr int kMaxShapePoints = 4096;

} // namespace

ExternalObject::ExternalObject(MonitorShell& shell, SkinWindow& window)
    : QObject(&window), m_shell(shell), m_window(window) {
    setObjectName(QStringLiteral("external"));
    // Nor can a page rename it: its name is put back.
    connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
        if (name != QStringLiteral("external"))
            setObjectName(QStringLiteral("external"));
    });
}

bool ExternalObject::event(QEvent* event) {
    if (event->type() == QEvent::DeferredDelete)
        return true;
    return QObject::event(event);
}

void ExternalObject::run(const std::string& script) {
    m_window.runScript(script);
}

QVariantMap ExternalObject::call(const QString& name, const QVariantList& args) {
    switch (dispidOf(name)) {
    case 100002:
        return GetInitialStatus(args);
    case 100003:
        return CreateContentWindow(args);
    case 100004: // NavigateContent, ForwardContent, BackContent, StopContent: accepted, ignored
    case 100005:
    case 100006:
    case 100007:
        return result();
    case 100008:
        return Help(args);
    case 100009:
        return Explore(args);
    case 100010:
        return Setup(args);
    case 100011:
        return WindowShape(args);
    case 100012:
        return EnableMove(args);
    case 100013:
        return DisableMove(args);
    case 100014:
        return Notify(args);
    case 100015:
        return RegisterMsg(args);
    case 100016:
        return UnRegisterMsg(args);
    case 100017:
        return RegisterID(args);
    case 100018:
        return Minimize(args);
    case 100019:
        return MoveTo(args);
    case 100020:
        return CloseWindow(args);
    case 100021:
        return SetTitleIcon(args);
    case 100022:
        return SetWindowRegion(args);
    case 100023:
        return SetRegion(args);
    case 100024:
        return Start(args);
    case 100025:
        return VideoSource(args);
    case 100026:
        return CloseHistory(args);
    case 100027:
        return Localize(args);
    case 100028:
        return SelectGroup(args);
    case 100029:
        return OpenFile(args);
    case 100030:
        return InitGroups(args);
    case 100031:
        return DeleteRecord(args);
    case kHistoryRowsMethod.dispid:
        return HistoryRows(args);
    case kSaveCopyMethod.dispid:
        return SaveCopy(args);
    default:
        return failure(BridgeFailure::UnknownName);
    }
}

QVariantMap ExternalObject::GetInitialStatus(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    shell().engine().post([](EngineHost& host) { host.reportInitialStatus(); });
    return result();
}

QVariantMap ExternalObject::CreateContentWindow(const QVariantList& args) {
    if (args.size() != 1)
        return failure(BridgeFailure::BadParamCount);
    if (!isString(args[0]))
        return failure(BridgeFailure::TypeMismatch);
    return result(shell().createContentWindow(text(args[0])));
}

QVariantMap ExternalObject::Help(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    const auto page = programFile(shell().programDirectory(), "help/help.htm");
    if (!page || !shell().opener().open(*page))
        shell().reporter().show(
            {"Can't find help.htm .", Reporter::kCaption, MessageIcon::Warning, MessageButtons::Ok, false});
    return result();
}

QVariantMap ExternalObject::Explore(const QVariantList& args) {
    if (args.size() != 1)
        return failure(BridgeFailure::BadParamCount);
    if (!isString(args[0]))
        return failure(BridgeFailure::TypeMismatch);
    // Only a folder inside the working directory is shown.
    if (const auto folder = explorableFolder(shell().workingDirectory(), text(args[0])))
        shell().opener().open(*folder);
    return result();
}

QVariantMap ExternalObject::Setup(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    shell().companions().StartSetupWizard(true);
    return result();
}

QVariantMap ExternalObject::WindowShape(const QVariantList& args) {
    if (args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    QSize size;
    QPolygon outline;
    const auto count = truncatedInt32(args[0]);
    if (count && *count != 0) {
        // A polygon of n points in window coordinates: exactly 2n more arguments.
        if (*count < 0 || *count > kMaxShapePoints || args.size() != 1 + 2 * static_cast<qsizetype>(*count))
            return failure(BridgeFailure::BadParamCount);
        for (int i = 0; i < *count; ++i) {
            const auto x = truncatedInt32(args[1 + 2 * i]);
            const auto y = truncatedInt32(args[2 + 2 * i]);
            if (!x || !y)
                return failure(BridgeFailure::TypeMismatch);
            outline << QPoint(*x, *y);
        }
        size = QSize(352, 300);
    } else {
        // A picture of the skin, traced into the window's outline.
        if (!isString(args.back()))
            return failure(BridgeFailure::TypeMismatch);
        const auto picture = programFile(shell().programDirectory(), text(args.back()));
        if (!picture)
            return result(1);
        const Outline traced = OutlineTracer::traceFile(*picture);
        if (traced.code != 0)
            return result(1);
        for (const auto& point : traced.polygon)
            outline << QPoint(point.x, point.y);
        size = QSize(traced.width, traced.height);
    }
    m_window.setShape(size, outline);
    shell().showShaped(m_window);
    return result();
}

QVariantMap ExternalObject::EnableMove(const QVariantList& args) {
    QPoint point;
    if (const auto bad = pointArgument(args, point))
        return failure(*bad);
    WindowMessageEvent message(WM_APP_ENABLE_MOVE, 0, packPoint(point.x(), point.y()));
    shell().windowProc(m_window, message);
    return result();
}

QVariantMap ExternalObject::DisableMove(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    WindowMessageEvent message(WM_APP_DISABLE_MOVE, 0, 0);
    shell().windowProc(m_window, message);
    return result();
}

QVariantMap ExternalObject::Notify(const QVariantList& args) {
    if (args.size() < 3)
        return failure(BridgeFailure::BadParamCount);
    const auto id = exactInt32(args[2]);
    if (!isString(args[0]) || !isString(args[1]) || !id)
        return failure(BridgeFailure::TypeMismatch);
    if (text(args[1]) != m_window.registeredName())
        return result(2);
    SkinWindow* target = shell().findWindow(text(args[0]));
    if (!target)
        return result(3);
    const auto entry = target->messageTable().find(*id);
    if (entry == target->messageTable().end())
        return result(4);
    std::string call = entry->second + "(";
    for (qsizetype i = 3; i < args.size(); ++i) {
        if (i > 3)
            call += ',';
        call += notifyArgumentText(args[i]);
    }
    call += ')';
    target->post(WM_APP_RUN_SCRIPT, *id, 0, std::move(call));
    return result();
}

QVariantMap ExternalObject::RegisterMsg(const QVariantList& args) {
    if (args.size() != 2)
        return failure(BridgeFailure::BadParamCount);
    const auto id = exactInt32(args[0]);
    if (!id || !isString(args[1]))
        return failure(BridgeFailure::TypeMismatch);
    if (!m_window.messageTable().emplace(*id, text(args[1])).second)
        return result(5);
    return result();
}

QVariantMap ExternalObject::UnRegisterMsg(const QVariantList& args) {
    if (args.size() != 1)
        return failure(BridgeFailure::BadParamCount);
    const auto id = exactInt32(args[0]);
    if (!id)
        return failure(BridgeFailure::TypeMismatch);
    m_window.messageTable().erase(*id);
    return result();
}

QVariantMap ExternalObject::RegisterID(const QVariantList& args) {
    if (args.size() != 1)
        return failure(BridgeFailure::BadParamCount);
    if (!isString(args[0]))
        return failure(BridgeFailure::TypeMismatch);
    const std::string name = text(args[0]);
    if (!shell().registry().addName(name, &m_window))
        return result(6);
    m_window.setRegisteredName(name);
    // A window that has its name now is above the others too when the settings say so.
    shell().applyTopmost();
    return result();
}

QVariantMap ExternalObject::Minimize(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    shell().minimizeFrom(m_window);
    return result();
}

QVariantMap ExternalObject::MoveTo(const QVariantList& args) {
    QPoint point;
    if (const auto bad = pointArgument(args, point))
        return failure(*bad);
    if (m_window.shapeSize().isEmpty())
        m_window.move(point);
    else
        m_window.setGeometry(QRect(point, m_window.shapeSize()));
    m_window.update();
    return result();
}

QVariantMap ExternalObject::CloseWindow(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    if (m_window.isMainWindow()) {
        // Closing the video window closes every window. Without one (a skin that never made it)
        // the main window closes itself, so the program can always be left.
        if (SkinWindow* screen = shell().findWindow(kScreen))
            screen->post(WM_CLOSE);
        else
            m_window.post(WM_CLOSE);
    } else {
        m_window.post(WM_CLOSE);
    }
    return result();
}

QVariantMap ExternalObject::SetTitleIcon(const QVariantList& args) {
    if (args.size() != 2)
        return failure(BridgeFailure::BadParamCount);
    if (!isString(args[0]) || !isString(args[1]))
        return failure(BridgeFailure::TypeMismatch);
    m_window.setWindowTitle(args[0].toString());
    if (const auto file = programFile(shell().programDirectory(), text(args[1]))) {
        const QIcon icon(QString::fromStdString(*file));
        if (!icon.isNull() && !icon.availableSizes().isEmpty())
            m_window.setWindowIcon(icon);
    }
    return result();
}

QVariantMap ExternalObject::SetWindowRegion(const QVariantList& args) {
    if (args.size() != 4)
        return failure(BridgeFailure::BadParamCount);
    int32_t edge[4];
    for (int i = 0; i < 4; ++i) {
        const auto value = truncatedInt32(args[i]);
        if (!value)
            return failure(BridgeFailure::TypeMismatch);
        edge[i] = *value;
    }
    // The engine refuses a picture of no size or beyond 4096 pixels a side; so does the window.
    const QRect rect =
        QRect(QPoint(edge[0], edge[1]), QPoint(edge[2], edge[3])).normalized().adjusted(0, 0, -1, -1);
    if (rect.width() >= 1 && rect.width() <= EngineHost::kMaxVideoSide && rect.height() >= 1 &&
        rect.height() <= EngineHost::kMaxVideoSide)
        shell().placeVideo(rect);
    shell().engine().post([l = edge[0], t = edge[1], r = edge[2], b = edge[3]](EngineHost& host) {
        host.setVideoRect(l, t, r, b);
    });
    return result();
}

QVariantMap ExternalObject::SetRegion(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    if (shell().findWindow(kScreen))
        shell().engine().post([](EngineHost& host) {
            if (host.engine())
                host.engine()->BeginRegionSelection();
        });
    return result();
}

QVariantMap ExternalObject::Start(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    shell().engine().post([](EngineHost& host) { host.startOrStop(false); });
    return result();
}

QVariantMap ExternalObject::VideoSource(const QVariantList& args) {
    QPoint point;
    if (const auto bad = pointArgument(args, point))
        return failure(*bad);
    const QPoint at = m_window.mapToGlobal(point);
    // The inputs are the capture side's: asked on the engine thread, shown on this one.
    QPointer<SkinWindow> window(&m_window);
    MonitorShell* owner = &shell();
    shell().engine().post([window, owner, at](EngineHost& host) {
        if (!host.capture() || host.capture()->connectorNames().empty())
            return;
        const std::vector<std::string> inputs = host.capture()->connectorNames();
        const std::string current = fieldText(host.settings().settings().VideoConnector);
        QMetaObject::invokeMethod(owner, [window, owner, inputs, current, at] {
            if (window)
                owner->showVideoSourceMenu(*window, inputs, current, at);
        });
    });
    return result();
}

QVariantMap ExternalObject::CloseHistory(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    m_window.post(WM_CLOSE);
    return result();
}

QVariantMap ExternalObject::Localize(const QVariantList& args) {
    if (args.size() != 1)
        return failure(BridgeFailure::BadParamCount);
    bool flag = false;
    if (args[0].typeId() == QMetaType::Bool) {
        flag = args[0].toBool();
    } else if (const auto number = numberOf(args[0]); number && !std::isnan(*number)) {
        flag = *number != 0; // NaN is neither true nor false: refused with the other non-numbers
    } else {
        return failure(BridgeFailure::TypeMismatch);
    }
    if (!flag)
        return result();
    const std::string& country = shell().country();
    const char* file = country == "81"    ? "Info/jinfo.txt"
                       : country == "886" ? "Info/cinfo.txt"
                                          : "Info/einfo.txt";
    run(scriptCall("Localize", resolveWithoutCase(shell().programDirectory(), file)));
    return result();
}

QVariantMap ExternalObject::SelectGroup(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    run(scriptCall("SelectRecord", shell().evidenceGroup()));
    return result();
}

QVariantMap ExternalObject::OpenFile(const QVariantList& args) {
    if (args.size() != 3)
        return failure(BridgeFailure::BadParamCount);
    const auto kind = truncatedInt32(args[0]);
    if (!kind || !isString(args[1]) || !isString(args[2]))
        return failure(BridgeFailure::TypeMismatch);
    // The evidence and the help: not the settings, the history or the skins of the program.
    const std::vector<std::string> allowed{shell().workingDirectory(),
                                           resolveWithoutCase(shell().programDirectory(), "help")};
    std::string path;
    if (*kind == 1) {
        HistoryStore history(shell().settings().dataDirectory());
        HistoryRecord record;
        if (history.FindRecord(text(args[1]), text(args[2]), record) > 0)
            path = record.VideoPath;
    } else {
        path = text(args[1]);
        if (!path.empty() && path.front() != '/')
            path = joinPath(shell().programDirectory(), path);
    }
    // Only a plain data file of the evidence or the program is handed to the desktop.
    if (const auto file = openableFile(path, allowed))
        shell().opener().open(*file);
    return result();
}

QVariantMap ExternalObject::SaveCopy(const QVariantList& args) {
    if (args.size() != 2)
        return failure(BridgeFailure::BadParamCount);
    if (!isString(args[0]) || !isString(args[1]))
        return failure(BridgeFailure::TypeMismatch);
    HistoryStore history(shell().settings().dataDirectory());
    HistoryRecord record;
    if (history.FindRecord(text(args[0]), text(args[1]), record) <= 0)
        return result(false);
    // Only a plain file of the evidence is read, whatever a row names.
    const auto clip = openableFile(record.VideoPath, {shell().workingDirectory()});
    if (!clip)
        return result(false);
    const std::string existing = existingPlayableCopy(*clip);
    const auto format = playableFormat();
    if (existing.empty() && !format) {
        shell().reporter().show({"No copy can be made: neither an H.264 nor a VP8 encoder is installed.",
                                 Reporter::kCaption, MessageIcon::Warning, MessageButtons::Ok, false});
        return result(false);
    }
    const std::string made = existing.empty() ? playableCopyPath(*clip, *format) : existing;
    const std::string extension = made.substr(made.find_last_of('.'));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    // The run's name keeps copies of the same condition number from different runs apart.
    const std::string suggested =
        joinPath(folder.toStdString(), text(args[0]) + "_" + std::filesystem::path(made).filename().string());
    std::string target = shell().opener().chooseSaveFile(suggested, "Video (*" + extension + ")");
    if (target.empty())
        return result(false);
    if (target.size() < extension.size() ||
        target.compare(target.size() - extension.size(), extension.size(), extension) != 0)
        target += extension;
    // The page may be gone when a copy being made is done; the shell is there until the end.
    MonitorShell* owner = &shell();
    const auto say = [owner](const std::string& what, MessageIcon icon) {
        owner->reporter().show({what, Reporter::kCaption, icon, MessageButtons::Ok, false});
    };
    if (!existing.empty()) {
        std::error_code ec;
        std::filesystem::copy_file(existing, target, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec)
            say("The copy could not be saved as " + target + ": " + ec.message(), MessageIcon::Warning);
        else
            say("The copy is saved as " + target + ".", MessageIcon::Information);
        return result(!ec);
    }
    // No copy beside the clip yet: one is made for the user, at the lowest priority, beside the
    // window rather than in its way.
    auto* process = new QProcess(&shell());
    process->setChildProcessModifier([] { ::setpriority(PRIO_PROCESS, 0, 19); });
    QObject::connect(process, &QProcess::finished, &shell(),
                     [process, target, say](int code, QProcess::ExitStatus status) {
                         const std::string why = process->readAllStandardError().trimmed().toStdString();
                         if (status == QProcess::NormalExit && code == 0)
                             say("The copy is saved as " + target + ".", MessageIcon::Information);
                         else
                             say("The copy could not be saved as " + target + ": " +
                                     (why.empty() ? std::string("the copy failed") : why),
                                 MessageIcon::Warning);
                         process->deleteLater();
                     });
    process->start(QString::fromStdString(playableCopier(shell().programDirectory())),
                   {"--to", QString::fromStdString(target), QString::fromStdString(*clip)});
    return result(true);
}

QVariantMap ExternalObject::InitGroups(const QVariantList& args) {
    if (!args.isEmpty())
        return failure(BridgeFailure::BadParamCount);
    shell().historyOpen = true;
    HistoryStore history(shell().settings().dataDirectory());
    run(scriptCall("InitGroups", history.pageConnectionString(),
                   "SELECT * FROM history ORDER BY GroupName DESC, Description DESC"));
    return result();
}

QVariantMap ExternalObject::DeleteRecord(const QVariantList& args) {
    if (args.size() != 2)
        return failure(BridgeFailure::BadParamCount);
    if (!isString(args[0]) || !isString(args[1]))
        return failure(BridgeFailure::TypeMismatch);
    const std::string group = text(args[0]);
    HistoryStore history(shell().settings().dataDirectory());
    const DeleteOutcome outcome = history.DeleteRecords(shell().workingDirectory(), group, text(args[1]));
    // The page is told what the table holds now: the group is gone only when no row of it is
    // left.
    if (outcome.ok && outcome.rowsLeft == 0)
        run(scriptCall("DeleteItemFromGroups", group));
    else
        run(scriptCall("SelectRecord", group));
    return result();
}

QVariantMap ExternalObject::HistoryRows(const QVariantList& args) {
    if (args.size() > 1)
        return failure(BridgeFailure::BadParamCount);
    if (args.size() == 1 && !isString(args[0]))
        return failure(BridgeFailure::TypeMismatch);
    HistoryStore history(shell().settings().dataDirectory());
    std::vector<HistoryRecord> rows = history.allRecords();
    if (args.size() == 1) {
        const std::string group = text(args[0]);
        std::erase_if(rows, [&](const HistoryRecord& row) { return row.GroupName != group; });
    }
    std::stable_sort(rows.begin(), rows.end(), [](const HistoryRecord& a, const HistoryRecord& b) {
        return a.GroupName != b.GroupName ? a.GroupName > b.GroupName : a.Description > b.Description;
    });
    QVariantList list;
    list.reserve(static_cast<qsizetype>(rows.size()));
    // A row may name a clip that was never written (the program was killed as the alarm came):
    // the page is given no clip to play rather than one that fails.
    const auto existing = [](const std::string& path) {
        struct stat st {};
        return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
                   ? path
                   : std::string();
    };
    for (const auto& row : rows)
        list.append(QVariantMap{{"GroupName", QString::fromStdString(row.GroupName)},
                                {"Time", QString::fromStdString(row.Time)},
                                {"Remark", QString::fromStdString(row.Remark)},
                                {"Description", QString::fromStdString(row.Description)},
                                {"ImagePath", QString::fromStdString(row.ImagePath)},
                                {"VideoPath", QString::fromStdString(existing(row.VideoPath))}});
    return result(list);
}

} // namespace gardivo
