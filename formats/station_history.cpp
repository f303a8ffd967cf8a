#include "station_history.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>

#include "json_text.h"
#include "oda_names.h"
#include "rbds.h"
#include "rds_charset.h"

namespace rdsformats {
namespace {

constexpr int kPsSegments = 4;

std::string TrimRight(std::string text)
{
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// A CSV field, quoted when it holds a separator, a quote or a line end.
void AppendCsv(std::string& out, const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string Hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

std::string GroupName(int type, int version) { return std::to_string(type) + (version ? "B" : "A"); }

std::string Frequency(int khz)
{
    char text[24];
    if (khz >= 87500)
        std::snprintf(text, sizeof text, "%.1f MHz", khz / 1000.0);
    else
        std::snprintf(text, sizeof text, "%d kHz", khz);
    return text;
}

std::string Number(double value, const char* format = "%.2f") { return FormatNumber(value, format); }

std::string LocalOffset(int halfHours)
{
    char text[16];
    const int a = halfHours < 0 ? -halfHours : halfHours;
    std::snprintf(text, sizeof text, "%c%02d:%02d", halfHours < 0 ? '-' : '+', a / 2, a % 2 * 30);
    return text;
}

}  // namespace

void StationHistory::reset(bool absolute)
{
    const std::size_t limit = limit_;
    const bool rbds = rbds_;
    const uint64_t revision = revision_;
    *this = StationHistory(limit);
    rbds_ = rbds;
    absolute_ = absolute;
    revision_ = revision + 1;
}

bool StationHistory::truncated() const
{
    for (const auto& [pi, s] : stations_)
        if (s.ps.dropped || s.radiotext.dropped || s.pty.dropped || s.flags.dropped || s.clock.dropped) return true;
    return false;
}

double StationHistory::seconds() const
{
    if (!first_) return 0.0;
    return (double(*last_ - *first_) + kGroupCentiseconds) / 100.0;
}

double StationHistory::rate(int type, int version) const
{
    const double s = seconds();
    return s > 0 ? double(stats_.count(type, version)) / s : 0.0;
}

void StationHistory::addPoint(int64_t time, unsigned missing)
{
    if (series_.empty() || time >= series_.back().start + interval_) {
        // A new interval, aligned to the interval length.
        const int64_t start = time - ((time % interval_) + interval_) % interval_;
        series_.push_back({start, 0, 0});
        if (series_.size() > limit_ && series_.size() > 1) {
            // Halve the resolution: pairs of intervals become one.
            interval_ *= 2;
            std::deque<SeriesPoint> merged;
            for (const SeriesPoint& p : series_) {
                const int64_t start2 = p.start - ((p.start % interval_) + interval_) % interval_;
                if (merged.empty() || merged.back().start != start2) merged.push_back({start2, 0, 0});
                merged.back().groups += p.groups;
                merged.back().blocksMissing += p.blocksMissing;
            }
            series_.swap(merged);
        }
    }
    series_.back().groups += 1;
    series_.back().blocksMissing += missing;
}

void StationHistory::add(const GroupRecord& g, int64_t time)
{
    ++revision_;
    stats_.add(g);
    if (!first_) first_ = time;
    last_ = last_ ? std::max(*last_, time) : time;
    addPoint(time, 4 - static_cast<unsigned>(std::popcount(static_cast<unsigned>(g.received & 0xF))));
    // Everything else only from groups of four valid blocks; a repaired
    // block A does not open a station of its own (as the decoder takes a
    // new PI only from an error-free block A): a wrong repair would.
    if (!g.complete())
        ++losses_;
    else if (!(g.repaired & 1) || stations_.count(g.blocks[0]))
        addContent(g, time);
}

std::size_t StationHistory::cleanLength(const TextAssembly& t, int per, uint64_t losses)
{
    if (t.lastSegment < 0 || t.losses != losses) return 0;
    if (t.received != (2u << t.lastSegment) - 1) return 0;  // exactly 0..last
    return std::size_t(t.lastSegment + 1) * per;
}

void StationHistory::commitText(BoundedList<TextEntry>& list, TextAssembly& t, std::size_t length, int64_t time,
                                int version)
{
    // The same bytes as last time: only the entry's last time moves. Most
    // groups repeat a text already taken, so this spares the conversion.
    if (t.committed.size() == length && t.committedIndex >= list.dropped &&
        t.committedIndex - list.dropped < list.items.size() &&
        t.committed.compare(0, length, t.bytes, 0, length) == 0) {
        list.items[t.committedIndex - list.dropped].last = time;
        return;
    }
    t.committed.assign(t.bytes, 0, length);
    std::string text = RdsToUtf8(t.bytes.data(), length);
    if (version >= 0) text = TrimRight(std::move(text));  // radiotext
    const int kind = version < 0 ? 0 : version;
    for (auto it = list.items.rbegin(); it != list.items.rend(); ++it) {
        if (it->version != kind) continue;
        if (it->text == text) {
            it->last = time;
            t.committedIndex = list.dropped + static_cast<uint64_t>(list.items.rend() - it - 1);
            return;
        }
        break;  // the newest text of this version differs: a new one
    }
    list.push({std::move(text), time, time, kind}, limit_);
    t.committedIndex = list.dropped + list.items.size() - 1;
}

void StationHistory::addPs(StationRecord& s, Gathering& a, const GroupRecord& g, int64_t time)
{
    TextAssembly& t = a.ps;
    if (t.bytes.size() != 8) t.bytes.assign(8, ' ');
    const int segment = g.blocks[1] & 3;
    const char chars[2] = {static_cast<char>(g.blocks[3] >> 8), static_cast<char>(g.blocks[3] & 0xFF)};
    const bool changed = t.bytes[segment * 2] != chars[0] || t.bytes[segment * 2 + 1] != chars[1];
    if (changed && (t.received >> segment & 1)) t.received = 0;  // the station changed its text
    t.bytes[segment * 2] = chars[0];
    t.bytes[segment * 2 + 1] = chars[1];
    t.received |= 1u << segment;
    if (t.received == (1u << kPsSegments) - 1) commitText(s.ps, t, t.bytes.size(), time, -1);
}

void StationHistory::addRadiotext(StationRecord& s, TextAssembly& t, const GroupRecord& g, int64_t time, int version)
{
    const std::size_t size = version ? 32 : 64;
    const int per = version ? 2 : 4;  // characters per segment
    if (t.bytes.size() != size) t.bytes.assign(size, ' ');
    const int ab = (g.blocks[1] >> 4) & 1;
    if (ab != t.ab) {
        // A/B flipped: a new text begins. A text sent without end code is
        // over when its segments came complete and in order up to here.
        if (const std::size_t length = cleanLength(t, per, losses_)) commitText(s.radiotext, t, length, time, version);
        t.ab = ab;
        t.lastSegment = -1;
        t.received = 0;
        t.bytes.assign(size, ' ');
    }
    const int segment = g.blocks[1] & 0xF;
    char chars[4];
    if (version) {
        chars[0] = static_cast<char>(g.blocks[3] >> 8);
        chars[1] = static_cast<char>(g.blocks[3] & 0xFF);
    } else {
        chars[0] = static_cast<char>(g.blocks[2] >> 8);
        chars[1] = static_cast<char>(g.blocks[2] & 0xFF);
        chars[2] = static_cast<char>(g.blocks[3] >> 8);
        chars[3] = static_cast<char>(g.blocks[3] & 0xFF);
    }
    bool changed = false;
    for (int i = 0; i < per; ++i) changed |= t.bytes[segment * per + i] != chars[i];
    if (changed && (t.received >> segment & 1)) t.received = 0;
    // A text without end code is complete when the station starts it over:
    // segment 0 again right after the highest segment sent.
    const std::size_t wrapped = segment == 0 && !changed ? cleanLength(t, per, losses_) : 0;
    for (int i = 0; i < per; ++i) t.bytes[segment * per + i] = chars[i];
    t.received |= 1u << segment;
    t.lastSegment = segment;
    t.losses = losses_;
    if (wrapped && t.bytes.find('\r') == std::string::npos) {
        commitText(s.radiotext, t, wrapped, time, version);
        return;
    }
    // Complete once every segment up to the one with the end code arrived.
    std::size_t length = size;
    for (int n = 0; n < 16; ++n) {
        if (!(t.received >> n & 1)) return;
        const std::size_t end = t.bytes.find('\r', std::size_t(n) * per);
        if (end != std::string::npos && end < std::size_t(n + 1) * per) {
            length = end;
            break;
        }
    }
    commitText(s.radiotext, t, length, time, version);
}

namespace {

// A text seen at `time`: a new entry, or the newest one seen again.
void NoteText(BoundedList<TextEntry>& list, const std::string& text, int64_t time, std::size_t limit)
{
    if (!list.items.empty() && list.items.back().text == text) {
        list.items.back().last = time;
        return;
    }
    list.push(TextEntry{text, time, time, 0}, limit);
}

}  // namespace

void StationHistory::addNewerFeatures(StationRecord& s, Gathering& a, const GroupRecord& g, int64_t time)
{
    const uint64_t before = a.texts.revision();
    a.texts.feed(g);
    if (a.texts.revision() == before) return;
    if (a.texts.enhancedRadiotext().complete() && a.texts.enhancedRadiotext().any())
        NoteText(s.enhancedRadiotext, DecodeWideText(a.texts.enhancedRadiotext(), a.texts.ertUcs2()).text, time,
                 limit_);
    if (a.texts.longPs().complete() && a.texts.longPs().any())
        NoteText(s.longPs, DecodeWideText(a.texts.longPs(), false).text, time, limit_);
    s.dabEnsemble = a.texts.dab().ensemble();
    s.dabService = a.texts.dab().service();
}

void StationHistory::addContent(const GroupRecord& g, int64_t time)
{
    const uint16_t pi = g.blocks[0];
    auto [it, fresh] = stations_.try_emplace(pi);
    StationRecord& s = it->second;
    Gathering& a = gathering_[pi];
    if (fresh) {
        s.pi = pi;
        if (rbds_) s.callLetters = CallLetters(pi);
        s.first = time;
    }
    s.last = time;
    ++s.groups;

    addNewerFeatures(s, a, g, time);
    const uint16_t b = g.blocks[1];
    const int type = g.type(), version = g.version();
    const int pty = (b >> 5) & 31;
    if (s.pty.items.empty() || s.pty.items.back().pty != pty) s.pty.push({time, pty}, limit_);

    // TA travels in 0A, 0B and 15B; TP in every group, taken from those.
    if (type == 0 || (type == 15 && version == 1)) {
        const bool tp = (b >> 10) & 1, ta = (b >> 4) & 1;
        if (!a.haveFlags || s.flags.items.empty() || s.flags.items.back().tp != tp || s.flags.items.back().ta != ta)
            s.flags.push({time, tp, ta}, limit_);
        a.haveFlags = true;
    }
    if (type == 0) {
        addPs(s, a, g, time);
        if (version == 0) {
            // Method A list: codes 1..204 are FM frequencies; 250 announces
            // an LF/MF frequency in the next code.
            const int codes[2] = {g.blocks[2] >> 8, g.blocks[2] & 0xFF};
            if (codes[0] == 250 && codes[1] >= 1 && codes[1] <= 15)
                s.af.insert(153 + (codes[1] - 1) * 9);
            else if (codes[0] == 250 && codes[1] >= 16 && codes[1] <= 135)
                s.af.insert(531 + (codes[1] - 16) * 9);
            else
                for (const int code : codes)
                    if (code >= 1 && code <= 204) s.af.insert(87500 + code * 100);
        }
    } else if (type == 2) {
        addRadiotext(s, version ? a.rtB : a.rtA, g, time, version);
    } else if (type == 3 && version == 0) {
        const int carrier = b & 0x1F;
        const uint16_t aid = g.blocks[3];
        auto oda = std::find_if(s.oda.begin(), s.oda.end(), [&](const OdaEntry& e) { return e.aid == aid; });
        if (oda != s.oda.end()) {
            oda->last = time;
            oda->type = carrier >> 1;
            oda->version = carrier & 1;
        } else if (s.oda.size() < 32) {
            s.oda.push_back({aid, carrier >> 1, carrier & 1, time, time});
        }
    } else if (type == 4 && version == 0 && !(g.repaired & 0xE)) {
        // Only clock times that arrived whole: a repaired block may hold a
        // wrong date that still passes every check.
        const int64_t mjd = (int64_t(b & 3) << 15) | (g.blocks[2] >> 1);
        const int hour = ((g.blocks[2] & 1) << 4) | (g.blocks[3] >> 12);
        const int minute = (g.blocks[3] >> 6) & 0x3F;
        if (hour < 24 && minute < 60 && mjd >= 40587) {
            ClockEntry c;
            c.time = time;
            c.utc = ((mjd - 40587) * 86400 + hour * 3600 + minute * 60) * 100;
            c.localOffset = (g.blocks[3] & 0x20 ? -1 : 1) * (g.blocks[3] & 0x1F);
            if (absolute_) c.offset = c.utc - time;
            s.clock.push(c, limit_);
        }
    }
}

std::string StationHistory::formatTime(int64_t time) const
{
    if (absolute_) return FormatLogTime(time);
    char text[32];
    const int64_t t = time < 0 ? 0 : time;
    std::snprintf(text, sizeof text, "+%02lld:%02lld:%02lld.%02lld", static_cast<long long>(t / 360000),
                  static_cast<long long>(t / 6000 % 60), static_cast<long long>(t / 100 % 60),
                  static_cast<long long>(t % 100));
    return text;
}

std::string StationHistory::text() const { return historyText() + statsText(); }

std::string StationHistory::historyText() const
{
    std::string out;
    const auto dropped = [&](const char* what, uint64_t n) {
        if (n) out += "  (" + std::to_string(n) + " older " + what + " entries dropped)\n";
    };
    for (const auto& [pi, s] : stations_) {
        out += "station " + Hex4(pi);
        if (!s.callLetters.empty()) out += " (" + s.callLetters + ")";
        out += ", " + std::to_string(s.groups) + " groups, " + formatTime(s.first) + " to " + formatTime(s.last) + "\n";
        for (const TextEntry& e : s.ps.items)
            out += "  PS   " + formatTime(e.first) + " to " + formatTime(e.last) + "  \"" + e.text + "\"\n";
        dropped("PS", s.ps.dropped);
        for (const TextEntry& e : s.radiotext.items)
            out += std::string("  RT") + (e.version ? "B  " : "A  ") + formatTime(e.first) + " to " +
                   formatTime(e.last) + "  \"" + e.text + "\"\n";
        dropped("radiotext", s.radiotext.dropped);
        for (const PtyEntry& e : s.pty.items) {
            out += "  PTY  " + formatTime(e.time) + "  " + std::to_string(e.pty);
            if (rbds_ && RbdsPtyName(e.pty)) out += std::string(" ") + RbdsPtyName(e.pty);
            out += '\n';
        }
        dropped("PTY", s.pty.dropped);
        for (const FlagEntry& e : s.flags.items)
            out += "  TA   " + formatTime(e.time) + "  TP " + (e.tp ? "on" : "off") + ", TA " + (e.ta ? "on" : "off") +
                   "\n";
        dropped("TA/TP", s.flags.dropped);
        if (!s.af.empty()) {
            out += "  AF  ";
            for (const int f : s.af) out += " " + Frequency(f);
            out += '\n';
        }
        for (const ClockEntry& e : s.clock.items) {
            out += "  CT   " + formatTime(e.time) + "  " + FormatIsoUtc(e.utc).substr(0, 16) + "Z local " +
                   LocalOffset(e.localOffset);
            if (e.offset) out += ", offset " + Number(double(*e.offset) / 100.0, "%+.2f") + " s";
            out += '\n';
        }
        dropped("clock-time", s.clock.dropped);
        for (const OdaEntry& e : s.oda) {
            const char* name = OdaName(e.aid);
            out += "  ODA  " + formatTime(e.first) + "  AID " + Hex4(e.aid) + (name ? std::string(" ") + name : "") +
                   " in " + GroupName(e.type, e.version) + "\n";
        }
        for (const TextEntry& e : s.enhancedRadiotext.items)
            out += "  eRT  " + formatTime(e.first) + "  '" + e.text + "'\n";
        for (const TextEntry& e : s.longPs.items) out += "  LPS  " + formatTime(e.first) + "  '" + e.text + "'\n";
        if (s.dabEnsemble)
            out += "  DAB   ensemble " + Hex4(s.dabEnsemble->eid) + " on " +
                   Number(s.dabEnsemble->frequencyKhz / 1000.0, "%.3f") + " MHz, mode " +
                   DabCrossReference::ModeName(s.dabEnsemble->mode) + "\n";
        if (s.dabService)
            out += "  DAB   service " + Hex4(s.dabService->sid) + " in ensemble " + Hex4(s.dabService->eid) + "\n";
    }
    return out;
}

std::string StationHistory::statsText() const
{
    std::string out = "statistics over " + Number(seconds()) + " s\n";
    out += "group   count   share   per s\n";
    for (int code = 0; code < 32; ++code) {
        const uint64_t n = stats_.count(code / 2, code % 2);
        if (!n) continue;
        char line[96];
        std::snprintf(line, sizeof line, "%-5s %7llu  %5.1f%%  %6.2f\n", GroupName(code / 2, code % 2).c_str(),
                      static_cast<unsigned long long>(n), stats_.percent(n), rate(code / 2, code % 2));
        out += line;
    }
    const std::string totals = stats_.text();
    // The totals and the block error rate as the statistics table words them.
    const std::size_t total = totals.find("\ntotal ");
    if (stats_.untyped()) out += "?     " + std::to_string(stats_.untyped()) + " without block B\n";
    if (total != std::string::npos) out += totals.substr(total + 1);
    return out;
}

std::string StationHistory::json() const
{
    std::string out = "{\"absoluteTimes\":";
    out += absolute_ ? "true" : "false";
    out += ",\"limit\":" + std::to_string(limit_) + ",\"truncated\":" + (truncated() ? "true" : "false");
    out += ",\"stations\":[";
    // Times: ISO 8601 UTC for absolute times, else seconds from the start.
    const auto time = [&](int64_t t) {
        if (absolute_) {
            std::string s;
            AppendUtf8JsonString(s, FormatIsoUtc(t));
            return s;
        }
        return Number(double(t) / 100.0);
    };
    bool firstStation = true;
    for (const auto& [pi, s] : stations_) {
        if (!firstStation) out += ',';
        firstStation = false;
        out += "{\"pi\":\"" + Hex4(pi) + "\"";
        if (!s.callLetters.empty()) {
            out += ",\"callsign\":";
            AppendUtf8JsonString(out, s.callLetters);
        }
        out += ",\"groups\":" + std::to_string(s.groups) + ",\"first\":" + time(s.first) + ",\"last\":" + time(s.last);
        const auto texts = [&](const char* name, const BoundedList<TextEntry>& list, bool withVersion) {
            out += std::string(",\"") + name + "\":[";
            for (std::size_t i = 0; i < list.items.size(); ++i) {
                const TextEntry& e = list.items[i];
                out += i ? ",{\"text\":" : "{\"text\":";
                AppendUtf8JsonString(out, e.text);
                if (withVersion) out += std::string(",\"version\":\"") + (e.version ? "B" : "A") + "\"";
                out += ",\"first\":" + time(e.first) + ",\"last\":" + time(e.last) + "}";
            }
            out += std::string("],\"") + name + "Dropped\":" + std::to_string(list.dropped);
        };
        texts("ps", s.ps, false);
        texts("radiotext", s.radiotext, true);
        out += ",\"pty\":[";
        for (std::size_t i = 0; i < s.pty.items.size(); ++i)
            out += std::string(i ? "," : "") + "{\"time\":" + time(s.pty.items[i].time) +
                   ",\"pty\":" + std::to_string(s.pty.items[i].pty) + "}";
        out += "],\"ptyDropped\":" + std::to_string(s.pty.dropped) + ",\"tatp\":[";
        for (std::size_t i = 0; i < s.flags.items.size(); ++i) {
            const FlagEntry& e = s.flags.items[i];
            out += std::string(i ? "," : "") + "{\"time\":" + time(e.time) + ",\"tp\":" + (e.tp ? "true" : "false") +
                   ",\"ta\":" + (e.ta ? "true" : "false") + "}";
        }
        out += "],\"tatpDropped\":" + std::to_string(s.flags.dropped) + ",\"af\":[";
        bool firstAf = true;
        for (const int f : s.af) {
            out += (firstAf ? "" : ",") + std::to_string(f);
            firstAf = false;
        }
        out += "],\"clock\":[";
        for (std::size_t i = 0; i < s.clock.items.size(); ++i) {
            const ClockEntry& e = s.clock.items[i];
            out += std::string(i ? "," : "") + "{\"time\":" + time(e.time) + ",\"utc\":";
            AppendUtf8JsonString(out, FormatIsoUtc(e.utc));
            out += ",\"localOffset\":" + std::to_string(e.localOffset * 30);
            if (e.offset) out += ",\"offset\":" + Number(double(*e.offset) / 100.0);
            out += "}";
        }
        out += "],\"clockDropped\":" + std::to_string(s.clock.dropped) + ",\"oda\":[";
        for (std::size_t i = 0; i < s.oda.size(); ++i) {
            const char* name = OdaName(s.oda[i].aid);
            out += std::string(i ? "," : "") + "{\"aid\":\"" + Hex4(s.oda[i].aid) + "\"" +
                   (name ? std::string(",\"name\":\"") + name + "\"" : "") + ",\"group\":\"" +
                   GroupName(s.oda[i].type, s.oda[i].version) + "\",\"first\":" + time(s.oda[i].first) +
                   ",\"last\":" + time(s.oda[i].last) + "}";
        }
        out += "]";
        // The newer features only where the station sent them.
        if (!s.enhancedRadiotext.items.empty()) texts("enhancedRadiotext", s.enhancedRadiotext, false);
        if (!s.longPs.items.empty()) texts("longPs", s.longPs, false);
        if (s.dabEnsemble)
            out += ",\"dabEnsemble\":{\"eid\":\"" + Hex4(s.dabEnsemble->eid) +
                   "\",\"frequencyKhz\":" + std::to_string(s.dabEnsemble->frequencyKhz) + ",\"mode\":\"" +
                   DabCrossReference::ModeName(s.dabEnsemble->mode) + "\"}";
        if (s.dabService)
            out += ",\"dabService\":{\"sid\":\"" + Hex4(s.dabService->sid) + "\",\"eid\":\"" + Hex4(s.dabService->eid) +
                   "\"}";
        out += "}";
    }
    out += "],\"statistics\":" + stats_.json();
    out.pop_back();  // the statistics object gets the duration and the rates
    out += ",\"seconds\":" + Number(seconds()) + ",\"rates\":{";
    bool firstRate = true;
    for (int code = 0; code < 32; ++code) {
        if (!stats_.count(code / 2, code % 2)) continue;
        out += (firstRate ? "\"" : ",\"") + GroupName(code / 2, code % 2) +
               "\":" + Number(rate(code / 2, code % 2), "%.4f");
        firstRate = false;
    }
    out += "}},\"series\":{\"interval\":" + Number(double(interval_) / 100.0) + ",\"points\":[";
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const SeriesPoint& p = series_[i];
        out += std::string(i ? "," : "") + "[" + time(p.start) + "," + std::to_string(p.groups) + "," +
               std::to_string(p.blocksMissing) + "]";
    }
    return out + "]}}";
}

std::string StationHistory::historyCsv() const
{
    std::string out = "pi,kind,first,last,value\r\n";
    const auto row = [&](uint16_t pi, const char* kind, int64_t first, int64_t last, const std::string& value) {
        out += Hex4(pi) + ',' + kind + ',' + formatTime(first) + ',' + formatTime(last) + ',';
        AppendCsv(out, value);
        out += "\r\n";
    };
    for (const auto& [pi, s] : stations_) {
        for (const TextEntry& e : s.ps.items) row(pi, "PS", e.first, e.last, e.text);
        for (const TextEntry& e : s.radiotext.items) row(pi, e.version ? "RTB" : "RTA", e.first, e.last, e.text);
        for (const PtyEntry& e : s.pty.items) row(pi, "PTY", e.time, e.time, std::to_string(e.pty));
        for (const FlagEntry& e : s.flags.items)
            row(pi, "TATP", e.time, e.time, std::string("TP=") + (e.tp ? "1" : "0") + " TA=" + (e.ta ? "1" : "0"));
        for (const int f : s.af) row(pi, "AF", s.first, s.last, Frequency(f));
        for (const ClockEntry& e : s.clock.items)
            row(pi, "CT", e.time, e.time,
                FormatIsoUtc(e.utc) + (e.offset ? " offset " + Number(double(*e.offset) / 100.0, "%+.2f") : ""));
        for (const OdaEntry& e : s.oda)
            row(pi, "ODA", e.first, e.last, Hex4(e.aid) + " " + GroupName(e.type, e.version));
    }
    return out;
}

std::string StationHistory::statsCsv() const
{
    std::string out = "group,count,percent,per_second\r\n";
    for (int code = 0; code < 32; ++code) {
        const uint64_t n = stats_.count(code / 2, code % 2);
        if (!n) continue;
        out += GroupName(code / 2, code % 2) + ',' + std::to_string(n) + ',' + Number(stats_.percent(n)) + ',' +
               Number(rate(code / 2, code % 2), "%.4f") + "\r\n";
    }
    if (stats_.untyped())
        out += "?," + std::to_string(stats_.untyped()) + ',' + Number(stats_.percent(stats_.untyped())) + ",\r\n";
    out += "total," + std::to_string(stats_.groups()) + ",100.00," +
           Number(seconds() > 0 ? double(stats_.groups()) / seconds() : 0.0, "%.4f") + "\r\n";
    out +=
        "block error rate," + std::to_string(stats_.blocksMissing()) + ',' + Number(stats_.blockErrorRate()) + ",\r\n";
    return out;
}

void HistoryFeed::begin(bool live)
{
    live_ = live;
    started_ = false;
    bits_ = 0;
    stamp_.reset();
    assembler_ = GroupAssembler{};
    history_.reset(live);
}

void HistoryFeed::take(const GroupRecord& group)
{
    if (!started_) {
        // Times are absolute for live input and for logs with time stamps.
        started_ = true;
        if (!live_ && stamp_) history_.reset(true);
    }
    int64_t time;
    if (live_) {
        const auto since = std::chrono::system_clock::now().time_since_epoch();
        time = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() / 10;
    } else if (history_.absolute()) {
        time = stamp_ ? *stamp_ : history_.lastTime().value_or(0);
    } else {
        time = static_cast<int64_t>(double(bits_) * 100.0 / 1187.5);
    }
    history_.add(group, time);
}

void HistoryFeed::onStatus(uint16_t status, const uint16_t (&words)[4])
{
    if (assembler_.feed(status, words)) take(assembler_.group());
}

void HistoryFeed::finish()
{
    if (assembler_.finish()) take(assembler_.group());
}

}  // namespace rdsformats
