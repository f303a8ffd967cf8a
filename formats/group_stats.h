// Statistics of a stream of groups, like the statistics views of RDS
// monitors: how many groups of each type and version, their share, and the
// block error rate (blocks not received among all the blocks of the groups).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "group_log.h"

namespace rdsformats {

class GroupStats {
public:
    void add(const GroupRecord& group);
    void clear() { *this = GroupStats{}; }

    uint64_t groups() const { return groups_; }
    // Groups of type 0..15 and version 0 (A) / 1 (B).
    uint64_t count(int type, int version) const { return counts_[type * 2 + version]; }
    // Groups whose block B was not received: their type is unknown.
    uint64_t untyped() const { return untyped_; }
    uint64_t blocks() const { return groups_ * 4; }
    uint64_t blocksMissing() const { return missing_; }
    uint64_t blocksRepaired() const { return repaired_; }
    // Share of a count among all groups, in percent (0 without groups).
    double percent(uint64_t part) const { return groups_ ? 100.0 * double(part) / double(groups_) : 0.0; }
    // Blocks not received among all blocks, in percent.
    double blockErrorRate() const { return groups_ ? 100.0 * double(missing_) / double(blocks()) : 0.0; }

    // A table for people: one line per group type and version seen, then
    // the totals and the block error rate. Every line ends with "\n".
    std::string text() const;
    // The same as one JSON object (no line end).
    std::string json() const;

private:
    uint64_t groups_ = 0;
    std::array<uint64_t, 32> counts_{};
    uint64_t untyped_ = 0;
    uint64_t missing_ = 0;
    uint64_t repaired_ = 0;
};

}  // namespace rdsformats
