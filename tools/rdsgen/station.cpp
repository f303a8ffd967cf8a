#include "station.h"

#include "input_file.h"
#include "numbers.h"
#include "rds_charset.h"

#include <algorithm>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace rdsgen {

DescriptionError::DescriptionError(const std::string& file, int line, const std::string& problem)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + problem),
      file_(file),
      line_(line),
      problem_(problem)
{
}

std::optional<GroupId> ParseGroupId(const std::string& text)
{
    if (text.size() < 2 || text.size() > 3) return std::nullopt;
    const char v = char(std::toupper(static_cast<unsigned char>(text.back())));
    if (v != 'A' && v != 'B') return std::nullopt;
    const auto type = ParseInteger(std::string_view(text).substr(0, text.size() - 1));
    if (!type || *type < 0 || *type > 15) return std::nullopt;
    return GroupId{uint8_t(*type), uint8_t(v == 'B')};
}

std::string GroupName(GroupId g) { return std::to_string(g.type) + (g.version ? "B" : "A"); }

namespace {

// One line cut into words; quoted words keep their spaces and may hold \" and \\.
struct Token {
    std::string text;
    bool quoted = false;
};

class LineReader {
public:
    LineReader(std::string file, int line) : file_(std::move(file)), line_(line) {}
    [[noreturn]] void fail(const std::string& problem) const { throw DescriptionError(file_, line_, problem); }

    std::vector<Token> split(const std::string& line) const
    {
        std::vector<Token> words;
        size_t i = 0;
        while (i < line.size()) {
            const char ch = line[i];
            if (ch == ' ' || ch == '\t' || ch == '\r') {
                ++i;
                continue;
            }
            if (ch == '#') break;
            Token t;
            // A word may start plain and go on quoted: ps="RADIO 1".
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
                if (line[i] == '"') {
                    t.quoted = true;
                    ++i;
                    bool closed = false;
                    while (i < line.size()) {
                        char c = line[i++];
                        if (c == '"') {
                            closed = true;
                            break;
                        }
                        if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) c = line[i++];
                        t.text.push_back(c);
                    }
                    if (!closed) fail("quoted text is not closed");
                } else if (line[i] == '#' && !t.quoted && t.text.empty()) {
                    break;
                } else {
                    t.text.push_back(line[i++]);
                }
            }
            words.push_back(std::move(t));
        }
        return words;
    }

    long number(const std::string& text, const std::string& what, long lo, long hi) const
    {
        const auto value = ParseInteger(text, true);
        if (!value) fail(what + ": '" + text + "' is not a number");
        if (*value < lo || *value > hi)
            fail(what + ": " + text + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
        return long(*value);
    }

    bool flag(const std::string& text, const std::string& what) const
    {
        if (text == "1" || text == "on" || text == "yes") return true;
        if (text == "0" || text == "off" || text == "no") return false;
        fail(what + ": '" + text + "' is not 0/1 or on/off");
    }

    double decimal(const std::string& text, const std::string& what) const
    {
        const auto v = ParseDecimal(text);
        if (!v) fail(what + ": '" + text + "' is not a number");
        return *v;
    }

    // "97.4" (MHz, FM) or "531" (kHz, LF/MF: values of 150 and more).
    AltFrequency frequency(const std::string& text, const std::string& what) const
    {
        const double v = decimal(text, what);
        if (v >= 150) {
            const long khz = std::lround(v);
            if (std::fabs(v - double(khz)) > 1e-9) fail(what + ": " + text + " kHz is not a whole number");
            if (khz >= 153 && khz <= 279 && (khz - 153) % 9 == 0) return {true, uint8_t(1 + (khz - 153) / 9)};
            if (khz >= 531 && khz <= 1602 && (khz - 531) % 9 == 0) return {true, uint8_t(16 + (khz - 531) / 9)};
            fail(what + ": " + text + " kHz is not an LF (153..279) or MF (531..1602) channel in 9 kHz steps");
        }
        const long tenths = std::lround(v * 10);
        if (std::fabs(v * 10 - double(tenths)) > 1e-6) fail(what + ": " + text + " MHz is not on the 100 kHz raster");
        if (tenths < 876 || tenths > 1079) fail(what + ": " + text + " MHz is outside 87.6..107.9");
        return {false, uint8_t(tenths - 875)};
    }

    uint8_t fmCode(const std::string& text, const std::string& what) const
    {
        AltFrequency f = frequency(text, what);
        if (f.lfmf) fail(what + ": " + text + " must be an FM frequency in MHz");
        return f.code;
    }

    // "D:H:M", the day of month, hour and minute of a programme-item number.
    uint16_t pin(const std::string& text, const std::string& what) const
    {
        std::vector<std::string> parts = splitOn(text, ':');
        if (parts.size() != 3) fail(what + ": '" + text + "' is not day:hour:minute");
        const long d = number(parts[0], what + " day", 0, 31);
        const long h = number(parts[1], what + " hour", 0, 23);
        const long m = number(parts[2], what + " minute", 0, 59);
        return uint16_t(d << 11 | h << 6 | m);
    }

    static std::vector<std::string> splitOn(const std::string& text, char sep)
    {
        std::vector<std::string> parts;
        std::string cur;
        for (char c : text) {
            if (c == sep) {
                parts.push_back(cur);
                cur.clear();
            } else
                cur.push_back(c);
        }
        parts.push_back(cur);
        return parts;
    }

    // UTF-8 text of up to `max` characters in the RDS character set, as
    // the bytes it is sent as, padded with spaces.
    std::string text(const std::string& text, const std::string& what, size_t max) const
    {
        rdsformats::RdsEncoding e = rdsformats::Utf8ToRds(text);
        if (!e.ok) fail(what + ": " + e.problem);
        if (e.bytes.size() > max)
            fail(what + ": text of " + std::to_string(e.bytes.size()) + " characters is longer than " +
                 std::to_string(max));
        e.bytes.resize(max, ' ');
        return e.bytes;
    }

private:
    std::string file_;
    int line_;
};

