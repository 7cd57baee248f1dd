// The parts of the bridge that decide before anything happens: which paths a page may use,
// how Notify writes its arguments into a call, and the registry of window names.

#include "monitor/shell/BridgeArguments.h"
#include "monitor/shell/WindowRegistry.h"
#include "platform/SkinPaths.h"
#include "platform/qt/LocalEndpoint.h"
#include "platform/tests/QtTestApplication.h"
#include "platform/tests/TempDir.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <QVariantMap>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace gardivo;
using namespace gardivo::testing;
namespace fs = std::filesystem;

namespace {

class SkinPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(program.file("skins/default"));
        fs::create_directories(program.file("skins/Blue"));
        fs::create_directories(program.file("skins/html"));
        fs::create_directories(program.file("Help"));
        fs::create_directories(work.file("2026.12.07_10.00.00"));
        writeText(program.file("skins/default/skin.htm"), "<html></html>");
        writeText(program.file("skins/Blue/Skin.HTM"), "<html></html>");
        writeText(program.file("skins/notes.txt"), "a file, not a skin");
        writeText(program.file("Help/Help.htm"), "help");
        writeText(program.file("secret.txt"), "outside the skins");
        writeText(outside.file("page.htm"), "<html></html>");
        writeText(work.file("2026.12.07_10.00.00/error001.bmp"), "BM");
        writeText(work.file("2026.12.07_10.00.00/run.sh"), "#!/bin/sh\n");
        fs::permissions(work.file("2026.12.07_10.00.00/run.sh"), fs::perms::owner_exec,
                        fs::perm_options::add);
        writeText(work.file("2026.12.07_10.00.00/evil.desktop"), "[Desktop Entry]\n");
    }
    TempDir program;
    TempDir work;
    TempDir outside;
};

} // namespace

TEST_F(SkinPathsTest, FoldersSpeltInAnotherCaseAreFound) {
    EXPECT_EQ(resolveWithoutCase(program.path(), "Skins\\Blue\\skin.htm"),
              program.file("skins/Blue/Skin.HTM"));
    EXPECT_EQ(resolveWithoutCase(program.path(), "help/help.htm"), program.file("Help/Help.htm"));
    // Nothing of that name: kept as written.
    EXPECT_EQ(resolveWithoutCase(program.path(), "skins/none/skin.htm"), program.file("skins/none/skin.htm"));
    EXPECT_EQ(programFile(program.dir(), "SKINS/DEFAULT/SKIN.HTM"), program.file("skins/default/skin.htm"));
}

TEST_F(SkinPathsTest, PagesAndPicturesComeOnlyFromInsideTheProgramDirectory) {
    EXPECT_FALSE(programFile(program.dir(),
                             "skins/../../" + fs::path(outside.path()).filename().string() + "/page.htm"));
    // An absolute path names a file below the program directory, like a leading backslash did.
    EXPECT_FALSE(programFile(program.dir(), outside.file("page.htm")));
    EXPECT_EQ(programFile(program.dir(), "/skins/default/skin.htm"), program.file("skins/default/skin.htm"));
    EXPECT_FALSE(programFile(program.dir(), "skins/default"));     // a folder
    EXPECT_FALSE(programFile(program.dir(), "skins/missing.htm")); // nothing there
    // A link that leads out of the program directory is followed, and refused.
    fs::create_symlink(outside.file("page.htm"), program.file("skins/default/link.htm"));
    EXPECT_FALSE(programFile(program.dir(), "skins/default/link.htm"));

    // window.external: pages below skins/ only.
    EXPECT_TRUE(isSkinPage(program.dir(), program.file("skins/default/skin.htm")));
    EXPECT_FALSE(isSkinPage(program.dir(), program.file("secret.txt")));
    EXPECT_FALSE(isSkinPage(program.dir(), outside.file("page.htm")));
    EXPECT_FALSE(isSkinPage(program.dir(), program.file("skins/default/link.htm")));
}

TEST_F(SkinPathsTest, TheSkinMenuListsFoldersButNotHtml) {
    EXPECT_EQ(listSkins(program.dir()), (std::vector<std::string>{"Blue", "default"}));
}

TEST_F(SkinPathsTest, OnlyPlainDataFilesOfTheEvidenceAreOpened) {
    const std::vector<std::string> allowed{work.path(), program.path()};
    EXPECT_EQ(openableFile(work.file("2026.12.07_10.00.00/error001.bmp"), allowed),
              work.file("2026.12.07_10.00.00/error001.bmp"));
    EXPECT_FALSE(openableFile(work.file("2026.12.07_10.00.00/run.sh"), allowed));
    EXPECT_FALSE(openableFile(work.file("2026.12.07_10.00.00/evil.desktop"), allowed));
    EXPECT_FALSE(openableFile(work.file("2026.12.07_10.00.00"), allowed));
    EXPECT_FALSE(openableFile(outside.file("page.htm"), allowed));
    EXPECT_FALSE(openableFile(work.file("2026.12.07_10.00.00/../../") +
                                  fs::path(outside.path()).filename().string() + "/page.htm",
                              allowed));
    EXPECT_FALSE(openableFile("", allowed));

    EXPECT_EQ(explorableFolder(work.path(), "2026.12.07_10.00.00"), work.file("2026.12.07_10.00.00"));
    EXPECT_EQ(explorableFolder(work.path(), ""), work.path());
    EXPECT_FALSE(explorableFolder(work.path(), ".."));
    EXPECT_FALSE(explorableFolder(work.path(), "2026.12.07_10.00.00/error001.bmp"));
    EXPECT_FALSE(explorableFolder(work.path(), "missing"));
    EXPECT_FALSE(explorableFolder("", "x"));
}

