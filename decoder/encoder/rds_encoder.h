// The transmit side of the RDS block code: builds blocks and groups with
// their check words, as an RDS encoder sends them. The bit-stream generator
// and the tests use it to make streams for the decoder.
#pragma once

#include <cstdint>
#include <string>

namespace rdsenc {

enum class Block { A = 0, B = 1, C = 2, Cprime = 3, D = 4 };

// The 10-bit offset word added to the check word of a block at position b.
uint16_t OffsetWord(Block b);

// The 10-bit check word of `info` sent at position b (offset included).
uint16_t CheckWord(uint16_t info, Block b);

// The 26-bit block: information word in bits 25..10, check word in 9..0.
uint32_t EncodeBlock(uint16_t info, Block b);

// Appends the 26 bits of a block as characters '0'/'1', first bit first.
void AppendBlock(std::string& bits, uint16_t info, Block b);

// Appends a whole group (blocks A, B, C or C', D); block C goes out with the
// C' offset when the version bit (bit 11) of block B is set.
void AppendGroup(std::string& bits, uint16_t a, uint16_t b, uint16_t c, uint16_t d);

// Packs '0'/'1' characters into bytes, first bit in the most significant bit;
// a last partial byte is padded with zero bits.
std::string PackBits(const std::string& bits);

// The same bits as the card sends them: two upper-case hexadecimal digits
// per packed byte.
std::string BitsToHex(const std::string& bits);

}  // namespace rdsenc
