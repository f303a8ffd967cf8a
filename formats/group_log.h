// Group logs: the group-per-line hexadecimal text that RDS tools write and
// exchange, one group a line:
//
//   C2A1 0408 E0CD 4B45 @2026/12/08 19:55:10.25
//
// four 4-digit hexadecimal words for blocks A, B, C (or C') and D, "----"
// for a block that was not received, and an optional time stamp in local
// time with hundredths of a second. An optional first line
// <recorder="..." date="..." time="..." ...> heads the logs of some
// monitors; plain lines without a time stamp come from other decoders.
//
// This module reads such lines (chunk by chunk, with bounded memory), writes
// them, tells a group log from the other kinds of recording, and turns a
// group back into the bits an RDS encoder sends, for the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rdsformats {

// One group of a log. Bit n of `received` is set when block n (A, B, C/C',
// D) was received; the word of a block not received is 0. Bit n of
// `repaired` marks a block the decoder had to repair.
struct GroupRecord {
    uint16_t blocks[4] = {0, 0, 0, 0};
    uint8_t received = 0;
    uint8_t repaired = 0;
    // Reception time in hundredths of a second since 1970-01-01 UTC.
    std::optional<int64_t> time;
    // Bit n: block n came unrepaired in bits the demodulator was sure of
    // (radio input; see FrameProcessor::setSureMarks).
    uint8_t sure = 0;

    bool has(int n) const { return (received >> n) & 1; }
    bool complete() const { return received == 0xF; }
    // Group type 0..15 and version (0 A, 1 B) from block B, -1 without it.
    int type() const { return has(1) ? blocks[1] >> 12 : -1; }
    int version() const { return has(1) ? (blocks[1] >> 11) & 1 : -1; }
};

// What one line of a group log holds.
enum class LineKind { Group, Blank, Header, Malformed };

// Parses one line (without its line end; a CR at the end is ignored).
// `first` allows the <...> header line. On Group, `out` holds the group.
LineKind ParseGroupLine(std::string_view line, bool first, GroupRecord& out);

// Time stamps as the logs write them, "YYYY/MM/DD hh:mm:ss.cc" in local
// time (the TZ environment variable applies), to and from hundredths of a
// second since the epoch (UTC). Parsing gives nothing for a malformed stamp.
std::optional<int64_t> ParseLogTime(std::string_view text);
std::string FormatLogTime(int64_t centiseconds);
// The same instant in ISO 8601 UTC, "2026-12-08T18:55:10.25Z".
std::string FormatIsoUtc(int64_t centiseconds);

// Appends one log line for `group` (no line end): "----" for blocks not
// received, " @..." when the time is known.
void AppendGroupLine(std::string& out, const GroupRecord& group);

// Appends the 104 bits of `group` as characters '0'/'1', as an encoder
// sends them: each received block with its check word and offset (C' after
// a block B of version B), each missing block as 26 zero bits, which fail
// every check and that no burst repair turns into a valid block.
void AppendGroupBits(std::string& bits, const GroupRecord& group);

// Cuts text arriving in chunks into lines ("\n", "\r\n" or "\r" end a
// line) and hands each to a callback with its number (from 1). A line
// longer than `maxLength` is handed on cut to that length with `tooLong`
// set, and the rest of it is skipped, so memory stays bounded.
class LineSplitter {
public:
    explicit LineSplitter(std::size_t maxLength = 4096) : max_(maxLength) {}

    template <typename OnLine>  // void(std::string_view line, std::size_t number, bool tooLong)
    void feed(const char* data, std::size_t size, OnLine&& onLine)
    {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n' || c == '\r') {
                if (c == '\n' && lastCr_) {
                    lastCr_ = false;
                    continue;
                }
                lastCr_ = c == '\r';
                endLine(onLine);
                continue;
            }
            lastCr_ = false;
            if (line_.size() < max_)
                line_ += c;
            else
                tooLong_ = true;
            pending_ = true;
        }
    }
    // Hands on a last line that has no line end.
    template <typename OnLine>
    void finish(OnLine&& onLine)
    {
        if (pending_) endLine(onLine);
    }
    std::size_t lines() const { return number_; }

private:
    template <typename OnLine>
    void endLine(OnLine& onLine)
    {
        ++number_;
        onLine(std::string_view(line_), number_, tooLong_);
        line_.clear();
        tooLong_ = pending_ = false;
    }

    std::size_t max_;
    std::string line_;
    std::size_t number_ = 0;
    bool tooLong_ = false;
    bool pending_ = false;
    bool lastCr_ = false;
};

// Reads a group log line by line: groups, and the malformed lines skipped
// (their count and the numbers of the first few).
class GroupLogParser {
public:
    static constexpr std::size_t kShownBadLines = 5;

