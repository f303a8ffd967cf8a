#include "group_json.h"

#include <cstdio>
#include <cstring>

#include "group_log.h"
#include "json_text.h"
#include "oda_names.h"
#include "rbds.h"
#include "rds_charset.h"
#include "rtplus.h"

namespace rdsformats {
namespace {

// Four upper-case hexadecimal digits of `value` (the hot path of every
// group: no printf).
void AppendHex4(std::string& out, unsigned value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 15u];
}

// Builds one object; every add* call writes `"key":value` with a comma
// before all but the first member.
class JsonObject {
public:
    explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }
    void end() { out_ += '}'; }

    void key(const char* name)
    {
        if (!first_) out_ += ',';
        first_ = false;
        out_ += '"';
        out_ += name;
        out_ += "\":";
    }
    void addInt(const char* name, long value)
    {
        key(name);
        out_ += std::to_string(value);
    }
    void addBool(const char* name, unsigned value)
    {
        key(name);
        out_ += value ? "true" : "false";
    }
    void addHex4(const char* name, unsigned value)
    {
        key(name);
        out_ += '"';
        AppendHex4(out_, value);
        out_ += '"';
    }
    void addText(const char* name, const char* text)
    {
        key(name);
        if (text)
            AppendJsonString(out_, text, std::strlen(text));
        else
            out_ += "null";
    }
    void addUtf8(const char* name, const std::string& text)
    {
        key(name);
        AppendUtf8JsonString(out_, text);
    }
    // A fixed-size broadcast text field of the record: up to its zero byte.
    void addField(const char* name, const char* text, std::size_t size)
    {
        key(name);
        AppendRdsJsonString(out_, text, ::strnlen(text, size));
    }
    // A frequency in units of 100 kHz as MHz, e.g. 876 -> 87.6.
    void addMhz(unsigned value)
    {
        out_ += std::to_string(value / 10);
        out_ += '.';
        out_ += static_cast<char>('0' + value % 10);
    }
    std::string& raw() { return out_; }

private:
    std::string& out_;
    bool first_ = true;
};

void AddDi(JsonObject& o, const DecoderState& s)
{
    static const char* const names[4] = {"stereo", "artificialHead", "compressed", "dynamicPty"};
    o.key("di");
    std::string& out = o.raw();
    out += '{';
    for (int i = 0; i < 4; ++i) {
        if (i) out += ',';
        out += '"';
        out += names[i];
        out += "\":";
        out += s.di[i] == 0xFF ? "null" : (s.di[i] ? "true" : "false");
    }
    out += '}';
}

// A programme-item number: day in bits 15..11, hour 10..6, minute 5..0.
void AddPin(JsonObject& o, unsigned pin)
{
    o.key("pin");
    o.raw() += "{\"day\":" + std::to_string(pin >> 11) + ",\"hour\":" + std::to_string((pin >> 6) & 31) +
               ",\"minute\":" + std::to_string(pin & 63) + '}';
}

void AddFrequencyList(JsonObject& o, const char* name, const uint16_t* list, int count)
{
    o.key(name);
    o.raw() += '[';
    bool first = true;
    for (int i = 0; i < count; ++i) {
        if (!list[i]) continue;
        if (!first) o.raw() += ',';
        first = false;
        o.addMhz(list[i]);
    }
    o.raw() += ']';
}

// A text in the RDS set with its confidence: `name` once every character
// is confirmed, else what arrived so far as "partial<Name>" with its mask
// "<name>Confidence" ('c' confirmed, 'p' provisional, '-' missing); nothing
// before any character arrived.
void AddConfidentText(JsonObject& o, const char* name, const rdsformats::ConfidentText& t, bool trim)
{
    if (!t.any()) return;
    const std::size_t n = t.length();
    std::string text = rdsformats::RdsTextUtf8(t, n);
    std::string key = name;
    if (t.complete()) {
        while (trim && !text.empty() && text.back() == ' ') text.pop_back();
        o.key(name);
        AppendUtf8JsonString(o.raw(), text);
        return;
    }
    key[0] = static_cast<char>(key[0] - 'a' + 'A');
    o.key(("partial" + key).c_str());
    AppendUtf8JsonString(o.raw(), text);
    o.addText((std::string(name) + "Confidence").c_str(), t.mask(n).c_str());
}

