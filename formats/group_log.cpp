#include "group_log.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "rds_encoder.h"

namespace rdsformats {
namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// Reads `digits` hexadecimal digits at `text`; -1 if any is not one.
long HexWord(std::string_view text, int digits)
{
    long v = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexValue(text[i]);
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsSpace(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !IsSpace(line[i])) ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

// Reads a decimal number of exactly `digits` digits.
bool Digits(std::string_view text, std::size_t at, int digits, int& value)
{
    if (at + digits > text.size()) return false;
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

std::optional<int64_t> ParseLogTime(std::string_view t)
{
    // YYYY/MM/DD hh:mm:ss[.cc]
    int y, mo, d, h, mi, s, cs = 0;
    if (t.size() != 19 && t.size() != 22) return std::nullopt;
    if (!Digits(t, 0, 4, y) || t[4] != '/' || !Digits(t, 5, 2, mo) || t[7] != '/' || !Digits(t, 8, 2, d) ||
        t[10] != ' ' || !Digits(t, 11, 2, h) || t[13] != ':' || !Digits(t, 14, 2, mi) || t[16] != ':' ||
        !Digits(t, 17, 2, s))
        return std::nullopt;
    if (t.size() == 22 && (t[19] != '.' || !Digits(t, 20, 2, cs))) return std::nullopt;
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31))
        return std::nullopt;
    // A day the month does not have (31 April) was moved on by mktime.
    if (tm.tm_mday != d || tm.tm_mon != mo - 1) return std::nullopt;
    return static_cast<int64_t>(seconds) * 100 + cs;
}

namespace {

// `centiseconds` since the epoch as `format` has it (year, month, day, hour,
// minute, second, hundredths), in local time or UTC.
std::string FormatTime(int64_t centiseconds, bool utc, const char* format)
{
    const std::time_t seconds = static_cast<std::time_t>(FloorDiv(centiseconds, 100));
    std::tm tm{};
    if (utc)
        gmtime_r(&seconds, &tm);
    else
        localtime_r(&seconds, &tm);
    char text[40];
    std::snprintf(text, sizeof text, format, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                  tm.tm_sec, static_cast<int>(centiseconds - seconds * int64_t(100)));
    return text;
}

}  // namespace

std::string FormatLogTime(int64_t centiseconds)
{
    return FormatTime(centiseconds, false, "%04d/%02d/%02d %02d:%02d:%02d.%02d");
}

std::string FormatIsoUtc(int64_t centiseconds)
{
    return FormatTime(centiseconds, true, "%04d-%02d-%02dT%02d:%02d:%02d.%02dZ");
}

LineKind ParseGroupLine(std::string_view line, bool first, GroupRecord& out)
{
    while (!line.empty() && IsSpace(line.back())) line.remove_suffix(1);
    while (!line.empty() && IsSpace(line.front())) line.remove_prefix(1);
    if (line.empty()) return LineKind::Blank;
    if (line.front() == '<') return first && line.back() == '>' ? LineKind::Header : LineKind::Malformed;

    GroupRecord g;
    // The time stamp: everything after the last " @".
    const std::size_t at = line.find('@');
    if (at != std::string_view::npos) {
        std::string_view stamp = line.substr(at + 1);
        while (!stamp.empty() && IsSpace(stamp.front())) stamp.remove_prefix(1);
        g.time = ParseLogTime(stamp);
        if (!g.time) return LineKind::Malformed;
        line = line.substr(0, at);
    }
    const std::vector<std::string_view> words = Words(line);
    if (words.size() == 1 && words[0].size() == 16) {
        // Sixteen digits in a row.
        for (int n = 0; n < 4; ++n) {
            const long v = HexWord(words[0].substr(4 * n, 4), 4);
            if (v < 0) return LineKind::Malformed;
            g.blocks[n] = static_cast<uint16_t>(v);
        }
        g.received = 0xF;
    } else if (words.size() == 4) {
        for (int n = 0; n < 4; ++n) {
            if (words[n].size() != 4) return LineKind::Malformed;
            if (words[n] == "----") continue;
            const long v = HexWord(words[n], 4);
            if (v < 0) return LineKind::Malformed;
            g.blocks[n] = static_cast<uint16_t>(v);
            g.received |= static_cast<uint8_t>(1u << n);
        }
    } else {
        return LineKind::Malformed;
    }
    out = g;
    return LineKind::Group;
}

void AppendGroupLine(std::string& out, const GroupRecord& g)
{
    char word[8];
    for (int n = 0; n < 4; ++n) {
        if (n) out += ' ';
        if (g.has(n)) {
            std::snprintf(word, sizeof word, "%04X", g.blocks[n]);
            out += word;
        } else {
            out += "----";
        }
    }
    if (g.time) {
        out += " @";
        out += FormatLogTime(*g.time);
    }
}

void AppendGroupBits(std::string& bits, const GroupRecord& g)
{
    using rdsenc::Block;
    const bool versionB = g.has(1) && (g.blocks[1] & 0x0800);
    const Block positions[4] = {Block::A, Block::B, versionB ? Block::Cprime : Block::C, Block::D};
    for (int n = 0; n < 4; ++n) {
        if (g.has(n))
            rdsenc::AppendBlock(bits, g.blocks[n], positions[n]);
        else
            bits.append(26, '0');
    }
}

bool GroupLogParser::parse(std::string_view line, std::size_t number, bool tooLong, GroupRecord& out)
{
    const LineKind kind = tooLong ? LineKind::Malformed : ParseGroupLine(line, first_, out);
    if (kind != LineKind::Blank) first_ = false;
    if (kind == LineKind::Group) {
        ++groups_;
        return true;
    }
    if (kind == LineKind::Malformed) {
        ++malformed_;
        if (badLines_.size() < kShownBadLines) badLines_.push_back(number);
    }
    return false;
}

std::string GroupLogParser::report() const
{
    if (malformed_ == 0) return {};
    std::string s = std::to_string(malformed_) + (malformed_ == 1 ? " malformed line" : " malformed lines") +
                    " skipped (line" + (badLines_.size() == 1 ? " " : "s ");
    for (std::size_t i = 0; i < badLines_.size(); ++i) s += (i ? ", " : "") + std::to_string(badLines_[i]);
    if (malformed_ > badLines_.size()) s += ", ...";
    return s + ")";
}

RecordingKind DetectRecording(std::string_view head)
{
    if (head.empty()) return RecordingKind::Unknown;
    // Audio containers open with a signature (WAV: "RIFF", size, "WAVE"); a
    // head too short to hold it all is no such container.
    const auto at = [&](std::size_t offset, std::string_view magic) {
        return head.size() >= offset + magic.size() && head.substr(offset, magic.size()) == magic;
    };
    if (((at(0, "RIFF") || at(0, "RIFX") || at(0, "RF64")) && at(8, "WAVE")) || (at(0, "FORM") && at(8, "AIF")) ||
        at(0, "fLaC") || at(0, "OggS") || at(0, ".snd") || at(0, "caff"))
        return RecordingKind::Audio;
    // Lines of the head; a last line cut off by the head's end is left out.
    std::size_t groupLines = 0, otherLines = 0, seen = 0;
    bool first = true;
    std::size_t start = 0;
    while (start < head.size() && seen < 20) {
        std::size_t end = head.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            if (seen > 0 || head.size() > 4096) break;
            end = head.size();
        }
        GroupRecord g;
        const std::string_view line = head.substr(start, end - start);
        LineKind kind = ParseGroupLine(line, first, g);
        // A line of nothing but 0 and 1 is more likely bit text cut into lines.
        if (kind == LineKind::Group && line.find_first_not_of("01 \t\r") == std::string_view::npos)
            kind = LineKind::Malformed;
        if (kind != LineKind::Blank) {
            first = false;
            ++seen;
            if (kind == LineKind::Group || kind == LineKind::Header)
                ++groupLines;
            else
                ++otherLines;
        }
        start = end + 1;
    }
    if (groupLines > 0 && groupLines > otherLines) {
        // A header alone is not enough, nor are lines a bit text could also be.
        if (groupLines > 1 || seen == 1) return RecordingKind::GroupLog;
    }
    bool bits = true, hex = true;
    for (char ch : head) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (IsSpace(ch) || c == '\n') continue;
        if (c != '0' && c != '1') bits = false;
        if (HexValue(ch) < 0) hex = false;
        if (!bits && !hex) break;
    }
    if (bits) return RecordingKind::Bits;
    if (hex) return RecordingKind::Hex;
    return RecordingKind::Unknown;
}

