#include "text_confidence.h"

#include <algorithm>

#include "rds_charset.h"

namespace rdsformats {
namespace {

constexpr uint8_t kMissing = 0, kRepairedOnly = 1, kCleanOnce = 2, kConfirmed = 3;

}  // namespace

ConfidentText::ConfidentText(std::size_t size, int endCode)
    : level_(size, kMissing), bytes_(size, ' '), endCode_(endCode), limit_(size)
{
}

void ConfidentText::clear()
{
    std::fill(level_.begin(), level_.end(), kMissing);
    std::fill(bytes_.begin(), bytes_.end(), ' ');
    limit_ = bytes_.size();
    ++revision_;
}

bool ConfidentText::put(std::size_t pos, const uint8_t* bytes, std::size_t count, bool clean, bool sure)
{
    sure = sure && clean;
    bool changed = false, replaced = false;
    const std::size_t end = std::min(bytes_.size(), pos + count);
    for (std::size_t i = pos; i < end; ++i) {
        const uint8_t b = bytes[i - pos];
        uint8_t& level = level_[i];
        if (level != kMissing && bytes_[i] == b) {
            if (sure)
                level = kConfirmed;
            else if (clean && level < kConfirmed)
                ++level;
            continue;
        }
        // A repaired block that disagrees with a confirmed character is more
        // likely a wrong repair than a new text.
        if (level == kConfirmed && !clean) continue;
        // Filling a gap is no change of the text; a new value is.
        if (level != kMissing) replaced = true;
        bytes_[i] = b;
        level = sure ? kConfirmed : clean ? kCleanOnce : kRepairedOnly;
        changed = true;
    }
    if (changed) ++revision_;
    if (replaced) {
        for (std::size_t i = 0; i < level_.size(); ++i)
            if ((i < pos || i >= end) && level_[i] == kConfirmed) level_[i] = kCleanOnce;
    }
    return changed;
}

CharState ConfidentText::state(std::size_t i) const
{
    const uint8_t level = level_[i];
    if (level == kMissing) return CharState::Missing;
    return level == kConfirmed ? CharState::Confirmed : CharState::Provisional;
}

bool ConfidentText::any() const
{
    return std::any_of(level_.begin(), level_.end(), [](uint8_t l) { return l != kMissing; });
}

std::size_t ConfidentText::length() const
{
    if (endCode_ >= 0)
        for (std::size_t i = 0; i < limit_; ++i)
            if (level_[i] != kMissing && bytes_[i] == endCode_) return i;
    return limit_;
}

bool ConfidentText::complete() const
{
    const std::size_t n = std::min(length() + 1, limit_);
    for (std::size_t i = 0; i < n; ++i)
        if (level_[i] != kConfirmed) return false;
    return true;
}

std::string ConfidentText::mask(std::size_t n) const
{
    std::string out;
    n = std::min(n, bytes_.size());
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const CharState s = state(i);
        out += s == CharState::Confirmed ? 'c' : s == CharState::Provisional ? 'p' : '-';
    }
    return out;
}

std::string RdsTextUtf8(const ConfidentText& text, std::size_t n)
{
    std::string out;
    n = std::min(n, text.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (text.state(i) == CharState::Missing) {
            out += ' ';
            continue;
        }
        const char32_t u = RdsToUnicode(text.byte(i));
        if (u)
            AppendUtf8(out, u);
        else
            out += kPlaceholder;
    }
    return out;
}

}  // namespace rdsformats
