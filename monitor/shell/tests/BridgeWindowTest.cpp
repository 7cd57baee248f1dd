// The bridge as pages meet it: real pages in the real web engine call window.external and get
// the result codes, the script calls and the window changes the program promises.

#include "ShellTestKit.h"
#include "monitor/capture/PlayableCopy.h"
#include "monitor/capture/tests/PlayedFrames.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/messages/WindowMessages.h"
#include "platform/tests/OrdinaryUser.h"

#include <QMouseEvent>
#include <QTcpServer>
#include <QTcpSocket>

#include <atomic>
#include <sys/stat.h>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

// A web server on the loopback for pages that are not skin pages.
class TinyWebServer {
public:
    TinyWebServer() {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    // Answered once the whole request is in.
                    QByteArray& request = m_pending[socket];
                    request += socket->readAll();
                    if (!request.contains("\r\n\r\n"))
                        return;
                    requests.push_back(request.split(' ').value(1).toStdString());
                    m_pending.erase(socket);
                    const QByteArray body =
                        "<html><head><script>window.kind = typeof window.external.GetInitialStatus;"
                        "window.transport = typeof qt;</script></head><body>remote</body></html>";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                                  "Cache-Control: no-store\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_server.serverPort()) + path;
    }
    std::vector<std::string> requests;

private:
    QTcpServer m_server;
    std::map<QTcpSocket*, QByteArray> m_pending;
};

} // namespace

TEST_F(ShellTest, EveryMethodChecksItsArgumentsAndUnknownNamesFail) {
    SkinWindow& page = main();
    EXPECT_EQ(resultOf(page, "RegisterID('ControlPanel')"), 0); // the page's own name again
    EXPECT_EQ(errorOf(page, "NoSuchMethod()"), "DISP_E_UNKNOWNNAME");
    EXPECT_EQ(errorOf(page, "getinitialstatus()"), "DISP_E_UNKNOWNNAME");

    // Wrong counts.
    for (const char* call : {"GetInitialStatus(1)",
                             "CreateContentWindow()",
                             "Help(1)",
                             "Explore()",
                             "Setup(1)",
                             "WindowShape()",
                             "EnableMove(1)",
                             "DisableMove(1)",
                             "Notify('a','b')",
                             "RegisterMsg(1)",
                             "UnRegisterMsg()",
                             "RegisterID()",
                             "Minimize(1)",
                             "MoveTo(1)",
                             "CloseWindow(1)",
                             "SetTitleIcon('a')",
                             "SetWindowRegion(1,2,3)",
                             "SetRegion(1)",
                             "Start(1)",
                             "VideoSource(1)",
                             "CloseHistory(1)",
                             "Localize()",
                             "SelectGroup(1)",
                             "OpenFile(1,'a')",
                             "InitGroups(1)",
                             "DeleteRecord('a')",
                             "HistoryRows('a','b')",
                             "SaveCopy('a')",
                             "WindowShape(2, 0, 0, 10)",
                             "WindowShape(5000)",
                             "WindowShape(-1, 0, 0)"})
        EXPECT_EQ(errorOf(page, call), "DISP_E_BADPARAMCOUNT") << call;
    // Wrong types.
    for (const char* call : {"CreateContentWindow(5)",
                             "Explore(null)",
                             "EnableMove('a', 1)",
                             "Notify(1, 'b', 3)",
                             "Notify('a', 'b', 'c')",
                             "Notify('a', 'b', 1.5)",
                             "RegisterMsg('7', 'f')",
                             "RegisterMsg(7, 8)",
                             "UnRegisterMsg('x')",
                             "RegisterID(6)",
                             "MoveTo({}, 1)",
                             "SetTitleIcon(1, 'x')",
                             "SetWindowRegion('a', 0, 0, 0)",
                             "VideoSource(NaN, 1)",
                             "Localize('yes')",
                             "Localize(NaN)",
                             "HistoryRows(JSON.parse('['.repeat(2000) + ']'.repeat(2000)))",
                             "RegisterID((function () { var a = {}; a.a = a; return a; })())",
                             "OpenFile(1, 2, 'x')",
                             "DeleteRecord('a', 1)",
                             "SaveCopy('a', 2)",
                             "HistoryRows(3)",
                             "WindowShape(0)",
                             "WindowShape(1, 'x', 0)"})
        EXPECT_EQ(errorOf(page, call), "DISP_E_TYPEMISMATCH") << call;
    // Accepted and ignored.
    for (const char* call :
         {"NavigateContent('x')", "ForwardContent()", "BackContent(1, 2)", "StopContent()"})
        EXPECT_EQ(resultOf(page, call), 0) << call;
    // The page is still there and answering.
    EXPECT_EQ(resultOf(page, "UnRegisterMsg(99)"), 0);
}

