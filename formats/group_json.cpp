#include "group_json.h"

#include <cstdio>
#include <cstring>

#include "group_log.h"
#include "json_text.h"
#include "rbds.h"
#include "rds_charset.h"

namespace rdsformats {
namespace {

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
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFFu);
        addText(name, buffer);
    }
    void addText(const char* name, const char* text)
    {
        key(name);
        if (text)
            AppendJsonString(out_, text, std::strlen(text));
        else
            out_ += "null";
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
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%u.%u", value / 10, value % 10);
        out_ += buffer;
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

}  // namespace

void AppendGroupJson(std::string& out, const varnak::DecodedGroup& group, const varnak::MurlinApi& api,
                     const JsonExtras& extras)
{
    const DecoderState& s = group.state;
    const uint16_t b = group.blockWords[1];
    const unsigned type = s.groupType;
    const bool versionB = s.groupVersion != 0;

    JsonObject o(out);
    char name[8];
    std::snprintf(name, sizeof name, "%u%c", type, versionB ? 'B' : 'A');
    o.addText("group", name);
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
        char word[8];
        std::snprintf(word, sizeof word, "%s\"%04X\"", n ? "," : "", group.blockWords[n]);
        o.raw() += word;
    }
    o.raw() += ']';

    switch (type) {
        case 0:
            o.addBool("ta", s.ta);
            o.addBool("ms", s.ms);
            AddDi(o, s);
            o.addInt("psSegment", b & 3);
            o.addField("ps", s.ps, sizeof s.ps);
            if (!versionB) {
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
            if (versionB)
                o.addField("radiotext", s.radioTextB, sizeof s.radioTextB);
            else
                o.addField("radiotext", s.radioText, sizeof s.radioText);
            break;
        case 3:
            if (!versionB) {
                std::snprintf(name, sizeof name, "%u%c", s.odaGroupType, s.odaGroupVersion ? 'B' : 'A');
                o.addText("odaGroup", name);
                o.addHex4("odaMessage", s.odaMessage);
                o.addHex4("odaAid", s.odaAid);
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
                t.end();
            }
            break;
        case 14: {
            o.key("eon");
            JsonObject e(o.raw());
            e.addHex4("pi", s.eonPi);
            e.addBool("tp", s.eonTp);
            e.addBool("ta", s.eonTa);
            if (!versionB) {
                e.addInt("variant", b & 15);
                e.addInt("pty", s.eonPty);
                e.addField("ps", s.eonPs, sizeof s.eonPs);
                AddPin(e, s.eonPin);
                const uint16_t af[2] = {s.eonAf1, s.eonAf2};
                AddFrequencyList(e, "af", af, 2);
            }
            e.end();
            break;
        }
        case 15:
            if (versionB) {
                o.addBool("ta", s.ta);
                o.addBool("ms", s.ms);
            }
            break;
        default:
            break;
    }
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
