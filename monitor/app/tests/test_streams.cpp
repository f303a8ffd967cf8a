#include "test_streams.h"

#include "rds_encoder.h"

namespace varnak::test {

namespace {
constexpr uint16_t kPi = 0xC2A1;
constexpr int kPty = 10;
}  // namespace

uint16_t BlockB(int type, int version, int tp, int pty, int low5)
{
    return static_cast<uint16_t>(type << 12 | version << 11 | tp << 10 | pty << 5 | (low5 & 0x1F));
}

std::string StationBits(int cycles, int garbageBits)
{
    std::string bits;
    // Noise before the station, as a receiver delivers before it locks.
    uint32_t x = 0x2545F491;
    for (int i = 0; i < garbageBits; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bits += (x & 1) ? '1' : '0';
    }
    const char ps[] = "VARNAK  ";
    const char rt[] = "Monitor test radiotext, sixty-four characters long for group 2A.";
    for (int c = 0; c < cycles; ++c) {
        for (int seg = 0; seg < 4; ++seg) {
            // 0A: TA 0, MS 1, the DI bit of the segment (only d0, stereo, set),
            // two AFs: 87.6 MHz (code 1) and 107.9 MHz (code 204).
            const int di = seg == 3 ? 1 : 0;
            const uint16_t af = seg == 0 ? uint16_t((224 + 2) << 8 | 1) : uint16_t(204 << 8 | 205);
            rdsenc::AppendGroup(bits, kPi, BlockB(0, 0, 1, kPty, 0 << 4 | 1 << 3 | di << 2 | seg),
                                seg <= 1 ? af : uint16_t(205 << 8 | 205),
                                uint16_t(uint8_t(ps[2 * seg]) << 8 | uint8_t(ps[2 * seg + 1])));
        }
        const int addr = c % 16;
        rdsenc::AppendGroup(bits, kPi, BlockB(2, 0, 1, kPty, addr),
                            uint16_t(uint8_t(rt[4 * addr]) << 8 | uint8_t(rt[4 * addr + 1])),
                            uint16_t(uint8_t(rt[4 * addr + 2]) << 8 | uint8_t(rt[4 * addr + 3])));
        rdsenc::AppendGroup(bits, kPi, BlockB(1, 0, 1, kPty, 0), 0x00E1, uint16_t(8 << 11 | 19 << 6 | 30));
        rdsenc::AppendGroup(bits, kPi, BlockB(3, 0, 1, kPty, 8 << 1), 0x0064, 0xCD46);
        rdsenc::AppendGroup(bits, kPi, BlockB(4, 0, 1, kPty, 0), 0xDF8D, 0x3DC2);
        rdsenc::AppendGroup(bits, kPi, BlockB(8, 0, 1, kPty, 1 << 3 | 3), uint16_t(1 << 14 | 2 << 11 | 101), 0x3A2F);
        rdsenc::AppendGroup(bits, kPi, BlockB(14, 0, 1, kPty, 4), 0x1718, 0xC2A2);
        rdsenc::AppendGroup(bits, kPi, BlockB(5, 0, 1, kPty, 0), 0x4B45, 0x5354);
    }
    return bits;
}

std::string Inverted(std::string bits)
{
    for (char& c : bits) c = c == '1' ? '0' : '1';
    return bits;
}

}  // namespace varnak::test
