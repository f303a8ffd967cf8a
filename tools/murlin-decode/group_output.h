// What murlin-decode makes of the decoded stream besides the decode log:
// JSON lines, group-log lines ("--format hex"), group statistics and the
// RadioText Plus items, with the reception time of each group where it is
// known. The program's input side feeds it from the frame processor's
// listener calls; it writes to one stream and keeps its first write error.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "frame_processor.h"
#include "group_assembler.h"
#include "group_json.h"
#include "group_stats.h"
#include "rtplus.h"
#include "station_history.h"
#include "station_texts.h"

namespace murlindecode {

enum class OutputFormat { Log, Json, Hex };

class GroupOutput {
public:
    // `stream` receives JSON or group lines (nullptr for none, as with the
    // decode log, which the frame processor writes itself).
    GroupOutput(const varnak::MurlinApi& api, OutputFormat format, std::FILE* stream, bool rbds)
        : api_(api), format_(format), stream_(stream), rbds_(rbds)
    {
    }

    // The reception time of what is being fed now (1/100 s since the epoch,
    // UTC), or nothing when it is not known.
    void setTime(std::optional<int64_t> time) { time_ = time; }
    // Live input: every group gets the wall-clock time it was decoded at.
    void setLive(bool live)
    {
        live_ = live;
        historyFeed_.begin(live);
    }
    // Gathers the station history besides (off by default).
    void enableHistory(std::size_t limit)
    {
        history_.setLimit(limit);
        history_.setRbds(rbds_);
        historyOn_ = true;
    }
    // Where a recording's position comes from: the processor's characters,
    // `bitsPerCharacter` bits each. Group logs set it group by group instead.
    void setPositionSource(const varnak::FrameProcessor* processor, unsigned bitsPerCharacter)
    {
        positionSource_ = processor;
        bitsPerCharacter_ = bitsPerCharacter;
    }
    void setPosition(uint64_t bits) { historyFeed_.setPosition(bits); }
    // A station of a band: every JSON object names its frequency ("freq", MHz).
    void setFrequency(double mhz) { frequency_ = mhz; }
    // Names TMC locations from this table (it outlives the output).
    void setTmcLocations(const rdsformats::TmcLocationTable* table) { tmcLocations_ = table; }

    // From the frame processor's listener.
    // `sure`: the demodulator was sure of the block's bits.
    void onStatus(uint16_t status, bool sure = false);
    void onGroup(const varnak::DecodedGroup& group);
    // The stream has ended: a group still being gathered goes out.
    void finish();

    const rdsformats::GroupStats& stats() const { return stats_; }
    const rdsformats::StationHistory& history() const { return history_; }
    // The RadioText Plus items of the current radiotext.
    std::vector<std::pair<std::string, std::string>> rtPlusItems() const { return rtPlus_.items(); }

    bool failed() const { return failed_; }
    int error() const { return errno_; }

private:
    std::optional<int64_t> now() const;
    void write(const std::string& text);
    void groupGathered(const rdsformats::GroupRecord& group);

    const varnak::MurlinApi& api_;
    OutputFormat format_;
    std::FILE* stream_;
    bool rbds_;
    bool live_ = false;
    std::optional<int64_t> time_;
    std::optional<double> frequency_;
    rdsformats::GroupAssembler assembler_;
    rdsformats::GroupStats stats_;
    rdsformats::RtPlus rtPlus_;
    rdsformats::BlockQuality quality_;
    rdsformats::StationTexts texts_;
    const rdsformats::TmcLocationTable* tmcLocations_ = nullptr;
    rdsformats::StationHistory history_;
    rdsformats::HistoryFeed historyFeed_{history_};
    bool historyOn_ = false;
    const varnak::FrameProcessor* positionSource_ = nullptr;
    unsigned bitsPerCharacter_ = 1;
    std::string line_;
    bool failed_ = false;
    int errno_ = 0;
};

}  // namespace murlindecode
