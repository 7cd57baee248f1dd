// rtsp_test_server: an RTSP camera for the tests, made with GStreamer's RTSP server library. It
// serves the Test Pattern as H.264 at rtsp://127.0.0.1:PORT/stream, optionally behind a user name
// and password, over TCP, UDP or both. Every client gets a pattern of its own that starts with an
// empty room, so that a reconnecting viewer sees the figure walk in again.
//
//   rtsp_test_server [--port N] [--user U --password P] [--protocols tcp|udp|any] [--size WxH]
//                    [--rate N] [--pattern "gardivotestsrc properties"]
//
// It prints "port N" once it listens and runs until it is killed.

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    std::string port = "0", user, password, protocols = "any", size = "640x480", rate = "15";
    std::string pattern = "gardivotestsrc still-seconds=2 move-seconds=0.5 rest-seconds=30";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::string value = argv[i + 1];
        if (arg == "--port")
            port = value;
        else if (arg == "--user")
            user = value;
        else if (arg == "--password")
            password = value;
        else if (arg == "--protocols")
            protocols = value;
        else if (arg == "--size")
            size = value;
        else if (arg == "--rate")
            rate = value;
        else if (arg == "--pattern")
            pattern = value;
        else {
            std::fprintf(stderr, "rtsp_test_server: unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    int width = 640, height = 480;
    if (std::sscanf(size.c_str(), "%dx%d", &width, &height) != 2)
        return 2;

    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    gst_rtsp_server_set_service(server, port.c_str());
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    const std::string launch =
        "( " + pattern + " ! video/x-raw,width=" + std::to_string(width) +
        ",height=" + std::to_string(height) + ",framerate=" + rate +
        "/1 ! videoconvert ! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=" + rate +
        " ! rtph264pay name=pay0 pt=96 config-interval=1 )";
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    gst_rtsp_media_factory_set_protocols(
        factory, protocols == "tcp" ? GST_RTSP_LOWER_TRANS_TCP
                 : protocols == "udp"
                     ? GST_RTSP_LOWER_TRANS_UDP
                     : static_cast<GstRTSPLowerTrans>(GST_RTSP_LOWER_TRANS_TCP | GST_RTSP_LOWER_TRANS_UDP));
    if (!user.empty()) {
        GstRTSPAuth* auth = gst_rtsp_auth_new();
        GstRTSPToken* token =
            gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "viewer", nullptr);
        gchar* basic = gst_rtsp_auth_make_basic(user.c_str(), password.c_str());
        gst_rtsp_auth_add_basic(auth, basic, token);
        g_free(basic);
        gst_rtsp_token_unref(token);
        gst_rtsp_server_set_auth(server, auth);
        g_object_unref(auth);
        gst_rtsp_media_factory_add_role(factory, "viewer", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN,
                                        TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE,
                                        nullptr);
    }
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, "/stream", factory);
    g_object_unref(mounts);
    if (gst_rtsp_server_attach(server, nullptr) == 0) {
        std::fprintf(stderr, "rtsp_test_server: cannot listen on port %s\n", port.c_str());
        return 1;
    }
    std::printf("port %d\n", gst_rtsp_server_get_bound_port(server));
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
