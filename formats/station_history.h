// The history of what stations sent during one run, and how well it was
// received: per PI the distinct PS texts with the time each was first and
// last seen, every complete radiotext, PTY and TA/TP changes, the AF list,
// the clock-time groups against the receiving clock and the open data
// applications announced; besides, the group statistics with the rate of
// each group type and a time series of groups per second and block error
// rate. The monitor's history window and `murlin-decode --history` show it.
//
// It is fed gathered groups (GroupRecord) with their time, so that only
// what came in valid blocks enters it: a PS or a radiotext is taken only
// once all its segments arrived, since the text last changed, in groups
// whose four blocks were all received (correct or repaired). A garbled
// segment therefore never shows up as a text of its own.
//
// Times are hundredths of a second: since the epoch (UTC) for live input
// and logs with time stamps, else from the start of the recording. Every
// list keeps its newest `limit` entries and counts those it dropped, so
// memory stays bounded however long the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "group_assembler.h"
#include "group_log.h"
#include "group_stats.h"
#include "station_texts.h"

namespace rdsformats {

// A list that keeps its newest entries only.
template <typename T>
struct BoundedList {
    std::deque<T> items;
    uint64_t dropped = 0;  // older entries left out

    void push(T item, std::size_t limit)
    {
        items.push_back(std::move(item));
        while (items.size() > limit) {
            items.pop_front();
            ++dropped;
        }
    }
};

struct TextEntry {
    std::string text;  // UTF-8, trailing spaces dropped (PS: kept, 8 characters)
    int64_t first = 0, last = 0;
    int version = 0;  // radiotext: 0 from 2A groups, 1 from 2B
};
struct PtyEntry {
    int64_t time = 0;
    int pty = 0;
};
struct FlagEntry {
    int64_t time = 0;
    bool tp = false, ta = false;
};
struct ClockEntry {
    int64_t time = 0;               // reception time
    int64_t utc = 0;                // the station's clock, UTC, 1/100 s since the epoch
    int localOffset = 0;            // local time offset in half hours
    std::optional<int64_t> offset;  // station clock minus receiving clock (absolute times only)
};
struct OdaEntry {
    uint16_t aid = 0;
    int type = 0, version = 0;  // the group that carries it
    int64_t first = 0, last = 0;
};

struct StationRecord {
    uint16_t pi = 0;
    std::string callLetters;  // with RBDS, for US PI codes
    int64_t first = 0, last = 0;
    uint64_t groups = 0;  // complete groups of this station
    BoundedList<TextEntry> ps, radiotext;
    BoundedList<PtyEntry> pty;
    BoundedList<FlagEntry> flags;
    BoundedList<ClockEntry> clock;
    std::set<int> af;           // alternative frequencies, kHz
    std::vector<OdaEntry> oda;  // at most 32 (one per group type and version)
    // Enhanced radiotext and long PS (UTF-8), each once all its characters
    // were confirmed; the DAB ensemble and service the station names.
    BoundedList<TextEntry> enhancedRadiotext, longPs;
    std::optional<DabEnsemble> dabEnsemble;
    std::optional<DabService> dabService;
};

// One interval of the time series.
struct SeriesPoint {
    int64_t start = 0;  // 1/100 s
    uint32_t groups = 0;
    uint32_t blocksMissing = 0;
};

class StationHistory {
public:
    static constexpr std::size_t kDefaultLimit = 10000;
    // Duration of one group at 1187.5 bit/s, in 1/100 s (104 bits).
    static constexpr double kGroupCentiseconds = 104.0 * 100.0 / 1187.5;

    explicit StationHistory(std::size_t limit = kDefaultLimit) : limit_(limit ? limit : 1) {}

    // Forgets everything: a new run begins. `absolute`: times are since the
    // epoch; else offsets from the start of the recording.
    void reset(bool absolute);
    void setLimit(std::size_t limit) { limit_ = limit ? limit : 1; }
    std::size_t limit() const { return limit_; }
    // North American call letters and programme-type names.
    void setRbds(bool rbds) { rbds_ = rbds; }
    bool rbds() const { return rbds_; }
    bool absolute() const { return absolute_; }

    // Takes one gathered group received at `time`.
    void add(const GroupRecord& group, int64_t time);

