// A station description for the RDS bit-stream generator: what the station
// transmits (identification, names, texts, clock, TMC, EON, raw groups) and
// in what order its groups go out. The text format is documented in README.md.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rdsgen {

// A description file that cannot be used; what() reads "file:line: problem".
class DescriptionError : public std::runtime_error {
public:
    DescriptionError(const std::string& file, int line, const std::string& problem);
    const std::string& file() const { return file_; }
    int line() const { return line_; }
    const std::string& problem() const { return problem_; }

private:
    std::string file_;
    int line_;
    std::string problem_;
};

// A group type 0..15 and version (0 = A, 1 = B), written "0A" .. "15B".
struct GroupId {
    uint8_t type = 0;
    uint8_t version = 0;
    bool operator==(const GroupId&) const = default;
};
std::optional<GroupId> ParseGroupId(const std::string& text);
std::string GroupName(GroupId g);

// One entry of an alternative-frequency list (method A): an FM code 1..204
// (87.6 .. 107.9 MHz) or an LF/MF code 1..135 (153 kHz .. 1602 kHz).
struct AltFrequency {
    bool lfmf = false;
    uint8_t code = 0;
};

struct ClockTime {
    int64_t startSeconds = 0;  // UTC, seconds since 1970-01-01
    int offsetHalfHours = 0;   // local offset, -31..31 half hours
};

struct OdaEntry {
    uint16_t aid = 0;
    GroupId group;         // the group type that carries the application
    uint16_t message = 0;  // block C of group 3A
};

struct TmcMessage {
    uint16_t event = 0;  // 0..2047
    uint16_t location = 0;
    uint8_t extent = 0;      // 0..7
    uint8_t duration = 0;    // duration and persistence 0..7
    bool direction = false;  // block C bit 14
    bool diversion = false;  // block C bit 15
    bool tuning = false;     // T bit of block B
    bool single = true;      // F bit of block B: a single-group message
    // A quantifier for the event: the message goes out as a two-group
    // message with it (and the duration) in its optional content.
    std::optional<uint16_t> quantifier;
};

// Another network carried by EON (groups 14A and 14B). Block C of each 14A
// variant the description gives, keyed by variant 0..15.
struct EonNetwork {
    uint16_t pi = 0;
    bool tp = false;
    bool ta = false;
    std::array<std::optional<uint16_t>, 16> variants;
    // Further variant-4 words when more than one pair of AFs is given.
    std::vector<uint16_t> extraAf;
};

struct RawGroup {
    GroupId group;
    uint8_t low5 = 0;           // block B bits 4..0
    std::optional<uint16_t> c;  // absent: the PI (version B groups)
    uint16_t d = 0;
};

struct Station {
    std::string file;  // where it came from, for messages

    uint16_t pi = 0;
    uint8_t pty = 0;
    bool tp = false;
    bool ta = false;
    bool ms = true;               // music
    uint8_t di = 0;               // d3 d2 d1 d0 as bits 3..0 (d0 stereo)
    std::string ps = "        ";  // eight characters
    std::vector<AltFrequency> af;

    std::vector<std::string> radioTextA;  // 64 characters each, padded
    std::vector<std::string> radioTextB;  // 32 characters each, padded
    int rtRepeat = 2;                     // whole sends of a text before the next

    uint8_t rpc = 0;
    std::optional<uint16_t> pin;
    std::vector<uint16_t> slc;  // block C words of group 1A

    std::optional<ClockTime> clock;

    std::vector<OdaEntry> oda;
    std::vector<TmcMessage> tmc;
    std::vector<EonNetwork> eon;
    std::vector<RawGroup> raw;

    std::vector<GroupId> schedule;  // one cycle; empty until filled in
};

// Reads a description; `file` names it in error messages.
Station ParseStation(std::istream& in, const std::string& file);
Station LoadStation(const std::string& path);

// The schedule used when the description gives none: every group the
// description has data for, 0A and 2A most often.
std::vector<GroupId> DefaultSchedule(const Station& s);

}  // namespace rdsgen