using Args = std::vector<Token>;

void NeedArgs(const LineReader& r, const std::string& key, const Args& a, size_t lo, size_t hi)
{
    if (a.size() < lo || a.size() > hi) {
        std::string want = lo == hi ? std::to_string(lo) : std::to_string(lo) + ".." + std::to_string(hi);
        r.fail(key + ": expects " + want + " value" + (hi == 1 ? "" : "s") + ", got " + std::to_string(a.size()));
    }
}

// key=value words of tmc and eon lines.
std::map<std::string, std::string> KeyValues(const LineReader& r, const std::string& key, const Args& a, size_t first,
                                             const std::vector<std::string>& allowed)
{
    std::map<std::string, std::string> kv;
    for (size_t i = first; i < a.size(); ++i) {
        auto eq = a[i].text.find('=');
        if (eq == std::string::npos || eq == 0) r.fail(key + ": '" + a[i].text + "' is not name=value");
        std::string name = a[i].text.substr(0, eq);
        bool known = false;
        for (const auto& k : allowed) known |= k == name;
        if (!known) {
            std::string list;
            for (const auto& k : allowed) list += (list.empty() ? "" : ", ") + k;
            r.fail(key + ": unknown field '" + name + "' (known: " + list + ")");
        }
        if (kv.count(name)) r.fail(key + ": field '" + name + "' given twice");
        kv[name] = a[i].text.substr(eq + 1);
    }
    return kv;
}

int64_t ParseClock(const LineReader& r, const std::string& date, const std::string& time)
{
    auto d = LineReader::splitOn(date, '-');
    if (d.size() != 3) r.fail("ct: date '" + date + "' is not YYYY-MM-DD");
    const int y = int(r.number(d[0], "ct year", 1900, 2100));
    const unsigned mo = unsigned(r.number(d[1], "ct month", 1, 12));
    const unsigned dd = unsigned(r.number(d[2], "ct day", 1, 31));
    const std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{mo}, std::chrono::day{dd}};
    if (!ymd.ok()) r.fail("ct: " + date + " is not a date");
    if (y == 1900 && mo < 3) r.fail("ct: dates before 1900-03-01 cannot be sent");
    auto t = LineReader::splitOn(time, ':');
    if (t.size() < 2 || t.size() > 3) r.fail("ct: time '" + time + "' is not HH:MM or HH:MM:SS");
    const long h = r.number(t[0], "ct hour", 0, 23);
    const long mi = r.number(t[1], "ct minute", 0, 59);
    const long s = t.size() == 3 ? r.number(t[2], "ct second", 0, 59) : 0;
    const auto days = std::chrono::sys_days(ymd).time_since_epoch().count();
    return int64_t(days) * 86400 + h * 3600 + mi * 60 + s;
}

