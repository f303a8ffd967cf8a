#include "rds_encoder.h"

namespace rdsenc {

namespace {
constexpr uint16_t kOffsets[5] = {0x0FC, 0x198, 0x168, 0x350, 0x1B4};
constexpr uint32_t kGenerator = 0x5B9;  // x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1
}  // namespace

uint16_t OffsetWord(Block b) { return kOffsets[static_cast<int>(b)]; }

uint16_t CheckWord(uint16_t info, Block b)
{
    // Remainder of info(x) * x^10 divided by the generator polynomial.
    uint32_t reg = uint32_t(info) << 10;
    for (int bit = 25; bit >= 10; --bit)
        if (reg & (1u << bit)) reg ^= kGenerator << (bit - 10);
    return uint16_t((reg & 0x3FF) ^ OffsetWord(b));
}

uint32_t EncodeBlock(uint16_t info, Block b) { return (uint32_t(info) << 10) | CheckWord(info, b); }

void AppendBlock(std::string& bits, uint16_t info, Block b)
{
    const uint32_t word = EncodeBlock(info, b);
    for (int bit = 25; bit >= 0; --bit) bits.push_back((word >> bit) & 1 ? '1' : '0');
}

void AppendGroup(std::string& bits, uint16_t a, uint16_t b, uint16_t c, uint16_t d)
{
    AppendBlock(bits, a, Block::A);
    AppendBlock(bits, b, Block::B);
    AppendBlock(bits, c, (b & 0x0800) ? Block::Cprime : Block::C);
    AppendBlock(bits, d, Block::D);
}

std::string PackBits(const std::string& bits)
{
    std::string out((bits.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') out[i / 8] = char(uint8_t(out[i / 8]) | (0x80u >> (i % 8)));
    return out;
}

std::string BitsToHex(const std::string& bits)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve((bits.size() + 7) / 8 * 2);
    for (unsigned char byte : PackBits(bits)) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 15]);
    }
    return hex;
}

}  // namespace rdsenc
