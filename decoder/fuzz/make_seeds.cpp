// Writes the seed corpus of the fuzz target: clean and damaged RDS streams of
// every group type, packed into bytes, in both polarities.
#include <cstdio>
#include <random>
#include <string>

#include "rds_encoder.h"

namespace {

bool WriteSeed(const std::string& dir, const std::string& name, char mode, const std::string& bits)
{
    const std::string path = dir + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const std::string bytes = std::string(1, mode) + rdsenc::PackBits(bits);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::mt19937 rng(1);
    std::string clean;
    for (int i = 0; i < 5; ++i) clean.push_back(rng() & 1 ? '1' : '0');
    for (int g = 0; g < 64; ++g) {
        const uint16_t b = uint16_t(((g % 32) << 11) | (rng() & 0x07FF));
        rdsenc::AppendGroup(clean, 0xD3A2, b, uint16_t(rng()), uint16_t(rng()));
    }
    std::string damaged = clean;
    for (int e = 0; e < 12; ++e) {
        const std::size_t at = rng() % damaged.size();
        damaged[at] = damaged[at] == '1' ? '0' : '1';
    }
    std::string inverted = clean;
    for (char& c : inverted) c = c == '1' ? '0' : '1';
    std::string noise;
    for (int i = 0; i < 1000; ++i) noise.push_back(rng() & 1 ? '1' : '0');

    bool ok = WriteSeed(dir, "clean", 0, clean) && WriteSeed(dir, "damaged", 0, damaged) &&
              WriteSeed(dir, "inverted", 2, inverted) && WriteSeed(dir, "noise", 0, noise) &&
              WriteSeed(dir, "mixed", 1, noise);
    if (!ok) std::fprintf(stderr, "make_seeds: cannot write the seeds into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