int ParseOffset(const LineReader& r, const std::string& text)
{
    if (text.empty() || (text[0] != '+' && text[0] != '-'))
        r.fail("ct: local offset '" + text + "' must start with + or -, in hours, e.g. +1 or -5.5");
    // The sign is the one before the hours: a second one would silently
    // turn "--5" into five hours ahead.
    if (text.size() > 1 && (text[1] == '+' || text[1] == '-'))
        r.fail("ct: local offset " + text + " has more than one sign");
    const double hours = r.decimal(text.substr(1), "ct offset");
    const double half = hours * 2;
    if (std::fabs(half - std::round(half)) > 1e-9)
        r.fail("ct: local offset " + text + " is not a multiple of half an hour");
    if (half > 31) r.fail("ct: local offset " + text + " is beyond 15.5 hours");
    return int(std::lround(half)) * (text[0] == '-' ? -1 : 1);
}

void ParseEon(const LineReader& r, const Args& a, Station& st)
{
    if (a.empty()) r.fail("eon: expects the PI of the other network first");
    EonNetwork n;
    n.pi = uint16_t(r.number(a[0].text, "eon PI", 0, 0xFFFF));
    for (const auto& other : st.eon)
        if (other.pi == n.pi) r.fail("eon: network " + a[0].text + " is described twice");
    auto kv = KeyValues(r, "eon", a, 1,
                        {"tp", "ta", "ps", "af", "mapped", "am", "linkage", "pty", "pin", "v10", "v11", "v15"});
    if (kv.count("tp")) n.tp = r.flag(kv["tp"], "eon tp");
    if (kv.count("ta")) n.ta = r.flag(kv["ta"], "eon ta");
    if (kv.count("ps")) {
        std::string ps = r.text(kv["ps"], "eon ps", 8);
        for (int v = 0; v < 4; ++v) n.variants[v] = uint16_t(uint8_t(ps[2 * v]) << 8 | uint8_t(ps[2 * v + 1]));
    }
    if (kv.count("af")) {
        auto list = LineReader::splitOn(kv["af"], ',');
        if (list.size() > 25) r.fail("eon af: more than 25 frequencies");
        std::vector<uint8_t> codes;
        codes.reserve(list.size() + 1);
        for (const auto& f : list) codes.push_back(r.fmCode(f, "eon af"));
        if (codes.size() % 2) codes.push_back(205);  // filler code
        for (size_t i = 0; i < codes.size(); i += 2) {
            uint16_t w = uint16_t(codes[i] << 8 | codes[i + 1]);
            if (i == 0)
                n.variants[4] = w;
            else
                n.extraAf.push_back(w);
        }
    }
    if (kv.count("mapped")) {
        auto pairs = LineReader::splitOn(kv["mapped"], ',');
        if (pairs.size() > 4) r.fail("eon mapped: at most 4 tuned:mapped pairs (variants 5..8)");
        for (size_t i = 0; i < pairs.size(); ++i) {
            auto tm = LineReader::splitOn(pairs[i], ':');
            if (tm.size() != 2) r.fail("eon mapped: '" + pairs[i] + "' is not tuned:mapped");
            n.variants[5 + i] = uint16_t(r.fmCode(tm[0], "eon mapped") << 8 | r.fmCode(tm[1], "eon mapped"));
        }
    }
    if (kv.count("am")) {
        auto tm = LineReader::splitOn(kv["am"], ':');
        if (tm.size() != 2) r.fail("eon am: '" + kv["am"] + "' is not tuned-MHz:mapped-kHz");
        AltFrequency mapped = r.frequency(tm[1], "eon am");
        if (!mapped.lfmf) r.fail("eon am: the mapped frequency " + tm[1] + " must be LF/MF in kHz");
        n.variants[9] = uint16_t(r.fmCode(tm[0], "eon am") << 8 | mapped.code);
    }
    if (kv.count("linkage")) n.variants[12] = uint16_t(r.number(kv["linkage"], "eon linkage", 0, 0xFFFF));
    if (kv.count("pty") || kv.count("ta")) {
        const long pty = kv.count("pty") ? r.number(kv["pty"], "eon pty", 0, 31) : 0;
        n.variants[13] = uint16_t(pty << 11 | (n.ta ? 1 : 0));
    }
    if (kv.count("pin")) n.variants[14] = r.pin(kv["pin"], "eon pin");
    for (int v : {10, 11, 15}) {
        const std::string k = "v" + std::to_string(v);
        if (kv.count(k)) n.variants[v] = uint16_t(r.number(kv[k], "eon " + k, 0, 0xFFFF));
    }
    st.eon.push_back(std::move(n));
}