// Without a session runtime directory the endpoints live in a directory of the user's own; a
// directory of that name that others may write, or that leads elsewhere, is passed over.
TEST(LocalEndpointPath, OnlyADirectoryOfTheUsersOwnHoldsTheEndpoints) {
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTmp = qgetenv("TMPDIR");
    const QByteArray savedHome = qgetenv("HOME");
    TempDir tmp, home, elsewhere;
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QByteArray::fromStdString(tmp.path()));
    qputenv("HOME", QByteArray::fromStdString(home.path()));
    const std::string shared = tmp.file("gardivo-" + std::to_string(::getuid()));
    const std::string own = home.file(".gardivo-run");

    // Free: made for the user alone.
    EXPECT_EQ(LocalEndpoint::pathFor("X"), shared + "/gardivo-X");
    EXPECT_EQ(fs::status(shared).permissions() & fs::perms::all, fs::perms::owner_all);
    // Open to others: not used.
    fs::permissions(shared, fs::perms::all);
    EXPECT_EQ(LocalEndpoint::pathFor("X"), own + "/gardivo-X");
    EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_all);
    // A link to somewhere else: not used either.
    fs::remove(shared);
    fs::create_directory_symlink(elsewhere.path(), shared);
    ::chmod(elsewhere.path().c_str(), 0700);
    EXPECT_EQ(LocalEndpoint::pathFor("X"), own + "/gardivo-X");

    const auto restore = [](const char* name, const QByteArray& value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("XDG_RUNTIME_DIR", savedRuntime);
    restore("TMPDIR", savedTmp);
    restore("HOME", savedHome);
}

TEST(BridgeArguments, NotifyWritesEachArgumentAsTheScriptReadsIt) {
    EXPECT_EQ(notifyArgumentText(QVariant(1)), "1");
    EXPECT_EQ(notifyArgumentText(QVariant(-7.0)), "-7");
    EXPECT_EQ(notifyArgumentText(QVariant(qlonglong(2147483647))), "2147483647");
    // Beyond 32 bits, or with a fraction: a real.
    EXPECT_EQ(notifyArgumentText(QVariant(2147483648.0)), "2.147484e+09");
    EXPECT_EQ(notifyArgumentText(QVariant(1.5)), "1.500000e+00");
    EXPECT_EQ(notifyArgumentText(QVariantMap{{"gardivoNumber", "NaN"}}), "NaN");
    EXPECT_EQ(notifyArgumentText(QVariantMap{{"gardivoNumber", "-Infinity"}}), "-Infinity");
    EXPECT_EQ(notifyArgumentText(QVariant(true)), "true");
    EXPECT_EQ(notifyArgumentText(QVariant(false)), "false");
    EXPECT_EQ(notifyArgumentText(QVariant(QString("a"))), "\"a\"");
    // A quote or a line break in a string stays text in the receiving page.
    EXPECT_EQ(notifyArgumentText(QVariant(QString("say \"hi\"\n\\"))), "\"say \\\"hi\\\"\\n\\\\\"");
    // Anything else is null, so that the call still runs.
    EXPECT_EQ(notifyArgumentText(QVariant::fromValue(nullptr)), "null");
    EXPECT_EQ(notifyArgumentText(QVariantList{1, 2}), "null");
    EXPECT_EQ(notifyArgumentText(QVariantMap{{"gardivoNumber", "7"}}), "null");
}

TEST(BridgeArguments, NumbersAreCheckedBeforeUse) {
    EXPECT_EQ(exactInt32(QVariant(7.0)), 7);
    EXPECT_FALSE(exactInt32(QVariant(7.5)));
    EXPECT_FALSE(exactInt32(QVariant(4294967296.0)));
    EXPECT_FALSE(exactInt32(QVariant(QString("7"))));
    EXPECT_FALSE(exactInt32(QVariant(true)));
    EXPECT_EQ(truncatedInt32(QVariant(-3.9)), -3);
    EXPECT_FALSE(truncatedInt32(QVariantMap{{"gardivoNumber", "Infinity"}}));
    EXPECT_FALSE(truncatedInt32(QVariant(1e12)));
}