TEST_F(ShellTest, CallsMadeBeforeTheChannelIsUpAreAnsweredInOrder) {
    page("skins/default/early.htm", R"(
        window.order = [];
        window.external.RegisterMsg(1, 'a').then(function (r) { window.order.push('a' + r); });
        window.external.RegisterMsg(1, 'b').then(function (r) { window.order.push('b' + r); });
        window.external.RegisterID('Early').then(function (r) { window.order.push('id' + r); });
    )");
    SkinWindow* early = openContent("skins/default/early.htm", "Early");
    ASSERT_NE(early, nullptr);
    ASSERT_TRUE(waitUntil([&] { return evaluate(*early, "window.order.length").toInt() == 3; }));
    EXPECT_EQ(evaluate(*early, "window.order.join(' ')").toString(), "a0 b5 id0");
    EXPECT_EQ(early->messageTable().at(1), "a");
}

TEST_F(ShellTest, WithoutTheSandboxNoPageFromTheWebIsOpened) {
    shell.reset();
    makeShell([](MonitorShell::Options& options) { options.remoteContent = false; });
    TinyWebServer server;
    const size_t before = shell->registry().windows().size();
    reporter.clear();
    const QString call = QString::fromStdString("CreateContentWindow('" + server.url("/remote.htm") + "')");
    EXPECT_EQ(resultOf(main(), call), 7);
    EXPECT_EQ(resultOf(main(), call), 7);
    EXPECT_EQ(shell->registry().windows().size(), before);
    // Said once, with what to do about it.
    ASSERT_EQ(reporter.texts().size(), 1u);
    EXPECT_NE(reporter.texts()[0].find("Run Gardivo as yourself"), std::string::npos);
    // The program's own pages still open.
    EXPECT_NE(openContent("skins/default/screen.htm", "Screen"), nullptr);
}

TEST(WebSandbox, ItIsKeptWhereTheKernelGivesItAndNeverForRoot) {
    TempDir kernel;
    std::filesystem::create_directories(kernel.file("kernel"));
    std::filesystem::create_directories(kernel.file("user"));
    const auto possibleAsNobody = [&](const char* clone, const char* count) {
        writeText(kernel.file("kernel/unprivileged_userns_clone"), clone);
        writeText(kernel.file("user/max_user_namespaces"), count);
        return checkAsOrdinaryUser([&] { return webSandboxPossible(kernel.path()); });
    };
    ::chmod(kernel.path().c_str(), 0755);
    EXPECT_TRUE(possibleAsNobody("1\n", "63000\n"));
    EXPECT_FALSE(possibleAsNobody("0\n", "63000\n"));
    EXPECT_FALSE(possibleAsNobody("1\n", "0\n"));
    if (::geteuid() == 0)
        EXPECT_FALSE(webSandboxPossible(kernel.path()));
    // The web engine turns its sandbox off when the variable is there at all, "0" too.
    const QByteArray before = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
    const bool wasSet = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "0");
    EXPECT_FALSE(webSandboxOn());
    if (wasSet)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", before);
    else
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
}