    const std::map<uint16_t, StationRecord>& stations() const { return stations_; }
    const GroupStats& stats() const { return stats_; }
    // The time of the newest group.
    std::optional<int64_t> lastTime() const { return last_; }
    // Seconds between the start of the first group and the end of the last.
    double seconds() const;
    // Groups per second of one type and version (version 0 A, 1 B).
    double rate(int type, int version) const;
    // Groups per second and missing blocks, interval by interval; the
    // interval doubles whenever the series would exceed the limit.
    const std::deque<SeriesPoint>& series() const { return series_; }
    int64_t seriesInterval() const { return interval_; }
    // Grows with every change: a view redraws only when it moved.
    uint64_t revision() const { return revision_; }
    // Whether any list dropped entries.
    bool truncated() const;

    // A time as shown: "2026/12/08 19:55:10.25" (local time) or "+00:01:02.50".
    std::string formatTime(int64_t time) const;

    // For people, every line ended by "\n": the history of the stations,
    // the statistics table, and both.
    std::string historyText() const;
    std::string statsText() const;
    std::string text() const;
    // One JSON object (no line end).
    std::string json() const;
    // CSV, with a header line: the history one event a row
    // (pi,kind,first,last,value), the statistics one group type a row.
    std::string historyCsv() const;
    std::string statsCsv() const;

private:
    // Text being gathered segment by segment.
    struct TextAssembly {
        std::string bytes;
        uint32_t received = 0;                   // bit n: segment n arrived since the text last changed
        int ab = -1;                             // radiotext A/B flag
        int lastSegment = -1;                    // the segment received last
        uint64_t losses = 0;                     // groups lost before that segment came
        std::string committed;                   // the bytes last taken as a text ...
        uint64_t committedIndex = ~uint64_t(0);  // ... and its entry, counting dropped ones
    };
    struct Gathering {
        TextAssembly ps, rtA, rtB;
        bool haveFlags = false;
        bool haveClock = false;
        StationTexts texts;  // eRT, long PS, DAB cross-reference
    };

    void addContent(const GroupRecord& g, int64_t time);
    void addPs(StationRecord& s, Gathering& a, const GroupRecord& g, int64_t time);
    void addRadiotext(StationRecord& s, TextAssembly& t, const GroupRecord& g, int64_t time, int version);
    // The length of a radiotext sent without end code, when its segments
    // 0..n all came in order with no group lost since: 0 otherwise.
    static std::size_t cleanLength(const TextAssembly& t, int per, uint64_t losses);
    // Takes bytes 0..length of `t` as a text of `list`: a new entry, or the
    // newest one of the same version seen again. Version -1: a PS (kept
    // whole); 0/1: a radiotext of 2A/2B groups (trailing spaces dropped).
    void commitText(BoundedList<TextEntry>& list, TextAssembly& t, std::size_t length, int64_t time, int version);
    void addPoint(int64_t time, unsigned missing);
    void addNewerFeatures(StationRecord& s, Gathering& a, const GroupRecord& g, int64_t time);

    std::size_t limit_;
    bool rbds_ = false;
    bool absolute_ = false;
    uint64_t revision_ = 0;
    std::map<uint16_t, StationRecord> stations_;
    std::map<uint16_t, Gathering> gathering_;
    GroupStats stats_;
    uint64_t losses_ = 0;  // groups not received whole
    std::optional<int64_t> first_, last_;
    std::deque<SeriesPoint> series_;
    int64_t interval_ = 100;  // 1 s
};

// Feeds a StationHistory from the decoder's status words, as the frame
// processor reports them, with the time of each group: the wall clock for
// live input, a log's time stamp when the group has one, else the position
// in the recording (bits / 1187.5 s).
class HistoryFeed {
public:
    explicit HistoryFeed(StationHistory& history) : history_(history) {}

    // A new run: the history is cleared. `live`: wall-clock times.
    void begin(bool live);
    // The bits of the recording consumed so far (for recordings).
    void setPosition(uint64_t bits) { bits_ = bits; }
    // The time stamp of the group being fed (group logs), 1/100 s since the epoch.
    void setStamp(std::optional<int64_t> stamp) { stamp_ = stamp; }
    // One status word and the words of blocks A..D the decoder holds now.
    void onStatus(uint16_t status, const uint16_t (&words)[4]);
    // The same, fetching only the word needed: `word(n)` gives block n's.
    template <typename Word>
    void onStatusFetching(uint16_t status, Word&& word)
    {
        uint16_t words[4] = {0, 0, 0, 0};
        if (const int n = GroupAssembler::WordTaken(status); n >= 0) words[n] = word(n);
        onStatus(status, words);
    }
    // The stream ended: a group still being gathered is taken.
    void finish();

private:
    void take(const GroupRecord& group);

    StationHistory& history_;
    GroupAssembler assembler_;
    bool live_ = false;
    bool started_ = false;
    uint64_t bits_ = 0;
    std::optional<int64_t> stamp_;
};

}  // namespace rdsformats