void ParseTmc(const LineReader& r, const Args& a, Station& st)
{
    auto kv = KeyValues(r, "tmc", a, 0,
                        {"event", "location", "extent", "duration", "direction", "diversion", "t", "f", "quantifier"});
    if (!kv.count("event") || !kv.count("location")) r.fail("tmc: event= and location= are required");
    TmcMessage m;
    m.event = uint16_t(r.number(kv["event"], "tmc event", 0, 2047));
    m.location = uint16_t(r.number(kv["location"], "tmc location", 0, 0xFFFF));
    if (kv.count("extent")) m.extent = uint8_t(r.number(kv["extent"], "tmc extent", 0, 7));
    if (kv.count("duration")) m.duration = uint8_t(r.number(kv["duration"], "tmc duration", 0, 7));
    if (kv.count("direction")) m.direction = r.flag(kv["direction"], "tmc direction");
    if (kv.count("diversion")) m.diversion = r.flag(kv["diversion"], "tmc diversion");
    if (kv.count("t")) m.tuning = r.flag(kv["t"], "tmc t");
    if (kv.count("f")) m.single = r.flag(kv["f"], "tmc f");
    if (kv.count("quantifier")) {
        m.quantifier = uint16_t(r.number(kv["quantifier"], "tmc quantifier", 0, 255));
        m.single = false;
    }
    st.tmc.push_back(m);
}

GroupId Group(const LineReader& r, const std::string& what, const std::string& text)
{
    auto g = ParseGroupId(text);
    if (!g) r.fail(what + ": '" + text + "' is not a group such as 0A or 14B");
    return *g;
}

// Announces `aid` in `group` (3A) unless the description already does.
void AnnounceOda(Station& st, uint16_t aid, GroupId group, uint16_t message)
{
    for (const OdaEntry& o : st.oda)
        if (o.aid == aid && o.group == group) return;
    st.oda.push_back(OdaEntry{aid, group, message});
}

// A UTF-8 text sent as bytes, four a group (blocks C and D) addressed by
// block B bits 4..0, ended by 0x0D when shorter than `size`: raw groups.
void AddByteText(const LineReader& r, const std::string& what, const std::string& text, std::size_t size, GroupId group,
                 Station& st)
{
    for (std::size_t pos = 0; pos < text.size();)
        if (rdsformats::NextUtf8(text, pos) < 0) r.fail(what + ": the text is not valid UTF-8");
    if (text.empty()) r.fail(what + ": empty text");
    if (text.size() > size)
        r.fail(what + ": the text is " + std::to_string(text.size()) + " bytes, at most " + std::to_string(size));
    std::string bytes = text;
    if (bytes.size() < size) bytes += '\r';
    while (bytes.size() % 4) bytes += ' ';
    for (std::size_t pos = 0; pos < bytes.size(); pos += 4) {
        const auto at = [&](std::size_t i) {
            return static_cast<uint16_t>(static_cast<unsigned char>(bytes[pos + i]));
        };
        RawGroup g;
        g.group = group;
        g.low5 = static_cast<uint8_t>(pos / 4);
        g.c = static_cast<uint16_t>(at(0) << 8 | at(1));
        g.d = static_cast<uint16_t>(at(2) << 8 | at(3));
        st.raw.push_back(g);
    }
}

