// Events over MQTT and off-site copies, against a real mosquitto broker and a real rclone server
// on loopback.

#include "OutwardServers.h"

#include "monitor/engine/DetectionEngine.h"
#include "monitor/outward/AlarmPicture.h"
#include "monitor/outward/MqttLink.h"
#include "monitor/outward/OffsiteCopies.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>

using namespace gardivo;
using namespace gardivo::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

void ensureCoreApplication() {
    static int argc = 1;
    static char name[] = "outward-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

EngineEvent condition(int n, const std::string& mode = "StandBy") {
    EngineEvent e;
    e.kind = EngineEvent::Kind::Condition;
    char description[32];
    std::snprintf(description, sizeof description, "Condition%03d", n);
    e.time = "2026/12/08 10:00:0" + std::to_string(n % 10);
    e.group = "2026.12.08_10.00.00";
    e.description = description;
    e.imagePath = "/home/guard/Gardivo/2026.12.08_10.00.00/error00" + std::to_string(n) + ".bmp";
    e.mode = mode;
    return e;
}

ConnectionOptions mqttTo(const Broker& broker) {
    ConnectionOptions o;
    o.mqtt = true;
    o.mqttHost = "127.0.0.1";
    o.mqttPort = broker.port();
    o.mqttName = "front door";
    return o;
}

TEST(Mqtt, TheCameraAppearsWithItsStatusEventsAndPicture) {
    Broker broker(Broker::Kind::Anonymous);
    Subscriber home(broker);
    ASSERT_TRUE(home.waitFor([&] { return home.subscribed(); }));
    std::vector<std::string> commands;
    std::mutex commandsMutex;
    ConnectionOptions options = mqttTo(broker);
    options.mqttCommands = true;
    auto link = std::make_unique<MqttLink>(options, [&](const std::string& command) {
        std::lock_guard lock(commandsMutex);
        commands.push_back(command);
    });
    ASSERT_TRUE(link->start());
    ASSERT_TRUE(home.waitFor([&] { return link->connected(); }));
    EXPECT_EQ(link->topic("event"), "gardivo/front_door/event");
    link->publishEvent(condition(1));
    link->publishPicture({0xff, 0xd8, 0xff, 0xe0, 1, 2, 3});
    ASSERT_TRUE(home.waitFor([&] { return !home.on("gardivo/front_door/picture").empty(); }));

    EXPECT_EQ(home.on("gardivo/front_door/status"), std::vector<std::string>{"online"});
    const auto events = home.on("gardivo/front_door/event");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              "{\"camera\":\"front_door\",\"time\":\"2026/12/08 10:00:01\",\"kind\":\"condition\","
              "\"mode\":\"StandBy\",\"run\":\"2026.12.08_10.00.00\",\"condition\":\"Condition001\","
              "\"remark\":\"\",\"picture\":\"/home/guard/Gardivo/2026.12.08_10.00.00/error001.bmp\","
              "\"clip\":\"\"}");
    EXPECT_EQ(home.on("gardivo/front_door/motion"), std::vector<std::string>{"ON"});
    EXPECT_EQ(home.on("gardivo/front_door/picture")[0], std::string("\xff\xd8\xff\xe0\x01\x02\x03", 7));
    // Home Assistant's discovery: a motion sensor, an image and a switch, on the camera's status.
    const auto motion = home.on("homeassistant/binary_sensor/gardivo_front_door/motion/config");
    ASSERT_EQ(motion.size(), 1u);
    EXPECT_NE(motion[0].find("\"device_class\":\"motion\""), std::string::npos);
    EXPECT_NE(motion[0].find("\"state_topic\":\"gardivo/front_door/motion\""), std::string::npos);
    EXPECT_NE(motion[0].find("\"availability_topic\":\"gardivo/front_door/status\""), std::string::npos);
    const auto image = home.on("homeassistant/image/gardivo_front_door/picture/config");
    ASSERT_EQ(image.size(), 1u);
    EXPECT_NE(image[0].find("\"image_topic\":\"gardivo/front_door/picture\""), std::string::npos);
    EXPECT_EQ(home.on("homeassistant/switch/gardivo_front_door/watching/config").size(), 1u);

    // Commands when allowed; anything else on the topic is ignored.
    Subscriber sender(broker);
    mosquitto* raw = mosquitto_new(nullptr, true, nullptr);
    ASSERT_EQ(mosquitto_connect(raw, "127.0.0.1", broker.port(), 10), MOSQ_ERR_SUCCESS);
    for (const char* payload : {"start", "rm -rf", "STOP"})
        mosquitto_publish(raw, nullptr, "gardivo/front_door/set", static_cast<int>(std::strlen(payload)),
                          payload, 1, false);
    mosquitto_loop(raw, 500, 1);
    ASSERT_TRUE(home.waitFor([&] {
        std::lock_guard lock(commandsMutex);
        return commands.size() == 2;
    }));
    EXPECT_EQ(commands, (std::vector<std::string>{"start", "stop"}));
    mosquitto_disconnect(raw);
    mosquitto_destroy(raw);

    // A clean end says "offline", retained for whoever looks later.
    link.reset();
    ASSERT_TRUE(home.waitFor([&] { return home.on("gardivo/front_door/status").size() == 2; }));
    Subscriber later(broker);
    ASSERT_TRUE(later.waitFor([&] { return !later.on("gardivo/front_door/status").empty(); }));
    EXPECT_EQ(later.on("gardivo/front_door/status"), std::vector<std::string>{"offline"});
}

