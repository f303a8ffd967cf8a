// Writes a recording for the murlin-decode benchmark: SECONDS of a station at
// 1187.5 bit/s, one character per bit, with a mix of group types and a
// sprinkling of single-bit errors as a real reception has.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rds_encoder.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [SECONDS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 3600.0;
    const std::size_t bitsWanted = static_cast<std::size_t>(seconds * 1187.5);
    const char ps[] = "BENCH FM";
    const char rt[] = "An hour of radiotext for the benchmark, sixty-four chars long!! ";
    const uint16_t pi = 0xD3C2, header = (1u << 10) | (10u << 5);

    std::string bits;
    bits.reserve(bitsWanted + 104);
    unsigned g = 0;
    while (bits.size() < bitsWanted) {
        const unsigned kind = g % 10;
        if (kind < 4) {  // 0A: PS, TA/MS, AF
            const unsigned s = g % 4;
            rdsenc::AppendGroup(bits, pi, header | (1u << 3) | s, s == 0 ? 0xE3'01 : 0x0405,
                                static_cast<uint16_t>((ps[2 * s] << 8) | ps[2 * s + 1]));
        } else if (kind < 8) {  // 2A radiotext
            const unsigned a = g % 16;
            rdsenc::AppendGroup(bits, pi, (2u << 12) | header | a,
                                static_cast<uint16_t>((rt[4 * a] << 8) | rt[4 * a + 1]),
                                static_cast<uint16_t>((rt[4 * a + 2] << 8) | rt[4 * a + 3]));
        } else if (kind == 8) {  // 8A TMC
            rdsenc::AppendGroup(bits, pi, (8u << 12) | header | (1u << 3) | 2, 0x0065, 0x3A41);
        } else if (g % 100 == 9) {  // 4A clock, about once a minute
            rdsenc::AppendGroup(bits, pi, (4u << 12) | header | 1, static_cast<uint16_t>((54521u & 0x7FFF) << 1),
                                0xF7C2);
        } else {  // 14A EON
            rdsenc::AppendGroup(bits, pi, (14u << 12) | header | 13, 0x5001, 0xD3C3);
        }
        ++g;
    }
    bits.resize(bitsWanted);
    // A wrong bit now and then: most get repaired, some break a group.
    for (std::size_t i = 777; i < bits.size(); i += 1499) bits[i] = bits[i] == '1' ? '0' : '1';

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(bits.data(), 1, bits.size(), f) != bits.size() || std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
