#include "MqttLink.h"
#include "platform/JsonText.h"

#include <mosquitto.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace gardivo {

namespace {

struct LibraryUse {
    LibraryUse() { mosquitto_lib_init(); }
};

} // namespace

std::string MqttLink::eventJson(const EngineEvent& e, const std::string& camera) {
    std::string json = "{\"camera\":" + jsonText(camera) + ",\"time\":" + jsonText(e.time) +
                       ",\"kind\":" + jsonText(eventKindName(e.kind)) + ",\"mode\":" + jsonText(e.mode);
    if (e.kind != EngineEvent::Kind::Mode) {
        json += ",\"run\":" + jsonText(e.group) + ",\"condition\":" + jsonText(e.description) +
                ",\"remark\":" + jsonText(e.remark) + ",\"picture\":" + jsonText(e.imagePath) +
                ",\"clip\":" + jsonText(e.videoPath);
    }
    return json + "}";
}

MqttLink::MqttLink(ConnectionOptions options, std::function<void(const std::string&)> onCommand)
    : m_options(std::move(options)), m_name(m_options.topicName()), m_onCommand(std::move(onCommand)) {
    static LibraryUse library;
    const std::string id = "gardivo-" + m_name + "-" + std::to_string(::getpid());
    m_client = mosquitto_new(id.c_str(), true, this);
}

MqttLink::~MqttLink() {
    if (!m_client)
        return;
    if (m_started) {
        // A clean goodbye sends no last will: "offline" is said here instead.
        if (m_connected) {
            const std::string status = topic("status");
            mosquitto_publish(m_client, nullptr, status.c_str(), 7, "offline", 1, true);
        }
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
    }
    mosquitto_destroy(m_client);
}

