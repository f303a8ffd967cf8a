#include "rtplus.h"

#include "rds_charset.h"

namespace rdsformats {
namespace {

constexpr const char* kClasses[64] = {
    "dummy_class",
    "item.title",
    "item.album",
    "item.tracknumber",
    "item.artist",
    "item.composition",
    "item.movement",
    "item.conductor",
    "item.composer",
    "item.band",
    "item.comment",
    "item.genre",
    "info.news",
    "info.news.local",
    "info.stockmarket",
    "info.sport",
    "info.lottery",
    "info.horoscope",
    "info.daily_diversion",
    "info.health",
    "info.event",
    "info.scene",
    "info.cinema",
    "info.stupidity_machine",
    "info.date_time",
    "info.weather",
    "info.traffic",
    "info.alarm",
    "info.advertisement",
    "info.url",
    "info.other",
    "stationname.short",
    "stationname.long",
    "programme.now",
    "programme.next",
    "programme.part",
    "programme.host",
    "programme.editorial_staff",
    "programme.frequency",
    "programme.homepage",
    "programme.subchannel",
    "phone.hotline",
    "phone.studio",
    "phone.other",
    "sms.studio",
    "sms.other",
    "email.hotline",
    "email.studio",
    "email.other",
    "mms.other",
    "chat",
    "chat.centre",
    "vote.question",
    "vote.centre",
    "rfu.54",
    "rfu.55",
    "private.56",
    "private.57",
    "private.58",
    "place",
    "appointment",
    "identifier",
    "purchase",
    "get_data",
};

// Content types 1..11 describe the running item (title, artist, ...).
constexpr int kLastItemClass = 11;

}  // namespace

const char* RtPlus::ClassName(int type) { return type >= 0 && type < 64 ? kClasses[type] : nullptr; }

std::array<RtPlus::GroupTag, 2> RtPlus::GroupTags(const uint16_t (&b)[4])
{
    return {GroupTag{((b[1] & 7) << 3) | (b[2] >> 13), (b[2] >> 7) & 0x3F, ((b[2] >> 1) & 0x3F) + 1},
            GroupTag{((b[2] & 1) << 5) | (b[3] >> 11), (b[3] >> 5) & 0x3F, (b[3] & 0x1F) + 1}};
}

void RtPlus::addTag(int type, int start, int length)
{
    if (type == 0) return;  // the dummy class marks an unused tag
    tags_[type] = Tag{static_cast<uint8_t>(start), static_cast<uint8_t>(length)};
    present_ |= uint64_t(1) << type;
}

void RtPlus::feed(const uint16_t (&b)[4], const char* radioTextA, const char* radioTextB)
{
    touched_ = false;
    const int type = b[1] >> 12, version = (b[1] >> 11) & 1;
    if (type == 3 && version == 0 && b[3] == kAid) {
        carrier_ = b[1] & 0x1F;
        touched_ = true;
        return;
    }
    if (type == 2) {
        // A new radiotext (A/B flag flipped) makes the old tags meaningless.
        const int ab = (b[1] >> 4) & 1;
        if (ab != textAB_) present_ = 0;
        textAB_ = ab;
        versionB_ = version == 1;
        text_ = versionB_ ? std::string(radioTextB, 32) : std::string(radioTextA, 64);
        touched_ = carrier_ >= 0;
        return;
    }
    if (carrier_ < 0 || type * 2 + version != carrier_) return;
    touched_ = true;
    const int toggle = (b[1] >> 4) & 1;
    if (toggle != toggle_) present_ = 0;  // a new item
    toggle_ = toggle;
    running_ = (b[1] >> 3) & 1;
    for (const GroupTag& t : GroupTags(b)) addTag(t.type, t.start, t.length - 1);
    text_ = versionB_ ? std::string(radioTextB, 32) : std::string(radioTextA, 64);
}

std::vector<std::pair<std::string, std::string>> RtPlus::items() const
{
    std::vector<std::pair<std::string, std::string>> out;
    for (int type = 1; type < 64; ++type) {
        if (!((present_ >> type) & 1)) continue;
        // Without a running item (news, a jingle) the item tags mean nothing.
        if (type <= kLastItemClass && !running_) continue;
        const Tag& t = tags_[type];
        const std::size_t end = std::size_t(t.start) + t.length + 1;
        if (end > text_.size()) continue;
        std::string part = text_.substr(t.start, end - t.start);
        // Up to an end code, without the padding.
        const std::size_t stop = part.find_first_of(std::string("\r\0", 2));
        if (stop != std::string::npos) part.resize(stop);
        while (!part.empty() && part.back() == ' ') part.pop_back();
        if (part.empty()) continue;
        out.emplace_back(kClasses[type], RdsToUtf8(part.data(), part.size()));
    }
    return out;
}

}  // namespace rdsformats
