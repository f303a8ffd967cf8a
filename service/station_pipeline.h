// One station on the decoding thread: its text goes through a frame
// processor with a decoder of its own, complete groups into its history,
// and its state through the alarms to the service's sinks.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "alarms.h"
#include "events.h"
#include "frame_processor.h"
#include "group_assembler.h"
#include "rtplus.h"
#include "source.h"
#include "station_history.h"
#include "station_state.h"

namespace varnakd {

class StationPipeline : public varnak::FrameListener {
public:
    struct Options {
        std::string site, name;
        const StationProfile* profile = nullptr;
        bool live = false;
        int64_t start = 0;  // recordings: the time of the first bit
        bool groupsJson = false;
        bool rbds = false;
    };
    StationPipeline(const varnak::MurlinApi& api, Options options, std::vector<EventSink*> sinks);

    // A chunk of the station's stream (decoding thread).
    void feed(const SourceChunk& chunk);
    // Live stations: the wall clock moved on without input.
    void tick(int64_t now);
    // Band recordings: the capture's clock moved on (`seconds` into it)
    // while this station sent nothing (it was lost).
    void clock(double seconds);
    // The band receiver lost the station's carrier (a chunk with `ended`).
    void carrierLost(const SourceChunk& chunk);
    // The source failed or recovered.
    void sourceFailed(bool failed, int64_t now, const std::string& detail);
    // The end: the last group is taken and the state published.
    void finish();

    const rdsformats::StationState& state() const { return state_; }
    std::vector<AlarmEvent> activeAlarms() const { return alarms_.active(); }
    uint64_t groups() const { return groups_; }

    static int64_t WallClock();

private:
    void onStatus(uint16_t status) override;
    void onGroup(const varnak::DecodedGroup& group) override;
    void take(const rdsformats::GroupRecord& group);
    int64_t now() const;
    int64_t timeOf(const SourceChunk& chunk) const;
    void advance(int64_t now);
    void publish(int64_t now, bool force);
    void deliver(const std::vector<AlarmEvent>& events);

    const varnak::MurlinApi& api_;
    Options options_;
    std::vector<EventSink*> sinks_;
    varnak::FrameProcessor processor_;
    rdsformats::GroupAssembler assembler_;
    rdsformats::StationHistory history_;
    rdsformats::QualityWindow quality_;
    rdsformats::RtPlus rtPlus_;
    rdsformats::StationState state_;
    StationAlarms alarms_;
    bool hex_ = false;
    bool streaming_ = false;
    int64_t origin_ = 0;  // band recordings: where in the capture the stream began, 1/100 s
    std::optional<int64_t> stamp_;
    uint64_t groups_ = 0;
    std::string published_;  // the content last published (times left out)
    int64_t publishedAt_ = 0;
    QualityMinute minute_;
    std::string groupJson_;
};

}  // namespace varnakd
