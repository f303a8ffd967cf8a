#include "alarms.h"

#include <cmath>
#include <cstdio>
#include <regex>

#include "group_log.h"
#include "json_text.h"

namespace varnakd {
namespace {

std::string Hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

std::string TrimRight(std::string text)
{
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

int64_t Centi(double seconds) { return std::llround(seconds * 100); }

}  // namespace

std::string AlarmEventJson(const AlarmEvent& e)
{
    std::string out = "{\"site\":";
    rdsformats::AppendUtf8JsonString(out, e.site);
    out += ",\"name\":";
    rdsformats::AppendUtf8JsonString(out, e.station);
    out += ",\"alarm\":";
    rdsformats::AppendUtf8JsonString(out, e.kind);
    out += std::string(",\"state\":\"") + (e.raised ? "raised" : "cleared") + "\",\"time\":";
    rdsformats::AppendUtf8JsonString(out, rdsformats::FormatIsoUtc(e.time));
    out += e.raised ? ",\"since\":" : ",\"raised\":";
    rdsformats::AppendUtf8JsonString(out, rdsformats::FormatIsoUtc(e.since));
    out += ",\"detail\":";
    rdsformats::AppendUtf8JsonString(out, e.detail);
    return out + '}';
}

std::string ActiveAlarmsJson(const std::vector<AlarmEvent>& active)
{
    std::string out = "[";
    for (const AlarmEvent& e : active) {
        if (out.size() > 1) out += ',';
        out += AlarmEventJson(e);
    }
    return out + ']';
}

std::optional<int64_t> AlarmTracker::update(bool condition, int64_t now, int64_t began, int64_t raiseHold,
                                            int64_t clearHold)
{
    if (condition) {
        goodSince_.reset();
        if (!badSince_) badSince_ = std::min(began, now);
        if (!active_ && now - *badSince_ >= raiseHold) {
            active_ = true;
            began_ = *badSince_;
            raisedAt_ = *badSince_ + raiseHold;
            return raisedAt_;
        }
        return std::nullopt;
    }
    badSince_.reset();
    if (!active_) return std::nullopt;
    if (!goodSince_) goodSince_ = now;
    if (now - *goodSince_ >= clearHold) {
        active_ = false;
        const int64_t at = *goodSince_ + clearHold;
        goodSince_.reset();
        return at;
    }
    return std::nullopt;
}

StationAlarms::StationAlarms(std::string site, std::string station, const StationProfile* profile, int64_t start)
    : site_(std::move(site)), station_(std::move(station)), profile_(profile), start_(start)
{
    if (profile_ && profile_->psPattern) psPattern_.emplace(*profile_->psPattern);
}

void StationAlarms::check(const std::string& kind, bool condition, int64_t now, int64_t began,
                          const std::string& detail, std::vector<AlarmEvent>& out, std::optional<int64_t> hold)
{
    AlarmTracker& t = trackers_[kind];
    // RDS loss carries its hold in its own limit; the others take the profile's.
    const bool ownHold = kind == "rds-lost" || kind == "ta" || kind == "source";
    const int64_t raise = hold ? *hold : ownHold || !profile_ ? 0 : Centi(profile_->raiseHold);
    const int64_t clear = !profile_ ? 0 : Centi(profile_->clearHold);
    const int64_t raisedBefore = t.raisedAt();
    if (condition) details_[kind] = detail;
    if (const auto at = t.update(condition, now, began, raise, clear)) {
        AlarmEvent e{site_, station_, kind, t.active(), *at, t.active() ? t.began() : raisedBefore, details_[kind]};
        out.push_back(e);
    }
}

void StationAlarms::evaluate(const rdsformats::StationState& s, int64_t now, std::vector<AlarmEvent>& out)
{
    const double lostAfter = profile_ ? profile_->rdsLost : 10.0;
    const int64_t last = s.lastGroup.value_or(start_);
    char detail[96];
    std::snprintf(detail, sizeof detail, "no valid group for %.0f s", lostAfter);
    check("rds-lost", now - last >= Centi(lostAfter), now, last + Centi(lostAfter), detail, out);
    evaluateSignal(s.signal, now, out);
    if (!profile_ || !s.pi) return;
    const StationProfile& p = *profile_;
    if (p.pi) check("pi", *s.pi != *p.pi, now, now, "PI " + Hex4(*s.pi) + ", expected " + Hex4(*p.pi), out);
    if ((!p.ps.empty() || p.psPattern) && !s.ps.empty()) {
        bool ok = false;
        const std::string ps = TrimRight(s.ps);
        for (const std::string& allowed : p.ps) ok = ok || TrimRight(allowed) == ps;
        if (psPattern_) ok = std::regex_match(s.ps, *psPattern_);
        check("ps", !ok, now, now, "PS '" + s.ps + "' not among those expected", out);
    }
    if (p.pty && s.pty)
        check("pty", *s.pty != *p.pty, now, now,
              "PTY " + std::to_string(*s.pty) + ", expected " + std::to_string(*p.pty), out);
    if (p.tp && s.tp)
        check("tp", *s.tp != *p.tp, now, now,
              std::string("TP ") + (*s.tp ? "on" : "off") + ", expected " + (*p.tp ? "on" : "off"), out);
    if (p.taMax) {
        const bool stuck = s.ta.value_or(false) && s.taSince && now - *s.taSince >= Centi(*p.taMax);
        const int64_t began = s.taSince.value_or(now) + Centi(*p.taMax);
        std::snprintf(detail, sizeof detail, "TA on for more than %.0f min", *p.taMax / 60);
        check("ta", stuck, now, began, detail, out);
    }
    if (p.clockOffset && s.clockOffset) {
        std::snprintf(detail, sizeof detail, "clock time %+.0f s off", double(*s.clockOffset) / 100);
        check("clock", std::llabs(*s.clockOffset) > Centi(*p.clockOffset), now, now, detail, out);
    }
    if (p.blockErrorRate && s.blockErrorRate) {
        std::snprintf(detail, sizeof detail, "block error rate %.1f %% over a minute", *s.blockErrorRate * 100);
        check("block-error-rate", *s.blockErrorRate > *p.blockErrorRate, now, now, detail, out);
    }
    if (p.pilot && s.signal.pilotLevel) check("pilot", *s.signal.pilotLevel <= 0, now, now, "no 19 kHz pilot", out);
    if ((p.rdsInjectionMin || p.rdsInjectionMax) && s.signal.rdsLevel) {
        const double khz = *s.signal.rdsLevel * 75.0;
        const bool outside =
            (p.rdsInjectionMin && khz < *p.rdsInjectionMin) || (p.rdsInjectionMax && khz > *p.rdsInjectionMax);
        std::snprintf(detail, sizeof detail, "RDS injection %.1f kHz", khz);
        check("rds-injection", outside, now, now, detail, out);
    }
}

void StationAlarms::evaluateSignal(const rdsformats::SignalFigures& f, int64_t now, std::vector<AlarmEvent>& out)
{
    char detail[96];
    // The carrier: gone from the band, or too weak, for the carrier-lost hold.
    const int64_t hold = Centi(profile_ ? profile_->carrierLost : 10.0);
    const bool weak = profile_ && profile_->minLevel && f.levelDbfs && *f.levelDbfs < *profile_->minLevel;
    if (carrierGoneSince_ || weak || trackers_.count("carrier-lost")) {
        if (carrierGoneSince_)
            std::snprintf(detail, sizeof detail, "carrier lost");
        else
            std::snprintf(detail, sizeof detail, "carrier level %.1f dBFS", f.levelDbfs.value_or(-200));
        check("carrier-lost", carrierGoneSince_ || weak, now, carrierGoneSince_.value_or(now), detail, out, hold);
    }
    if (!profile_ || carrierGoneSince_) return;
    const StationProfile& p = *profile_;
    if (p.maxDeviation && f.deviationKHz) {
        const double limit = *p.maxDeviation + p.deviationTolerance;
        std::snprintf(detail, sizeof detail, "peak deviation %.1f kHz, limit %.1f kHz", *f.deviationKHz, limit);
        check("deviation", *f.deviationKHz > limit, now, now, detail, out);
    }
    if (p.maxMpxPower && f.mpxPowerDbr) {
        std::snprintf(detail, sizeof detail, "MPX power %+.2f dBr over 60 s, limit %+.2f dBr", *f.mpxPowerDbr,
                      *p.maxMpxPower);
        check("mpx-power", *f.mpxPowerDbr > *p.maxMpxPower, now, now, detail, out);
    }
}

void StationAlarms::carrierGone(bool gone, int64_t now)
{
    if (!gone)
        carrierGoneSince_.reset();
    else if (!carrierGoneSince_)
        carrierGoneSince_ = now;
}

void StationAlarms::sourceFailed(bool failed, int64_t now, const std::string& detail, std::vector<AlarmEvent>& out)
{
    check("source", failed, now, now, detail, out);
}

std::vector<AlarmEvent> StationAlarms::active() const
{
    std::vector<AlarmEvent> list;
    for (const auto& [kind, t] : trackers_)
        if (t.active()) {
            const auto detail = details_.find(kind);
            list.push_back({site_, station_, kind, true, t.raisedAt(), t.began(),
                            detail == details_.end() ? std::string() : detail->second});
        }
    return list;
}

}  // namespace varnakd
