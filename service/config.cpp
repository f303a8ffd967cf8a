#include "config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <sstream>

#include "json_text.h"
#include "source.h"

namespace varnakd {
namespace {

std::optional<double> ParseNumber(const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<bool> ParseBool(const std::string& text)
{
    if (text == "yes" || text == "true" || text == "on" || text == "1") return true;
    if (text == "no" || text == "false" || text == "off" || text == "0") return false;
    return std::nullopt;
}

std::vector<std::string> SplitList(const std::string& text, char separator)
{
    std::vector<std::string> items;
    std::string item;
    std::istringstream in(text);
    while (std::getline(in, item, separator)) {
        const auto b = item.find_first_not_of(' ');
        if (b == std::string::npos) continue;
        items.push_back(item.substr(b, item.find_last_not_of(' ') - b + 1));
    }
    return items;
}

// Reads the keys of one section: each getter records a problem for a bad
// value; keys nobody asked for are reported by finish().
class SectionReader {
public:
    SectionReader(const IniSection& section, std::vector<ConfigProblem>& problems)
        : section_(section), problems_(problems)
    {
        std::set<std::string> seen;
        for (const IniEntry& e : section.entries)
            if (!seen.insert(e.key).second) problem(e.line, "'" + e.key + "' is given twice");
    }

    const IniEntry* find(const std::string& key)
    {
        used_.insert(key);
        for (const IniEntry& e : section_.entries)
            if (e.key == key) return &e;
        return nullptr;
    }
    void text(const std::string& key, std::string& out)
    {
        if (const IniEntry* e = find(key)) out = e->value;
    }
    template <typename T>
    void number(const std::string& key, T& out, double min, double max)
    {
        if (const IniEntry* e = find(key)) {
            const auto v = ParseNumber(e->value);
            if (!v || *v < min || *v > max) {
                std::ostringstream range;
                range << key << ": '" << e->value << "' is not a number from " << min << " to " << max;
                problem(e->line, range.str());
            } else {
                out = static_cast<T>(*v);
            }
        }
    }
    template <typename T>
    void optionalNumber(const std::string& key, std::optional<T>& out, double min, double max, double scale = 1)
    {
        if (!find(key)) return;
        double value = std::nan("");
        number(key, value, min, max);
        if (!std::isnan(value)) out = static_cast<T>(value * scale);
    }
    void flag(const std::string& key, bool& out)
    {
        if (const IniEntry* e = find(key)) {
            if (const auto v = ParseBool(e->value))
                out = *v;
            else
                problem(e->line, key + ": '" + e->value + "' is not yes or no");
        }
    }
    void problem(int line, const std::string& message) { problems_.push_back({line, message}); }
    void finish(const std::set<std::string>& alsoAllowed = {})
    {
        for (const IniEntry& e : section_.entries)
            if (!used_.count(e.key) && !alsoAllowed.count(e.key))
                problem(e.line, "unknown setting '" + e.key + "' in [" + section_.kind + "]");
    }

private:
    const IniSection& section_;
    std::vector<ConfigProblem>& problems_;
    std::set<std::string> used_;
};

void ReadService(const IniSection& section, ServiceConfig& c, std::vector<ConfigProblem>& problems)
{
    SectionReader r(section, problems);
    r.text("site", c.site);
    r.text("state", c.stateDir);
    r.text("database", c.database);
    r.number("retention-days", c.retentionDays, 1, 100000);
    r.number("quality-retention-days", c.qualityRetentionDays, 1, 100000);
    r.text("log-level", c.logLevel);
    if (c.logLevel != "info" && c.logLevel != "debug" && c.logLevel != "warning")
        r.problem(section.line, "log-level: '" + c.logLevel + "' is not info, debug or warning");
    for (const char ch : c.site)
        if (ch == '/' || ch == '+' || ch == '#' || ch == ' ')
            r.problem(section.line, "site: '" + c.site + "' holds a character MQTT topics cannot carry");
    r.finish();
}

void ReadMqtt(const IniSection& section, MqttConfig& m, std::vector<ConfigProblem>& problems)
{
    SectionReader r(section, problems);
    m.enabled = true;
    r.flag("enabled", m.enabled);
    r.text("host", m.host);
    r.number("port", m.port, 1, 65535);
    r.text("prefix", m.prefix);
    r.text("client-id", m.clientId);
    r.text("user", m.user);
    r.text("password-file", m.passwordFile);
    if (const IniEntry* e = r.find("password"))
        r.problem(e->line, "password: give it in a file with password-file, not in the configuration");
    r.text("tls-ca", m.tlsCaFile);
    r.text("tls-cert", m.tlsCertFile);
    r.text("tls-key", m.tlsKeyFile);
    r.flag("groups", m.groups);
    r.number("queue", m.queue, 1, 1000000);
    r.number("keepalive", m.keepalive, 5, 3600);
    if (m.tlsCertFile.empty() != m.tlsKeyFile.empty()) r.problem(section.line, "tls-cert and tls-key go together");
    r.finish();
}

void ReadWebhook(const IniSection& section, ServiceConfig& c, std::vector<ConfigProblem>& problems)
{
    SectionReader r(section, problems);
    WebhookConfig w;
    w.name = section.name;
    r.text("url", w.url);
    r.number("retries", w.retries, 0, 100);
    r.number("backoff", w.backoff, 0.01, 3600);
    r.number("timeout", w.timeout, 0.1, 600);
    if (w.url.rfind("http://", 0) != 0 && w.url.rfind("https://", 0) != 0)
        r.problem(section.line, "webhook: url must start with http:// or https://");
    r.finish();
    c.webhooks.push_back(w);
}

// A card source's card and input; a multiplex's calibration; the pace of recordings.
void ReadCardAndPacing(SectionReader& r, const IniSection& section, SourceConfig& s)
{
    const bool card = s.kind == "card";
    if (const IniEntry* e = r.find("card"); e && !card) r.problem(e->line, "card: only for card sources");
    r.number("card", s.card, 1, 9);
    r.text("serial", s.serial);
    if (!s.serial.empty() && !card) r.problem(section.line, "serial: only for card sources");
    if (!s.serial.empty() && r.find("card"))
        r.problem(section.line, "source '" + s.name + "': give card or serial, not both");
    if (r.find("input") && !card) r.problem(section.line, "input: only for card sources");
    r.number("input", s.input, 1, 6);
    if (r.find("full-scale-khz") && s.kind != "mpx") r.problem(section.line, "full-scale-khz: only for mpx sources");
    r.optionalNumber("full-scale-khz", s.fullScaleKHz, 10, 1000);
    r.number("realtime", s.realtime, 0, 1000);
    if (s.realtime > 0 && (card || s.live))
        r.problem(section.line, "realtime: only for recordings (live inputs come at their own pace)");
}

void ReadSource(const IniSection& section, ServiceConfig& c, std::vector<ConfigProblem>& problems)
{
    SectionReader r(section, problems);
    SourceConfig s;
    s.name = section.name;
    s.line = section.line;
    if (s.name.empty()) r.problem(section.line, "a source needs a name: [source NAME]");
    r.text("kind", s.kind);
    bool band = false;
    r.flag("band", band);
    if (band) s.kind = "band";
    r.text("path", s.path);
    // A band source's rate is the capture's ("2.4M"): its own to read.
    if (s.kind != "band") r.optionalNumber("rate", s.rate, 128000, 384000);
    r.optionalNumber("frequency", s.frequency, 0.1, 30000);
    r.text("host", s.host);
    r.number("port", s.port, 1, 65535);
    r.flag("live", s.live);
    r.number("retry", s.retry, 0.1, 3600);
    ReadCardAndPacing(r, section, s);
    if (const IniEntry* e = r.find("start")) {
        s.start = ParseUtcTime(e->value);
        if (!s.start) r.problem(e->line, "start: '" + e->value + "' is not a time like 2026-12-08T19:55:57Z");
    }
    if (s.kind.empty()) {
        r.problem(section.line, "source '" + s.name + "': no kind (mpx, bits, hex, grouplog, card or band)");
    } else if (!KnownSourceKind(s.kind)) {
        r.problem(section.line, "source '" + s.name + "': unknown kind '" + s.kind + "'");
    } else if (!FindSourceKind(s.kind)) {
        r.problem(section.line, "source '" + s.name + "': " + s.kind + " reception is not built in");
    } else if (s.kind == "card") {
        if (!s.port) r.problem(section.line, "source '" + s.name + "': a card source needs the server's port");
        if (!s.path.empty()) r.problem(section.line, "source '" + s.name + "': a card source has no path");
        s.live = true;
    } else if (s.kind != "band" && s.path.empty()) {
        r.problem(section.line, "source '" + s.name + "': no path");
    }
    if (s.kind != "mpx" && s.rate && s.kind != "band")
        r.problem(section.line, "source '" + s.name + "': rate is for multiplex sources");
    // A band source's own settings (service/band_source.cpp) are its to read.
    static const std::set<std::string> kBandKeys = {"iq", "rate", "center", "sdr", "gain", "ppm", "raster", "freq"};
    std::set<std::string> extra;
    if (s.kind == "band")
        for (const IniEntry& e : section.entries) {
            s.options[e.key] = e.value;
            if (kBandKeys.count(e.key)) extra.insert(e.key);
        }
    r.finish(extra);
    for (const SourceConfig& other : c.sources)
        if (other.name == s.name) r.problem(section.line, "source '" + s.name + "' is defined twice");
    c.sources.push_back(s);
}

std::optional<int> ParseAf(const std::string& text)
{
    const auto v = ParseNumber(text);
    if (!v) return std::nullopt;
    if (*v >= 87.6 && *v <= 107.9) return static_cast<int>(std::lround(*v * 10)) * 100;
    if (*v >= 150 && *v <= 1602) return static_cast<int>(*v);
    return std::nullopt;
}

void ReadStation(const IniSection& section, ServiceConfig& c, std::vector<ConfigProblem>& problems)
{
    SectionReader r(section, problems);
    StationProfile p;
    p.key = section.name;
    p.line = section.line;
    if (const auto mhz = ParseNumber(p.key)) p.key = rdsformats::FrequencyText(*mhz);
    if (p.key.empty()) r.problem(section.line, "a station profile needs its frequency or source: [station 98.5]");
    if (const IniEntry* e = r.find("pi")) {
        unsigned value = 0;
        const char* end = e->value.data() + e->value.size();
        auto [ptr, ec] = std::from_chars(e->value.data() + (e->value.rfind("0x", 0) == 0 ? 2 : 0), end, value, 16);
        if (ec != std::errc() || ptr != end || value > 0xFFFF || e->value.empty())
            r.problem(e->line, "pi: '" + e->value + "' is not four hexadecimal digits");
        else
            p.pi = static_cast<uint16_t>(value);
    }
    if (const IniEntry* e = r.find("ps")) {
        p.ps = SplitList(e->value, ',');
        for (const std::string& ps : p.ps)
            if (ps.size() > 8) r.problem(e->line, "ps: '" + ps + "' is longer than 8 characters");
    }
    if (const IniEntry* e = r.find("ps-pattern")) {
        try {
            std::regex check(e->value);
            p.psPattern = e->value;
        } catch (const std::regex_error&) {
            r.problem(e->line, "ps-pattern: '" + e->value + "' is not a valid pattern");
        }
    }
    if (!p.ps.empty() && p.psPattern) r.problem(section.line, "ps and ps-pattern contradict: give one");
    r.optionalNumber("pty", p.pty, 0, 31);
    if (const IniEntry* e = r.find("tp")) {
        if (const auto v = ParseBool(e->value))
            p.tp = *v;
        else
            r.problem(e->line, "tp: '" + e->value + "' is not yes or no");
    }
    if (const IniEntry* e = r.find("af")) {
        for (const std::string& f : SplitList(e->value, ' ')) {
            if (const auto khz = ParseAf(f))
                p.af.insert(*khz);
            else
                r.problem(e->line, "af: '" + f + "' is no FM (87.6..107.9 MHz) or LF/MF (kHz) frequency");
        }
    }
    r.number("rds-lost", p.rdsLost, 1, 86400);
    r.optionalNumber("ta-max", p.taMax, 1, 1440, 60);
    r.optionalNumber("clock-offset", p.clockOffset, 1, 86400);
    r.optionalNumber("block-error-rate", p.blockErrorRate, 0, 100, 0.01);
    r.optionalNumber("rds-injection-min", p.rdsInjectionMin, 0, 75);
    r.optionalNumber("rds-injection-max", p.rdsInjectionMax, 0, 75);
    if (p.rdsInjectionMin && p.rdsInjectionMax && *p.rdsInjectionMin > *p.rdsInjectionMax)
        r.problem(section.line, "rds-injection-min is above rds-injection-max");
    r.flag("pilot", p.pilot);
    r.number("carrier-lost", p.carrierLost, 1, 86400);
    r.optionalNumber("min-level", p.minLevel, -200, 0);
    r.optionalNumber("max-deviation", p.maxDeviation, 1, 200);
    r.number("deviation-tolerance", p.deviationTolerance, 0, 100);
    r.optionalNumber("max-mpx-power", p.maxMpxPower, -30, 30);
    r.number("hold", p.raiseHold, 0, 86400);
    r.number("clear-hold", p.clearHold, 0, 86400);
    r.finish();
    for (const StationProfile& other : c.stations)
        if (other.key == p.key) r.problem(section.line, "station '" + p.key + "' has two profiles");
    c.stations.push_back(p);
}

void ReadWeb(const IniSection& section, WebConfig& w, std::vector<ConfigProblem>& problems)
{
    SectionReader r(section, problems);
    w.enabled = true;
    w.line = section.line;
    r.flag("enabled", w.enabled);
    int listenLine = section.line;
    if (const IniEntry* e = r.find("listen")) {
        listenLine = e->line;
        // ADDRESS:PORT, [IPV6]:PORT, or a port alone (loopback).
        const std::string& v = e->value;
        const std::size_t colon = v.rfind(':');
        std::string host = colon == std::string::npos ? std::string() : v.substr(0, colon);
        const std::string port = colon == std::string::npos ? v : v.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
        const auto number = ParseNumber(port);
        in6_addr any{};
        const bool address = host.empty() || host == "localhost" || inet_pton(AF_INET, host.c_str(), &any) == 1 ||
                             inet_pton(AF_INET6, host.c_str(), &any) == 1;
        if (!number || *number < 1 || *number > 65535 || *number != std::floor(*number) || !address) {
            r.problem(e->line, "listen: '" + v + "' is not ADDRESS:PORT like 127.0.0.1:8080");
        } else {
            w.port = static_cast<int>(*number);
            if (!host.empty()) w.address = host;
        }
    }
    r.text("token-file", w.tokenFile);
    if (const IniEntry* e = r.find("token"))
        r.problem(e->line, "token: give it in a file with token-file, not in the configuration");
    r.text("dashboard", w.dashboard);
    r.number("clients", w.clients, 1, 100000);
    r.number("connections", w.connections, 2, 100000);
    r.number("client-queue-kib", w.clientQueueKib, 16, 1024 * 1024);
    r.number("request-kib", w.requestKib, 4, 1024 * 1024);
    if (w.enabled && !IsLoopbackAddress(w.address) && w.tokenFile.empty())
        r.problem(listenLine, "listen: " + w.address +
                                  " is not a loopback address: give token-file too, so that only holders of the "
                                  "token are answered");
    r.finish();
}

}  // namespace

bool IsLoopbackAddress(const std::string& address)
{
    if (address == "localhost" || address == "::1") return true;
    in_addr v4{};
    return inet_pton(AF_INET, address.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

std::string SourceConfig::stationName() const { return frequency ? rdsformats::FrequencyText(*frequency) : name; }

bool KnownSourceKind(const std::string& kind)
{
    return kind == "mpx" || kind == "bits" || kind == "hex" || kind == "grouplog" || kind == "card" || kind == "band";
}

std::optional<int64_t> ParseUtcTime(const std::string& text)
{
    std::tm tm{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
    char sep = 0;
    int used = 0;
    // Nothing may follow but the Z: an offset such as +01:00 would be read as UTC.
    if (std::sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%lf%n", &year, &month, &day, &sep, &hour, &minute, &second, &used) !=
            7 ||
        (text.compare(std::size_t(used), std::string::npos, "") != 0 &&
         text.compare(std::size_t(used), std::string::npos, "Z") != 0) ||
        (sep != 'T' && sep != ' ') || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second < 0 || second >= 61)
        return std::nullopt;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return static_cast<int64_t>(timegm(&tm)) * 100 + std::llround(second * 100);
}

ServiceConfig ParseConfig(const std::string& text, std::vector<ConfigProblem>& problems, bool collect)
{
    ServiceConfig c;
    const IniFile ini = ParseIni(text);
    for (const IniProblem& p : ini.problems) problems.push_back({p.line, p.message});
    std::set<std::string> single;
    for (const IniSection& section : ini.sections) {
        const bool once =
            section.kind == "service" || section.kind == "mqtt" || section.kind == "collect" || section.kind == "web";
        if (once && !single.insert(section.kind).second)
            problems.push_back({section.line, "[" + section.kind + "] is given twice"});
        if (section.kind == "service") {
            ReadService(section, c, problems);
        } else if (section.kind == "mqtt") {
            ReadMqtt(section, c.mqtt, problems);
        } else if (section.kind == "webhook") {
            ReadWebhook(section, c, problems);
        } else if (section.kind == "source") {
            ReadSource(section, c, problems);
        } else if (section.kind == "station") {
            ReadStation(section, c, problems);
        } else if (section.kind == "web") {
            ReadWeb(section, c.web, problems);
        } else if (section.kind == "collect") {
            c.collect.present = true;
            SectionReader r(section, problems);
            r.text("topic", c.collect.topic);
            r.finish();
        } else {
            problems.push_back({section.line, "unknown section [" + section.kind + "]"});
        }
    }
    if (collect) {
        if (!c.collect.present) problems.push_back({0, "--collect needs a [collect] section"});
        if (!c.mqtt.enabled) problems.push_back({0, "--collect needs an [mqtt] section with the broker"});
    } else if (c.sources.empty()) {
        problems.push_back({0, "no [source NAME] section: nothing to watch"});
    }
    // Every profile belongs to a source's station.
    std::map<std::string, int> names;
    for (const SourceConfig& s : c.sources)
        if (s.kind != "band" && names[s.stationName()]++)
            problems.push_back({s.line, "two sources receive station '" + s.stationName() + "'"});
    const bool haveBand = std::any_of(c.sources.begin(), c.sources.end(), [](auto& s) { return s.kind == "band"; });
    for (const StationProfile& p : c.stations)
        if (!names.count(p.key) && !haveBand)
            problems.push_back({p.line, "station '" + p.key + "': no source receives it"});
    return c;
}

}  // namespace varnakd