TEST(Mqtt, APasswordIsNotSentWithoutTlsUnlessTheUserAllowsIt) {
    Broker broker(Broker::Kind::Password);
    ConnectionOptions options = mqttTo(broker);
    options.mqttUser = Broker::kUser;
    options.mqttPassword = Broker::kPassword;
    {
        MqttLink link(options);
        ASSERT_TRUE(link.start());
        std::this_thread::sleep_for(1500ms);
        EXPECT_FALSE(link.connected());
        EXPECT_NE(link.lastError().find("not sent without TLS"), std::string::npos) << link.lastError();
    }
    options.mqttPlainPassword = true;
    MqttLink allowed(options);
    ASSERT_TRUE(allowed.start());
    Subscriber watch(broker);
    EXPECT_TRUE(watch.waitFor([&] { return allowed.connected(); })) << allowed.lastError() << broker.log();
}

TEST(Mqtt, OverTlsTheBrokersCertificateIsCheckedAndTheLoginWorks) {
    Broker broker(Broker::Kind::Tls);
    ConnectionOptions options = mqttTo(broker);
    options.mqttHost = "localhost";
    options.mqttTls = true;
    options.mqttCaFile = broker.caFile();
    options.mqttUser = Broker::kUser;
    options.mqttPassword = Broker::kPassword;
    Subscriber home(broker, broker.caFile());
    ASSERT_TRUE(home.waitFor([&] { return home.subscribed(); }));
    MqttLink link(options);
    ASSERT_TRUE(link.start());
    ASSERT_TRUE(home.waitFor([&] { return link.connected(); })) << link.lastError();
    link.publishEvent(condition(4));
    ASSERT_TRUE(home.waitFor([&] { return home.on("gardivo/front_door/event").size() == 1; }));

    // A broker whose certificate this machine does not trust is not talked to.
    options.mqttCaFile.clear();
    MqttLink untrusting(options);
    std::string why;
    ASSERT_TRUE(untrusting.start(&why)) << why;
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(untrusting.connected());
}

TEST(Mqtt, EventsWhileTheBrokerIsAwayArriveInOrderOnceItIsBack) {
    auto broker = std::make_unique<Broker>(Broker::Kind::Anonymous);
    MqttLink link(mqttTo(*broker));
    ASSERT_TRUE(link.start());
    {
        // The home's subscription is kept by the broker while the home and the broker are away.
        Subscriber home(*broker, {}, "home");
        ASSERT_TRUE(home.waitFor([&] { return link.connected() && home.subscribed(); }));
    }
    broker->stop();
    ASSERT_TRUE(Subscriber(*broker).waitFor([&] { return !link.connected(); }));
    link.publishEvent(condition(1));
    link.publishEvent(condition(2));
    EXPECT_GE(link.waiting(), 2u);
    broker->start();
    Subscriber home(*broker, {}, "home");
    ASSERT_TRUE(home.waitFor([&] { return home.on("gardivo/front_door/event").size() >= 2; }, 30s));
    std::this_thread::sleep_for(500ms);
    const auto events = home.on("gardivo/front_door/event");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[0].find("Condition001"), std::string::npos);
    EXPECT_NE(events[1].find("Condition002"), std::string::npos);
    EXPECT_EQ(link.dropped(), 0u);
}