TEST(BridgeArguments, MethodNamesAreMatchedExactly) {
    EXPECT_EQ(dispidOf("GetInitialStatus"), 100002);
    EXPECT_EQ(dispidOf("DeleteRecord"), 100031);
    EXPECT_EQ(dispidOf("getinitialstatus"), -1);
    EXPECT_EQ(dispidOf("Minimize "), -1);
    EXPECT_EQ(dispidOf("HistoryRows"), kHistoryRowsMethod.dispid);
    std::set<int> ids;
    for (const auto& method : kBridgeMethods)
        ids.insert(method.dispid);
    EXPECT_EQ(ids.size(), 30u);
}

TEST(WindowRegistry, ANameBelongsToOneWindow) {
    BasicWindowRegistry<int> registry;
    int main = 0, screen = 0, other = 0;
    registry.add(&main);
    registry.add(&screen);
    registry.add(&other);
    EXPECT_TRUE(registry.addName("ControlPanel", &main));
    EXPECT_TRUE(registry.addName("Screen", &screen));
    EXPECT_FALSE(registry.addName("Screen", &other)); // taken: nothing changes
    EXPECT_EQ(registry.find("Screen"), &screen);
    EXPECT_TRUE(registry.addName("Screen", &screen)); // the same window again
    EXPECT_FALSE(registry.hasName("screen"));         // names are compared exactly
    EXPECT_TRUE(registry.addName("Second", &screen));
    registry.removeNames(&screen);
    EXPECT_FALSE(registry.hasName("Screen"));
    EXPECT_FALSE(registry.hasName("Second"));
    EXPECT_TRUE(registry.hasName("ControlPanel"));
    EXPECT_TRUE(registry.remove(&screen));
    EXPECT_FALSE(registry.remove(&screen));
    EXPECT_EQ(registry.windows(), (std::vector<int*>{&main, &other}));
}

TEST(WindowRegistry, AnotherThreadAsksByNameWhileTheWindowsChange) {
    BasicWindowRegistry<int> registry;
    int window = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> seen{0};
    std::thread asker([&] {
        while (!stop)
            seen += registry.hasName("Screen") ? 1 : 0;
    });
    for (int i = 0; i < 20000; ++i) {
        registry.add(&window);
        registry.addName("Screen", &window);
        registry.removeNames(&window);
        registry.remove(&window);
    }
    stop = true;
    asker.join();
    EXPECT_FALSE(registry.hasName("Screen"));
}

namespace {

// The endpoint looks after itself: it listens again when its server closed (as Qt's does after
// an accept fails for want of file descriptors), and bounds what its clients can make it hold.
TEST(LocalEndpointGuard, ListensAgainAndBoundsItsClients) {
    ensureQtApplication();
    TempDir runtime;
    ::chmod(runtime.path().c_str(), 0700);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    LocalEndpoint endpoint([](uint32_t, int64_t, int64_t) -> int64_t { return 7; });
    endpoint.setIdleTime(std::chrono::milliseconds(400));
    ASSERT_TRUE(endpoint.listen("Guarded"));
    const QString path = QString::fromStdString(LocalEndpoint::pathFor("Guarded"));

    // The server closed: it is listening again by itself, and answers.
    endpoint.findChild<QLocalServer*>()->close();
    EXPECT_FALSE(endpoint.isListening());
    ASSERT_TRUE(waitUntil([&] { return endpoint.isListening(); }, 3000));
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        int64_t result = 0;
        sent = LocalEndpoint::send("Guarded", 1, 0, 0, &result, 3000) && result == 7;
    });
    waitUntil([&] { return sent.load(); }, 4000);
    sender.join();
    EXPECT_TRUE(sent);

    // Connections beyond the limit are turned away; those that say nothing go after a while.
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (int i = 0; i < LocalEndpoint::kMaxConnections + 5; ++i) {
        clients.push_back(std::make_unique<QLocalSocket>());
        clients.back()->connectToServer(path);
    }
    ASSERT_TRUE(
        waitUntil([&] { return endpoint.connectionCount() == LocalEndpoint::kMaxConnections; }, 3000));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(endpoint.connectionCount(), LocalEndpoint::kMaxConnections);
    EXPECT_TRUE(waitUntil([&] { return endpoint.connectionCount() == 0; }, 3000));
    clients.clear();

    // A client that sends and sends and never reads its answers is dropped before the answers
    // it leaves grow without bound.
    QLocalSocket greedy;
    greedy.setReadBufferSize(64); // it takes in no more than this, like a client that never reads
    greedy.connectToServer(path);
    ASSERT_TRUE(greedy.waitForConnected(1000));
    QByteArray frame(LocalEndpoint::kFrameBytes, '\0');
    frame[0] = 'G';
    frame[1] = 2;
    QByteArray burst;
    for (int i = 0; i < 4096; ++i)
        burst += frame;
    bool dropped = false;
    for (int round = 0; round < 200 && !dropped; ++round) {
        greedy.write(burst);
        greedy.flush();
        waitUntil([] { return false; }, 5);
        dropped = greedy.state() != QLocalSocket::ConnectedState;
    }
    EXPECT_TRUE(dropped);
    qputenv("XDG_RUNTIME_DIR", saved);
}

} // namespace
