// Helpers of the decoder tests: build streams with the encoder and feed them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "murlin.h"
#include "rds_encoder.h"

namespace murlintest {

// One status word other than "nothing happened", with the index of its bit.
struct Event {
    std::size_t bit;
    int32_t status;
    bool operator==(const Event&) const = default;
};

struct Group {
    uint16_t a, b, c, d;
};

// A stream of '0'/'1' characters of the given groups, in order.
std::string GroupBits(const std::vector<Group>& groups);

// Feeds every character as one bit ('1' a one) and records the events.
std::vector<Event> FeedBits(const std::string& bits, bool invert = false);

// Flips the bit at `index` of a '0'/'1' stream.
void FlipBit(std::string& bits, std::size_t index);

// Index of the first bit of block `block` (0..3) of group `group` in a stream
// that starts at `start`.
inline std::size_t BlockStart(std::size_t start, std::size_t group, int block)
{
    return start + group * 104 + std::size_t(block) * 26;
}

// Starts a new stream (RDSInit) from a station the decoder already knows, so
// that its first confirmed block A does not clear what the stream decodes.
void StartStream(uint16_t pi);

DecoderState Record();

}  // namespace murlintest