    // Parses line `number`; true with `out` filled when it holds a group.
    bool parse(std::string_view line, std::size_t number, bool tooLong, GroupRecord& out);

    std::size_t groups() const { return groups_; }
    std::size_t malformed() const { return malformed_; }
    // Numbers of the first kShownBadLines malformed lines.
    const std::vector<std::size_t>& badLines() const { return badLines_; }
    // "2 malformed lines skipped (lines 3, 9)", empty when there were none.
    std::string report() const;

private:
    bool first_ = true;  // no line other than blank ones seen yet
    std::size_t groups_ = 0;
    std::size_t malformed_ = 0;
    std::vector<std::size_t> badLines_;
};

// Reads a group log that arrives in chunks: recognises it by its first
// chunk, skips a UTF-8 byte-order mark, cuts bounded lines, skips and
// counts malformed ones and hands on each group with its 104 bits.
class GroupLogReader {
public:
    // How much of the input is looked at to recognise it.
    static constexpr std::size_t kHeadSize = 4096;

    // Feeds the next chunk; `onGroup(const GroupRecord&, const std::string&
    // bits)` is called for each group. False once the head of the input
    // shows it is no group log: error() then says what it looks like.
    template <typename OnGroup>
    bool feed(const char* data, std::size_t size, OnGroup&& onGroup)
    {
        if (failed_) return false;
        if (!recognised_) {
            // The head is held back until it is long enough to judge.
            head_.append(data, size);
            if (head_.size() < kHeadSize) return true;
            return releaseHead(onGroup);
        }
        splitter_.feed(data, size, [&](std::string_view line, std::size_t number, bool tooLong) {
            read(line, number, tooLong, onGroup);
        });
        return true;
    }
    // The input has ended: a last line without a line end is read. False
    // when the input was no group log (or empty: error() is empty then).
    template <typename OnGroup>
    bool finish(OnGroup&& onGroup)
    {
        if (failed_) return false;
        if (!recognised_ && !releaseHead(onGroup)) return false;
        splitter_.finish(
            [&](std::string_view line, std::size_t number, bool tooLong) { read(line, number, tooLong, onGroup); });
        return true;
    }

    const GroupLogParser& parser() const { return parser_; }
    const std::string& error() const { return error_; }

private:
    bool recognise(std::string_view head);
    template <typename OnGroup>
    bool releaseHead(OnGroup& onGroup)
    {
        std::string head;
        head.swap(head_);
        std::string_view text(head);
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
        if (!recognise(text)) {
            failed_ = true;
            return false;
        }
        recognised_ = true;
        return feed(text.data(), text.size(), onGroup);
    }
    template <typename OnGroup>
    void read(std::string_view line, std::size_t number, bool tooLong, OnGroup& onGroup)
    {
        if (!parser_.parse(line, number, tooLong, group_)) return;
        bits_.clear();
        AppendGroupBits(bits_, group_);
        onGroup(static_cast<const GroupRecord&>(group_), static_cast<const std::string&>(bits_));
    }

    bool recognised_ = false;
    bool failed_ = false;
    std::string head_;
    LineSplitter splitter_;
    GroupLogParser parser_;
    GroupRecord group_;
    std::string bits_;
    std::string error_;
};

// What a recording holds, judged by its first bytes.
enum class RecordingKind {
    Bits,      // one character per bit: "0"/"1" and white space
    Hex,       // hexadecimal text as the decoder card sends it
    GroupLog,  // one group a line, as above
    Audio,     // an audio file (WAV, FLAC, Ogg, AIFF, AU, CAF): the FM multiplex
    Unknown,   // none of these (binary data, other text)
};

// Judges the kind from the first bytes of a file (a few kilobytes suffice;
// an empty head is Unknown). A group log is recognised by its lines: most
// of the first ones (a header line allowed) are group lines; an audio file
// by its container's header.
RecordingKind DetectRecording(std::string_view head);

// "bit text", "hexadecimal text", "group log", "audio", "unknown".
const char* RecordingKindName(RecordingKind kind);

// How a recording is to be read, the same in every program that takes any
// kind of recording.
enum class Reading {
    Bits,             // as bit text
    Hex,              // as hexadecimal text
    GroupLog,         // as a group log
    Audio,            // as an audio file of the FM multiplex
    MaybeAudio,       // no text: an audio file in a form not recognised here, or nothing usable
    AudioFromStream,  // an audio file arriving through a pipe or device: not readable so
};

// Chooses by the head of a recording (its first read, up to
// GroupLogReader::kHeadSize bytes are looked at). `stream`: a pipe, device
// or terminal, where text that shows no other kind is bit text (any
// character but "1" a zero bit) and audio cannot be read.
Reading ChooseReading(std::string_view head, bool stream);

}  // namespace rdsformats
