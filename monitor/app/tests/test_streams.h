// Recordings for the monitor's tests, built with the shared block encoder.
#pragma once

#include <cstdint>
#include <string>

namespace varnak::test {

// Block B of a group: type, version (0 A, 1 B), TP, PTY and the five
// group-specific bits.
uint16_t BlockB(int type, int version, int tp, int pty, int low5);

// One character per bit: `garbageBits` bits without any block, then
// `cycles` repetitions of a station's group cycle (groups 0A, 2A, 1A, 3A,
// 4A, 8A, 14A and 5A with PI 0xC2A1, PS "VARNAK  ", AF 87.6 and 107.9).
std::string StationBits(int cycles, int garbageBits = 0);

// The groups of one cycle of StationBits.
constexpr int kGroupsPerCycle = 8 + 3;  // four PS segments in the cycle

// Every character '0' turned into '1' and the other way round.
std::string Inverted(std::string bits);

}  // namespace varnak::test