TEST(Mqtt, WhileNoBrokerAnswersTheQueueKeepsTheNewestAndCountsWhatWent) {
    ConnectionOptions options;
    options.mqtt = true;
    options.mqttHost = "127.0.0.1";
    options.mqttPort = freePort(); // nobody listens
    MqttLink link(options);
    ASSERT_TRUE(link.start());
    // Each event is two messages (the event and the motion sensor's state).
    for (int n = 0; n < 255; ++n)
        link.publishEvent(condition(n % 9 + 1));
    EXPECT_EQ(link.waiting(), MqttLink::kQueueLimit);
    EXPECT_EQ(link.dropped(), 10u);
    // Only the newest picture waits.
    link.publishPicture({1});
    link.publishPicture({2});
    EXPECT_EQ(link.waiting(), MqttLink::kQueueLimit);
    EXPECT_EQ(link.dropped(), 11u);
}

TEST(Mqtt, CommandsAreIgnoredUnlessAllowedAndEveryKindOfEventIsSaid) {
    Broker broker(Broker::Kind::Anonymous);
    std::atomic<int> commands{0};
    MqttLink link(mqttTo(broker), [&](const std::string&) { ++commands; });
    ASSERT_TRUE(link.start());
    Subscriber home(broker);
    ASSERT_TRUE(home.waitFor([&] { return link.connected() && home.subscribed(); }));
    mosquitto* raw = mosquitto_new(nullptr, true, nullptr);
    ASSERT_EQ(mosquitto_connect(raw, "127.0.0.1", broker.port(), 10), MOSQ_ERR_SUCCESS);
    mosquitto_publish(raw, nullptr, "gardivo/front_door/set", 5, "start", 1, false);
    mosquitto_loop(raw, 300, 1);
    mosquitto_disconnect(raw);
    mosquitto_destroy(raw);
    EXPECT_TRUE(home.on("homeassistant/switch/gardivo_front_door/watching/config").empty());

    EngineEvent release = condition(1, "WatchDog");
    release.kind = EngineEvent::Kind::Release;
    release.remark = " Release at 10:00:09 ";
    EngineEvent reset = condition(2, "StandBy");
    reset.kind = EngineEvent::Kind::Reset;
    reset.imagePath = "/w/r/condition001.bmp";
    EngineEvent mode;
    mode.kind = EngineEvent::Kind::Mode;
    mode.time = "2026/12/08 10:00:10";
    mode.mode = "StandBy";
    for (const auto& e : {release, reset, mode})
        link.publishEvent(e);
    ASSERT_TRUE(home.waitFor([&] { return home.on("gardivo/front_door/event").size() == 3; }));
    const auto events = home.on("gardivo/front_door/event");
    EXPECT_NE(events[0].find("\"kind\":\"release\""), std::string::npos);
    EXPECT_NE(events[0].find("\"remark\":\" Release at 10:00:09 \""), std::string::npos);
    EXPECT_NE(events[1].find("\"kind\":\"reset\""), std::string::npos);
    EXPECT_NE(events[1].find("\"picture\":\"/w/r/condition001.bmp\""), std::string::npos);
    EXPECT_EQ(events[2], "{\"camera\":\"front_door\",\"time\":\"2026/12/08 10:00:10\",\"kind\":\"mode\","
                         "\"mode\":\"StandBy\"}");
    EXPECT_EQ(home.on("gardivo/front_door/motion"), (std::vector<std::string>{"OFF", "OFF"}));
    EXPECT_EQ(home.on("gardivo/front_door/watching"), std::vector<std::string>{"OFF"});
    EXPECT_EQ(commands, 0);
    // Text that would break the JSON is escaped.
    EngineEvent odd = condition(3);
    odd.remark = "a \"quote\"\n";
    EXPECT_NE(MqttLink::eventJson(odd, "x").find("\"remark\":\"a \\\"quote\\\"\\u000a\""), std::string::npos);
}

TEST(AlarmPicture, TheUpperHalfOfTheBitmapBecomesAJpeg) {
    TempDir dir;
    // 16 x 8: the reference (lower half) black, the alarm picture (upper half) white.
    const int w = 16, h = 8;
    std::vector<uint8_t> bmp(54 + w * 3 * h, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(10, 54);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    bmp[26] = 1;
    bmp[28] = 24;
    for (int row = h / 2; row < h; ++row) // bottom-up: the last rows are the upper half
        std::fill(bmp.begin() + 54 + row * w * 3, bmp.begin() + 54 + (row + 1) * w * 3, 255);
    writeBytes(dir.file("error001.bmp"), bmp);
    const auto jpeg = alarmPictureJpeg(dir.file("error001.bmp"));
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg[0], 0xff);
    EXPECT_EQ(jpeg[1], 0xd8);
    writeText(dir.file("short.bmp"), "BM no picture");
    EXPECT_TRUE(alarmPictureJpeg(dir.file("short.bmp")).empty());
}

