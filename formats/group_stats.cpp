#include "group_stats.h"

#include <bit>
#include <cstdio>

namespace rdsformats {

void GroupStats::add(const GroupRecord& g)
{
    ++groups_;
    if (g.has(1))
        ++counts_[g.type() * 2 + g.version()];
    else
        ++untyped_;
    missing_ += 4 - static_cast<unsigned>(std::popcount(static_cast<unsigned>(g.received & 0xF)));
    repaired_ += static_cast<unsigned>(std::popcount(static_cast<unsigned>(g.repaired & 0xF)));
}

std::string GroupStats::text() const
{
    std::string out = "group   count   share\n";
    char line[96];
    for (int code = 0; code < 32; ++code) {
        if (!counts_[code]) continue;
        char name[8];
        std::snprintf(name, sizeof name, "%d%c", code / 2, code % 2 ? 'B' : 'A');
        std::snprintf(line, sizeof line, "%-5s %7llu  %5.1f%%\n", name, static_cast<unsigned long long>(counts_[code]),
                      percent(counts_[code]));
        out += line;
    }
    if (untyped_) {
        std::snprintf(line, sizeof line, "%-5s %7llu  %5.1f%%\n", "?", static_cast<unsigned long long>(untyped_),
                      percent(untyped_));
        out += line;
    }
    std::snprintf(line, sizeof line, "total %7llu groups, %llu blocks, %llu not received, %llu repaired\n",
                  static_cast<unsigned long long>(groups_), static_cast<unsigned long long>(blocks()),
                  static_cast<unsigned long long>(missing_), static_cast<unsigned long long>(repaired_));
    out += line;
    std::snprintf(line, sizeof line, "block error rate %.2f%%\n", blockErrorRate());
    out += line;
    return out;
}

std::string GroupStats::json() const
{
    std::string out = "{\"groups\":" + std::to_string(groups_) + ",\"types\":{";
    char item[96];
    bool first = true;
    for (int code = 0; code < 32; ++code) {
        if (!counts_[code]) continue;
        std::snprintf(item, sizeof item, "%s\"%d%c\":{\"count\":%llu,\"percent\":%.2f}", first ? "" : ",", code / 2,
                      code % 2 ? 'B' : 'A', static_cast<unsigned long long>(counts_[code]), percent(counts_[code]));
        out += item;
        first = false;
    }
    out += "},\"untyped\":" + std::to_string(untyped_) + ",\"blocks\":" + std::to_string(blocks()) +
           ",\"blocksMissing\":" + std::to_string(missing_) + ",\"blocksRepaired\":" + std::to_string(repaired_);
    // As a fraction here, as block error rates are usually given.
    std::snprintf(item, sizeof item, ",\"blockErrorRate\":%.6f}", blockErrorRate() / 100.0);
    return out + item;
}

}  // namespace rdsformats