TEST_F(ShellTest, PagesThatAreNotSkinPagesGetNoWindowExternal) {
    TinyWebServer server;
    ASSERT_EQ(
        resultOf(main(), QString::fromStdString("CreateContentWindow('" + server.url("/remote.htm") + "')")),
        0);
    SkinWindow* remote = newestWindow();
    ASSERT_NE(remote, &main());
    ASSERT_TRUE(waitUntil([&] { return remote->isPageLoaded(); }));
    EXPECT_FALSE(remote->hasBridge());
    EXPECT_EQ(evaluate(*remote, "window.kind").toString(), "undefined");
    EXPECT_EQ(evaluate(*remote, "window.transport").toString(), "undefined");

    // A page of the program directory outside the skins: no bridge either.
    ASSERT_EQ(resultOf(main(), "CreateContentWindow('page.htm')"), 0);
    SkinWindow* local = newestWindow();
    ASSERT_TRUE(waitUntil([&] { return local != remote && local->isPageLoaded(); }));
    EXPECT_EQ(evaluate(*local, "typeof window.external.RegisterID").toString(), "undefined");

    // A skin page cannot pull another site into a frame of its own.
    page("skins/default/framed.htm", "",
         "<iframe src='" + server.url("/framed.htm") + "'></iframe><iframe src='plain.htm'></iframe>");
    ASSERT_EQ(resultOf(main(), "CreateContentWindow('skins/default/framed.htm')"), 0);
    SkinWindow* framed = newestWindow();
    ASSERT_TRUE(waitUntil([&] { return framed != local && framed->isPageLoaded(); }));
    spin(300);
    EXPECT_EQ(std::count(server.requests.begin(), server.requests.end(), "/framed.htm"), 0);
    EXPECT_EQ(std::count(server.requests.begin(), server.requests.end(), "/remote.htm"), 1);

    // Nor may a page send a skin window away to another site and keep the bridge.
    EXPECT_TRUE(framed->hasBridge());
    evaluate(*framed, QString::fromStdString("location.href = '" + server.url("/remote.htm") + "'"));
    ASSERT_TRUE(waitUntil([&] { return framed->isPageLoaded() && framed->url().scheme() == "http"; }));
    EXPECT_FALSE(framed->hasBridge());
    EXPECT_EQ(evaluate(*framed, "window.kind").toString(), "undefined");
}

// A page that is no skin and wants the bridge all the same: it looks for the channel's transport
// every millisecond and as it is left, and, once it has it, asks the program to delete a run of
// evidence through the channel's own messages.
const char* const kHostilePage = R"(<html><body><script>
function attack() {
    if (typeof qt === 'undefined' || !qt.webChannelTransport || window.attacked) return;
    window.attacked = true;
    var t = qt.webChannelTransport;
    t.onmessage = function (message) {
        var data = typeof message.data === 'string' ? JSON.parse(message.data) : message.data;
        if (data.type !== 10 || data.id !== 0) return;
        data.data.external.methods.forEach(function (m) {
            if (m[0] === 'call')
                t.send(JSON.stringify({type: 6, object: 'external', method: m[1], id: 1,
                                       args: ['DeleteRecord', ['2026.12.09_09.00.00', 'Condition001']]}));
        });
    };
    t.send(JSON.stringify({type: 3, id: 0}));
}
setInterval(attack, 1);
window.addEventListener('beforeunload', attack);
window.addEventListener('pagehide', attack);
</script></body></html>)";

TEST_F(ShellTest, APageThatIsNoSkinNeverReachesTheBridgeAsASkinComesAfterIt) {
    const std::string working = home.file("Gardivo");
    const std::string group = "2026.12.09_09.00.00";
    std::filesystem::create_directories(working + "/" + group);
    writeText(working + "/" + group + "/error001.bmp", "BM");
    HistoryStore history(program.dir());
    history.AddRecord(group, {group, "t", "", "Condition001", working + "/" + group + "/error001.bmp", ""});
    writeText(program.file("hostile.htm"), kHostilePage);
    const QUrl hostile = QUrl::fromLocalFile(QString::fromStdString(program.file("hostile.htm")));
    const QUrl skin = QUrl::fromLocalFile(QString::fromStdString(program.file("skins/default/skin.htm")));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        main().navigate(hostile);
        ASSERT_TRUE(waitUntil([&] { return main().isPageLoaded() && main().url() == hostile; }));
        EXPECT_FALSE(main().hasBridge());
        spin(100);
        if (round == 2) // the page sends itself to a skin, and the navigation is made again
            evaluate(main(), QString("location.href = '%1'").arg(skin.toString()));
        else // the skin menu switches skins
            main().navigate(skin);
        ASSERT_TRUE(waitUntil([&] { return main().isPageLoaded() && main().url() == skin; }));
        EXPECT_TRUE(main().hasBridge());
        spin(300);
        ASSERT_EQ(history.allRecords().size(), 1u);
        EXPECT_TRUE(std::filesystem::exists(working + "/" + group + "/error001.bmp"));
    }
    // The skin that came has the bridge, and a page cannot take it from its window with what
    // every published object has beside the bridge's methods.
    evaluate(main(), R"(
        (function () {
            var t = qt.webChannelTransport, old = t.onmessage;
            t.onmessage = function (message) {
                var data = typeof message.data === 'string' ? JSON.parse(message.data) : message.data;
                if (data.type === 10 && data.id === 900) {
                    data.data.external.methods.forEach(function (m) {
                        if (m[0] === 'deleteLater')
                            t.send(JSON.stringify({type: 6, object: 'external', method: m[1], args: [], id: 901}));
                    });
                    data.data.external.properties.forEach(function (p) {
                        if (p[1] === 'objectName')
                            t.send(JSON.stringify({type: 9, object: 'external', property: p[0], value: 'x'}));
                    });
                }
                if (old) old(message);
            };
            t.send(JSON.stringify({type: 3, id: 900}));
        })())");
    spin(300);
    EXPECT_EQ(resultOf(main(), "UnRegisterMsg(5)"), 0);
    EXPECT_EQ(main().findChild<QObject*>("external") != nullptr, true);
}

