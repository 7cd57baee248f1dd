#include "platform/RegistryStore.h"
#include "platform/FileProbes.h"
#include "platform/SystemInfo.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

constexpr const char* kKey = "SOFTWARE\\Tavrin\\Gardivo";

TEST(RegistryStore, ValuesOfEveryTypeSurviveTheFile) {
    TempDir dir;
    RegistryStore store(dir.path());
    const auto padded = RegistryValue::string("Composite", 256);
    const auto multi = RegistryValue::multiString("/opt/Gardivo/", 260);
    const auto binary = RegistryValue::binary({0, 1, 2, 0xff, 0x80});
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Padded", padded));
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Plain",
                               RegistryValue::string("a \"quoted\" \\ path")));
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Multi", multi));
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Count", RegistryValue::dword(0xDEADBEEF)));
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Range", binary));

    RegistryStore again(dir.path());
    EXPECT_EQ(again.queryValue(RegistryRoot::CurrentUser, kKey, "Padded"), padded);
    EXPECT_EQ(padded.data.size(), 256u);
    EXPECT_EQ(again.queryValue(RegistryRoot::CurrentUser, kKey, "Plain")->text(), "a \"quoted\" \\ path");
    EXPECT_EQ(again.queryValue(RegistryRoot::CurrentUser, kKey, "Multi"), multi);
    EXPECT_EQ(multi.data.size(), 260u);
    EXPECT_EQ(*again.queryValue(RegistryRoot::CurrentUser, kKey, "Count")->dwordValue(), 0xDEADBEEFu);
    EXPECT_EQ(again.queryValue(RegistryRoot::CurrentUser, kKey, "Range"), binary);
    // The roots are separate files.
    EXPECT_FALSE(again.queryValue(RegistryRoot::LocalMachine, kKey, "Count"));
    EXPECT_NE(readText(dir.file("HKEY_CURRENT_USER.reg")).find("\"Plain\"=\"a \\\"quoted\\\" \\\\ path\""),
              std::string::npos);
}

TEST(RegistryStore, FixedBuffersCutLongTextAndKeepTheTerminator) {
    const auto v = RegistryValue::string(std::string(300, 'x'), 256);
    ASSERT_EQ(v.data.size(), 256u);
    EXPECT_EQ(v.text(), std::string(255, 'x'));
    const auto m = RegistryValue::multiString(std::string(300, 'y'), 260);
    ASSERT_EQ(m.data.size(), 260u);
    EXPECT_EQ(m.text(), std::string(258, 'y'));
    EXPECT_EQ(m.data[258], 0);
    EXPECT_EQ(m.data[259], 0);
}

TEST(RegistryStore, KeysAndNamesAreCaseInsensitive) {
    TempDir dir;
    RegistryStore store(dir.path());
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, "Software\\Tavrin\\Gardivo\\VideoConnectors",
                               "Current", RegistryValue::string("SVideo")));
    EXPECT_EQ(
        store.queryValue(RegistryRoot::CurrentUser, "SOFTWARE\\TAVRIN\\gardivo\\videoconnectors", "CURRENT")
            ->text(),
        "SVideo");
    // Writing under another spelling replaces the value instead of adding a second one.
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, "SOFTWARE\\Tavrin\\Gardivo\\VIDEOCONNECTORS",
                               "current", RegistryValue::string("Composite")));
    RegistryHive hive;
    ASSERT_TRUE(store.read(RegistryRoot::CurrentUser, hive));
    EXPECT_EQ(hive.valueNames("software\\tavrin\\gardivo\\videoconnectors"),
              std::vector<std::string>{"Current"});
    EXPECT_EQ(hive.value("SOFTWARE\\Tavrin\\Gardivo\\VideoConnectors", "Current")->text(), "Composite");
    EXPECT_TRUE(store.keyExists(RegistryRoot::CurrentUser, "software\\tavrin"));
}

TEST(RegistryStore, DeletingAKeyTakesItsSubkeysButNotItsNeighbours) {
    TempDir dir;
    RegistryStore store(dir.path());
    ASSERT_TRUE(store.update(RegistryRoot::CurrentUser, [](RegistryHive& h) {
        h.setValue("A\\B", "v", RegistryValue::dword(1));
        h.setValue("A\\B\\C", "v", RegistryValue::dword(2));
        h.setValue("A\\BC", "v", RegistryValue::dword(3));
    }));
    ASSERT_TRUE(store.deleteKey(RegistryRoot::CurrentUser, "a\\b"));
    EXPECT_FALSE(store.keyExists(RegistryRoot::CurrentUser, "A\\B"));
    EXPECT_FALSE(store.queryValue(RegistryRoot::CurrentUser, "A\\B\\C", "v"));
    EXPECT_EQ(*store.queryValue(RegistryRoot::CurrentUser, "A\\BC", "v")->dwordValue(), 3u);
}

