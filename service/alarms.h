// Alarms of one station against its profile. Each alarm has a condition
// (PI not as expected, no valid group for N s, ...); it is raised once the
// condition has held for the profile's hold time and cleared once it has
// been absent for the clear hold, each with its time. Times are those of
// the stream: the wall clock for live inputs, the position in a recording
// otherwise, so that a recording gives the same alarms at any speed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "config.h"
#include "station_state.h"

namespace varnakd {

struct AlarmEvent {
    std::string site, station;
    // rds-lost, pi, ps, pty, tp, ta, clock, block-error-rate, pilot, rds-injection, source,
    // carrier-lost, deviation, mpx-power
    std::string kind;
    bool raised = true;  // false: cleared
    int64_t time = 0;    // when raised or cleared, 1/100 s UTC
    int64_t since = 0;   // raised: when the condition began; cleared: when it was raised
    std::string detail;  // for people: "PI C2A2, expected C2A1"
};

// One JSON object (no line end), as MQTT, webhooks and the log carry it.
std::string AlarmEventJson(const AlarmEvent& event);
// The active alarms of a station as a JSON array.
std::string ActiveAlarmsJson(const std::vector<AlarmEvent>& active);

// One alarm's hold-time logic.
class AlarmTracker {
public:
    // `condition` at `now`; `began` when it became true (<= now). Returns
    // the time of a raise or clear, if one happens now.
    std::optional<int64_t> update(bool condition, int64_t now, int64_t began, int64_t raiseHold, int64_t clearHold);
    bool active() const { return active_; }
    int64_t raisedAt() const { return raisedAt_; }
    // When the condition of the active alarm began.
    int64_t began() const { return began_; }

private:
    bool active_ = false;
    int64_t raisedAt_ = 0;
    int64_t began_ = 0;
    std::optional<int64_t> badSince_, goodSince_;
};

class StationAlarms {
public:
    // `profile` may be nullptr: then only RDS loss and a failing source alarm.
    StationAlarms(std::string site, std::string station, const StationProfile* profile, int64_t start);

    // Checks every alarm at `now` (stream time) against `state`; events go to `out`.
    void evaluate(const rdsformats::StationState& state, int64_t now, std::vector<AlarmEvent>& out);
    // The band receiver lost the station's carrier (true) or found it again.
    void carrierGone(bool gone, int64_t now);
    // The source failed (true) or delivers again (false).
    void sourceFailed(bool failed, int64_t now, const std::string& detail, std::vector<AlarmEvent>& out);

    std::vector<AlarmEvent> active() const;

private:
    // `hold`: the raise hold when the alarm has its own, else the profile's.
    void check(const std::string& kind, bool condition, int64_t now, int64_t began, const std::string& detail,
               std::vector<AlarmEvent>& out, std::optional<int64_t> hold = std::nullopt);
    // Carrier, deviation and multiplex power.
    void evaluateSignal(const rdsformats::SignalFigures& figures, int64_t now, std::vector<AlarmEvent>& out);

    std::string site_, station_;
    const StationProfile* profile_;
    std::optional<std::regex> psPattern_;  // compiled once
    int64_t start_;
    std::map<std::string, AlarmTracker> trackers_;
    std::map<std::string, std::string> details_;
    std::optional<int64_t> carrierGoneSince_;
};

}  // namespace varnakd
