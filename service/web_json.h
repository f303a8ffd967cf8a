// The JSON and Prometheus texts of the web API, made from what the web
// sink and the station database hold. Stations and alarm events are written
// by their one serialisers (StationStateJson, AlarmEventJson); this adds
// the API's own wrapping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store.h"
#include "web_sink.h"

namespace varnakd {

// A station as the API gives it: its state object plus "id" and its active
// "alarms", and with `details` its RT+ items and open data applications.
std::string WebStationJson(const WebStation& station, bool details = false);

// {"error":"...","status":N}
std::string ErrorJson(int status, const std::string& message);

std::string TimeJson(int64_t time);  // "2026-12-09T10:44:42.00Z" with quotes

// {"station":ID,"from":T,"to":T,"texts":[...],"quality":[...],"alarms":[...]}
std::string HistoryJson(const std::string& id, int64_t from, int64_t to, const StoreReader::History& history);
// {"from":T,"to":T,"alarms":[{"site","station","kind","raised","cleared","detail"}]}
std::string PastAlarmsJson(int64_t from, int64_t to, const std::vector<StoreReader::AlarmRow>& alarms, bool truncated);

// Counters of the web face itself, for /metrics.
struct WebCounters {
    int clients = 0;
    uint64_t clientsDropped = 0, clientsRefused = 0, requests = 0, eventsLost = 0;
    uint64_t messages[3] = {0, 0, 0};  // state, alarm and group messages made for the live clients
};
// The Prometheus text format (0.0.4) of the stations, sources and the web face.
std::string MetricsText(const std::vector<WebStation>& stations, const std::vector<SourceStatus>& sources,
                        const WebCounters& counters);

}  // namespace varnakd
