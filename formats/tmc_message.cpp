#include "tmc_message.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace rdsformats {
namespace {

// Bits of the data after each label of the optional content (label 14, the
// separator, and 15 carry none).
constexpr int kFieldBits[16] = {3, 3, 5, 5, 5, 8, 8, 8, 8, 11, 16, 16, 16, 16, 0, 0};
constexpr int kLabelQuantifier5 = 4, kLabelQuantifier8 = 5, kLabelDuration = 0, kLabelControl = 1,
              kLabelAdditionalEvent = 9;
constexpr int kControlSetDiversion = 5;

std::string Format(const char* format, double value)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Number(long value) { return std::to_string(value); }

// A tenth-unit scale of the weight and length types: 0.1 steps up to 10,
// then 0.5 steps.
double Tenths(unsigned n) { return n <= 100 ? n / 10.0 : 10.0 + (n - 100) * 0.5; }

bool IsWordChar(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// The bracketed part of a phrase without quantity words: a plural ending
// ("s", "es", "y/ies") after a word.
std::string PluralEnding(const std::string& inside, bool one)
{
    const auto slash = inside.find('/');
    if (slash != std::string::npos) return one ? inside.substr(0, slash) : inside.substr(slash + 1);
    return one ? std::string() : inside;
}

// "Q" in `inside` as a word of its own, at its position.
std::size_t FindQ(const std::string& inside)
{
    for (std::size_t i = 0; i < inside.size(); ++i)
        if (inside[i] == 'Q' && (i == 0 || !IsWordChar(inside[i - 1])) &&
            (i + 1 == inside.size() || !IsWordChar(inside[i + 1])))
            return i;
    return std::string::npos;
}

std::string Ordinal(const std::string& number)
{
    const int n = std::atoi(number.c_str());
    const char* suffix = "th";
    if (n % 100 < 11 || n % 100 > 13) {
        if (n % 10 == 1) suffix = "st";
        if (n % 10 == 2) suffix = "nd";
        if (n % 10 == 3) suffix = "rd";
    }
    return number + suffix;
}

}  // namespace

int TmcQuantifierType(uint16_t event)
{
    const TmcQuantifierRow* end = kTmcQuantifierRows + kTmcQuantifierRowCount;
    const TmcQuantifierRow* row = std::lower_bound(
        kTmcQuantifierRows, end, event, [](const TmcQuantifierRow& r, uint16_t code) { return r.code < code; });
    return row != end && row->code == event ? row->type : -1;
}

TmcQuantity TmcQuantifierText(int type, unsigned value)
{
    // Types 0..5 come in a 5-bit field, where 0 stands for 32.
    const unsigned n = type <= 5 && value == 0 ? 32 : value;
    TmcQuantity q;
    switch (type) {
        case 0:  // small number: 1..28, then steps of two up to 36
            q.text = Number(n <= 28 ? long(n) : 28 + long(n - 28) * 2);
            q.one = n == 1;
            break;
        case 1:  // number: 1..4, 10..100 in tens, 150..1000 in fifties
            q.text = Number(n <= 4 ? long(n) : n <= 14 ? long(n - 4) * 10 : long(n - 12) * 50);
            q.one = n == 1;
            break;
        case 2:  // visibility
            q.text = "less than " + Number(long(n) * 10) + " m";
            break;
        case 3:  // percentage in fives
            if (n == 32)
                q.text = "0 %";
            else if (n <= 20)
                q.text = Number(long(n) * 5) + " %";
            break;
        case 4:  // speed
            q.text = "of up to " + Number(long(n) * 5) + " km/h";
            break;
        case 5:  // delay or duration
            if (n <= 10)
                q.text = "of up to " + Number(long(n) * 5) + " minutes";
            else if (n <= 22)
                q.text = "of up to " + Number(long(n) - 10) + (n == 11 ? " hour" : " hours");
            else
                q.text = "of up to " + Number((long(n) - 20) * 6) + " hours";
            break;
        case 6:  // temperature
            q.text = Number(long(n) - 51) + " °C";
            break;
        case 7:  // time of day in ten-minute steps
            if (n >= 1 && n <= 144) {
                char text[8];
                const unsigned minutes = (n - 1) * 10;
                std::snprintf(text, sizeof text, "%02u:%02u", minutes / 60, minutes % 60);
                q.text = text;
            }
            break;
        case 8:  // weight
            if (n >= 1 && n <= 200) q.text = Format("%.1f t", Tenths(n));
            break;
        case 9:  // length
            if (n >= 1 && n <= 200) q.text = Format("%.1f m", Tenths(n));
            break;
        case 10:  // precipitation
            q.text = "of up to " + Number(long(n)) + " mm";
            break;
        case 11:  // FM frequency, coded as an AF code
            if (n >= 1 && n <= 204) q.text = Format("%.1f MHz", 87.5 + n / 10.0);
            break;
        case 12:  // LF or MF frequency, coded as an AF code
            if (n >= 1 && n <= 15)
                q.text = Number(153 + long(n - 1) * 9) + " kHz";
            else if (n >= 16 && n <= 135)
                q.text = Number(531 + long(n - 16) * 9) + " kHz";
            break;
        default:
            break;
    }
    return q;
}

std::string TmcFillQuantity(const std::string& phrase, const TmcQuantity& quantity)
{
    if (quantity.text.empty()) return phrase;
    std::string out;
    out.reserve(phrase.size() + quantity.text.size());
    for (std::size_t i = 0; i < phrase.size(); ++i) {
        const char c = phrase[i];
        if (c == '(') {
            const std::size_t close = phrase.find(')', i);
            if (close == std::string::npos) {
                out.append(phrase, i, std::string::npos);
                break;
            }
            const std::string inside = phrase.substr(i + 1, close - i - 1);
            const std::size_t q = FindQ(inside);
            if (i > 0 && IsWordChar(phrase[i - 1]) && q == std::string::npos) {
                out += PluralEnding(inside, quantity.one);
            } else if (inside == "a/Q") {
                out += quantity.one ? "a" : quantity.text;
            } else if (q != std::string::npos) {
                std::string filled = inside.substr(0, q);
                const std::string rest = inside.substr(q + 1);
                if (rest.rfind(" th", 0) == 0) {
                    filled += Ordinal(quantity.text) + rest.substr(3);
                } else {
                    filled += quantity.text + rest;
                }
                out += filled;
            } else {
                out.append(phrase, i, close - i + 1);
            }
            i = close;
            continue;
        }
        if (c == 'Q' && (i == 0 || !IsWordChar(phrase[i - 1])) &&
            (i + 1 == phrase.size() || !IsWordChar(phrase[i + 1]))) {
            out += quantity.text;
            continue;
        }
        out += c;
    }
    return out;
}

bool TmcAssembler::feed(uint16_t b, uint16_t c, uint16_t d)
{
    const uint32_t group[3] = {b & 0x1Fu, c, d};
    const bool repeated = haveLast_ && std::equal(group, group + 3, lastGroup_);
    std::copy(group, group + 3, lastGroup_);
    haveLast_ = true;
    if (repeated) return false;  // stations send each group twice or more
    if (b & 0x10) return false;  // tuning information
    if (b & 0x08) {
        TmcMessage m;
        m.duration = b & 7;
        m.diversion = (c >> 15) & 1;
        m.negative = (c >> 14) & 1;
        m.extent = (c >> 11) & 7;
        m.event = c & 0x7FF;
        m.location = d;
        remember(m);
        active_ = false;
        return true;
    }
    const int continuity = b & 7;
    if (c & 0x8000) {  // the first group of a multi-group message
        active_ = true;
        continuity_ = continuity;
        expect_ = -1;
        building_ = TmcMessage{};
        building_.duration = -1;
        building_.negative = (c >> 14) & 1;
        building_.extent = (c >> 11) & 7;
        building_.event = c & 0x7FF;
        building_.location = d;
        content_[0] = content_[1] = 0;
        contentBits_ = 0;
        return false;
    }
    if (!active_ || continuity != continuity_) {
        active_ = false;
        return false;
    }
    const bool second = (c >> 14) & 1;
    const int sequence = (c >> 12) & 3;
    if (second ? expect_ != -1 : (expect_ < 0 || sequence != expect_)) {
        active_ = false;  // a group was lost
        return false;
    }
    // 28 bits: the low 12 of block C, then block D.
    const uint64_t bits = (uint64_t(c & 0x0FFF) << 16) | d;
    for (int k = 27; k >= 0; --k) {
        if ((bits >> k) & 1) content_[contentBits_ / 64] |= uint64_t(1) << (63 - contentBits_ % 64);
        ++contentBits_;
    }
    ++building_.groups;
    if (sequence == 0) {
        finish();
        return true;
    }
    expect_ = sequence - 1;
    return false;
}

void TmcAssembler::finish()
{
    active_ = false;
    TmcMessage m = building_;
    int pos = 0;
    const auto take = [&](int count) {
        unsigned v = 0;
        for (int k = 0; k < count; ++k, ++pos) v = (v << 1) | unsigned((content_[pos / 64] >> (63 - pos % 64)) & 1);
        return v;
    };
    const int type = TmcQuantifierType(m.event);
    bool mainEvent = true;  // fields still belong to the message's own event
    while (contentBits_ - pos >= 4) {
        const int label = static_cast<int>(take(4));
        if (contentBits_ - pos < kFieldBits[label]) break;
        const unsigned value = take(kFieldBits[label]);
        if (label == 0 && value == 0) break;  // the rest is padding
        if (label == kLabelDuration) m.duration = static_cast<int>(value);
        if (label == kLabelControl && value == kControlSetDiversion) m.diversion = true;
        if (label == kLabelAdditionalEvent) mainEvent = false;
        const bool fits =
            (label == kLabelQuantifier5 && type >= 0 && type <= 5) || (label == kLabelQuantifier8 && type >= 6);
        if (fits && mainEvent && !m.quantifier) m.quantifier = value;
    }
    remember(m);
}

void TmcAssembler::remember(const TmcMessage& m)
{
    last_ = m;
    std::erase_if(recent_, [&](const TmcMessage& r) { return r.event == m.event && r.location == m.location; });
    recent_.push_back(m);
    if (recent_.size() > kRecent) recent_.pop_front();
}

const TmcMessage* TmcAssembler::recent(uint16_t event, uint16_t location) const
{
    for (auto it = recent_.rbegin(); it != recent_.rend(); ++it)
        if (it->event == event && it->location == location) return &*it;
    return nullptr;
}

}  // namespace rdsformats