bool MqttLink::start(std::string* error) {
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        std::lock_guard lock(m_mutex);
        m_lastError = why;
        return false;
    };
    if (!m_client)
        return fail("the MQTT client cannot be made");
    if (m_options.mqttHost.empty())
        return fail("no MQTT broker is set");
    if (!m_options.mqttUser.empty()) {
        // A password goes only inside TLS, unless the user said otherwise for a trusted network.
        if (m_options.mqttTls || m_options.mqttPlainPassword) {
            mosquitto_username_pw_set(m_client, m_options.mqttUser.c_str(), m_options.mqttPassword.c_str());
        } else {
            m_withheld = "the password for " + m_options.mqttHost + " is not sent without TLS";
            std::lock_guard lock(m_mutex);
            m_lastError = m_withheld;
        }
    }
    if (m_options.mqttTls) {
        const char* caFile = m_options.mqttCaFile.empty() ? nullptr : m_options.mqttCaFile.c_str();
        const char* caPath = caFile ? nullptr : "/etc/ssl/certs";
        if (mosquitto_tls_set(m_client, caFile, caPath, nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
            return fail("the certificate authority " + m_options.mqttCaFile + " cannot be read");
        // The broker's certificate and its name are checked.
        mosquitto_tls_opts_set(m_client, 1, nullptr, nullptr);
        mosquitto_tls_insecure_set(m_client, false);
    }
    const std::string status = topic("status");
    mosquitto_will_set(m_client, status.c_str(), 7, "offline", 1, true);
    mosquitto_reconnect_delay_set(m_client, 1, 60, true);
    mosquitto_connect_callback_set(
        m_client, [](mosquitto*, void* self, int rc) { static_cast<MqttLink*>(self)->onConnect(rc); });
    mosquitto_disconnect_callback_set(
        m_client, [](mosquitto*, void* self, int rc) { static_cast<MqttLink*>(self)->onDisconnect(rc); });
    mosquitto_message_callback_set(m_client, [](mosquitto*, void* self, const mosquitto_message* message) {
        static_cast<MqttLink*>(self)->onMessage(message);
    });
    // The first connection may fail (the broker is away, or its certificate is refused): the
    // loop keeps trying, and says why meanwhile.
    const int rc = mosquitto_connect_async(m_client, m_options.mqttHost.c_str(), m_options.mqttPort, 30);
    if (rc != MOSQ_ERR_SUCCESS) {
        std::lock_guard lock(m_mutex);
        m_lastError = std::string("the broker cannot be reached: ") +
                      (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    }
    if (mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS)
        return fail("the MQTT connection's thread cannot be started");
    m_started = true;
    return true;
}

void MqttLink::onConnect(int rc) {
    if (rc != 0) {
        std::lock_guard lock(m_mutex);
        m_lastError = std::string("the broker refused the connection: ") + mosquitto_connack_string(rc) +
                      (m_withheld.empty() ? "" : " (" + m_withheld + ")");
        return;
    }
    const std::string status = topic("status");
    mosquitto_publish(m_client, nullptr, status.c_str(), 6, "online", 1, true);
    if (m_options.mqttDiscovery)
        sendDiscovery();
    if (m_options.mqttCommands) {
        const std::string set = topic("set");
        mosquitto_subscribe(m_client, nullptr, set.c_str(), 1);
    }
    std::lock_guard lock(m_mutex);
    m_lastError.clear();
    m_connected = true;
    flushLocked();
}

void MqttLink::onDisconnect(int rc) {
    m_connected = false;
    std::lock_guard lock(m_mutex);
    if (rc != 0 && m_lastError.empty())
        m_lastError = "the connection to the broker was lost";
}

void MqttLink::onMessage(const mosquitto_message* message) {
    if (!m_options.mqttCommands || !m_onCommand || !message->payload)
        return;
    std::string command(static_cast<const char*>(message->payload), static_cast<size_t>(message->payloadlen));
    for (char& c : command)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (command == "on")
        command = "start";
    else if (command == "off")
        command = "stop";
    if (command == "start" || command == "stop")
        m_onCommand(command);
}

void MqttLink::sendDiscovery() {
    const std::string id = "gardivo_" + m_name;
    const std::string device = ",\"availability_topic\":" + jsonText(topic("status")) +
                               ",\"device\":{\"identifiers\":[" + jsonText(id) +
                               "],\"name\":" + jsonText("Gardivo " + m_name) +
                               ",\"manufacturer\":\"Tavrin\",\"model\":\"Gardivo\"}}";
    const auto send = [&](const std::string& component, const std::string& leaf, const std::string& body) {
        const std::string t = "homeassistant/" + component + "/" + id + "/" + leaf + "/config";
        const std::string payload = "{\"name\":" + body + device;
        mosquitto_publish(m_client, nullptr, t.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          true);
    };
    send("binary_sensor", "motion",
         "\"Motion\",\"unique_id\":" + jsonText(id + "_motion") +
             ",\"device_class\":\"motion\",\"state_topic\":" + jsonText(topic("motion")) +
             ",\"payload_on\":\"ON\",\"payload_off\":\"OFF\"");
    send("image", "picture",
         "\"Alarm picture\",\"unique_id\":" + jsonText(id + "_picture") +
             ",\"image_topic\":" + jsonText(topic("picture")) + ",\"content_type\":\"image/jpeg\"");
    if (m_options.mqttCommands)
        send("switch", "watching",
             "\"Watching\",\"unique_id\":" + jsonText(id + "_watching") + ",\"command_topic\":" +
                 jsonText(topic("set")) + ",\"state_topic\":" + jsonText(topic("watching")) +
                 ",\"payload_on\":\"start\",\"payload_off\":\"stop\",\"state_on\":\"ON\",\"state_off\":"
                 "\"OFF\"");
}

void MqttLink::enqueue(Message message) {
    std::lock_guard lock(m_mutex);
    if (message.picture)
        // Only the newest picture matters: the one waiting is replaced, in its place.
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
            if (it->picture) {
                m_queue.erase(it);
                break;
            }
    if (m_queue.size() >= kQueueLimit) {
        m_queue.pop_front();
        ++m_dropped;
    }
    m_queue.push_back(std::move(message));
    if (m_connected)
        flushLocked();
}

void MqttLink::flushLocked() {
    while (!m_queue.empty() && m_connected) {
        const Message& m = m_queue.front();
        const int rc = mosquitto_publish(m_client, nullptr, m.topic.c_str(),
                                         static_cast<int>(m.payload.size()), m.payload.data(), 1, m.retain);
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) {
            m_connected = false;
            return; // it stays first in line for the next connection
        }
        m_queue.pop_front();
    }
}

void MqttLink::publishEvent(const EngineEvent& event) {
    enqueue({topic("event"), eventJson(event, m_name), false, false});
    if (event.kind == EngineEvent::Kind::Condition)
        publishMotion(true);
    else if (event.kind == EngineEvent::Kind::Release || event.kind == EngineEvent::Kind::Reset)
        publishMotion(false);
    else
        enqueue({topic("watching"), event.mode == "StandBy" ? "OFF" : "ON", true, false});
}

void MqttLink::publishMotion(bool on) {
    enqueue({topic("motion"), on ? "ON" : "OFF", true, false});
}

void MqttLink::publishPicture(std::vector<uint8_t> jpeg) {
    enqueue({topic("picture"), std::string(jpeg.begin(), jpeg.end()), true, true});
}

size_t MqttLink::waiting() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

std::string MqttLink::lastError() const {
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

} // namespace gardivo