TEST_F(ShellTest, NotifyCallsTheFunctionTheTargetRegisteredWithTheArgumentsAsText) {
    page("skins/default/history.htm", R"(
        window.external.RegisterID('History');
        window.external.RegisterMsg(7, 'Refresh');
        window.got = [];
        function Refresh() {
            window.got.push(Array.prototype.map.call(arguments, function (a) { return typeof a + ':' + String(a); }).join('|'));
        }
    )");
    SkinWindow* history = openContent("skins/default/history.htm", "History");
    ASSERT_NE(history, nullptr);
    ASSERT_TRUE(waitUntil([&] { return history->messageTable().count(7) == 1; }));

    EXPECT_EQ(resultOf(main(), "Notify('History', 'ControlPanel', 7, 1, 'a', true)"), 0);
    ASSERT_TRUE(waitUntil([&] { return evaluate(*history, "window.got.length").toInt() == 1; }));
    EXPECT_EQ(evaluate(*history, "window.got[0]").toString(), "number:1|string:a|boolean:true");

    // Reals, non-finite numbers, text that would break a call, and values of no kind.
    EXPECT_EQ(resultOf(main(), "Notify('History', 'ControlPanel', 7, 1.5, -Infinity, 2147483648, "
                               "'q\"u\\\\o\\n</script>', null, [1])"),
              0);
    ASSERT_TRUE(waitUntil([&] { return evaluate(*history, "window.got.length").toInt() == 2; }));
    EXPECT_EQ(
        evaluate(*history, "window.got[1]").toString(),
        "number:1.5|number:-Infinity|number:2147484000|string:q\"u\\o\n</script>|object:null|object:null");

    // Not the caller's own name, no such window, no such message: nothing is posted.
    EXPECT_EQ(resultOf(main(), "Notify('History', 'Screen', 7, 1)"), 2);
    EXPECT_EQ(resultOf(main(), "Notify('Nobody', 'ControlPanel', 7, 1)"), 3);
    EXPECT_EQ(resultOf(main(), "Notify('History', 'ControlPanel', 8, 1)"), 4);
    spin(300);
    EXPECT_EQ(evaluate(*history, "window.got.length").toInt(), 2);
}

TEST_F(ShellTest, ANameIsRegisteredOnceAndTheFirstContentWindowIsTheVideoWindow) {
    page("skins/default/second.htm",
         "window.external.RegisterID('Screen').then(function (r) { window.res = r; });");
    SkinWindow* screen = openContent("skins/default/screen.htm", "Screen");
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(screen->isVideoWindow());

    ASSERT_EQ(resultOf(main(), "CreateContentWindow('skins/default/second.htm')"), 0);
    SkinWindow* second = newestWindow();
    ASSERT_NE(second, screen);
    ASSERT_TRUE(waitUntil([&] { return evaluate(*second, "window.res").isValid(); }));
    EXPECT_EQ(evaluate(*second, "window.res").toInt(), 6);
    EXPECT_EQ(shell->findWindow(kScreen), screen);
    EXPECT_FALSE(second->isVideoWindow());
    EXPECT_TRUE(second->registeredName().empty());

    // Pages that are nowhere, or not pages, give no window at all.
    const size_t windows = shell->registry().windows().size();
    for (const char* page : {"skins/default/missing.htm", "../../etc/passwd", "javascript:alert(1)",
                             "file:///etc/passwd", "skins/default"})
        EXPECT_EQ(resultOf(main(), QString("CreateContentWindow('%1')").arg(page)), 7) << page;
    EXPECT_EQ(shell->registry().windows().size(), windows);
}

