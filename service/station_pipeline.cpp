#include "station_pipeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "group_json.h"
#include "rbds.h"

namespace varnakd {
namespace {

constexpr int64_t kMinute = 6000;
constexpr int64_t kHeartbeat = 1000;  // a state at least every 10 s

// What makes a state new: everything but the times and the quality.
std::string Content(const rdsformats::StationState& s)
{
    std::string key = std::to_string(s.pi.value_or(0)) + '|' + s.ps + '|' + s.radiotext + '|' +
                      std::to_string(s.pty.value_or(-1)) + '|' + std::to_string(s.tp.value_or(false)) +
                      std::to_string(s.ta.value_or(false)) + '|' + std::to_string(s.af.size());
    return key;
}

}  // namespace

int64_t StationPipeline::WallClock()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count() / 10;
}

StationPipeline::StationPipeline(const varnak::MurlinApi& api, Options options, std::vector<EventSink*> sinks)
    : api_(api),
      options_(std::move(options)),
      sinks_(std::move(sinks)),
      processor_(api),
      alarms_(options_.site, options_.name, options_.profile, options_.live ? WallClock() : options_.start)
{
    processor_.useOwnDecoder();
    processor_.setListener(this);
    history_.reset(true);
    history_.setRbds(options_.rbds);
    history_.setLimit(200);  // the state needs the newest entries only
    state_.site = options_.site;
    state_.name = options_.name;
    state_.updated = options_.live ? WallClock() : options_.start;
    minute_.site = options_.site;
    minute_.station = options_.name;
}

int64_t StationPipeline::now() const
{
    if (options_.live) return WallClock();
    if (stamp_) return *stamp_;
    const uint64_t bits = hex_ ? processor_.position() * 4 : processor_.position();
    return options_.start + origin_ + static_cast<int64_t>(double(bits) * 100.0 / 1187.5);
}

int64_t StationPipeline::timeOf(const SourceChunk& chunk) const
{
    if (options_.live || !chunk.clock) return now();
    return options_.start + std::llround(*chunk.clock * 100);
}

void StationPipeline::feed(const SourceChunk& chunk)
{
    if (chunk.restart || !streaming_) {
        if (streaming_) processor_.endStream();
        hex_ = chunk.hex;
        {
            const auto selected = processor_.select();
            api_.RDSInit();
        }
        processor_.setPolaritySearch(!chunk.stamp);
        processor_.beginStream(!chunk.hex);
        assembler_ = rdsformats::GroupAssembler{};
        rtPlus_.clear();
        streaming_ = true;
        // A band station's stream begins where the capture is now (less this chunk).
        if (chunk.clock) origin_ = std::llround((*chunk.clock - double(chunk.text.size()) / 1187.5) * 100);
        alarms_.carrierGone(false, now());
    }
    stamp_ = chunk.stamp;
    if (chunk.signal) state_.signal = *chunk.signal;
    processor_.feed(chunk.text.data(), chunk.text.size());
    advance(now());
}

void StationPipeline::tick(int64_t now)
{
    if (options_.live) advance(now);
}

void StationPipeline::clock(double seconds)
{
    const int64_t t = options_.start + std::llround(seconds * 100);
    if (!options_.live && t > state_.updated) advance(t);
}

void StationPipeline::carrierLost(const SourceChunk& chunk)
{
    const int64_t t = timeOf(chunk);
    alarms_.carrierGone(true, t);
    advance(t);
}

void StationPipeline::onStatus(uint16_t status)
{
    uint16_t words[4] = {0, 0, 0, 0};
    if (const int n = rdsformats::GroupAssembler::WordTaken(status); n >= 0)
        words[n] = static_cast<uint16_t>(api_.RDSData(n));
    if (assembler_.feed(status, words)) take(assembler_.group());
}

