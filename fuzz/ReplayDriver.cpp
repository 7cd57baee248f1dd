// Runs a fuzz target without libFuzzer, as a test: over the files named on the command line, or
// else over a fixed set of inputs (the same every run): the target's seeds, those seeds damaged
// in small ways (bits flipped, bytes cut, inserted or repeated), and random bytes.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Inputs a target starts from; a target without any gets random bytes only.
std::vector<std::string> fuzzSeeds() __attribute__((weak));

namespace {

std::string damaged(std::string input, std::mt19937& rng) {
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const size_t at = input.empty() ? 0 : rng() % input.size();
        switch (rng() % 5) {
        case 0:
            if (!input.empty())
                input[at] = static_cast<char>(input[at] ^ (1u << (rng() % 8)));
            break;
        case 1:
            input.resize(at);
            break;
        case 2:
            input.insert(at, 1, static_cast<char>(rng()));
            break;
        case 3:
            if (!input.empty())
                input.insert(at, input.substr(at, 1 + rng() % 16));
            break;
        default:
            if (!input.empty())
                input[at] = "\n\r\"\\[]=:,0\xff"[rng() % 12];
        }
    }
    return input;
}

void run(const std::string& input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            run(std::string(std::istreambuf_iterator<char>(in), {}));
        }
        return 0;
    }
    const std::vector<std::string> seeds = fuzzSeeds ? fuzzSeeds() : std::vector<std::string>{};
    std::mt19937 rng(2026);
    int runs = 0;
    for (const auto& seed : seeds) {
        run(seed);
        ++runs;
    }
    for (int i = 0; i < 20000; ++i, ++runs) {
        if (!seeds.empty() && i % 4 != 0) {
            run(damaged(seeds[rng() % seeds.size()], rng));
        } else {
            std::string random(rng() % 2048, '\0');
            for (auto& c : random)
                c = static_cast<char>(rng());
            run(random);
        }
    }
    std::printf("%d inputs run without a fault\n", runs);
    return 0;
}