TEST(RegistryStore, DamagedFilesAreReadAsFarAsTheyAreValid) {
    TempDir dir;
    RegistryStore store(dir.path());
    const std::string good = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"one\"=dword:00000001\n\"two\"=\"2\"\n";

    writeText(store.filePath(RegistryRoot::CurrentUser),
              good + "\"three\"=hex:0z,12\n\"four\"=dword:00000004\n");
    EXPECT_EQ(*store.queryValue(RegistryRoot::CurrentUser, "K", "one")->dwordValue(), 1u);
    EXPECT_EQ(store.queryValue(RegistryRoot::CurrentUser, "K", "two")->text(), "2");
    EXPECT_FALSE(store.queryValue(RegistryRoot::CurrentUser, "K", "three"));
    EXPECT_FALSE(store.queryValue(RegistryRoot::CurrentUser, "K", "four"));

    // A line cut off by a crash has no newline; it must not come back with half its bytes.
    writeText(store.filePath(RegistryRoot::CurrentUser), good + "\"three\"=hex:01,02,0");
    EXPECT_FALSE(store.queryValue(RegistryRoot::CurrentUser, "K", "three"));
    EXPECT_EQ(store.queryValue(RegistryRoot::CurrentUser, "K", "two")->text(), "2");

    // Binary junk and a foreign header read as an empty registry.
    std::vector<uint8_t> junk(4096);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>(i * 131 + 7);
    writeBytes(store.filePath(RegistryRoot::CurrentUser), junk);
    EXPECT_FALSE(store.queryValue(RegistryRoot::CurrentUser, "K", "one"));
}

