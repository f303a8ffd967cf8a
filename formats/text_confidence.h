// Texts received character by character (PS, radiotext, enhanced
// radiotext, long PS), each character with how sure it is:
//
// - missing: not received since the text was cleared;
// - provisional: received, but only in a block the decoder had to repair,
//   or received once without repair, or changed since;
// - confirmed: received in a block accepted without repair and received
//   again the same way, or (radio input) received once in a block whose
//   bits the demodulator's soft decisions were sure of.
//
// An undetected error that slips through the block check once makes a
// character provisional, never confirmed: a wrong confirmed character needs
// the same wrong value twice in clean blocks. When a character changes,
// every other confirmed character drops back to provisional until it is
// received again, so that a text that changes segment by segment is never
// taken as complete with old and new segments mixed. Filling a character
// not received before changes nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rdsformats {

enum class CharState : uint8_t { Missing, Provisional, Confirmed };

class ConfidentText {
public:
    // A text of `size` bytes; `endCode` ends it early where received (0x0D
    // for the radiotexts), or -1 for none.
    explicit ConfidentText(std::size_t size, int endCode = -1);

    // Takes `count` bytes at `pos` (beyond the end they are dropped).
    // `clean`: their block was accepted without repair. `sure` (with
    // clean): the demodulator's soft decisions leave no doubt about the
    // block, which confirms them at once. Returns whether a character took
    // a new value.
    bool put(std::size_t pos, const uint8_t* bytes, std::size_t count, bool clean, bool sure = false);
    void clear();
    // The text ends after `n` bytes without an end code (a station that
    // sends only the segments its text fills); clear() undoes it.
    void setLimit(std::size_t n) { limit_ = n < bytes_.size() ? n : bytes_.size(); }
    std::size_t limit() const { return limit_; }

    std::size_t size() const { return bytes_.size(); }
    uint8_t byte(std::size_t i) const { return bytes_[i]; }
    CharState state(std::size_t i) const;
    // Any character received.
    bool any() const;
    // The bytes up to the end code where one was received, else up to the limit.
    std::size_t length() const;
    // Every byte of length() and the end code (if any) confirmed.
    bool complete() const;
    // One character per byte of 0..n: 'c' confirmed, 'p' provisional,
    // '-' missing.
    std::string mask(std::size_t n) const;
    // Grows with every new character value.
    uint64_t revision() const { return revision_; }

private:
    // 0 missing, 1 received in repaired blocks only, 2 received once clean
    // (or demoted after a change elsewhere), 3 confirmed.
    std::vector<uint8_t> level_;
    std::vector<uint8_t> bytes_;
    int endCode_;
    std::size_t limit_;
    uint64_t revision_ = 0;
};

// The characters of RDS-coded text as UTF-8 (missing ones as spaces) and
// their mask, for views and JSON.
std::string RdsTextUtf8(const ConfidentText& text, std::size_t n);

}  // namespace rdsformats
