// What the web API knows of the stations. An EventSink on the decoding
// thread keeps each station's newest state and active alarms and the
// sources' status; the web thread reads them, and takes what the live
// clients have yet to be sent: the stations whose state changed (one entry
// per station however often it changed: that coalesces state messages),
// alarm events, and groups while some client asked for them. Alarm events
// and groups wait in bounded queues; what overflows is counted as lost.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "events.h"

namespace varnakd {

struct WebStation {
    rdsformats::StationState state;
    std::vector<AlarmEvent> alarms;  // the active ones
};

// "SITE/NAME", the station's id in the API.
std::string StationId(const std::string& site, const std::string& name);

class WebSink : public EventSink {
public:
    static constexpr std::size_t kMaxPendingAlarms = 1000;
    static constexpr std::size_t kMaxPendingGroups = 20000;

    // Decoding thread.
    void stationAdded(const rdsformats::StationState& state) override;
    void stateChanged(const rdsformats::StationState& state) override;
    void alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& active) override;
    void group(const rdsformats::StationState& state, const std::string& json) override;
    void sources(const std::vector<SourceStatus>& sources) override;
    bool wantsGroups() const override { return wantGroups_; }

    // Web thread.
    void setWantGroups(bool want) { wantGroups_ = want; }
    // Every station, sorted by site, then frequency (names that are no
    // frequency after those that are, by name).
    std::vector<WebStation> stations() const;
    std::optional<WebStation> station(const std::string& id) const;
    std::vector<SourceStatus> sourceStatus() const;

    struct Group {
        std::string site, id, json;
    };
    struct Pending {
        std::vector<WebStation> states;  // changed since the last take
        std::vector<AlarmEvent> alarms;
        std::vector<Group> groups;
    };
    Pending take();
    // Alarm events and groups that overflowed their queue.
    uint64_t lost() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, WebStation> stations_;
    std::set<std::string> changed_;
    std::vector<AlarmEvent> alarms_;
    std::vector<Group> groups_;
    std::vector<SourceStatus> sources_;
    uint64_t lost_ = 0;
    std::atomic<bool> wantGroups_{false};
};

}  // namespace varnakd