TEST(RegistryStore, ADamagedFileIsNeverRewritten) {
    TempDir dir;
    RegistryStore store(dir.path());
    const std::string damaged = "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"one\"=dword:00000001\n\"two\"=bad\n"
                                "\"WORKINGDIR\"=\"/opt/Gardivo/\"\n";
    writeText(store.filePath(RegistryRoot::CurrentUser), damaged);
    std::string error;
    EXPECT_FALSE(store.setValue(RegistryRoot::CurrentUser, "K", "three", RegistryValue::dword(3), &error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    EXPECT_EQ(readText(store.filePath(RegistryRoot::CurrentUser)), damaged);
    EXPECT_FALSE(store.deleteKey(RegistryRoot::CurrentUser, "K"));
    EXPECT_EQ(readText(store.filePath(RegistryRoot::CurrentUser)), damaged);
    // The other root is a file of its own and still works.
    EXPECT_TRUE(store.setValue(RegistryRoot::LocalMachine, "K", "three", RegistryValue::dword(3)));
}

TEST(RegistryStore, NamesWithLineBreaksAndUnusualTypesSurviveEverySave) {
    TempDir dir;
    RegistryStore store(dir.path());
    ASSERT_TRUE(
        store.setValue(RegistryRoot::CurrentUser, kKey, "WORKINGDIR", RegistryValue::string("/opt/")));
    const std::string name = "two\nlines\r\0and \\ a \" quote";
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, name, RegistryValue::dword(7)));
    const RegistryValue odd{static_cast<RegType>(11), {1, 2, 3, 4, 5, 6, 7, 8}};
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Qword", odd));
    const RegistryValue multiLine{RegType::Sz, {'a', '\n', 'b', 0}};
    ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Text", multiLine));
    for (int save = 0; save < 3; ++save) {
        ASSERT_TRUE(store.setValue(RegistryRoot::CurrentUser, kKey, "Saves", RegistryValue::dword(save)));
        EXPECT_EQ(store.queryValue(RegistryRoot::CurrentUser, kKey, name), RegistryValue::dword(7));
        EXPECT_EQ(store.queryValue(RegistryRoot::CurrentUser, kKey, "Qword"), odd);
        EXPECT_EQ(store.queryValue(RegistryRoot::CurrentUser, kKey, "Text"), multiLine);
        EXPECT_EQ(store.queryValue(RegistryRoot::CurrentUser, kKey, "WORKINGDIR")->text(), "/opt/");
    }
    EXPECT_NE(readText(store.filePath(RegistryRoot::CurrentUser)).find("\"Qword\"=hex(b):01,02"),
              std::string::npos);

    // A key path cannot hold a line break: the change is refused whole and nothing is lost.
    const std::string before = readText(store.filePath(RegistryRoot::CurrentUser));
    std::string error;
    EXPECT_FALSE(store.setValue(RegistryRoot::CurrentUser, "SOFTWARE\\Bad\nKey", "v", RegistryValue::dword(1),
                                &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readText(store.filePath(RegistryRoot::CurrentUser)), before);
}

TEST(RegistryStore, FilesAreForTheirOwnerOnly) {
    TempDir dir;
    RegistryStore store(dir.path());
    ASSERT_TRUE(store.setValue(RegistryRoot::LocalMachine, "SOFTWARE\\Tavrin\\Gardivo\\Email", "Password",
                               RegistryValue::binary({'c', '2', 'V', 'j'})));
    struct stat st {};
    ASSERT_EQ(::stat(store.filePath(RegistryRoot::LocalMachine).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(RegistryStore, TwoProcessesWritingAtOnceLoseNothing) {
    TempDir dir;
    constexpr int kPerProcess = 150;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            RegistryStore store(dir.path());
            bool ok = true;
            for (int i = 0; i < kPerProcess; ++i)
                ok &= store.setValue(RegistryRoot::CurrentUser, kKey,
                                     "p" + std::to_string(c) + "_" + std::to_string(i),
                                     RegistryValue::dword(static_cast<uint32_t>(i)));
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryStore store(dir.path());
    RegistryHive hive;
    ASSERT_TRUE(store.read(RegistryRoot::CurrentUser, hive));
    EXPECT_EQ(hive.valueNames(kKey).size(), 2u * kPerProcess);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kPerProcess; ++i)
            EXPECT_EQ(hive.value(kKey, "p" + std::to_string(c) + "_" + std::to_string(i)),
                      RegistryValue::dword(i));
}

TEST(RegistryStore, AnUnreachableDirectoryFailsWithAReason) {
    TempDir dir;
    writeText(dir.file("not-a-dir"), "x");
    RegistryStore store(dir.file("not-a-dir") + "/Tavrin");
    std::string error;
    EXPECT_FALSE(store.setValue(RegistryRoot::CurrentUser, kKey, "v", RegistryValue::dword(1), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(store.queryValue(RegistryRoot::CurrentUser, kKey, "v"));
}

TEST(RegistryStore, DirectoryComesFromTheEnvironment) {
    ::setenv("TAVRIN_REGISTRY_DIR", "/some/where", 1);
    EXPECT_EQ(RegistryStore::defaultDirectory(), "/some/where");
    ::unsetenv("TAVRIN_REGISTRY_DIR");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(RegistryStore::defaultDirectory(), "/cfg/Tavrin");
}

TEST(SystemInfo, RootAndCountryFollowTheSystem) {
    EXPECT_EQ(OsVersionCode(), 0);
    EXPECT_EQ(registryRootFor(OsVersionCode()), RegistryRoot::CurrentUser);
    EXPECT_EQ(registryRootFor(2), RegistryRoot::LocalMachine);

    EXPECT_EQ(intlProfileForLocale("ja_JP.UTF-8").iCountry, "81");
    EXPECT_EQ(intlProfileForLocale("ja_JP.UTF-8").sCountry, "Japan");
    EXPECT_EQ(intlProfileForLocale("zh_TW").iCountry, "886");
    EXPECT_EQ(intlProfileForLocale("en_GB.UTF-8@euro").sCountry, "United Kingdom");
    EXPECT_EQ(intlProfileForLocale("C").iCountry, "0");
    EXPECT_EQ(intlProfileForLocale("C").sCountry, "");
    EXPECT_EQ(intlProfileForLocale("xx_ZZ").iCountry, "0");
}

} // namespace

namespace {

using gardivo::testing::TempDir;

TEST(FileProbes, FollowTheirWindowsMeaning) {
    TempDir dir;
    // The directory test makes the directory and reports whether the name was taken; a plain
    // file of the name counts, and a directory it made is removed again.
    gardivo::testing::writeText(dir.file("plain"), "x");
    EXPECT_TRUE(gardivo::DirectoryExists(dir.path()));
    EXPECT_TRUE(gardivo::DirectoryExists(dir.file("plain")));
    EXPECT_FALSE(gardivo::DirectoryExists(dir.file("missing")));
    EXPECT_FALSE(gardivo::isDirectory(dir.file("missing")));
    EXPECT_FALSE(gardivo::DirectoryExists(dir.file("missing/deeper")));
    EXPECT_FALSE(gardivo::DirectoryExists(""));

    // The file test opens the file: a directory is none, and neither is a name that cannot be
    // opened for reading, such as a socket.
    EXPECT_TRUE(gardivo::FileExists(dir.file("plain")));
    EXPECT_FALSE(gardivo::FileExists(dir.path()));
    EXPECT_FALSE(gardivo::FileExists(dir.file("missing")));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir.file("socket");
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_FALSE(gardivo::FileExists(socketPath));
    ::close(fd);
}

} // namespace
