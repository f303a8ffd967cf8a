#include "station_texts.h"

#include <algorithm>

#include "rds_charset.h"
#include "rtplus.h"
#include "status_word.h"

namespace rdsformats {

void BlockQuality::onStatus(uint16_t status, bool sure)
{
    const StatusWord word(status);
    if (word.nothing() || word.autoReset()) return;
    const int slot = word.blockIndex();
    if (slot < 0 || !word.blockUsable()) return;
    if (slot == 0) received_ = repaired_ = sure_ = 0;  // a new group begins
    const auto bit = static_cast<uint8_t>(1u << slot);
    received_ |= bit;
    if (word.check() == StatusWord::kRepaired)
        repaired_ |= bit;
    else
        repaired_ &= static_cast<uint8_t>(~bit);
    if (sure && word.check() == StatusWord::kCorrect)
        sure_ |= bit;
    else
        sure_ &= static_cast<uint8_t>(~bit);
}

GroupRecord BlockQuality::take(const uint16_t (&words)[4])
{
    GroupRecord g;
    g.received = received_;
    g.repaired = repaired_;
    g.sure = sure_;
    for (int n = 0; n < 4; ++n) g.blocks[n] = g.has(n) ? words[n] : 0;
    received_ = repaired_ = sure_ = 0;
    return g;
}

StationTexts::StationTexts()
    : ps_(8), rtA_(64, 0x0D), rtB_(32, 0x0D), ert_(kErtBytes, 0x0D), longPs_(kLongPsBytes, 0x0D)
{
}

void StationTexts::clear()
{
    const uint64_t revision = revision_ + 1;
    *this = StationTexts{};
    revision_ = revision;
}

uint32_t StationTexts::eonSeen(uint16_t pi) const
{
    const auto it = eon_.find(pi);
    return it == eon_.end() ? 0 : it->second;
}

const ConfidentText* StationTexts::eonPs(uint16_t pi) const
{
    const auto it = eonPs_.find(pi);
    return it == eonPs_.end() ? nullptr : &it->second;
}

std::vector<std::pair<std::string, std::string>> StationTexts::ertPlusItems() const
{
    std::vector<std::pair<std::string, std::string>> out;
    const WideText w = DecodeWideText(ert_, ertUcs2());
    // The characters of the text, each with its UTF-8 bytes.
    std::vector<std::pair<std::size_t, std::size_t>> chars;
    for (std::size_t pos = 0; pos < w.text.size();) {
        const std::size_t start = pos;
        if (NextUtf8(w.text, pos) < 0) ++pos;
        chars.emplace_back(start, pos - start);
    }
    std::vector<ErtTag> tags = ertTags_;
    std::sort(tags.begin(), tags.end(), [](const ErtTag& a, const ErtTag& b) { return a.type < b.type; });
    constexpr int kLastItemClass = 11;  // content types 1..11 describe the running item
    for (const ErtTag& t : tags) {
        if (t.type <= kLastItemClass && !ertRunning_) continue;
        const std::size_t end = std::size_t(t.start) + t.length;
        if (end > chars.size() || w.mask.find_first_not_of('c', t.start) < end) continue;
        std::string part =
            w.text.substr(chars[t.start].first, chars[end - 1].first + chars[end - 1].second - chars[t.start].first);
        while (!part.empty() && part.back() == ' ') part.pop_back();
        if (!part.empty()) out.emplace_back(RtPlus::ClassName(t.type), part);
    }
    return out;
}

void StationTexts::feedSegments(ConfidentText& text, const GroupRecord& g, std::size_t pos, bool fromC)
{
    // Block B holds the address: a repaired B may put the right bytes in
    // the wrong place, so it counts against every byte.
    const bool cleanB = !(g.repaired & 2);
    // A block the demodulator was sure of, addressed by a sure block B,
    // confirms its characters at once.
    const bool sureB = (g.sure & 2) != 0;
    for (int n = fromC ? 2 : 3; n <= 3; ++n, pos += 2) {
        if (!g.has(n)) continue;
        const uint8_t bytes[2] = {static_cast<uint8_t>(g.blocks[n] >> 8), static_cast<uint8_t>(g.blocks[n])};
        const bool clean = cleanB && !((g.repaired >> n) & 1);
        if (text.put(pos, bytes, 2, clean, clean && sureB && ((g.sure >> n) & 1))) ++revision_;
    }
}

void StationTexts::notePsComplete()
{
    if (!ps_.complete()) return;
    std::string text(8, ' ');
    for (std::size_t i = 0; i < 8; ++i) text[i] = static_cast<char>(ps_.byte(i));
    if (text == lastComplete_) return;
    if (!lastComplete_.empty()) changes_.push_back(groups_);
    while (!changes_.empty() && groups_ - changes_.front() > kDynamicWindow) changes_.pop_front();
    lastComplete_ = text;
    sequence_.push_back(RdsTextUtf8(ps_, 8));
    while (sequence_.size() > kSequenceLimit) sequence_.pop_front();
    dynamic_ = dynamic_ || changes_.size() >= 2;
    ++revision_;
}

void StationTexts::feedPs(const GroupRecord& g)
{
    if (!g.has(3)) return;
    feedSegments(ps_, g, std::size_t(g.blocks[1] & 3) * 2, false);
    notePsComplete();
}

void StationTexts::noteWrap(Wrap& w, ConfidentText& text, int segment, int perSegment)
{
    if (segment == 0 && w.last > 0) {
        if (w.last == w.candidate && std::size_t(w.last + 1) * perSegment < text.size()) {
            const std::size_t end = std::size_t(w.last + 1) * perSegment;
            if (text.limit() != end) {
                text.setLimit(end);
                ++revision_;
            }
        }
        w.candidate = w.last;
    }
    // A segment past the limit: the text is longer after all.
    if (std::size_t(segment) * perSegment >= text.limit()) {
        text.setLimit(text.size());
        ++revision_;
    }
    w.last = segment;
}

void StationTexts::feedRadiotext(const GroupRecord& g)
{
    const int ab = (g.blocks[1] >> 4) & 1;
    if (ab != textAB_) {
        // A flip announces a new text; a repaired block B may have flipped
        // the bit itself, so only a clean one counts.
        if (g.repaired & 2) return;
        if (textAB_ >= 0) {
            rtA_.clear();
            rtB_.clear();
            wrapA_ = wrapB_ = Wrap{};
        }
        textAB_ = ab;
        ++revision_;
    }
    const unsigned segment = g.blocks[1] & 15;
    const bool versionB = g.version() == 1;
    ConfidentText& text = versionB ? rtB_ : rtA_;
    const int per = versionB ? 2 : 4;
    feedSegments(text, g, segment * per, !versionB);
    if (!(g.repaired & 2)) noteWrap(versionB ? wrapB_ : wrapA_, text, static_cast<int>(segment), per);
}

void StationTexts::feed(const GroupRecord& g)
{
    tmcCompleted_ = false;
    if (!g.has(0) || !g.has(1)) return;
    ++groups_;
    const uint16_t pi = g.blocks[0];
    if (!hasPi_ || pi != pi_) {
        // Another station: only an unrepaired block A says so.
        if (g.repaired & 1) return;
        if (hasPi_) clear();
        pi_ = pi;
        hasPi_ = true;
        ++revision_;
    }
    const int type = g.type(), version = g.version();
    const uint16_t b = g.blocks[1];
    const bool clean = !(g.repaired & 0xE);
    switch (type) {
        case 0:
            if (version == 0 && g.has(2) && !(g.repaired & 4) && !afCounted_) {
                const int code = g.blocks[2] >> 8;
                afCounted_ = code >= 224 && code <= 249;
            }
            feedPs(g);
            return;
        case 2:
            feedRadiotext(g);
            return;
        case 8:
            if (version == 0 && g.complete() && clean) {
                tmcCompleted_ = tmc_.feed(b, g.blocks[2], g.blocks[3]);
                if (tmcCompleted_) ++revision_;
            }
            break;
        case 3:
            // Announcements count only from groups received whole and unrepaired.
            if (version == 0 && g.complete() && clean) {
                oda_.announce(b, g.blocks[2], g.blocks[3]);
                ++revision_;
            }
            break;
        case 14:
            if (!g.has(3) || !clean) return;
            if (eon_.size() >= kEonLimit && !eon_.count(g.blocks[3])) {
                eon_.clear();
                eonPs_.clear();
            }
            eon_[g.blocks[3]] |= version ? 1u << 16 : 1u << (b & 15);
            if (version == 0 && (b & 15) < 4 && g.has(2)) {
                ConfidentText& ps = eonPs_.try_emplace(g.blocks[3], 8).first->second;
                const uint8_t bytes[2] = {static_cast<uint8_t>(g.blocks[2] >> 8), static_cast<uint8_t>(g.blocks[2])};
                ps.put(std::size_t(b & 3) * 2, bytes, 2, true);
            }
            ++revision_;
            return;
        case 15:
            if (version == 0) {
                feedSegments(longPs_, g, std::size_t(b & 7) * 4, true);
                return;
            }
            break;
        default:
            break;
    }
    const uint16_t aid = oda_.aidOf(type, version);
    if (aid == kAidRtPlusErt && g.complete() && clean) {
        const int toggle = (b >> 4) & 1;
        if (toggle != ertToggle_) ertTags_.clear();  // a new item
        ertToggle_ = toggle;
        ertRunning_ = (b >> 3) & 1;
        for (const auto& t : RtPlus::GroupTags(g.blocks)) {
            if (t.type == 0) continue;
            std::erase_if(ertTags_, [&](const ErtTag& e) { return e.type == t.type; });
            ertTags_.push_back(
                ErtTag{static_cast<uint8_t>(t.type), static_cast<uint8_t>(t.start), static_cast<uint8_t>(t.length)});
        }
        ++revision_;
    } else if (aid == kAidErt) {
        feedSegments(ert_, g, std::size_t(b & 31) * 4, true);
    } else if (aid == kAidDab && g.complete() && clean) {
        dab_.feed(b, g.blocks[2], g.blocks[3]);
        ++revision_;
    }
}

}  // namespace rdsformats
