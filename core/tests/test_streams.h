// Clean RDS bit streams for the tests, built with the transmit-side encoder.
#pragma once

#include <cstdint>
#include <string>

#include "rds_encoder.h"

namespace varnaktest {

constexpr uint16_t kTestPi = 0x2001;
constexpr const char kTestPs[] = "VARNAK  ";
constexpr const char kTestRadiotext[] = "Varnak test stream: radiotext in sixteen segments of four chars.";

// `groups` groups of a station, alternating 0A (PS, TA, MS, one AF pair) and
// 2A (radiotext), after a few bits that do not start on a block boundary.
inline std::string StationBits(int groups, uint16_t pi = kTestPi)
{
    std::string bits = "0110100";
    const uint16_t header = (1u << 10) | (10u << 5);  // TP 1, PTY 10
    for (int g = 0; g < groups; ++g) {
        if (g % 2 == 0) {
            const unsigned s = (g / 2) % 4;
            const uint16_t b = header | (1u << 4) | (1u << 3) | (s == 3 ? 4u : 0u) | s;
            const uint16_t c = s == 0 ? 0xE501 : 0x0203;
            const uint16_t d = static_cast<uint16_t>((kTestPs[2 * s] << 8) | kTestPs[2 * s + 1]);
            rdsenc::AppendGroup(bits, pi, b, c, d);
        } else {
            const unsigned a = (g / 2) % 16;
            const uint16_t b = (2u << 12) | header | a;
            const char* t = kTestRadiotext + 4 * a;
            rdsenc::AppendGroup(bits, pi, b, static_cast<uint16_t>((t[0] << 8) | t[1]),
                                static_cast<uint16_t>((t[2] << 8) | t[3]));
        }
    }
    return bits;
}

// Every bit flipped.
inline std::string Inverted(std::string bits)
{
    for (char& c : bits) c = c == '1' ? '0' : '1';
    return bits;
}

}  // namespace varnaktest
