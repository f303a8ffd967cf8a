#include "station_state.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "group_log.h"
#include "json_text.h"
#include "oda_names.h"
#include "rtplus.h"

namespace rdsformats {

void QualityWindow::add(int64_t time, int missing)
{
    entries_.push_back({time, missing});
    missing_ += missing;
    advance(time);
}

void QualityWindow::advance(int64_t now)
{
    while (!entries_.empty() && entries_.front().time < now - span_) {
        missing_ -= entries_.front().missing;
        entries_.pop_front();
    }
}

std::optional<double> QualityWindow::blockErrorRate() const
{
    if (entries_.empty()) return std::nullopt;
    return double(missing_) / double(4 * entries_.size());
}

double QualityWindow::groupsPerSecond() const
{
    if (entries_.empty()) return 0;
    // Over the time the window covers, once it is younger than its span.
    const double covered = double(entries_.back().time - entries_.front().time) + StationHistory::kGroupCentiseconds;
    return double(entries_.size()) * 100.0 / std::min(double(span_), covered);
}

void FillStationState(StationState& state, const StationHistory& history)
{
    const StationRecord* newest = nullptr;
    for (const auto& [pi, record] : history.stations())
        if (!newest || record.last > newest->last) newest = &record;
    if (!newest) return;
    const StationRecord& s = *newest;
    state.pi = s.pi;
    state.callLetters = s.callLetters;
    state.lastGroup = s.last;
    state.ps = s.ps.items.empty() ? std::string() : s.ps.items.back().text;
    state.radiotext = s.radiotext.items.empty() ? std::string() : s.radiotext.items.back().text;
    if (!s.pty.items.empty()) state.pty = s.pty.items.back().pty;
    state.taSince.reset();
    if (!s.flags.items.empty()) {
        state.tp = s.flags.items.back().tp;
        state.ta = s.flags.items.back().ta;
        // The change that switched TA on: the first of the newest run of TA entries.
        if (*state.ta) {
            auto it = s.flags.items.rbegin();
            int64_t since = it->time;
            for (; it != s.flags.items.rend() && it->ta; ++it) since = it->time;
            state.taSince = since;
        }
    }
    state.af.assign(s.af.begin(), s.af.end());
    state.odas.clear();
    for (const OdaEntry& oda : s.oda) state.odas.push_back({oda.aid, oda.type, oda.version});
    if (!s.clock.items.empty()) {
        state.clockUtc = s.clock.items.back().utc;
        state.clockOffset = s.clock.items.back().offset;
    }
}

namespace {

std::string Number(double value, const char* format = "%.4g") { return FormatNumber(value, format); }

void Key(std::string& out, const char* name)
{
    if (out.back() != '{') out += ',';
    out += '"';
    out += name;
    out += "\":";
}

void Text(std::string& out, const char* name, const std::string& text)
{
    Key(out, name);
    AppendUtf8JsonString(out, text);
}

void Time(std::string& out, const char* name, int64_t time) { Text(out, name, FormatIsoUtc(time)); }

}  // namespace

std::string StationStateJson(const StationState& st)
{
    std::string out = "{";
    Text(out, "site", st.site);
    Text(out, "name", st.name);
    double mhz = 0;
    const char* end = st.name.data() + st.name.size();
    if (auto [p, ec] = std::from_chars(st.name.data(), end, mhz); ec == std::errc() && p == end) {
        Key(out, "freq");
        out += Number(mhz, "%.2f");
    }
    if (st.pi) {
        char pi[8];
        std::snprintf(pi, sizeof pi, "%04X", unsigned(*st.pi));
        Text(out, "pi", pi);
    }
    if (!st.callLetters.empty()) Text(out, "callsign", st.callLetters);
    Text(out, "ps", st.ps);
    Text(out, "radiotext", st.radiotext);
    if (st.pty) {
        Key(out, "pty");
        out += std::to_string(*st.pty);
        Text(out, "ptyName", st.ptyName);
    }
    if (st.tp) {
        Key(out, "tp");
        out += *st.tp ? "true" : "false";
    }
    if (st.ta) {
        Key(out, "ta");
        out += *st.ta ? "true" : "false";
    }
    Key(out, "af");
    out += '[';
    for (std::size_t i = 0; i < st.af.size(); ++i)
        out += (i ? "," : "") + (st.af[i] >= 87500 ? Number(st.af[i] / 1000.0, "%.1f") : std::to_string(st.af[i]));
    out += ']';
    if (st.clockUtc) Time(out, "clock", *st.clockUtc);
    if (st.clockOffset) {
        Key(out, "clockOffset");
        out += Number(double(*st.clockOffset) / 100.0, "%.2f");
    }
    Key(out, "quality");
    out += "{\"groupsPerSecond\":" + Number(st.groupsPerSecond, "%.2f");
    if (st.blockErrorRate) out += ",\"blockErrorRate\":" + Number(*st.blockErrorRate, "%.4f");
    if (st.signal.rdsLevel) out += ",\"rdsLevel\":" + Number(*st.signal.rdsLevel, "%.4f");
    if (st.signal.pilotLevel) out += ",\"pilotLevel\":" + Number(*st.signal.pilotLevel, "%.4f");
    if (st.signal.cnrDb) out += ",\"cnr\":" + Number(*st.signal.cnrDb, "%.1f");
    if (st.signal.levelDbfs) out += ",\"level\":" + Number(*st.signal.levelDbfs, "%.1f");
    if (st.signal.deviationKHz) out += ",\"deviation\":" + Number(*st.signal.deviationKHz, "%.1f");
    if (st.signal.mpxPowerDbr) out += ",\"mpxPower\":" + Number(*st.signal.mpxPowerDbr, "%.2f");
    out += '}';
    if (st.lastGroup) Time(out, "lastGroup", *st.lastGroup);
    Time(out, "updated", st.updated);
    out += '}';
    return out;
}

void AppendStationDetailsJson(std::string& out, const StationState& st)
{
    out += ",\"rtPlus\":[";
    for (std::size_t i = 0; i < st.rtPlus.size(); ++i) {
        out += i ? ",{" : "{";
        out += "\"type\":" + std::to_string(st.rtPlus[i].type);
        Text(out, "name", RtPlus::ClassName(st.rtPlus[i].type));
        Text(out, "text", st.rtPlus[i].text);
        out += '}';
    }
    out += "],\"odas\":[";
    for (std::size_t i = 0; i < st.odas.size(); ++i) {
        const StationState::Oda& oda = st.odas[i];
        char aid[8];
        std::snprintf(aid, sizeof aid, "%04X", unsigned(oda.aid));
        out += i ? ",{" : "{";
        Text(out, "group", std::to_string(oda.type) + (oda.version ? "B" : "A"));
        Text(out, "aid", aid);
        if (const char* name = OdaName(oda.aid)) Text(out, "name", name);
        out += '}';
    }
    out += ']';
}

}  // namespace rdsformats