TEST_F(ShellTest, ShapesComeFromPolygonsOrPictures) {
    const PaletteBitmap picture = PaletteBitmap::fromRows(
        {"..........", ".########.", ".########.", ".########.", ".########.", ".........."}, {0, 0xFFFFFF});
    writeBytes(program.file("skins/default/shape.bmp"), picture.bytes());
    writeText(program.file("skins/default/broken.bmp"), "BM this is no picture");
    SkinWindow& window = main();

    EXPECT_EQ(resultOf(window, "WindowShape('skins/default/broken.bmp')"), 1);
    EXPECT_EQ(resultOf(window, "WindowShape('skins/default/none.bmp')"), 1);
    EXPECT_EQ(resultOf(window, "WindowShape('../outside.bmp')"), 1);
    EXPECT_TRUE(window.shapeSize().isEmpty());
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::FramelessWindowHint));

    EXPECT_EQ(resultOf(window, "WindowShape(0, 'Skins/Default/SHAPE.bmp')"), 0);
    EXPECT_EQ(window.shapeSize(), QSize(10, 6));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(window.mask().contains(QPoint(4, 3)));
    EXPECT_FALSE(window.mask().contains(QPoint(9, 5)));
    EXPECT_TRUE(window.isVisible());

    EXPECT_EQ(resultOf(window, "WindowShape(4, 0, 0, 352, 0, 352, 300, 0, 300)"), 0);
    EXPECT_EQ(window.shapeSize(), QSize(352, 300));
    EXPECT_EQ(window.size(), QSize(352, 300));
    EXPECT_TRUE(window.mask().contains(QPoint(200, 150)));

    EXPECT_EQ(resultOf(window, "MoveTo(40, 30)"), 0);
    EXPECT_TRUE(waitUntil([&] { return window.geometry() == QRect(40, 30, 352, 300); }));
}

