#pragma once

// Gardivo from a phone's browser: an HTTPS server (cpp-httplib over OpenSSL, on threads of its
// own) with a login, the live picture, the mode with Start and Stop, and the history by watching
// run with each condition's picture and clip, which may be deleted as in the history window.
// Nothing but the login page is reachable without a session; every change carries the session's
// CSRF token. The live picture is encoded once, at the rate set, and only while someone watches.

#include "WebAccounts.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class SSLServer;
}

namespace gardivo {

struct WebViewSetup {
    std::string address = "0.0.0.0";
    int port = 8443;
    std::string certFile;
    std::string keyFile;
    std::string accountsFile;
    std::string workingDirectory;
    std::string historyDirectory;
    int framesPerSecond = 5; // of the live picture, 1 to 10
    // The newest picture (UYVY rows, top first), from any thread; false while there is none.
    std::function<bool(std::vector<uint8_t>& uyvy, int& width, int& height)> latestPicture;
    std::function<std::string()> mode;                          // "StandBy", "WatchDog", "Tracing"
    std::function<void(bool start)> startStop;                  // done on the engine thread
    std::function<void(int viewers)> viewersChanged;            // the live picture's watchers
    std::function<void(const std::string& line)> log;           // failed logins and the like
    std::function<void(const std::string& run)> historyChanged; // a run lost rows here
    WebClock clock;
};

class WebView {
public:
    static constexpr const char* kCookie = "gardivo_session";

    explicit WebView(WebViewSetup setup);
    ~WebView();
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // Listens; false with the reason when the certificate or the port will not do.
    bool start(std::string* error = nullptr);
    void stop();
    int port() const { return m_port; }
    uint64_t framesEncoded() const { return m_framesEncoded; }
    int viewers() const { return m_viewers; }

private:
    struct Frame {
        uint64_t number = 0;
        std::shared_ptr<const std::string> jpeg;
    };
    void route();
    void encodeLoop();
    void viewerJoined();
    void viewerLeft();
    Frame waitForFrame(uint64_t after);

    WebViewSetup m_setup;
    WebAccounts m_accounts;
    LoginThrottle m_throttle;
    WebSessions m_sessions;
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_listener;
    std::thread m_encoder;
    int m_port = 0;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_viewers{0};
    std::atomic<uint64_t> m_framesEncoded{0};
    std::mutex m_frameMutex;
    std::condition_variable m_frameReady;
    std::condition_variable m_watched;
    Frame m_frame;
};

// The picture as JPEG: UYVY rows of the given size.
std::string uyvyToJpeg(const std::vector<uint8_t>& uyvy, int width, int height, int quality = 75);

} // namespace gardivo
