// Turns a station description into the groups and the bit stream an RDS
// encoder transmits, with optional channel impairments (leading garbage,
// random bit errors, error bursts, inverted polarity).
#pragma once

#include "station.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rdsgen {

constexpr double kBitRate = 1187.5;  // RDS bits per second

struct GroupWords {
    uint16_t a = 0, b = 0, c = 0, d = 0;
};

// Hands out the station's groups one after the other, following the
// schedule; clock-time groups (4A) go out at the start and whenever the
// minute changes, besides any the schedule names.
class Transmitter {
public:
    explicit Transmitter(const Station& station);
    // The next group; `seconds` is the stream time of its first bit.
    GroupWords next(double seconds);
    GroupWords make(GroupId g, double seconds);

private:
    uint16_t BlockB(GroupId g, uint8_t low5) const;
    GroupWords basic(GroupId g);
    GroupWords radioText(bool versionB);
    GroupWords clock(double seconds);
    GroupWords eon();
    GroupWords tmcMultiGroup(GroupId g, const TmcMessage& m);

    const Station& st_;
    size_t slot_ = 0;
    int psSegment_ = 0, fifteenSegment_ = 0;
    std::vector<uint16_t> afWords_;
    size_t afIndex_ = 0;
    size_t slcIndex_ = 0, odaIndex_ = 0, tmcIndex_ = 0, eon14bIndex_ = 0;
    int tmcPart_ = 0;  // the group of a multi-group TMC message sent next
    struct EonItem {
        size_t network;
        uint8_t variant;
        uint16_t word;
    };
    std::vector<EonItem> eonItems_;
    size_t eonIndex_ = 0;
    // Radiotext: current message, segment, whole sends so far, per version.
    struct RtState {
        size_t message = 0;
        int segment = 0;
        int sends = 0;
    };
    RtState rt_[2];
    bool textFlag_ = false;
    std::optional<int64_t> lastClockMinute_;
    std::vector<size_t> rawIndex_;
};

// A stretch of noise: each bit in [start, start + length) flips with `rate`.
struct Burst {
    int64_t start = 0;
    int64_t length = 0;
    double rate = 0.5;
};

struct StreamOptions {
    double seconds = 60;            // length of the stream, unless groups is set
    std::optional<int64_t> groups;  // this many whole groups instead
    int64_t garbageBits = 0;        // random bits before the first group
    double errorRate = 0;           // probability that any bit flips
    std::vector<Burst> bursts;
    bool invert = false;
    uint64_t seed = 1;
};

// The stream as characters '0'/'1', first bit first. Same options and seed,
// same stream. With sent, also the groups whose bits all went out, in order.
std::string GenerateBits(const Station& station, const StreamOptions& options, std::vector<GroupWords>* sent = nullptr);

}  // namespace rdsgen