TEST_F(ShellTest, WindowMovesWithTheMouseBetweenEnableMoveAndDisableMove) {
    SkinWindow& window = main();
    ASSERT_EQ(resultOf(window, "WindowShape(4, 0, 0, 352, 0, 352, 300, 0, 300)"), 0);
    ASSERT_EQ(resultOf(window, "MoveTo(100, 100)"), 0);
    ASSERT_TRUE(waitUntil([&] { return window.pos() == QPoint(100, 100); }));
    EXPECT_EQ(resultOf(window, "EnableMove(10, 20)"), 0);
    EXPECT_TRUE(window.isMoving());
    EXPECT_EQ(window.grabPoint(), QPoint(10, 20));
    // The mouse over the page, 30 right and 5 down of the grab point: the window follows.
    QWidget* input = window.view()->focusProxy();
    ASSERT_NE(input, nullptr);
    const auto moveMouse = [&](QPoint client) {
        const QPoint global = window.mapToGlobal(client);
        QMouseEvent event(QEvent::MouseMove, QPointF(input->mapFromGlobal(global)), QPointF(global),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(input, &event);
    };
    moveMouse(QPoint(40, 25));
    EXPECT_TRUE(waitUntil([&] { return window.pos() == QPoint(130, 105); }));
    EXPECT_EQ(resultOf(window, "DisableMove()"), 0);
    EXPECT_FALSE(window.isMoving());
    moveMouse(QPoint(80, 80));
    spin(100);
    EXPECT_EQ(window.pos(), QPoint(130, 105));
}

TEST_F(ShellTest, LocalizeGivesTheTextsOfTheUsersCountry) {
    SkinWindow& window = main();
    EXPECT_EQ(resultOf(window, "Localize(0)"), 0);
    for (const auto& [country, file] : std::vector<std::pair<std::string, std::string>>{
             {"81", "jinfo.txt"}, {"886", "cinfo.txt"}, {"49", "einfo.txt"}, {"0", "einfo.txt"}}) {
        shell->setCountry(country);
        evaluate(window, "window.log = []");
        EXPECT_EQ(resultOf(window, "Localize(1)"), 0);
        ASSERT_TRUE(waitUntil([&] { return !pageLog(window).isEmpty(); }));
        EXPECT_EQ(pageLog(window).value(0).toStdString(), "Localize(" + program.file("Info/" + file) + ")");
    }
}

TEST_F(ShellTest, TitleAndIconComeFromTheSkin) {
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    icon.save(QString::fromStdString(program.file("skins/default/icon.png")));
    EXPECT_EQ(resultOf(main(), "SetTitleIcon('Gardivo \"1\"', 'skins/default/icon.png')"), 0);
    EXPECT_EQ(main().windowTitle(), "Gardivo \"1\"");
    EXPECT_FALSE(main().windowIcon().isNull());
    // An icon from outside the program, or none, leaves the icon alone.
    EXPECT_EQ(resultOf(main(), "SetTitleIcon('Other', '/etc/hostname')"), 0);
    EXPECT_EQ(main().windowTitle(), "Other");
}

TEST_F(ShellTest, HelpExploreAndOpenFileHandOnlySafePathsToTheDesktop) {
    // No help page: the user is told.
    EXPECT_EQ(resultOf(main(), "Help()"), 0);
    ASSERT_TRUE(waitUntil([&] { return !reporter.texts().empty(); }));
    EXPECT_EQ(reporter.texts().back(), "Can't find help.htm .");
    EXPECT_EQ(reporter.messages().back().caption, "Tavrin Gardivo");
    std::filesystem::create_directories(program.file("Help"));
    writeText(program.file("Help/Help.htm"), "<html>help</html>");
    EXPECT_EQ(resultOf(main(), "Help()"), 0);
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened.back(), program.file("Help/Help.htm"));

    const std::string working = home.file("Gardivo");
    const std::string group = "2026.12.07_10.00.00";
    std::filesystem::create_directories(working + "/" + group);
    writeText(working + "/" + group + "/error001.bmp", "BM");
    writeText(working + "/" + group + "/error001.avi", "RIFF");
    writeText(working + "/" + group + "/launch.desktop", "[Desktop Entry]");
    EXPECT_EQ(resultOf(main(), QString::fromStdString("Explore('" + group + "')")), 0);
    EXPECT_EQ(resultOf(main(), "Explore('../..')"), 0);
    EXPECT_EQ(resultOf(main(), "Explore('/etc')"), 0);
    EXPECT_EQ(resultOf(main(), QString::fromStdString("OpenFile(2, '" + working + "/" + group +
                                                      "/error001.bmp', '')")),
              0);
    EXPECT_EQ(resultOf(main(), QString::fromStdString("OpenFile(2, '" + working + "/" + group +
                                                      "/launch.desktop', '')")),
              0);
    EXPECT_EQ(resultOf(main(), "OpenFile(2, '/etc/passwd', '')"), 0);
    // The program's own files are not the desktop's to open: settings, skins.
    writeText(program.file("watchdog.cfg"), "settings");
    EXPECT_EQ(resultOf(main(), "OpenFile(2, 'watchdog.cfg', '')"), 0);
    EXPECT_EQ(resultOf(main(), "OpenFile(2, 'skins/default/skin.htm', '')"), 0);
    EXPECT_EQ(resultOf(main(), "OpenFile(2, 'Help/Help.htm', '')"), 0);
    EXPECT_EQ(resultOf(main(), "OpenFile(2, '/bin/sh', '')"), 0);
    // Kind 1: the clip of a history row.
    HistoryStore history(program.dir());
    history.AddRecord(group,
                      {group, "2026/12/07 10:00:01", "", "Condition001",
                       working + "/" + group + "/error001.bmp", working + "/" + group + "/error001.avi"});
    EXPECT_EQ(resultOf(main(), QString::fromStdString("OpenFile(1, '" + group + "', 'Condition001')")), 0);
    EXPECT_EQ(resultOf(main(), QString::fromStdString("OpenFile(1, '" + group + "', 'Condition999')")), 0);
    EXPECT_EQ(opener.opened, (std::vector<std::string>{program.file("Help/Help.htm"), working + "/" + group,
                                                       working + "/" + group + "/error001.bmp",
                                                       program.file("Help/Help.htm"),
                                                       working + "/" + group + "/error001.avi"}));
}