void ParseLine(const LineReader& r, const std::string& key, const Args& a, Station& st,
               std::map<std::string, int>& seen)
{
    // Keys that describe one value may appear once.
    static const char* const once[] = {"pi", "pty",       "tp",  "ta",  "ms", "di",      "ps",
                                       "af", "rt-repeat", "rpc", "pin", "ct", "schedule"};
    for (const char* k : once) {
        if (key == k && seen[key]++) r.fail(key + ": given twice");
    }

    if (key == "pi") {
        NeedArgs(r, key, a, 1, 1);
        st.pi = uint16_t(r.number(a[0].text, "pi", 0, 0xFFFF));
    } else if (key == "pty") {
        NeedArgs(r, key, a, 1, 1);
        st.pty = uint8_t(r.number(a[0].text, "pty", 0, 31));
    } else if (key == "tp") {
        NeedArgs(r, key, a, 1, 1);
        st.tp = r.flag(a[0].text, "tp");
    } else if (key == "ta") {
        NeedArgs(r, key, a, 1, 1);
        st.ta = r.flag(a[0].text, "ta");
    } else if (key == "ms") {
        NeedArgs(r, key, a, 1, 1);
        if (a[0].text == "music")
            st.ms = true;
        else if (a[0].text == "speech")
            st.ms = false;
        else
            st.ms = r.flag(a[0].text, "ms (music/speech)");
    } else if (key == "di") {
        NeedArgs(r, key, a, 1, 4);
        st.di = 0;
        for (const auto& t : a) {
            if (t.text == "stereo")
                st.di |= 1;
            else if (t.text == "artificial-head")
                st.di |= 2;
            else if (t.text == "compressed")
                st.di |= 4;
            else if (t.text == "dynamic-pty")
                st.di |= 8;
            else if (t.text == "none" && a.size() == 1)
                st.di = 0;
            else
                r.fail("di: '" + t.text + "' is not stereo, artificial-head, compressed, dynamic-pty or none");
        }
    } else if (key == "ps") {
        NeedArgs(r, key, a, 1, 1);
        st.ps = r.text(a[0].text, "ps", 8);
    } else if (key == "af") {
        NeedArgs(r, key, a, 1, 25);
        for (const auto& t : a) st.af.push_back(r.frequency(t.text, "af"));
    } else if (key == "rt") {
        NeedArgs(r, key, a, 1, 2);
        bool b = false;
        if (a.size() == 2) {
            if (a[0].text == "B" || a[0].text == "b")
                b = true;
            else if (a[0].text != "A" && a[0].text != "a")
                r.fail("rt: version '" + a[0].text + "' is not A or B");
        }
        const std::string& text = a.back().text;
        if (text.empty()) r.fail("rt: empty text");
        if (b)
            st.radioTextB.push_back(r.text(text, "rt B", 32));
        else
            st.radioTextA.push_back(r.text(text, "rt A", 64));
    } else if (key == "rt-repeat") {
        NeedArgs(r, key, a, 1, 1);
        st.rtRepeat = int(r.number(a[0].text, "rt-repeat", 1, 1000));
    } else if (key == "rpc") {
        NeedArgs(r, key, a, 1, 1);
        st.rpc = uint8_t(r.number(a[0].text, "rpc", 0, 31));
    } else if (key == "pin") {
        NeedArgs(r, key, a, 1, 1);
        st.pin = r.pin(a[0].text, "pin");
    } else if (key == "slc") {
        NeedArgs(r, key, a, 2, 3);
        const long variant = r.number(a[0].text, "slc variant", 0, 7);
        const long data = r.number(a[1].text, "slc data", 0, 0xFFF);
        bool la = false;
        if (a.size() == 3) {
            if (a[2].text != "la") r.fail("slc: third value '" + a[2].text + "' is not la");
            la = true;
        }
        st.slc.push_back(uint16_t((la ? 0x8000 : 0) | variant << 12 | data));
    } else if (key == "ct") {
        NeedArgs(r, key, a, 3, 3);
        ClockTime c;
        c.startSeconds = ParseClock(r, a[0].text, a[1].text);
        c.offsetHalfHours = ParseOffset(r, a[2].text);
        st.clock = c;
    } else if (key == "oda") {
        NeedArgs(r, key, a, 2, 3);
        OdaEntry o;
        o.aid = uint16_t(r.number(a[0].text, "oda AID", 0, 0xFFFF));
        o.group = Group(r, "oda", a[1].text);
        if (a.size() == 3) o.message = uint16_t(r.number(a[2].text, "oda message", 0, 0xFFFF));
        st.oda.push_back(o);
    } else if (key == "ert") {
        // Enhanced radiotext in UTF-8 (message bit 0 set).
        NeedArgs(r, key, a, 2, 2);
        const GroupId g = Group(r, "ert", a[0].text);
        AnnounceOda(st, 0x6552, g, 0x0001);
        AddByteText(r, "ert", a[1].text, 128, g, st);
    } else if (key == "long-ps") {
        NeedArgs(r, key, a, 1, 1);
        AddByteText(r, "long-ps", a[0].text, 32, GroupId{15, 0}, st);
    } else if (key == "dab-ensemble" || key == "dab-service") {
        // DAB cross-reference: an ensemble (EId, frequency in kHz, mode
        // 0..3) or a service (EId, SId).
        NeedArgs(r, key, a, 3, 4);
        const GroupId g = Group(r, key, a[0].text);
        AnnounceOda(st, 0x0093, g, 0);
        RawGroup raw;
        raw.group = g;
        if (key == "dab-ensemble") {
            const long khz = r.number(a[2].text, "dab-ensemble frequency", 16, 16 * 0x3FFFF);
            if (khz % 16) r.fail("dab-ensemble: the frequency must be a multiple of 16 kHz");
            const long mode = a.size() == 4 ? r.number(a[3].text, "dab-ensemble mode", 0, 3) : 0;
            raw.low5 = static_cast<uint8_t>(mode << 2 | (khz / 16) >> 16);
            raw.c = static_cast<uint16_t>((khz / 16) & 0xFFFF);
            raw.d = static_cast<uint16_t>(r.number(a[1].text, "dab-ensemble EId", 0, 0xFFFF));
        } else {
            NeedArgs(r, key, a, 3, 3);
            raw.low5 = 0x10;
            raw.c = static_cast<uint16_t>(r.number(a[1].text, "dab-service EId", 0, 0xFFFF));
            raw.d = static_cast<uint16_t>(r.number(a[2].text, "dab-service SId", 0, 0xFFFF));
        }
        st.raw.push_back(raw);
    } else if (key == "tmc") {
        ParseTmc(r, a, st);
    } else if (key == "eon") {
        ParseEon(r, a, st);
    } else if (key == "raw") {
        NeedArgs(r, key, a, 4, 4);
        RawGroup g;
        g.group = Group(r, "raw", a[0].text);
        g.low5 = uint8_t(r.number(a[1].text, "raw block B bits 4..0", 0, 31));
        if (a[2].text != "pi") g.c = uint16_t(r.number(a[2].text, "raw block C", 0, 0xFFFF));
        g.d = uint16_t(r.number(a[3].text, "raw block D", 0, 0xFFFF));
        st.raw.push_back(g);
    } else if (key == "schedule") {
        NeedArgs(r, key, a, 1, 1000);
        for (const auto& t : a) {
            auto star = t.text.find('*');
            GroupId g = Group(r, "schedule", t.text.substr(0, star));
            long times = star == std::string::npos ? 1 : r.number(t.text.substr(star + 1), "schedule count", 1, 1000);
            st.schedule.insert(st.schedule.end(), size_t(times), g);
        }
    } else {
        r.fail("unknown key '" + key + "'");
    }
}

