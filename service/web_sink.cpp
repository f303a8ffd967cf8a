#include "web_sink.h"

#include <algorithm>
#include <charconv>

namespace varnakd {
namespace {

// The frequency a station's name gives, or nothing for a source's name.
std::optional<double> NameFrequency(const std::string& name)
{
    double mhz = 0;
    const char* end = name.data() + name.size();
    const auto [p, ec] = std::from_chars(name.data(), end, mhz);
    if (ec != std::errc() || p != end) return std::nullopt;
    return mhz;
}

bool Before(const WebStation& a, const WebStation& b)
{
    if (a.state.site != b.state.site) return a.state.site < b.state.site;
    const auto fa = NameFrequency(a.state.name), fb = NameFrequency(b.state.name);
    if (fa && fb && *fa != *fb) return *fa < *fb;
    if (fa.has_value() != fb.has_value()) return fa.has_value();
    return a.state.name < b.state.name;
}

}  // namespace

std::string StationId(const std::string& site, const std::string& name) { return site + "/" + name; }

void WebSink::stationAdded(const rdsformats::StationState& state)
{
    const std::string id = StationId(state.site, state.name);
    std::lock_guard lock(mutex_);
    if (!stations_.count(id)) {
        stations_[id].state = state;
        changed_.insert(id);
    }
}

void WebSink::stateChanged(const rdsformats::StationState& state)
{
    const std::string id = StationId(state.site, state.name);
    std::lock_guard lock(mutex_);
    stations_[id].state = state;
    changed_.insert(id);
}

void WebSink::alarm(const AlarmEvent& event, const std::vector<AlarmEvent>& active)
{
    const std::string id = StationId(event.site, event.station);
    std::lock_guard lock(mutex_);
    WebStation& station = stations_[id];
    if (station.state.site.empty()) {
        station.state.site = event.site;
        station.state.name = event.station;
    }
    station.alarms = active;
    changed_.insert(id);
    if (alarms_.size() < kMaxPendingAlarms)
        alarms_.push_back(event);
    else
        ++lost_;
}

void WebSink::group(const rdsformats::StationState& state, const std::string& json)
{
    if (!wantGroups_) return;
    std::lock_guard lock(mutex_);
    if (groups_.size() < kMaxPendingGroups)
        groups_.push_back({state.site, StationId(state.site, state.name), json});
    else
        ++lost_;
}

void WebSink::sources(const std::vector<SourceStatus>& sources)
{
    std::lock_guard lock(mutex_);
    sources_ = sources;
}

std::vector<WebStation> WebSink::stations() const
{
    std::vector<WebStation> out;
    {
        std::lock_guard lock(mutex_);
        out.reserve(stations_.size());
        for (const auto& [id, station] : stations_) out.push_back(station);
    }
    std::sort(out.begin(), out.end(), Before);
    return out;
}

std::optional<WebStation> WebSink::station(const std::string& id) const
{
    std::lock_guard lock(mutex_);
    const auto it = stations_.find(id);
    if (it == stations_.end()) return std::nullopt;
    return it->second;
}

std::vector<SourceStatus> WebSink::sourceStatus() const
{
    std::lock_guard lock(mutex_);
    return sources_;
}

WebSink::Pending WebSink::take()
{
    Pending p;
    std::lock_guard lock(mutex_);
    for (const std::string& id : changed_) p.states.push_back(stations_[id]);
    changed_.clear();
    p.alarms.swap(alarms_);
    p.groups.swap(groups_);
    return p;
}

uint64_t WebSink::lost() const
{
    std::lock_guard lock(mutex_);
    return lost_;
}

}  // namespace varnakd