TEST_F(ShellTest, HistoryCallsReadAndDeleteRowsWithoutSqlFromThePage) {
    const std::string working = home.file("Gardivo");
    HistoryStore history(program.dir());
    for (const auto& [group, description] :
         std::vector<std::pair<std::string, std::string>>{{"2026.12.01_08.00.00", "Condition001"},
                                                          {"2026.12.02_09.00.00", "Condition001"},
                                                          {"2026.12.02_09.00.00", "Condition002"}}) {
        std::filesystem::create_directories(working + "/" + group);
        const std::string image = working + "/" + group + "/error" + description.substr(9) + ".bmp";
        writeText(image, "BM");
        // Condition002's clip was never written (the program was killed at the alarm).
        const std::string clip = working + "/" + group + "/error" + description.substr(9) + ".avi";
        if (description == "Condition001")
            writeText(clip, "RIFF");
        history.AddRecord(group, {group, "t", "", description, image, clip});
    }
    SkinWindow& window = main();
    EXPECT_EQ(resultOf(window, "InitGroups()"), 0);
    EXPECT_TRUE(shell->historyOpen);
    ASSERT_TRUE(waitUntil([&] { return !pageLog(window).isEmpty(); }));
    EXPECT_EQ(pageLog(window).value(0).toStdString(),
              "InitGroups(" + history.pageConnectionString() +
                  ",SELECT * FROM history ORDER BY GroupName DESC, Description DESC)");

    const BridgeOutcome rows = callFromPage(window, "HistoryRows()");
    ASSERT_TRUE(rows.error.isEmpty());
    const QVariantList list = rows.value.toList();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].toMap()["Description"].toString(), "Condition002");
    EXPECT_EQ(list[1].toMap()["Description"].toString(), "Condition001");
    // A clip that is not there is not offered to play.
    EXPECT_EQ(list[0].toMap()["VideoPath"].toString(), "");
    EXPECT_TRUE(list[1].toMap()["VideoPath"].toString().endsWith("/error001.avi"));
    EXPECT_EQ(list[2].toMap()["GroupName"].toString(), "2026.12.01_08.00.00");
    EXPECT_EQ(callFromPage(window, "HistoryRows('2026.12.02_09.00.00')").value.toList().size(), 2);
    // Text that would be SQL is a group name like any other.
    EXPECT_EQ(callFromPage(window, "HistoryRows(\"x' OR '1'='1\")").value.toList().size(), 0);
    EXPECT_EQ(resultOf(window, "DeleteRecord(\"x' OR '1'='1\", '')"), 0);
    EXPECT_EQ(history.allRecords().size(), 3u);

    // One row of two: the page shows the group again; the last row: the group goes.
    evaluate(window, "window.log = []");
    EXPECT_EQ(resultOf(window, "DeleteRecord('2026.12.02_09.00.00', 'Condition001')"), 0);
    EXPECT_EQ(resultOf(window, "DeleteRecord('2026.12.02_09.00.00', 'Condition002')"), 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(window).size() == 2; }));
    EXPECT_EQ(pageLog(window), (QStringList{"SelectRecord(2026.12.02_09.00.00)",
                                            "DeleteItemFromGroups(2026.12.02_09.00.00)"}));
    EXPECT_EQ(history.allRecords().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(working + "/2026.12.02_09.00.00/error001.bmp"));
}