// The same for a text of UTF-8 or UCS-2 bytes; the mask is per character.
void AddWideText(JsonObject& o, const char* name, const rdsformats::ConfidentText& t, bool ucs2)
{
    if (!t.any()) return;
    const rdsformats::WideText w = rdsformats::DecodeWideText(t, ucs2);
    std::string key = name;
    if (t.complete()) {
        o.key(name);
        AppendUtf8JsonString(o.raw(), w.text);
        return;
    }
    key[0] = static_cast<char>(key[0] - 'a' + 'A');
    o.key(("partial" + key).c_str());
    AppendUtf8JsonString(o.raw(), w.text);
    o.addText((std::string(name) + "Confidence").c_str(), w.mask.c_str());
}

void AddPsSequence(JsonObject& o, const rdsformats::StationTexts& texts)
{
    if (!texts.dynamicPs()) return;
    o.addBool("dynamicPs", true);
    o.key("psSequence");
    o.raw() += '[';
    bool first = true;
    for (const std::string& name : texts.psSequence()) {
        if (!first) o.raw() += ',';
        first = false;
        AppendUtf8JsonString(o.raw(), name);
    }
    o.raw() += ']';
}

// Days since 1970-01-01 of a date of the Gregorian calendar, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

// The station's local time as ISO 8601 with its offset from UTC:
// "2008-02-25T16:51:00+01:00".
std::string IsoClockTime(const DecoderState& s)
{
    const int offsetMinutes = s.localOffset * 6;
    int64_t minutes = DaysFromCivil(s.year, s.month, s.day) * 1440 + s.hour * 60 + s.minute + offsetMinutes;
    const int64_t z = (minutes >= 0 ? minutes : minutes - 1439) / 1440 + 719468;
    minutes -= (z - 719468) * 1440;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = int64_t(yoe) + era * 400 + (month <= 2);
    const int offset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:00%c%02d:%02d", static_cast<long long>(year),
                  month, day, static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60),
                  offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

// Where a TMC message is, from the location table: road number and name,
// the location's name, the direction and the far end of the extent.
void AddTmcPlace(JsonObject& t, const rdsformats::TmcLocationTable& table, const DecoderState& s)
{
    const auto place = table.place(s.tmcLocation, s.tmcPN != 0, s.tmcExtent);
    if (!place) return;
    t.key("place");
    JsonObject p(t.raw());
    if (!place->roadNumber.empty()) p.addUtf8("road", place->roadNumber);
    if (!place->roadName.empty()) p.addUtf8("roadName", place->roadName);
    p.addUtf8("name", place->name);
    p.addText("direction", s.tmcPN ? "negative" : "positive");
    if (!place->extentEnd.empty()) p.addUtf8("extentEnd", place->extentEnd);
    p.end();
}

// The TMC message this group made whole: its event text with the
// quantifier filled in.
void AddTmcMessage(JsonObject& group, const rdsformats::TmcMessage& m, const varnak::MurlinApi& api)
{
    group.key("tmcMessage");
    JsonObject o(group.raw());
    o.addInt("event", m.event);
    const char* phrase = api.RDSEVTDesc(m.event);
    rdsformats::TmcQuantity quantity;
    if (m.quantifier) quantity = rdsformats::TmcQuantifierText(rdsformats::TmcQuantifierType(m.event), *m.quantifier);
    if (phrase) o.addUtf8("eventText", rdsformats::TmcFillQuantity(phrase, quantity));
    if (m.quantifier) o.addInt("quantifier", static_cast<int>(*m.quantifier));
    if (!quantity.text.empty()) o.addUtf8("quantity", quantity.text);
    o.addInt("location", m.location);
    o.addInt("direction", m.negative ? 1 : 0);
    o.addInt("extent", m.extent);
    if (m.duration >= 0) o.addInt("duration", m.duration);
    o.addInt("diversion", m.diversion ? 1 : 0);
    o.addInt("groups", m.groups);
    o.end();
}