// Whether the description has data for a group, and what is missing if not.
std::string MissingFor(const Station& st, GroupId g)
{
    auto raw = [&] {
        for (const auto& r : st.raw)
            if (r.group == g) return true;
        return false;
    };
    if (raw()) return "";
    switch (g.type * 2 + g.version) {
        case 0:
        case 1:
        case 31:
            return "";  // 0A, 0B, 15B: always
        case 2:
            return st.pin || !st.slc.empty() ? "" : "a pin or slc line";
        case 3:
            return st.pin ? "" : "a pin line";
        case 4:
            return st.radioTextA.empty() ? "an rt A line" : "";
        case 5:
            return st.radioTextB.empty() ? "an rt B line" : "";
        case 6:
            return st.oda.empty() ? "an oda line" : "";
        case 8:
            return st.clock ? "" : "a ct line";
        case 16:
            return st.tmc.empty() ? "a tmc line" : "";
        case 28:
        case 29:
            return st.eon.empty() ? "an eon line" : "";
        default:
            return "a raw " + GroupName(g) + " line";
    }
}

}  // namespace

std::vector<GroupId> DefaultSchedule(const Station& st)
{
    std::vector<GroupId> s;
    auto add = [&](GroupId g, int n) {
        if (MissingFor(st, g).empty()) s.insert(s.end(), size_t(n), g);
    };
    // Interleave so that each cycle spreads 0A and radiotext evenly.
    add({0, 0}, 2);
    add({2, 0}, 2);
    add({2, 1}, 1);
    add({0, 0}, 2);
    add({1, 0}, 1);
    add({3, 0}, 1);
    add({8, 0}, 1);
    add({0, 0}, 2);
    add({2, 0}, 2);
    add({14, 0}, 1);
    add({0, 0}, 2);
    add({8, 0}, 1);
    for (const auto& r : st.raw) {
        bool have = false;
        for (auto g : s) have |= g == r.group;
        if (!have) s.push_back(r.group);
    }
    add({14, 1}, 1);
    return s;
}

