// Writes the warning sound played on an alarm: a two-tone siren, 22,050 Hz, 8-bit unsigned PCM,
// mono, about 14 seconds, as a WAV file. Run at build time; the program embeds the file.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    constexpr uint32_t kRate = 22050;
    constexpr double kSeconds = 14.0;
    constexpr double kHigh_Hz = 960.0, kLow_Hz = 770.0, kHalfCycle_s = 0.45;
    const auto samples = static_cast<uint32_t>(kRate * kSeconds);

    std::vector<uint8_t> pcm;
    pcm.reserve(samples);
    double phase = 0.0;
    for (uint32_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const bool high = static_cast<int>(t / kHalfCycle_s) % 2 == 0;
        phase += 2.0 * M_PI * (high ? kHigh_Hz : kLow_Hz) / kRate; // continuous phase: no clicks
        // Fade in and out over 20 ms so the sound starts and ends softly.
        const double edge = std::min({1.0, t / 0.02, (kSeconds - t) / 0.02});
        const double v = 0.8 * edge * std::sin(phase);
        pcm.push_back(static_cast<uint8_t>(std::lround(128.0 + 127.0 * v)));
    }

    std::vector<uint8_t> wav;
    wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
    put32(wav, 36 + samples);
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(wav, 16);
    put16(wav, 1); // PCM
    put16(wav, 1); // mono
    put32(wav, kRate);
    put32(wav, kRate); // bytes per second
    put16(wav, 1);     // block align
    put16(wav, 8);     // bits per sample
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put32(wav, samples);
    wav.insert(wav.end(), pcm.begin(), pcm.end());

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(wav.data(), 1, wav.size(), f) != wav.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
