#include "web_json.h"

#include <cstdio>
#include <map>

#include "group_log.h"
#include "json_text.h"

namespace varnakd {
namespace {

void Text(std::string& out, const char* key, const std::string& text)
{
    out += '"';
    out += key;
    out += "\":";
    rdsformats::AppendUtf8JsonString(out, text);
}

void OptionalNumber(std::string& out, const char* key, const std::optional<double>& value, const char* format)
{
    if (!value) return;
    out += ",\"";
    out += key;
    out += "\":" + rdsformats::FormatNumber(*value, format);
}

// A Prometheus label value: backslash, quote and line end escaped.
std::string Label(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += {'\\', c};
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string TimeJson(int64_t time)
{
    std::string out;
    rdsformats::AppendUtf8JsonString(out, rdsformats::FormatIsoUtc(time));
    return out;
}

namespace {

// "alarms":[{"site","station" (with `where`),"kind","raised","cleared","detail"},...]
void AppendAlarmRows(std::string& out, const std::vector<StoreReader::AlarmRow>& alarms, bool where)
{
    out += "\"alarms\":[";
    for (std::size_t i = 0; i < alarms.size(); ++i) {
        const StoreReader::AlarmRow& a = alarms[i];
        out += i ? ",{" : "{";
        if (where) {
            Text(out, "site", a.site);
            out += ',';
            Text(out, "station", a.name);
            out += ',';
        }
        Text(out, "kind", a.kind);
        out += ",\"raised\":" + TimeJson(a.raised) + ",\"cleared\":" + (a.cleared ? TimeJson(*a.cleared) : "null");
        out += ',';
        Text(out, "detail", a.detail);
        out += '}';
    }
    out += ']';
}

}  // namespace

std::string WebStationJson(const WebStation& station, bool details)
{
    std::string out = rdsformats::StationStateJson(station.state);
    out.pop_back();  // the closing brace: the API's members follow
    out += ',';
    Text(out, "id", StationId(station.state.site, station.state.name));
    out += ",\"alarms\":" + ActiveAlarmsJson(station.alarms);
    if (details) rdsformats::AppendStationDetailsJson(out, station.state);
    return out + '}';
}

std::string ErrorJson(int status, const std::string& message)
{
    std::string out = "{";
    Text(out, "error", message);
    return out + ",\"status\":" + std::to_string(status) + "}";
}

std::string HistoryJson(const std::string& id, int64_t from, int64_t to, const StoreReader::History& h)
{
    std::string out = "{";
    Text(out, "station", id);
    out += ",\"from\":" + TimeJson(from) + ",\"to\":" + TimeJson(to) + ",\"texts\":[";
    for (std::size_t i = 0; i < h.texts.size(); ++i) {
        out += i ? ",{" : "{";
        Text(out, "kind", h.texts[i].kind);
        out += ',';
        Text(out, "text", h.texts[i].text);
        out += ",\"first\":" + TimeJson(h.texts[i].first) + ",\"last\":" + TimeJson(h.texts[i].last) + "}";
    }
    out += "],\"quality\":[";
    for (std::size_t i = 0; i < h.quality.size(); ++i) {
        const StoreReader::QualityRow& q = h.quality[i];
        out += i ? ",{" : "{";
        out += "\"start\":" + TimeJson(q.minute) + ",\"groups\":" + std::to_string(q.groups) +
               ",\"groupsPerSecond\":" + rdsformats::FormatNumber(q.groups / 60.0, "%.2f");
        OptionalNumber(out, "blockErrorRate", q.blockErrorRate, "%.4f");
        OptionalNumber(out, "rdsLevel", q.rdsLevel, "%.4f");
        OptionalNumber(out, "pilotLevel", q.pilotLevel, "%.4f");
        OptionalNumber(out, "cnr", q.cnr, "%.1f");
        OptionalNumber(out, "level", q.level, "%.1f");
        OptionalNumber(out, "deviation", q.deviation, "%.1f");
        OptionalNumber(out, "mpxPower", q.mpxPower, "%.2f");
        out += '}';
    }
    out += "],";
    AppendAlarmRows(out, h.alarms, false);
    if (h.truncated) out += ",\"truncated\":true";
    return out + '}';
}

std::string PastAlarmsJson(int64_t from, int64_t to, const std::vector<StoreReader::AlarmRow>& alarms, bool truncated)
{
    std::string out = "{\"from\":" + TimeJson(from) + ",\"to\":" + TimeJson(to) + ",";
    AppendAlarmRows(out, alarms, true);
    if (truncated) out += ",\"truncated\":true";
    return out + '}';
}

std::string MetricsText(const std::vector<WebStation>& stations, const std::vector<SourceStatus>& sources,
                        const WebCounters& counters)
{
    struct Family {
        const char* name;
        const char* type;
        const char* help;
        std::string samples;
    };
    enum { kGps, kBler, kCnr, kRds, kPilot, kLevel, kDeviation, kMpxPower, kAlarms, kLastGroup, kCount };
    Family f[kCount] = {
        {"varnak_groups_per_second", "gauge", "Complete groups per second over the last minute.", {}},
        {"varnak_block_error_rate", "gauge", "Blocks lost over all blocks in the last minute, 0..1.", {}},
        {"varnak_cnr_db", "gauge", "Carrier to noise ratio, dB, where measured.", {}},
        {"varnak_rds_injection", "gauge", "RDS injection as the demodulator measures it, where measured.", {}},
        {"varnak_pilot_injection", "gauge", "19 kHz pilot injection as the demodulator measures it.", {}},
        {"varnak_level_dbfs", "gauge", "The station's level, dBFS, where measured.", {}},
        {"varnak_deviation_khz", "gauge", "Peak deviation of the last second, kHz, where measured.", {}},
        {"varnak_mpx_power_dbr", "gauge", "Multiplex power over 60 s (ITU-R BS.412), dBr, where measured.", {}},
        {"varnak_alarms_active", "gauge", "Alarms raised and not cleared.", {}},
        {"varnak_last_group_seconds", "gauge", "Time of the newest group, seconds since the epoch.", {}},
    };
    for (const WebStation& s : stations) {
        const std::string labels = "{site=\"" + Label(s.state.site) + "\",station=\"" + Label(s.state.name) + "\"} ";
        const auto add = [&](int family, double value, const char* format) {
            f[family].samples += f[family].name + labels + rdsformats::FormatNumber(value, format) + "\n";
        };
        add(kGps, s.state.groupsPerSecond, "%.3f");
        if (s.state.blockErrorRate) add(kBler, *s.state.blockErrorRate, "%.5f");
        if (s.state.signal.cnrDb) add(kCnr, *s.state.signal.cnrDb, "%.2f");
        if (s.state.signal.rdsLevel) add(kRds, *s.state.signal.rdsLevel, "%.5f");
        if (s.state.signal.pilotLevel) add(kPilot, *s.state.signal.pilotLevel, "%.5f");
        if (s.state.signal.levelDbfs) add(kLevel, *s.state.signal.levelDbfs, "%.2f");
        if (s.state.signal.deviationKHz) add(kDeviation, *s.state.signal.deviationKHz, "%.2f");
        if (s.state.signal.mpxPowerDbr) add(kMpxPower, *s.state.signal.mpxPowerDbr, "%.2f");
        add(kAlarms, double(s.alarms.size()), "%.0f");
        if (s.state.lastGroup) add(kLastGroup, double(*s.state.lastGroup) / 100.0, "%.2f");
    }
    std::string out;
    const auto family = [&](const char* name, const char* type, const char* help, const std::string& samples) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + samples;
    };
    for (const Family& x : f) family(x.name, x.type, x.help, x.samples);
    std::string bits, dropped, up;
    for (const SourceStatus& s : sources) {
        const std::string labels = "{source=\"" + Label(s.name) + "\",kind=\"" + Label(s.kind) + "\"} ";
        bits += "varnak_source_bits_total" + labels + std::to_string(s.bits) + "\n";
        dropped += "varnak_source_dropped_total" + labels + std::to_string(s.dropped) + "\n";
        up += "varnak_source_up" + labels + (s.state == "running" ? "1" : "0") + "\n";
    }
    family("varnak_source_bits_total", "counter", "RDS bits the source delivered (hex digits count four).", bits);
    family("varnak_source_dropped_total", "counter",
           "Chunks a live source dropped because decoding fell behind (overruns).", dropped);
    family("varnak_source_up", "gauge", "1 while the source runs, 0 while it waits to retry or has ended.", up);
    const auto single = [&](const char* name, const char* type, const char* help, uint64_t value) {
        family(name, type, help, std::string(name) + " " + std::to_string(value) + "\n");
    };
    single("varnak_web_clients", "gauge", "WebSocket clients connected.", uint64_t(counters.clients));
    single("varnak_web_clients_dropped_total", "counter", "WebSocket clients dropped for not keeping up.",
           counters.clientsDropped);
    single("varnak_web_clients_refused_total", "counter", "WebSocket clients refused: too many, or no token.",
           counters.clientsRefused);
    single("varnak_web_events_lost_total", "counter",
           "Alarm events and groups the web face could not take in time (all clients miss them).", counters.eventsLost);
    single("varnak_http_requests_total", "counter", "HTTP requests answered.", counters.requests);
    std::string messages;
    const char* const kinds[] = {"state", "alarm", "group"};
    for (int i = 0; i < 3; ++i)
        messages += std::string("varnak_web_messages_total{type=\"") + kinds[i] + "\"} " +
                    std::to_string(counters.messages[i]) + "\n";
    family("varnak_web_messages_total", "counter",
           "Live messages made (each once, for every client whose subscription it fits).", messages);
    return out;
}

}  // namespace varnakd
