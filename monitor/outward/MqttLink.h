#pragma once

// Gardivo's events on an MQTT broker, for home automation, through libmosquitto. Under
// gardivo/<name>/: "status" ("online", and "offline" as the broker's last will, both retained),
// "event" (a JSON message for every condition, release, reset and change of mode), "motion" and
// "watching" (ON/OFF, retained), "picture" (the alarm picture as a JPEG, retained) and, when
// commands are allowed, "set" ("start" or "stop"). Home Assistant's discovery messages make the
// camera a motion sensor, an image and a switch there without any set-up.
//
// libmosquitto's own thread connects, and reconnects with back-off while the broker is away.
// Messages made meanwhile wait in a bounded queue (the oldest go first when it is full, and are
// counted) and are handed over in order once the broker is back.

#include "monitor/engine/EngineServices.h"
#include "settings/ConnectionOptions.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace gardivo {

class MqttLink {
public:
    static constexpr size_t kQueueLimit = 500;

    // onCommand is called on libmosquitto's thread with "start" or "stop".
    MqttLink(ConnectionOptions options, std::function<void(const std::string& command)> onCommand = {});
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts connecting; false, with the reason, when the settings cannot work.
    bool start(std::string* error = nullptr);

    void publishEvent(const EngineEvent& event);
    // The motion sensor's state by itself: a condition that no release follows is over after a while.
    void publishMotion(bool on);
    // The alarm picture as a JPEG; only the newest waits while the broker is away.
    void publishPicture(std::vector<uint8_t> jpeg);

    bool connected() const { return m_connected; }
    uint64_t dropped() const { return m_dropped; }
    size_t waiting() const;
    // Why the broker refused or could not be reached, "" while connected.
    std::string lastError() const;
    std::string topic(const std::string& leaf) const { return "gardivo/" + m_name + "/" + leaf; }

    // The JSON of an event, as it is sent.
    static std::string eventJson(const EngineEvent& event, const std::string& camera);

private:
    struct Message {
        std::string topic;
        std::string payload;
        bool retain = false;
        bool picture = false;
    };
    void enqueue(Message message);
    void flushLocked();
    void onConnect(int rc);
    void onDisconnect(int rc);
    void onMessage(const mosquitto_message* message);
    void sendDiscovery();

    ConnectionOptions m_options;
    std::string m_name;
    std::function<void(const std::string&)> m_onCommand;
    mosquitto* m_client = nullptr;
    bool m_started = false;
    mutable std::mutex m_mutex;
    std::deque<Message> m_queue;
    std::atomic<bool> m_connected{false};
    std::atomic<uint64_t> m_dropped{0};
    std::string m_lastError;
    std::string m_withheld; // why no password was given to the broker
};

} // namespace gardivo