bool GroupLogReader::recognise(std::string_view head)
{
    if (head.empty()) return false;  // empty: nothing to say
    switch (DetectRecording(head)) {
        case RecordingKind::GroupLog:
            return true;
        case RecordingKind::Bits:
            error_ = "not a group log: it holds bit text";
            break;
        case RecordingKind::Hex:
            error_ = "not a group log: it holds hexadecimal text";
            break;
        case RecordingKind::Audio:
            error_ = "not a group log: it holds audio";
            break;
        default:
            error_ = "not a recording: neither a group log nor bit or hexadecimal text";
            break;
    }
    return false;
}

Reading ChooseReading(std::string_view head, bool stream)
{
    switch (DetectRecording(head.substr(0, GroupLogReader::kHeadSize))) {
        case RecordingKind::GroupLog:
            return Reading::GroupLog;
        case RecordingKind::Hex:
            return Reading::Hex;
        case RecordingKind::Bits:
            return Reading::Bits;
        case RecordingKind::Audio:
            return stream ? Reading::AudioFromStream : Reading::Audio;
        default:
            return stream ? Reading::Bits : Reading::MaybeAudio;
    }
}

const char* RecordingKindName(RecordingKind kind)
{
    switch (kind) {
        case RecordingKind::Bits:
            return "bit text";
        case RecordingKind::Hex:
            return "hexadecimal text";
        case RecordingKind::GroupLog:
            return "group log";
        case RecordingKind::Audio:
            return "audio";
        default:
            return "unknown";
    }
}

}  // namespace rdsformats
