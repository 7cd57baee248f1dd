#include "WebView.h"
#include "platform/JsonText.h"

#include "WebPages.h"
#include "monitor/history/HistoryStore.h"
#include "monitor/outward/AlarmPicture.h"
#include "platform/SkinPaths.h"
#include "settings/EvidenceOptions.h"

#include <httplib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace gardivo {

namespace {

std::string replaced(std::string text, const std::string& key, const std::string& value) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

std::string htmlText(const std::string& text) {
    std::string out;
    for (const char c : text)
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    return out;
}

std::string cookieValue(const httplib::Request& req, const std::string& name) {
    const std::string cookies = req.get_header_value("Cookie");
    size_t at = 0;
    while (at < cookies.size()) {
        const auto end = cookies.find(';', at);
        std::string part = cookies.substr(at, end == std::string::npos ? std::string::npos : end - at);
        part.erase(0, part.find_first_not_of(' '));
        if (part.rfind(name + "=", 0) == 0)
            return part.substr(name.size() + 1);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return {};
}

void noStore(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
}

} // namespace

std::string uyvyToJpeg(const std::vector<uint8_t>& uyvy, int width, int height, int quality) {
    if (width < 2 || height < 1 || uyvy.size() < static_cast<size_t>(width) * height * 2)
        return {};
    const int chroma = width / 2;
    std::vector<uint8_t> y(static_cast<size_t>(width) * height), u(static_cast<size_t>(chroma) * height),
        v(static_cast<size_t>(chroma) * height);
    for (int row = 0; row < height; ++row) {
        const uint8_t* in = uyvy.data() + static_cast<size_t>(row) * width * 2;
        for (int x = 0; x < chroma; ++x) {
            u[static_cast<size_t>(row) * chroma + x] = in[4 * x];
            y[static_cast<size_t>(row) * width + 2 * x] = in[4 * x + 1];
            v[static_cast<size_t>(row) * chroma + x] = in[4 * x + 2];
            y[static_cast<size_t>(row) * width + 2 * x + 1] = in[4 * x + 3];
        }
    }
    tjhandle handle = tjInitCompress();
    if (!handle)
        return {};
    const unsigned char* planes[3] = {y.data(), u.data(), v.data()};
    const int strides[3] = {width, chroma, chroma};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    std::string out;
    if (tjCompressFromYUVPlanes(handle, planes, width, strides, height, TJSAMP_422, &jpeg, &size, quality,
                                0) == 0)
        out.assign(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

WebView::WebView(WebViewSetup setup)
    : m_setup(std::move(setup)), m_accounts(m_setup.accountsFile), m_throttle(m_setup.clock),
      m_sessions(m_setup.clock) {
    m_setup.framesPerSecond = std::clamp(m_setup.framesPerSecond, 1, 10);
}

WebView::~WebView() {
    stop();
}

bool WebView::start(std::string* error) {
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    m_server = std::make_unique<httplib::SSLServer>(m_setup.certFile.c_str(), m_setup.keyFile.c_str());
    if (!m_server->is_valid())
        return fail("the certificate " + m_setup.certFile + " or its key cannot be used");
    route();
    m_port = m_setup.port;
    if (m_port == 0)
        m_port = m_server->bind_to_any_port(m_setup.address.c_str());
    else if (!m_server->bind_to_port(m_setup.address.c_str(), m_port))
        m_port = -1;
    if (m_port <= 0)
        return fail("port " + std::to_string(m_setup.port) + " cannot be listened on");
    m_running = true;
    m_listener = std::thread([this] { m_server->listen_after_bind(); });
    m_encoder = std::thread([this] { encodeLoop(); });
    return true;
}

void WebView::stop() {
    if (!m_running.exchange(false))
        return;
    m_frameReady.notify_all();
    m_watched.notify_all();
    if (m_server)
        m_server->stop();
    if (m_listener.joinable())
        m_listener.join();
    if (m_encoder.joinable())
        m_encoder.join();
}

void WebView::viewerJoined() {
    if (++m_viewers == 1 && m_setup.viewersChanged)
        m_setup.viewersChanged(1);
    m_watched.notify_all();
}

void WebView::viewerLeft() {
    const int left = --m_viewers;
    if (left == 0 && m_setup.viewersChanged)
        m_setup.viewersChanged(0);
}

void WebView::encodeLoop() {
    const auto period = std::chrono::milliseconds(1000 / m_setup.framesPerSecond);
    std::vector<uint8_t> picture;
    while (m_running) {
        {
            // Nothing is encoded while nobody watches.
            std::unique_lock lock(m_frameMutex);
            m_watched.wait(lock, [&] { return !m_running || m_viewers > 0; });
        }
        if (!m_running)
            break;
        const auto began = std::chrono::steady_clock::now();
        int width = 0, height = 0;
        if (m_setup.latestPicture && m_setup.latestPicture(picture, width, height)) {
            auto jpeg = std::make_shared<const std::string>(uyvyToJpeg(picture, width, height));
            if (!jpeg->empty()) {
                std::lock_guard lock(m_frameMutex);
                m_frame = {m_frame.number + 1, std::move(jpeg)};
                ++m_framesEncoded;
            }
            m_frameReady.notify_all();
        }
        std::unique_lock lock(m_frameMutex);
        m_watched.wait_until(lock, began + period, [&] { return !m_running.load(); });
    }
}

WebView::Frame WebView::waitForFrame(uint64_t after) {
    std::unique_lock lock(m_frameMutex);
    m_frameReady.wait_for(lock, std::chrono::seconds(2),
                          [&] { return !m_running || m_frame.number > after; });
    return m_frame;
}

void WebView::route() {
    httplib::SSLServer& s = *m_server;
    const auto session = [this](const httplib::Request& req) {
        return m_sessions.find(cookieValue(req, kCookie));
    };
    const auto client = [](const httplib::Request& req) { return req.remote_addr; };
    // A change needs the session and its token, from the header or the form.
    const auto allowedChange = [this, session](const httplib::Request& req, httplib::Response& res) {
        const auto s = session(req);
        std::string token = req.get_header_value("X-CSRF-Token");
        if (token.empty() && req.has_param("csrf"))
            token = req.get_param_value("csrf");
        if (!s) {
            res.status = 401;
            return false;
        }
        if (!WebSessions::csrfMatches(*s, token)) {
            res.status = 403;
            res.set_content("The request carries no valid token.", "text/plain");
            return false;
        }
        return true;
    };

    s.set_pre_routing_handler([this, session](const httplib::Request& req, httplib::Response& res) {
        noStore(res);
        res.set_header("Strict-Transport-Security", "max-age=31536000");
        if (req.path == "/login" || req.path == "/style.css")
            return httplib::Server::HandlerResponse::Unhandled;
        if (session(req))
            return httplib::Server::HandlerResponse::Unhandled;
        // Nothing else without a session: pages go to the login, the rest is refused.
        if (req.method == "GET" && (req.path == "/" || req.path == "/history")) {
            res.status = 303;
            res.set_header("Location", "/login");
        } else {
            res.status = 401;
            res.set_content("Log in first.", "text/plain");
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    s.Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(webpages::kStyle, "text/css");
    });
    s.Get("/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(replaced(webpages::kLogin, "{{error}}", ""), "text/html; charset=utf-8");
    });
    s.Post("/login", [this, client](const httplib::Request& req, httplib::Response& res) {
        const std::string who = client(req);
        const std::string user = req.has_param("user") ? req.get_param_value("user") : "";
        const std::string password = req.has_param("password") ? req.get_param_value("password") : "";
        const auto refuse = [&](const std::string& why, int status) {
            res.status = status;
            res.set_content(replaced(webpages::kLogin, "{{error}}", htmlText(why)),
                            "text/html; charset=utf-8");
        };
        if (const auto wait = m_throttle.wait(who); wait.count() > 0) {
            res.set_header("Retry-After", std::to_string((wait.count() + 999) / 1000));
            return refuse("Too many failed logins: try again in " +
                              std::to_string((wait.count() + 999) / 1000) + " s.",
                          429);
        }
        if (!m_accounts.verify(user, password)) {
            m_throttle.failed(who);
            if (m_setup.log)
                m_setup.log("Failed web login for \"" + user.substr(0, 64) + "\" from " + who + " (" +
                            std::to_string(m_throttle.failures(who)) + " in a row)");
            return refuse("Wrong user name or password.", 401);
        }
        m_throttle.succeeded(who);
        const WebSession created = m_sessions.create(user);
        res.set_header("Set-Cookie", std::string(kCookie) + "=" + created.id +
                                         "; Path=/; HttpOnly; Secure; SameSite=Strict; Max-Age=" +
                                         std::to_string(std::chrono::seconds(WebSessions::kLongest).count()));
        res.status = 303;
        res.set_header("Location", "/");
    });
    s.Post("/logout", [this, allowedChange](const httplib::Request& req, httplib::Response& res) {
        if (!allowedChange(req, res))
            return;
        m_sessions.end(cookieValue(req, kCookie));
        res.set_header("Set-Cookie",
                       std::string(kCookie) + "=; Path=/; HttpOnly; Secure; SameSite=Strict; Max-Age=0");
        res.status = 303;
        res.set_header("Location", "/login");
    });
    // A page with the session's token in it; a session that ended a moment ago sends to the login.
    const auto page = [session](const char* html) {
        return [session, html](const httplib::Request& req, httplib::Response& res) {
            const auto s = session(req);
            if (!s) {
                res.status = 303;
                res.set_header("Location", "/login");
                return;
            }
            res.set_content(replaced(html, "{{csrf}}", s->csrf), "text/html; charset=utf-8");
        };
    };
    s.Get("/", page(webpages::kLive));
    s.Get("/history", page(webpages::kHistory));
    s.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"mode\":" + jsonText(m_setup.mode ? m_setup.mode() : "StandBy") +
                            ",\"viewers\":" + std::to_string(m_viewers.load()) + "}",
                        "application/json");
    });
    for (const char* which : {"start", "stop"}) {
        const bool start = std::string(which) == "start";
        s.Post(std::string("/api/") + which,
               [this, allowedChange, start](const httplib::Request& req, httplib::Response& res) {
                   if (!allowedChange(req, res))
                       return;
                   if (m_setup.startStop)
                       m_setup.startStop(start);
                   res.set_content("{}", "application/json");
               });
    }
    s.Get("/live.mjpg", [this](const httplib::Request&, httplib::Response& res) {
        viewerJoined();
        auto last = std::make_shared<uint64_t>(0);
        res.set_chunked_content_provider(
            "multipart/x-mixed-replace; boundary=gardivoframe",
            [this, last](size_t, httplib::DataSink& sink) {
                if (!m_running)
                    return false;
                const Frame frame = waitForFrame(*last);
                if (!m_running || !sink.is_writable())
                    return false;
                if (frame.number > *last && frame.jpeg) {
                    *last = frame.number;
                    const std::string head =
                        "--gardivoframe\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                        std::to_string(frame.jpeg->size()) + "\r\n\r\n";
                    if (!sink.write(head.data(), head.size()) ||
                        !sink.write(frame.jpeg->data(), frame.jpeg->size()) || !sink.write("\r\n", 2))
                        return false;
                }
                return true;
            },
            [this](bool) { viewerLeft(); });
    });
    s.Get("/api/history", [this](const httplib::Request&, httplib::Response& res) {
        HistoryStore history(m_setup.historyDirectory);
        auto rows = history.allRecords();
        // Newest run first, highest condition first, as the history window shows them.
        std::sort(rows.begin(), rows.end(), [](const HistoryRecord& a, const HistoryRecord& b) {
            return a.GroupName != b.GroupName ? a.GroupName > b.GroupName : a.Description > b.Description;
        });
        std::string json = "[";
        std::string run;
        for (const auto& r : rows) {
            if (r.GroupName != run) {
                if (!run.empty())
                    json += "]},";
                run = r.GroupName;
                json += "{\"name\":" + jsonText(run) + ",\"conditions\":[";
            } else {
                json += ",";
            }
            const bool clip = !r.VideoPath.empty() && openableFile(r.VideoPath, {m_setup.workingDirectory});
            json += "{\"condition\":" + jsonText(r.Description) + ",\"time\":" + jsonText(r.Time) +
                    ",\"remark\":" + jsonText(r.Remark) +
                    ",\"picture\":" + (r.ImagePath.empty() ? "false" : "true") +
                    ",\"clip\":" + (clip ? "true" : "false") + ",\"playable\":" +
                    (clip && !existingPlayableCopy(r.VideoPath).empty() ? "true" : "false") + "}";
        }
        if (!run.empty())
            json += "]}";
        res.set_content(json + "]", "application/json");
    });
    s.Get("/evidence", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string run = req.get_param_value("run");
        const std::string condition = req.get_param_value("condition");
        const std::string kind = req.get_param_value("kind");
        HistoryStore history(m_setup.historyDirectory);
        HistoryRecord row;
        // Only what a row names, and only plain files of the evidence: never a path from the request.
        const auto refuse = [&] {
            res.status = 404;
            res.set_content("No such evidence.", "text/plain");
        };
        if (run.empty() || condition.empty() || history.FindRecord(run, condition, row) <= 0)
            return refuse();
        const std::string named = kind == "picture" ? row.ImagePath : kind == "clip" ? row.VideoPath : "";
        const auto file = named.empty() ? std::nullopt : openableFile(named, {m_setup.workingDirectory});
        if (!file)
            return refuse();
        if (kind == "picture") {
            const auto jpeg = bitmapJpeg(*file);
            if (jpeg.empty())
                return refuse();
            res.set_content(std::string(jpeg.begin(), jpeg.end()), "image/jpeg");
            return;
        }
        const std::string copy = existingPlayableCopy(*file);
        const auto served =
            copy.empty() ? *file : openableFile(copy, {m_setup.workingDirectory}).value_or(*file);
        const bool mp4 = served.ends_with(".mp4"), webm = served.ends_with(".webm");
        auto stream = std::make_shared<std::ifstream>(served, std::ios::binary);
        stream->seekg(0, std::ios::end);
        const auto size = static_cast<size_t>(stream->tellg());
        stream->seekg(0);
        if (!mp4 && !webm)
            res.set_header("Content-Disposition", "attachment; filename=\"" + run + "_" +
                                                      served.substr(served.find_last_of('/') + 1) + "\"");
        res.set_content_provider(size,
                                 mp4    ? "video/mp4"
                                 : webm ? "video/webm"
                                        : "video/x-msvideo",
                                 [stream](size_t offset, size_t length, httplib::DataSink& sink) {
                                     std::vector<char> buffer(std::min<size_t>(length, 1 << 16));
                                     stream->seekg(static_cast<std::streamoff>(offset));
                                     stream->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                                     return sink.write(buffer.data(), static_cast<size_t>(stream->gcount()));
                                 });
    });
    s.Post("/api/delete", [this, allowedChange](const httplib::Request& req, httplib::Response& res) {
        if (!allowedChange(req, res))
            return;
        const std::string run = req.get_param_value("run");
        const std::string condition = req.get_param_value("condition");
        if (run.empty()) {
            res.status = 400;
            return;
        }
        // The history window's own deletion, with its checks of every path a row names.
        HistoryStore history(m_setup.historyDirectory);
        const DeleteOutcome outcome = history.DeleteRecords(m_setup.workingDirectory, run, condition);
        if (outcome.rowsDeleted > 0 && m_setup.historyChanged)
            m_setup.historyChanged(run);
        res.set_content("{\"deleted\":" + std::to_string(outcome.rowsDeleted) + "}", "application/json");
    });
}

} // namespace gardivo