void StationPipeline::take(const rdsformats::GroupRecord& group)
{
    const int64_t t = now();
    int missing = 0;
    for (int n = 0; n < 4; ++n) missing += group.has(n) ? 0 : 1;
    quality_.add(t, missing);
    minute_.blocksMissing += missing;
    minute_.blocks += 4;
    if (!group.complete()) return;
    ++groups_;
    ++minute_.groups;
    history_.add(group, t);
    advance(t);
}

void StationPipeline::onGroup(const varnak::DecodedGroup& group)
{
    rtPlus_.feed(group.blockWords, group.state.radioText, group.state.radioTextB);
    if (rtPlus_.touched()) {
        state_.rtPlus.clear();
        for (const auto& [name, text] : rtPlus_.items())
            for (int type = 0; type < 64; ++type)
                if (name == rdsformats::RtPlus::ClassName(type)) state_.rtPlus.push_back({type, text});
    }
    const bool wanted = options_.groupsJson || std::any_of(sinks_.begin(), sinks_.end(),
                                                           [](const EventSink* sink) { return sink->wantsGroups(); });
    if (!wanted) return;
    groupJson_.clear();
    rdsformats::JsonExtras extras;
    extras.rbds = options_.rbds;
    extras.rxTime = now();
    rdsformats::AppendGroupJson(groupJson_, group, api_, extras);
    for (EventSink* sink : sinks_) sink->group(state_, groupJson_);
}

void StationPipeline::advance(int64_t t)
{
    // Minutes of quality, closed as the stream passes them.
    if (minute_.start == 0) minute_.start = t - t % kMinute;
    if (t - minute_.start > 60 * kMinute) minute_.start = t - t % kMinute - kMinute;
    while (t >= minute_.start + kMinute) {
        minute_.pi = state_.pi;
        minute_.signal = state_.signal;
        for (EventSink* sink : sinks_) sink->quality(minute_);
        minute_.start += kMinute;
        minute_.groups = minute_.blocks = minute_.blocksMissing = 0;
    }
    quality_.advance(t);
    rdsformats::FillStationState(state_, history_);
    state_.blockErrorRate = quality_.blockErrorRate();
    state_.groupsPerSecond = quality_.groupsPerSecond();
    if (state_.pty)
        state_.ptyName = options_.rbds ? rdsformats::RbdsPtyName(*state_.pty) : api_.RDSPTYDesc(*state_.pty);
    state_.updated = t;
    std::vector<AlarmEvent> events;
    alarms_.evaluate(state_, t, events);
    publish(t, false);
    deliver(events);
}

void StationPipeline::publish(int64_t t, bool force)
{
    std::string content = Content(state_);
    if (!force && content == published_ && t - publishedAt_ < kHeartbeat) return;
    published_ = std::move(content);
    publishedAt_ = t;
    for (EventSink* sink : sinks_) sink->stateChanged(state_);
}

void StationPipeline::deliver(const std::vector<AlarmEvent>& events)
{
    if (events.empty()) return;
    const std::vector<AlarmEvent> active = alarms_.active();
    for (const AlarmEvent& e : events)
        for (EventSink* sink : sinks_) sink->alarm(e, active);
}

void StationPipeline::sourceFailed(bool failed, int64_t t, const std::string& detail)
{
    std::vector<AlarmEvent> events;
    alarms_.sourceFailed(failed, t, detail, events);
    deliver(events);
}

void StationPipeline::finish()
{
    if (streaming_) {
        processor_.endStream();
        if (assembler_.finish()) take(assembler_.group());
        streaming_ = false;
    }
    const int64_t t = options_.live ? WallClock() : now();
    rdsformats::FillStationState(state_, history_);
    state_.updated = t;
    publish(t, true);
    if (minute_.groups) {
        minute_.pi = state_.pi;
        minute_.signal = state_.signal;
        for (EventSink* sink : sinks_) sink->quality(minute_);
        minute_.groups = minute_.blocks = minute_.blocksMissing = 0;
    }
}

}  // namespace varnakd
