// gardivo-monitor with its connections on, against a real broker and a real off-site remote: an
// alarm's event, picture and files leave the machine.

#include "HeadlessTestKit.h"

#include "monitor/history/HistoryStore.h"
#include "monitor/outward/tests/OutwardServers.h"
#include "platform/RegistryStore.h"
#include "platform/SystemInfo.h"
#include "settings/ConnectionOptions.h"

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

TEST_F(HeadlessMonitor, AnAlarmReachesTheBrokerAndTheRemote) {
    Broker broker(Broker::Kind::Anonymous);
    Subscriber home(broker);
    ASSERT_TRUE(home.waitFor([&] { return home.subscribed(); }));
    WebDavServer remote;
    ConnectionOptions options;
    options.mqtt = true;
    options.mqttHost = "127.0.0.1";
    options.mqttPort = broker.port();
    options.mqttName = "shop";
    options.offsite = true;
    options.offsiteRemote = "offsite:gardivo";
    options.offsiteConfig = remote.config();
    RegistryStore registry(m_registry.path());
    ASSERT_TRUE(options.write(registry, registryRootFor(OsVersionCode())));
    writeText(m_program.file("email"), "#!/bin/sh\nexit 0\n");

    const pid_t pid = start({"--start", "--size", "320x240"});
    ASSERT_TRUE(waitForOutput("Condition001", 20s)) << output();
    ASSERT_TRUE(home.waitFor([&] { return !home.on("gardivo/shop/picture").empty(); }, 10s)) << output();
    const auto rows = HistoryStore(m_program.dir()).allRecords();
    ASSERT_EQ(rows.size(), 1u);
    const std::string run = rows[0].GroupName;
    // The clip and its copy follow the picture to the remote.
    const auto arrived = [&](const std::string& name) {
        return remote.served() + "/gardivo/" + run + "/" + name;
    };
    ASSERT_TRUE(waitForOutput("off-site: " + rows[0].VideoPath + " copied", 30s)) << output();
    stop(pid);

    EXPECT_EQ(home.on("gardivo/shop/status").front(), "online");
    const auto events = home.on("gardivo/shop/event");
    ASSERT_GE(events.size(), 2u); // watching began, then the condition
    EXPECT_NE(events[0].find("\"kind\":\"mode\",\"mode\":\"WatchDog\""), std::string::npos) << events[0];
    const auto condition = std::find_if(events.begin(), events.end(), [](const std::string& e) {
        return e.find("\"kind\":\"condition\"") != std::string::npos;
    });
    ASSERT_NE(condition, events.end());
    EXPECT_NE(condition->find("\"picture\":\"" + rows[0].ImagePath + "\""), std::string::npos) << *condition;
    EXPECT_NE(condition->find("\"clip\":\"" + rows[0].VideoPath + "\""), std::string::npos) << *condition;
    const std::string jpeg = home.on("gardivo/shop/picture").front();
    EXPECT_EQ(jpeg.substr(0, 3), "\xff\xd8\xff");
    EXPECT_EQ(readText(arrived("error001.bmp")), readText(rows[0].ImagePath));
    EXPECT_EQ(readText(arrived("error001.avi")), readText(rows[0].VideoPath));
    // Ended by a signal: "offline" is the camera's last word.
    ASSERT_TRUE(home.waitFor([&] { return home.on("gardivo/shop/status").back() == "offline"; }));
}

} // namespace
