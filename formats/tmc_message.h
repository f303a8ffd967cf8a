// TMC user messages (ALERT-C over group 8A) put together from their groups,
// and the quantifier of a message filled into its event text.
//
// A single-group message is whole in one group. A multi-group message
// comes as a first group (event, location, direction, extent) and up to
// four more with the same continuity index, each carrying 28 bits of
// optional content: labelled fields (duration, control code, route length,
// speed limit, quantifier, ...). The second group says how many follow
// (its group sequence indicator); the message is whole when the group with
// indicator 0 arrived after all before it. A gap or another continuity
// index drops the message being put together.
//
// A quantifier gives the event's quantity ("3" in "3 accidents", "of up
// to 30 km/h" in "queuing traffic with average speeds of up to 30 km/h");
// what its value means depends on the event's quantifier type, from the
// event list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace rdsformats {

struct TmcQuantifierRow {
    uint16_t code;
    uint8_t type;
};
// Every event that takes a quantifier (generated from the event list).
extern const TmcQuantifierRow kTmcQuantifierRows[];
extern const int kTmcQuantifierRowCount;

// The quantifier type (0..12) of `event`, or -1 when it takes none.
int TmcQuantifierType(uint16_t event);

// The quantity a quantifier of `type` with the field's `value` stands for,
// as text ("3", "of up to 30 km/h", "less than 50 m", "14:50"), and
// whether it counts one thing (for the singular of the phrase). Empty for
// a type or value without meaning.
struct TmcQuantity {
    std::string text;
    bool one = false;
};
TmcQuantity TmcQuantifierText(int type, unsigned value);

// The event phrase of the decoder's table with its quantity filled in:
// "(Q)" and the bracketed parts holding Q take the quantity, "(a/Q)" reads
// "a" for one, plural endings ("accident(s)", "lorr(y/ies)") follow the
// count. Without a quantity the phrase is returned as it is.
std::string TmcFillQuantity(const std::string& phrase, const TmcQuantity& quantity);

struct TmcMessage {
    uint16_t event = 0;
    uint16_t location = 0;
    uint8_t extent = 0;
    bool negative = false;   // direction bit
    bool diversion = false;  // diversion advised
    int duration = -1;       // 0..7, -1 when not sent (multi-group without duration field)
    int groups = 1;          // groups the message took
    // The quantifier field of the message's event (5 or 8 bits), if sent.
    std::optional<unsigned> quantifier;
};

class TmcAssembler {
public:
    // Block B, C and D of an 8A group received without repair. Returns
    // whether a message became whole with this group.
    bool feed(uint16_t b, uint16_t c, uint16_t d);
    void clear() { *this = TmcAssembler{}; }
    // The last whole message.
    const std::optional<TmcMessage>& last() const { return last_; }
    // The last whole message of `event` at `location` among the recent
    // ones (stations cycle through their messages), or null.
    const TmcMessage* recent(uint16_t event, uint16_t location) const;
    static constexpr std::size_t kRecent = 16;

private:
    void finish();
    void remember(const TmcMessage& m);

    std::optional<TmcMessage> last_;
    std::deque<TmcMessage> recent_;  // newest last, at most kRecent
    // The multi-group message being put together.
    bool active_ = false;
    int continuity_ = -1;
    int expect_ = -1;  // group sequence indicator of the next group, -1 before the second group
    TmcMessage building_;
    uint64_t content_[2] = {0, 0};  // optional content bits, first bit highest, up to 4 x 28
    int contentBits_ = 0;
    uint32_t lastGroup_[3] = {0, 0, 0};  // the last group, to skip its repetition
    bool haveLast_ = false;
};

}  // namespace rdsformats
