// mjpeg_test_server: an HTTP camera for the tests, the kind most cheap IP cameras are. Every
// GET is answered with the Test Pattern as JPEG pictures in one multipart/x-mixed-replace
// response, all clients fed from one encoder, as a camera does.
//
//   mjpeg_test_server [--port N] [--size WxH] [--rate N] [--pattern "gardivotestsrc properties"]
//
// It prints "port N" once it listens and runs until it is killed.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex g_mutex;
std::vector<int> g_clients;

bool sendAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

GstFlowReturn onSample(GstAppSink* sink, gpointer) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const std::string head =
            "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(map.size) + "\r\n\r\n";
        std::lock_guard lock(g_mutex);
        for (auto it = g_clients.begin(); it != g_clients.end();) {
            if (sendAll(*it, head.data(), head.size()) && sendAll(*it, map.data, map.size) &&
                sendAll(*it, "\r\n", 2)) {
                ++it;
            } else {
                ::close(*it);
                it = g_clients.erase(it);
            }
        }
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void serve(int listener) {
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        // The request is read to its end; whatever it asks, it gets the pictures.
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<size_t>(n));
        }
        static const char kHead[] = "HTTP/1.0 200 OK\r\nConnection: close\r\nCache-Control: no-cache\r\n"
                                    "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n";
        std::lock_guard lock(g_mutex);
        if (request.rfind("GET ", 0) == 0 && sendAll(fd, kHead, sizeof kHead - 1))
            g_clients.push_back(fd);
        else
            ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    int port = 0;
    std::string size = "640x480", rate = "30";
    std::string pattern = "gardivotestsrc still-seconds=3 move-seconds=0.5 rest-seconds=30";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--port")
            port = std::atoi(argv[i + 1]);
        else if (arg == "--size")
            size = argv[i + 1];
        else if (arg == "--rate")
            rate = argv[i + 1];
        else if (arg == "--pattern")
            pattern = argv[i + 1];
        else {
            std::fprintf(stderr, "mjpeg_test_server: unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    int width = 640, height = 480;
    if (std::sscanf(size.c_str(), "%dx%d", &width, &height) != 2)
        return 2;

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "mjpeg_test_server: cannot listen on port %d: %s\n", port, std::strerror(errno));
        return 1;
    }

    const std::string description = pattern + " ! video/x-raw,width=" + std::to_string(width) +
                                    ",height=" + std::to_string(height) + ",framerate=" + rate +
                                    "/1 ! videoconvert ! jpegenc quality=80 ! appsink name=out sync=false";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline || error) {
        std::fprintf(stderr, "mjpeg_test_server: %s\n", error ? error->message : "no pipeline");
        return 1;
    }
    GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, nullptr, nullptr);
    gst_object_unref(out);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);

    std::thread(serve, listener).detach();
    std::printf("port %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