TEST_F(ShellTest, SaveCopyOffersTheCopyOfARowsClipAndMakesOneWhenThereIsNone) {
    namespace fs = std::filesystem;
    fs::create_symlink(GARDIVO_PROGRAM_DIR "/gardivo-playable", program.file("gardivo-playable"));
    const std::string working = home.file("Gardivo");
    const std::string group = "2026.12.07_10.00.00";
    const std::string run = working + "/" + group;
    fs::create_directories(run);
    // A real clip of 20 pictures.
    const std::string clip = run + "/error001.avi";
    GstElement* writer =
        gst_parse_launch(("videotestsrc num-buffers=20 ! video/x-raw,width=64,height=48,"
                          "framerate=10/1 ! videoconvert ! video/x-raw,format=UYVY ! trv2enc ! "
                          "trv2avisink location=" +
                          clip)
                             .c_str(),
                         nullptr);
    ASSERT_NE(writer, nullptr);
    gst_element_set_state(writer, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(writer);
    gst_message_unref(gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_EOS));
    gst_object_unref(bus);
    gst_element_set_state(writer, GST_STATE_NULL);
    gst_object_unref(writer);
    HistoryStore history(program.dir());
    history.AddRecord(group, {group, "t", "", "Condition001", run + "/error001.bmp", clip});
    // A row whose clip lies outside the evidence is never read.
    history.AddRecord(group, {group, "t", "", "Condition002", run + "/error002.bmp", "/etc/passwd"});
    const auto format = playableFormat();
    ASSERT_TRUE(format);

    // Cancelled: nothing is saved.
    EXPECT_EQ(resultOf(main(), QString::fromStdString("SaveCopy('" + group + "', 'Condition001')")), false);
    ASSERT_EQ(opener.suggestions.size(), 1u);
    EXPECT_EQ(fs::path(opener.suggestions[0]).filename().string(), group + "_error001." + format->extension);
    EXPECT_EQ(resultOf(main(), QString::fromStdString("SaveCopy('" + group + "', 'Condition002')")), false);
    EXPECT_EQ(opener.suggestions.size(), 1u);

    // No copy beside the clip yet: one is made where the user chose, the extension added.
    TempDir chosen;
    opener.saveAs = chosen.file("for-the-police");
    EXPECT_EQ(resultOf(main(), QString::fromStdString("SaveCopy('" + group + "', 'Condition001')")), true);
    const std::string made = chosen.file("for-the-police." + format->extension);
    ASSERT_TRUE(waitUntil([&] { return !reporter.texts().empty(); }, 20000));
    EXPECT_EQ(reporter.texts().back(), "The copy is saved as " + made + ".");
    EXPECT_EQ(playedLength(made, false).frames, 20);

    // The copy beside the clip is the one saved, at once.
    writeText(run + "/error001." + format->extension, "the copy made after the clip");
    opener.saveAs = chosen.file("second." + format->extension);
    EXPECT_EQ(resultOf(main(), QString::fromStdString("SaveCopy('" + group + "', 'Condition001')")), true);
    EXPECT_EQ(readText(opener.saveAs), "the copy made after the clip");
    EXPECT_EQ(reporter.texts().back(), "The copy is saved as " + opener.saveAs + ".");
}

TEST_F(ShellTest, AScreenPageReportsToTheMainPageAndClosingItClosesEverything) {
    writeText(program.file("sources.txt"), readText(std::string(GARDIVO_PROGRAM_DIR) + "/sources.txt"));
    page("skins/default/screen.htm",
         "window.external.RegisterID('Screen'); window.external.SetWindowRegion(0, 0, 320, 240);");
    SkinWindow* screen = openContent("skins/default/screen.htm", "Screen");
    ASSERT_NE(screen, nullptr);
    // The engine thread opened the source and placed the picture: the main page hears of both.
    ASSERT_TRUE(waitUntil([&] {
        return pageLog(main()).contains("DescChange(dimension,320x240)") &&
               pageLog(main()).contains("DescChange(region,no)");
    }));
    EXPECT_EQ(resultOf(main(), "GetInitialStatus()"), 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(main()).filter("DescChange(standard,").size() >= 1; }));

    // Start from the page: the mode reaches the main page and the tray's tip.
    EXPECT_EQ(resultOf(main(), "Start()"), 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(main()).contains("DescChange(mode,WatchDog)"); }));
    EXPECT_EQ(shell->tray().tip(), "Detecting...");
    EXPECT_EQ(resultOf(main(), "Start()"), 0);
    ASSERT_TRUE(waitUntil([&] { return pageLog(main()).contains("DescChange(mode,StandBy)"); }));
    EXPECT_EQ(shell->tray().tip(), "Tavrin Gardivo");

    // The window goes as the call returns: the page's promise is not waited for.
    evaluate(*screen, "window.external.CloseWindow()");
    ASSERT_TRUE(waitUntil([&] { return ended; }));
    EXPECT_TRUE(shell->isShutDown());
    EXPECT_TRUE(shell->registry().windows().empty());
}
