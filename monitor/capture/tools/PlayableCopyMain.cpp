// gardivo-playable: makes the copies of alarm clips that phones and browsers play, one after
// another. gardivo starts it, at the lowest priority, when a clip has ended.
//
//   gardivo-playable CLIP...             each copy beside its clip
//   gardivo-playable --to TARGET CLIP    one copy where the user chose

#include "monitor/capture/PlayableCopy.h"
#include "platform/ProgramDirectory.h"

#include <gst/gst.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    // trv2dec is one of gardivo's own plugins, beside this program.
    gst_registry_scan_path(gst_registry_get(), gardivo::executableDirectory().c_str());
    std::string target;
    std::vector<std::string> clips;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--to") == 0 && i + 1 < argc)
            target = argv[++i];
        else
            clips.emplace_back(argv[i]);
    }
    if (clips.empty() || (!target.empty() && clips.size() != 1)) {
        std::fprintf(stderr, "usage: gardivo-playable CLIP...\n       gardivo-playable --to TARGET CLIP\n");
        return 2;
    }
    const auto format = gardivo::playableFormat();
    if (!format) {
        std::fprintf(stderr,
                     "gardivo-playable: neither an H.264 encoder with mp4mux nor vp8enc with webmmux is "
                     "installed\n");
        return 1;
    }
    int failures = 0;
    for (const auto& clip : clips) {
        const std::string copy = target.empty() ? gardivo::playableCopyPath(clip, *format) : target;
        std::string error;
        if (gardivo::makePlayableCopy(clip, copy, *format, &error)) {
            std::printf("%s\n", copy.c_str());
        } else {
            std::fprintf(stderr, "gardivo-playable: no copy of %s: %s\n", clip.c_str(), error.c_str());
            ++failures;
        }
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