namespace {

// A description is read in pieces of this size, which also bounds a line.
constexpr size_t kDescriptionChunk = size_t(1) << 16;
// Bytes at its start that must look like text.
constexpr size_t kBinaryCheckSize = 4096;

// Reads a description line by line through `nextLine`, which returns false
// at the end; `readFailed` tells afterwards whether the end was an error.
template <typename NextLine, typename ReadFailed>
Station ParseLines(NextLine nextLine, ReadFailed readFailed, const std::string& file)
{
    Station st;
    st.file = file;
    std::map<std::string, int> seen;
    std::string line;
    int number = 0;
    int scheduleLine = 0;
    while (nextLine(line, number + 1)) {
        ++number;
        LineReader r(file, number);
        if (line.find('\0') != std::string::npos) r.fail("binary data in a text file");
        Args words = r.split(line);
        if (words.empty()) continue;
        if (words[0].quoted) r.fail("a line must start with a key, not quoted text");
        const std::string key = words[0].text;
        words.erase(words.begin());
        if (key == "schedule") scheduleLine = number;
        ParseLine(r, key, words, st, seen);
    }
    if (const std::string reason = readFailed(); !reason.empty()) throw DescriptionError(file, number, reason);
    if (!seen.count("pi")) throw DescriptionError(file, 0, "no pi line: the programme identification is required");
    if (st.schedule.empty()) {
        st.schedule = DefaultSchedule(st);
    } else {
        for (GroupId g : st.schedule) {
            std::string missing = MissingFor(st, g);
            if (!missing.empty())
                throw DescriptionError(file, scheduleLine, "schedule: group " + GroupName(g) + " needs " + missing);
        }
    }
    return st;
}

// A description is a few hundred bytes of text: anything with a zero byte
// or many control characters at its start is not one.
bool LooksBinary(const char* data, size_t size)
{
    size_t control = 0;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == 0) return true;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') || c == 0x7F) ++control;
    }
    return control * 10 > size;
}

}  // namespace

Station ParseStation(std::istream& in, const std::string& file)
{
    return ParseLines([&](std::string& line, int) { return bool(std::getline(in, line)); },
                      [&] { return in.bad() ? std::string("read error") : std::string(); }, file);
}

Station LoadStation(const std::string& path)
{
    varnak::InputFile in;
    if (!in.open(path)) throw DescriptionError(path, 0, "cannot open the description file: " + in.error());
    // Read piece by piece, lines bounded: a huge or binary file is refused
    // early instead of being read whole into memory.
    std::vector<char> buffer(kDescriptionChunk);
    size_t at = 0, end = 0;
    bool atEnd = false, checked = false;
    std::string failure;
    auto fill = [&] {
        if (at > 0) {
            std::copy(buffer.begin() + ptrdiff_t(at), buffer.begin() + ptrdiff_t(end), buffer.begin());
            end -= at;
            at = 0;
        }
        size_t got = 0;
        switch (in.read(buffer.data() + end, buffer.size() - end, got)) {
            case varnak::InputFile::Result::Data:
                end += got;
                break;
            case varnak::InputFile::Result::Failed:
                failure = in.error();
                [[fallthrough]];
            default:
                atEnd = true;
                break;
        }
        if (!checked && (end >= kBinaryCheckSize || atEnd)) {
            checked = true;
            if (LooksBinary(buffer.data(), std::min(end, kBinaryCheckSize)))
                throw DescriptionError(path, 0, "not a text file: it holds binary data");
        }
    };
    auto nextLine = [&](std::string& line, int number) {
        for (;;) {
            const auto first = buffer.begin() + ptrdiff_t(at), last = buffer.begin() + ptrdiff_t(end);
            const auto newline = std::find(first, last, '\n');
            if (newline != last || (atEnd && first != last)) {
                line.assign(first, newline);
                at = size_t(newline - buffer.begin()) + (newline != last ? 1 : 0);
                return true;
            }
            if (atEnd) return false;
            if (at == 0 && end == buffer.size())
                throw DescriptionError(path, number,
                                       "line longer than " + std::to_string(buffer.size()) + " characters");
            fill();
        }
    };
    return ParseLines(
        nextLine, [&] { return failure; }, path);
}

}  // namespace rdsgen
