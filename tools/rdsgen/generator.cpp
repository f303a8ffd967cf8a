#include "generator.h"

#include "rds_encoder.h"
#include "tmc_message.h"

#include <cmath>
#include <random>

namespace rdsgen {

namespace {

constexpr uint8_t kFillerCode = 205;
constexpr uint8_t kLfMfFollows = 250;
constexpr int64_t kMjdOfUnixEpoch = 40587;  // 1970-01-01

// The alternative-frequency words of group 0A, method A: the count code with
// the first frequency, then pairs. FM entries go first; every LF/MF entry
// then takes a pair of its own behind the code 250.
std::vector<uint16_t> AfWords(const std::vector<AltFrequency>& af)
{
    std::vector<uint8_t> fm;
    std::vector<uint8_t> lfmf;
    for (const auto& f : af) (f.lfmf ? lfmf : fm).push_back(f.code);
    std::vector<uint16_t> words;
    if (af.empty()) return {uint16_t(224 << 8 | kFillerCode)};  // "no AF exists"
    const uint8_t first = fm.empty() ? kFillerCode : fm.front();
    words.push_back(uint16_t((224 + af.size()) << 8 | first));
    for (size_t i = fm.empty() ? 0 : 1; i < fm.size(); i += 2)
        words.push_back(uint16_t(fm[i] << 8 | (i + 1 < fm.size() ? fm[i + 1] : kFillerCode)));
    for (uint8_t code : lfmf) words.push_back(uint16_t(kLfMfFollows << 8 | code));
    return words;
}

// Uniform numbers in [0, 1) from the 53 top bits, so a seed gives the same
// stream with any standard library.
class Noise {
public:
    explicit Noise(uint64_t seed) : engine_(seed) {}
    double uniform() { return double(engine_() >> 11) * 0x1.0p-53; }
    char bit() { return (engine_() >> 63) ? '1' : '0'; }

private:
    std::mt19937_64 engine_;
};

}  // namespace

Transmitter::Transmitter(const Station& station) : st_(station), afWords_(AfWords(station.af)), rawIndex_(32, 0)
{
    for (size_t n = 0; n < st_.eon.size(); ++n) {
        const EonNetwork& net = st_.eon[n];
        for (uint8_t v = 0; v < 16; ++v) {
            if (net.variants[v]) eonItems_.push_back({n, v, *net.variants[v]});
            if (v == 4)
                for (uint16_t w : net.extraAf) eonItems_.push_back({n, 4, w});
        }
        // A network described by its PI alone still gets named in 14A groups.
        bool any = false;
        for (const auto& item : eonItems_) any |= item.network == n;
        if (!any) eonItems_.push_back({n, 13, uint16_t(net.ta ? 1 : 0)});
    }
}

uint16_t Transmitter::BlockB(GroupId g, uint8_t low5) const
{
    return uint16_t(g.type << 12 | g.version << 11 | (st_.tp ? 1 : 0) << 10 | (st_.pty & 31) << 5 | (low5 & 31));
}

GroupWords Transmitter::next(double seconds)
{
    if (st_.clock) {
        const int64_t now = st_.clock->startSeconds + int64_t(std::floor(seconds));
        const int64_t minute = (now >= 0 ? now : now - 59) / 60;
        if (!lastClockMinute_ || *lastClockMinute_ != minute) return clock(seconds);
    }
    if (st_.schedule.empty()) return basic({0, 0});
    const GroupId g = st_.schedule[slot_ % st_.schedule.size()];
    ++slot_;
    return make(g, seconds);
}

GroupWords Transmitter::make(GroupId g, double seconds)
{
    const uint16_t pi = st_.pi;
    const int code = g.type * 2 + g.version;

    // Raw groups named in the description take their group's place.
    std::vector<const RawGroup*> raws;
    for (const auto& r : st_.raw)
        if (r.group == g) raws.push_back(&r);
    if (!raws.empty()) {
        const RawGroup& r = *raws[rawIndex_[code]++ % raws.size()];
        return {pi, BlockB(g, r.low5), r.c.value_or(pi), r.d};
    }

    switch (code) {
        case 0:
        case 1:
            return basic(g);
        case 2:
        case 3: {
            const uint16_t c = g.version ? pi : (st_.slc.empty() ? uint16_t(0) : st_.slc[slcIndex_++ % st_.slc.size()]);
            return {pi, BlockB(g, st_.rpc), c, st_.pin.value_or(0)};
        }
        case 4:
            return radioText(false);
        case 5:
            return radioText(true);
        case 6: {
            const OdaEntry& o = st_.oda[odaIndex_++ % st_.oda.size()];
            return {pi, BlockB(g, uint8_t(o.group.type << 1 | o.group.version)), o.message, o.aid};
        }
        case 8:
            return clock(seconds);
        case 16: {
            const TmcMessage& m = st_.tmc[tmcIndex_ % st_.tmc.size()];
            if (m.quantifier) return tmcMultiGroup(g, m);
            ++tmcIndex_;
            const uint8_t low5 = uint8_t((m.tuning ? 16 : 0) | (m.single ? 8 : 0) | (m.duration & 7));
            const uint16_t c = uint16_t((m.diversion ? 0x8000 : 0) | (m.direction ? 0x4000 : 0) | (m.extent & 7) << 11 |
                                        (m.event & 0x7FF));
            return {pi, BlockB(g, low5), c, m.location};
        }
        case 28:
            return eon();
        case 29: {
            const EonNetwork& n = st_.eon[eon14bIndex_++ % st_.eon.size()];
            return {pi, BlockB(g, uint8_t((n.tp ? 16 : 0) | (n.ta ? 8 : 0))), pi, n.pi};
        }
        case 31: {
            const int s = fifteenSegment_;
            fifteenSegment_ = (s + 1) % 4;
            const uint16_t b =
                BlockB(g, uint8_t((st_.ta ? 16 : 0) | (st_.ms ? 8 : 0) | ((st_.di >> (3 - s)) & 1) << 2 | s));
            return {pi, b, pi, b};
        }
        default:
            // Nothing described for this group: an empty one keeps the schedule's timing.
            return {pi, BlockB(g, 0), g.version ? pi : uint16_t(0), 0};
    }
}

GroupWords Transmitter::basic(GroupId g)
{
    const int s = psSegment_;
    psSegment_ = (s + 1) % 4;
    const uint8_t low5 = uint8_t((st_.ta ? 16 : 0) | (st_.ms ? 8 : 0) | ((st_.di >> (3 - s)) & 1) << 2 | s);
    uint16_t c = st_.pi;
    if (g.version == 0) {
        c = afWords_[afIndex_];
        afIndex_ = (afIndex_ + 1) % afWords_.size();
    }
    const uint16_t d = uint16_t(uint8_t(st_.ps[2 * s]) << 8 | uint8_t(st_.ps[2 * s + 1]));
    return {st_.pi, BlockB(g, low5), c, d};
}

GroupWords Transmitter::radioText(bool versionB)
{
    const std::vector<std::string>& texts = versionB ? st_.radioTextB : st_.radioTextA;
    const int perSegment = versionB ? 2 : 4;
    RtState& state = rt_[versionB];
    const std::string& text = texts[state.message % texts.size()];
    // Only the segments up to the last character that is not a space go out.
    const size_t used = text.find_last_not_of(' ');
    const int segments = used == std::string::npos ? 1 : int(used / perSegment) + 1;

    const int a = state.segment;
    const auto ch = [&](int i) { return uint8_t(text[size_t(a) * size_t(perSegment) + size_t(i)]); };
    GroupWords g;
    const GroupId id{2, uint8_t(versionB)};
    g.a = st_.pi;
    g.b = BlockB(id, uint8_t((textFlag_ ? 16 : 0) | a));
    if (versionB) {
        g.c = st_.pi;
        g.d = uint16_t(ch(0) << 8 | ch(1));
    } else {
        g.c = uint16_t(ch(0) << 8 | ch(1));
        g.d = uint16_t(ch(2) << 8 | ch(3));
    }

    if (++state.segment >= segments) {
        state.segment = 0;
        if (++state.sends >= st_.rtRepeat && texts.size() > 1) {
            // A new message: the A/B flag flips so receivers clear their text.
            state.sends = 0;
            ++state.message;
            textFlag_ = !textFlag_;
        }
    }
    return g;
}

GroupWords Transmitter::clock(double seconds)
{
    const ClockTime clock = st_.clock.value_or(ClockTime{});
    const int64_t now = clock.startSeconds + int64_t(std::floor(seconds));
    lastClockMinute_ = (now >= 0 ? now : now - 59) / 60;
    // Floor division: dates before 1970 have negative seconds.
    const int64_t days = (now >= 0 ? now : now - 86399) / 86400;
    const int64_t inDay = now - days * 86400;
    const int64_t mjd = days + kMjdOfUnixEpoch;
    const int hour = int(inDay / 3600);
    const int minute = int(inDay % 3600 / 60);
    const int half = clock.offsetHalfHours;
    const uint16_t b = BlockB({4, 0}, uint8_t((mjd >> 15) & 3));
    const uint16_t c = uint16_t((mjd & 0x7FFF) << 1 | (hour >> 4));
    const uint16_t d = uint16_t((hour & 15) << 12 | minute << 6 | (half < 0 ? 32 : 0) | (std::abs(half) & 31));
    return {st_.pi, b, c, d};
}

// A TMC message with a quantifier as two groups of one continuity index:
// the first group (event, location, direction, extent), then the second and
// last group with the optional content: the duration (label 0) and the
// quantifier (label 4, 5 bits, for events of quantifier types 0..5; label 5,
// 8 bits, for the others), padded with zeros.
GroupWords Transmitter::tmcMultiGroup(GroupId g, const TmcMessage& m)
{
    const uint16_t pi = st_.pi;
    const uint8_t continuity = uint8_t(1 + tmcIndex_ % 6);
    if (tmcPart_ == 0) {
        tmcPart_ = 1;
        const uint16_t c = uint16_t(0x8000 | (m.direction ? 0x4000 : 0) | (m.extent & 7) << 11 | (m.event & 0x7FF));
        return {pi, BlockB(g, continuity), c, m.location};
    }
    tmcPart_ = 0;
    ++tmcIndex_;
    uint32_t content = 0;  // 28 bits, first bit highest
    int used = 0;
    const auto put = [&](uint32_t value, int bits) {
        content |= (value & ((1u << bits) - 1)) << (28 - used - bits);
        used += bits;
    };
    if (m.duration) {
        put(0, 4);
        put(m.duration, 3);
    }
    const int type = rdsformats::TmcQuantifierType(m.event);
    if (type >= 6) {
        put(5, 4);
        put(*m.quantifier, 8);
    } else {
        put(4, 4);
        put(*m.quantifier, 5);
    }
    // Second group (bit 14), group sequence indicator 0: no more follow.
    const uint16_t c = uint16_t(0x4000 | (content >> 16));
    return {pi, BlockB(g, continuity), c, uint16_t(content & 0xFFFF)};
}

GroupWords Transmitter::eon()
{
    const EonItem& item = eonItems_[eonIndex_++ % eonItems_.size()];
    const EonNetwork& n = st_.eon[item.network];
    return {st_.pi, BlockB({14, 0}, uint8_t((n.tp ? 16 : 0) | item.variant)), item.word, n.pi};
}

std::string GenerateBits(const Station& station, const StreamOptions& options, std::vector<GroupWords>* sent)
{
    Noise noise(options.seed);
    std::string bits;
    const int64_t total = options.groups ? -1 : int64_t(std::llround(options.seconds * kBitRate)) + options.garbageBits;
    if (options.groups)
        bits.reserve(size_t(options.garbageBits + *options.groups * 104));
    else
        bits.reserve(size_t(total) + 104);

    for (int64_t i = 0; i < options.garbageBits; ++i) bits.push_back(noise.bit());

    Transmitter tx(station);
    for (int64_t n = 0;; ++n) {
        if (options.groups ? n >= *options.groups : int64_t(bits.size()) >= total) break;
        const GroupWords g = tx.next(double(bits.size()) / kBitRate);
        rdsenc::AppendGroup(bits, g.a, g.b, g.c, g.d);
        if (sent && (total < 0 || int64_t(bits.size()) <= total)) sent->push_back(g);
    }
    if (total >= 0) bits.resize(size_t(total));  // a recording stops mid-group

    if (options.errorRate > 0)
        for (char& b : bits)
            if (noise.uniform() < options.errorRate) b ^= 1;  // '0' <-> '1'
    for (const Burst& burst : options.bursts) {
        const int64_t end = std::min<int64_t>(int64_t(bits.size()), burst.start + burst.length);
        for (int64_t i = std::max<int64_t>(0, burst.start); i < end; ++i)
            if (noise.uniform() < burst.rate) bits[size_t(i)] ^= 1;
    }
    if (options.invert)
        for (char& b : bits) b ^= 1;
    return bits;
}

}  // namespace rdsgen
