// The state of one received station as every face shows it: the newest PI,
// PS, radiotext, PTY, TP/TA, AF list and clock time from the station
// history, with its reception quality over the last minute. MQTT payloads,
// the station database and the service's alarms read this one model, and
// stationStateJson() is its one serialisation.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "station_history.h"

namespace rdsformats {

// Reception quality over a sliding window of complete and incomplete
// groups: the block error rate and the group rate. Bounded by the window.
class QualityWindow {
public:
    explicit QualityWindow(int64_t span = 6000) : span_(span) {}
    // One group gathered at `time` (1/100 s) with `missing` of its four
    // blocks lost.
    void add(int64_t time, int missing);
    // Forgets what lies before `now - span`.
    void advance(int64_t now);
    // Lost blocks over all blocks in the window, 0..1; nothing while empty.
    std::optional<double> blockErrorRate() const;
    double groupsPerSecond() const;
    int64_t span() const { return span_; }

private:
    struct Entry {
        int64_t time;
        int missing;
    };
    std::deque<Entry> entries_;
    int64_t span_;
    int64_t missing_ = 0;
};

// What the demodulator measures, where there is one.
struct SignalFigures {
    std::optional<double> rdsLevel;  // RDS injection, fraction of full deviation
    std::optional<double> pilotLevel;
    std::optional<double> cnrDb;
    // Where the RF signal or a calibrated multiplex is at hand:
    std::optional<double> levelDbfs;     // the station's level, dBFS
    std::optional<double> deviationKHz;  // peak deviation of the last second
    std::optional<double> mpxPowerDbr;   // multiplex power over 60 s (ITU-R BS.412)
};

struct StationState {
    std::string site;
    std::string name;            // the frequency ("98.5") or the source's name
    std::optional<uint16_t> pi;  // nothing before the first group
    std::string callLetters;     // with RBDS, for US PI codes
    std::string ps, radiotext;   // UTF-8, newest complete texts
    std::optional<int> pty;
    std::string ptyName;  // filled by the caller, who knows the names
    std::optional<bool> tp, ta;
    std::vector<int> af;                 // kHz
    std::optional<int64_t> clockUtc;     // the station's newest clock time, 1/100 s
    std::optional<int64_t> clockOffset;  // station clock minus receiving clock, 1/100 s
    std::optional<int64_t> taSince;      // TA on since this time
    std::optional<double> blockErrorRate;
    double groupsPerSecond = 0;
    SignalFigures signal;
    std::optional<int64_t> lastGroup;  // time of the newest group
    int64_t updated = 0;               // time of this state
    // Details of a station's full view (StationDetailsJson), not of its
    // state: the RadioText Plus items of the current radiotext (content
    // type, text), filled by the caller who follows RT+, and the open data
    // applications the station announced.
    struct RtPlusItem {
        int type = 0;
        std::string text;
    };
    std::vector<RtPlusItem> rtPlus;
    struct Oda {
        uint16_t aid = 0;
        int type = 0, version = 0;  // the group that carries it
    };
    std::vector<Oda> odas;
};

// The newest station of `history` (the PI heard last) into `state`; other
// fields of `state` (site, name, quality, signal) are left as they are.
void FillStationState(StationState& state, const StationHistory& history);

// One JSON object (no line end): site, name, "freq" in MHz when the name is
// a frequency, "pi" as four hex digits, times in ISO 8601 UTC.
std::string StationStateJson(const StationState& state);

// Appends the details of a station's full view to a JSON object's members:
// ,"rtPlus":[{"type":1,"name":"item.title","text":"..."}],"odas":[{"group":"11A","aid":"4BD7","name":"RT+"}]
void AppendStationDetailsJson(std::string& out, const StationState& state);

}  // namespace rdsformats