// What the station's open data applications carry in this group.
void AddOda(JsonObject& o, const varnak::DecodedGroup& group, const JsonExtras& extras)
{
    const rdsformats::StationTexts& texts = *extras.texts;
    const DecoderState& s = group.state;
    const uint16_t aid = texts.oda().aidOf(s.groupType, s.groupVersion);
    if (aid == 0 || (s.groupType == 3 && s.groupVersion == 0)) return;
    o.key("oda");
    JsonObject a(o.raw());
    a.addHex4("aid", aid);
    if (const char* name = rdsformats::OdaName(aid)) a.addText("name", name);
    a.end();
    if (aid == rdsformats::kAidErt) AddWideText(o, "enhancedRadiotext", texts.enhancedRadiotext(), texts.ertUcs2());
    if (aid == rdsformats::kAidErt || aid == rdsformats::kAidRtPlusErt) {
        const auto items = texts.ertPlusItems();
        if (!items.empty()) {
            o.key("ertPlus");
            JsonObject r(o.raw());
            for (const auto& [name, text] : items) r.addUtf8(name.c_str(), text);
            r.end();
        }
    }
    if (aid == rdsformats::kAidDab) {
        const rdsformats::DabCrossReference& dab = texts.dab();
        if (dab.ensemble()) {
            o.key("dabEnsemble");
            JsonObject e(o.raw());
            e.addHex4("eid", dab.ensemble()->eid);
            e.addInt("frequencyKhz", static_cast<long>(dab.ensemble()->frequencyKhz));
            e.addText("mode", rdsformats::DabCrossReference::ModeName(dab.ensemble()->mode));
            e.end();
        }
        if (dab.service()) {
            o.key("dabService");
            JsonObject e(o.raw());
            e.addHex4("sid", dab.service()->sid);
            e.addHex4("eid", dab.service()->eid);
            e.end();
        }
    }
    if (s.groupType * 2 + s.groupVersion == extras.rtPlusCarrier || aid == rdsformats::kAidRtPlusErt) {
        o.key("rtPlusTags");
        o.raw() += '[';
        bool first = true;
        for (const auto& t : rdsformats::RtPlus::GroupTags(group.blockWords)) {
            if (t.type == 0) continue;
            if (!first) o.raw() += ',';
            first = false;
            JsonObject tag(o.raw());
            tag.addInt("type", t.type);
            tag.addText("name", rdsformats::RtPlus::ClassName(t.type));
            tag.addInt("start", t.start);
            tag.addInt("length", t.length);
            tag.end();
        }
        o.raw() += ']';
    }
}

}  // namespace

