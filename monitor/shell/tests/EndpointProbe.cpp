// A second program for the endpoint tests: sends or posts one message to an endpoint and prints
// the answer. "--as-nobody" first becomes the unprivileged user (when started as root).
//   endpoint_probe [--as-nobody] send|post|exists NAME MESSAGE WPARAM LPARAM

#include "platform/qt/LocalEndpoint.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--as-nobody") == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return 3;
        first = 2;
    }
    if (argc - first < 2)
        return 2;
    const std::string verb = argv[first];
    const std::string name = argv[first + 1];
    if (verb == "exists")
        return gardivo::LocalEndpoint::exists(name) ? 0 : 1;
    if (argc - first < 5)
        return 2;
    const auto message = static_cast<uint32_t>(std::strtoul(argv[first + 2], nullptr, 0));
    const int64_t wParam = std::strtoll(argv[first + 3], nullptr, 0);
    const int64_t lParam = std::strtoll(argv[first + 4], nullptr, 0);
    if (verb == "post")
        return gardivo::LocalEndpoint::post(name, message, wParam, lParam) ? 0 : 1;
    int64_t result = 0;
    if (!gardivo::LocalEndpoint::send(name, message, wParam, lParam, &result, 5000))
        return 1;
    std::printf("%lld\n", static_cast<long long>(result));
    return 0;
}