class Offsite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureCoreApplication(); }

    // A run with the files of three alarms.
    std::vector<std::string> makeEvidence() {
        std::vector<std::string> files;
        fs::create_directories(m_work.file("2026.12.08_10.00.00"));
        for (int n = 1; n <= 3; ++n)
            for (const char* ext : {".bmp", ".avi"}) {
                const std::string path = m_work.file("2026.12.08_10.00.00/error00" + std::to_string(n) + ext);
                std::string content(2000 + 700 * n, '\0');
                for (size_t i = 0; i < content.size(); ++i)
                    content[i] = static_cast<char>((i * 31 + n) & 0xff);
                writeText(path, content);
                files.push_back(path);
            }
        return files;
    }
    OffsiteCopies::Setup setup(const WebDavServer& server) const {
        OffsiteCopies::Setup s;
        s.remote = "offsite:cameras/front";
        s.config = server.config();
        s.queueFile = m_state.file("offsite-queue.txt");
        s.logPath = m_state.file("watchdog.log");
        s.firstRetry = 300ms;
        s.longestRetry = 1s;
        return s;
    }
    template <typename Condition>
    bool pumpUntil(Condition condition, std::chrono::milliseconds limit = 30s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (condition())
                return true;
        }
        return condition();
    }
    std::string arrived(const WebDavServer& server, const std::string& path) const {
        return readText(server.served() + "/cameras/front/2026.12.08_10.00.00/" +
                        fs::path(path).filename().string());
    }

    TempDir m_work;
    TempDir m_state;
};

TEST_F(Offsite, TheFilesOfThreeAlarmsArriveByteForBytePicturesFirst) {
    WebDavServer server;
    OffsiteCopies copies(setup(server));
    std::vector<std::string> order;
    copies.onDone = [&](const std::string& path, bool copied) {
        if (copied)
            order.push_back(fs::path(path).filename().string());
    };
    const auto files = makeEvidence();
    // The clips are added first, as if they had waited; the pictures still go ahead of them.
    for (const auto& f : files)
        if (f.ends_with(".avi"))
            copies.add(f);
    for (const auto& f : files)
        if (f.ends_with(".bmp"))
            copies.add(f);
    ASSERT_TRUE(pumpUntil([&] { return order.size() == files.size(); }))
        << readText(m_state.file("watchdog.log"));
    for (const auto& f : files)
        EXPECT_EQ(arrived(server, f), readText(f)) << f;
    // The first clip was on its way before the pictures came; the pictures then went first.
    EXPECT_EQ(order[0], "error001.avi");
    EXPECT_EQ(std::vector<std::string>(order.begin() + 1, order.begin() + 4),
              (std::vector<std::string>{"error001.bmp", "error002.bmp", "error003.bmp"}));
    EXPECT_EQ(readText(m_state.file("offsite-queue.txt")), "");
}

TEST_F(Offsite, WhatCouldNotGoSurvivesARestartAndArrivesWhenTheServerIsBack) {
    WebDavServer server;
    server.stop();
    const auto files = makeEvidence();
    {
        OffsiteCopies copies(setup(server));
        int failures = 0;
        copies.onDone = [&](const std::string&, bool copied) { failures += copied ? 0 : 1; };
        for (const auto& f : files)
            copies.add(f);
        ASSERT_TRUE(pumpUntil([&] { return failures >= 2; }));
        EXPECT_EQ(copies.waiting(), files.size());
    } // the program ends
    EXPECT_NE(readText(m_state.file("watchdog.log")).find("Gardivo Log: Off-site copy of "),
              std::string::npos);
    server.start();
    OffsiteCopies restarted(setup(server));
    ASSERT_TRUE(pumpUntil([&] { return restarted.waiting() == 0; }))
        << readText(m_state.file("watchdog.log"));
    for (const auto& f : files)
        EXPECT_EQ(arrived(server, f), readText(f)) << f;
}

} // namespace