void AppendGroupJson(std::string& out, const varnak::DecodedGroup& group, const varnak::MurlinApi& api,
                     const JsonExtras& extras)
{
    const DecoderState& s = group.state;
    const uint16_t b = group.blockWords[1];
    const unsigned type = s.groupType;
    const bool versionB = s.groupVersion != 0;

    JsonObject o(out);
    if (extras.frequencyMhz) {
        o.key("freq");
        out += FrequencyText(*extras.frequencyMhz);
    }
    const char groupName[4] = {type >= 10 ? '1' : static_cast<char>('0' + type),
                               type >= 10 ? static_cast<char>('0' + type - 10) : (versionB ? 'B' : 'A'),
                               type >= 10 ? (versionB ? 'B' : 'A') : '\0', '\0'};
    o.addText("group", groupName);
    o.addInt("type", type);
    o.addText("version", versionB ? "B" : "A");
    if (extras.rxTime) o.addText("rxTime", FormatIsoUtc(*extras.rxTime).c_str());
    // The group's own block A: the record's PI changes only with an
    // error-free block A once synchronised, so the first group would
    // otherwise show the PI of no group.
    o.addHex4("pi", group.blockWords[0]);
    if (extras.rbds) {
        const std::string call = CallLetters(group.blockWords[0]);
        if (!call.empty()) o.addText("callsign", call.c_str());
    }
    o.addBool("tp", s.tp);
    o.addInt("pty", s.pty);
    o.addText("ptyName", extras.rbds ? RbdsPtyName(s.pty) : api.RDSPTYDesc(s.pty));
    o.key("blocks");
    o.raw() += '[';
    for (int n = 0; n < 4; ++n) {
        if (n) o.raw() += ',';
        o.raw() += '"';
        AppendHex4(o.raw(), group.blockWords[n]);
        o.raw() += '"';
    }
    o.raw() += ']';

    switch (type) {
        case 0:
            o.addBool("ta", s.ta);
            o.addBool("ms", s.ms);
            AddDi(o, s);
            o.addInt("psSegment", b & 3);
            if (extras.texts) {
                AddConfidentText(o, "ps", extras.texts->ps(), false);
                AddPsSequence(o, *extras.texts);
            } else {
                o.addField("ps", s.ps, sizeof s.ps);
            }
            // The AF list once its count code came.
            if (!versionB && (!extras.texts || extras.texts->afCounted())) {
                o.addInt("afCount", s.afCount);
                AddFrequencyList(o, "af", s.afList, 25);
            }
            break;
        case 1:
            o.addInt("rpc", s.rpc);
            if (!versionB) o.addHex4("slc", s.slc);
            AddPin(o, s.pin);
            break;
        case 2:
            o.addInt("textAB", s.textAB);
            o.addInt("segment", b & 15);
            if (extras.texts)
                AddConfidentText(o, "radiotext", extras.texts->radiotext(versionB ? 1 : 0), true);
            else if (versionB)
                o.addField("radiotext", s.radioTextB, sizeof s.radioTextB);
            else
                o.addField("radiotext", s.radioText, sizeof s.radioText);
            break;
        case 3:
            if (!versionB) {
                char odaGroup[8];
                std::snprintf(odaGroup, sizeof odaGroup, "%u%c", s.odaGroupType, s.odaGroupVersion ? 'B' : 'A');
                o.addText("odaGroup", odaGroup);
                o.addHex4("odaMessage", s.odaMessage);
                o.addHex4("odaAid", s.odaAid);
                if (const char* oda = rdsformats::OdaName(s.odaAid)) o.addText("odaName", oda);
            }
            break;
        case 4:
            if (!versionB) {
                o.key("clock");
                char clock[160];
                std::snprintf(clock, sizeof clock,
                              "{\"year\":%u,\"month\":%u,\"day\":%u,\"hour\":%u,\"minute\":%u,\"localOffset\":%.1f,",
                              s.year, s.month, s.day, s.hour, s.minute, s.localOffset / 10.0);
                o.raw() += clock;
                o.raw() += "\"text\":";
                AppendJsonString(o.raw(), s.clockText, ::strnlen(s.clockText, sizeof s.clockText));
                o.raw() += '}';
                o.addText("clockTime", IsoClockTime(s).c_str());
            }
            break;
        case 8:
            if (!versionB) {
                o.key("tmc");
                JsonObject t(o.raw());
                t.addInt("t", s.tmcT);
                t.addInt("f", s.tmcF);
                t.addInt("dp", s.tmcDP);
                t.addText("dpText", api.RDSDPDesc(s.tmcDP));
                t.addInt("diversion", s.tmcD);
                t.addInt("direction", s.tmcPN);
                t.addInt("extent", s.tmcExtent);
                t.addInt("event", s.tmcEvent);
                t.addText("eventText", api.RDSEVTDesc(s.tmcEvent));
                t.addInt("location", s.tmcLocation);
                if (extras.tmcLocations) AddTmcPlace(t, *extras.tmcLocations, s);
                t.end();
                if (extras.texts && extras.texts->tmcCompleted()) AddTmcMessage(o, *extras.texts->tmc().last(), api);
            }
            break;
        case 14: {
            o.key("eon");
            JsonObject e(o.raw());
            // Each field only once the variant (or 14B) carrying it arrived
            // for this network.
            const uint32_t seen = extras.texts ? extras.texts->eonSeen(s.eonPi) : ~0u;
            e.addHex4("pi", s.eonPi);
            e.addBool("tp", s.eonTp);
            if (seen & ((1u << 13) | (1u << 16))) e.addBool("ta", s.eonTa);
            if (!versionB) {
                e.addInt("variant", b & 15);
                if (seen & (1u << 13)) e.addInt("pty", s.eonPty);
                if (!extras.texts)
                    e.addField("ps", s.eonPs, sizeof s.eonPs);
                else if (const rdsformats::ConfidentText* ps = extras.texts->eonPs(s.eonPi))
                    AddConfidentText(e, "ps", *ps, false);
                if (seen & (1u << 14)) AddPin(e, s.eonPin);
                if (seen & (1u << 4)) {
                    const uint16_t af[2] = {s.eonAf1, s.eonAf2};
                    AddFrequencyList(e, "af", af, 2);
                }
            }
            e.end();
            break;
        }
        case 15:
            if (versionB) {
                o.addBool("ta", s.ta);
                o.addBool("ms", s.ms);
            } else if (extras.texts && extras.texts->oda().aidOf(15, 0) == 0) {
                o.addInt("longPsSegment", b & 7);
                AddWideText(o, "longPs", extras.texts->longPs(), false);
            }
            break;
        default:
            break;
    }
    if (extras.texts) AddOda(o, group, extras);
    if (extras.rtPlus && !extras.rtPlus->empty()) {
        o.key("rtPlus");
        JsonObject r(o.raw());
        for (const auto& [name, text] : *extras.rtPlus) {
            r.key(name.c_str());
            AppendUtf8JsonString(o.raw(), text);
        }
        r.end();
    }
    o.end();
}

}  // namespace rdsformats
